#pragma once
// Files with the Win32 semantics the download job relies on. Paths are 8-bit strings in the
// system's ANSI code page, at most 259 characters. The backslash is the separator on every
// backend; on POSIX it is mapped to '/'.

#include <cstddef>
#include <cstdint>

namespace fluxmere::platform {

constexpr int kMaxPath = 260;  // buffer size of a path, terminating NUL included

class File {
public:
    File() = default;
    ~File();  // closes
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // CreateFileA(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
    // CREATE_ALWAYS): the user may delete or move the file while it is written.
    bool CreateAlways(const char* path);
    // CreateFileA(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
    // CREATE_NEW): fails when anything exists at path, so two writers never share a file. The
    // user may delete or move the file while it is written.
    bool CreateNew(const char* path);
    // CreateFileA(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
    // OPEN_EXISTING): works while another handle still writes the file, and lets the user delete
    // or move it meanwhile.
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
bool IsFolder(const char* path);
// A plain file: not a folder, nor a device, pipe or socket.
bool IsRegularFile(const char* path);
// The size of the file at path in bytes; -1 when there is none.
int64_t FileSize(const char* path);

// True when a and b both exist and are the same file, by identity rather than by name (device and
// inode; volume and file index on Windows): links, "./" and other spellings of a name all count.
bool SameFile(const char* a, const char* b);

// Gives the file at from the name to, in one step. An existing file at to is replaced only when
// replace is set; otherwise the call fails and both stay as they were.
bool RenameFile(const char* from, const char* to, bool replace);
bool RemoveFile(const char* path);

// The system's code for why the last call of this file layer failed (errno on POSIX,
// GetLastError on Windows); read it right after the failed call.
int LastFileError();
// The system's own words for such a code, without a trailing full stop or line end.
void FileErrorText(int code, char* text, size_t size);

}  // namespace fluxmere::platform
