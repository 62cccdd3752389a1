#pragma once
// Files with the Win32 semantics the download job relies on. Paths are 8-bit strings in the
// system's ANSI code page, at most 259 characters. The backslash is the separator on every
// backend; on POSIX it is mapped to '/'.

#include <cstdint>

namespace fluxmere::platform {

constexpr int kMaxPath = 260;  // buffer size of a path, terminating NUL included

class File {
public:
    File() = default;
    ~File();  // closes
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // CreateFileA(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS).
    bool CreateAlways(const char* path);
    // CreateFileA(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING): works while
    // another handle still writes the file.
    bool OpenForRead(const char* path);

    bool IsOpen() const { return handle_ != kNoHandle; }
    // Bytes written or read; -1 on error. Write writes everything or fails.
    int64_t Write(const void* data, int64_t length);
    int64_t Read(void* buffer, int64_t length);
    // Replaces bytes already in the file at offset (a size field written last, after the data
    // it counts); the next Write goes on at the end of the file. True when all were written.
    bool WriteAt(int64_t offset, const void* data, int64_t length);
    void Close();

private:
    static constexpr intptr_t kNoHandle = -1;
    intptr_t handle_ = kNoHandle;
};

// The FindFirstFileA test: true when something exists at path.
bool PathExists(const char* path);

}  // namespace fluxmere::platform
