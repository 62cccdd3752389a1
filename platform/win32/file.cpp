// Files through CreateFileA, shared for reading and writing so a download can be read while it
// is still being written.

#include "platform/file.h"

#include <windows.h>

namespace fluxmere::platform {

namespace {

HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Largest single ReadFile/WriteFile request; the calls take a DWORD.
constexpr int64_t kChunk = 1 << 30;

}  // namespace

File::~File() {
    Close();
}

bool File::CreateAlways(const char* path) {
    Close();
    if (path == nullptr)
        return false;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::OpenForRead(const char* path) {
    Close();
    if (path == nullptr)
        return false;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

int64_t File::Write(const void* data, int64_t length) {
    if (!IsOpen() || length < 0 || (data == nullptr && length > 0))
        return -1;
    const char* bytes = static_cast<const char*>(data);
    int64_t done = 0;
    while (done < length) {
        const int64_t request = length - done < kChunk ? length - done : kChunk;
        DWORD written = 0;
        if (!WriteFile(Native(handle_), bytes + done, static_cast<DWORD>(request), &written,
                       nullptr) ||
            written == 0)
            return -1;
        done += written;
    }
    return done;
}

int64_t File::Read(void* buffer, int64_t length) {
    if (!IsOpen() || length < 0 || (buffer == nullptr && length > 0))
        return -1;
    char* bytes = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < length) {
        const int64_t request = length - done < kChunk ? length - done : kChunk;
        DWORD read = 0;
        if (!ReadFile(Native(handle_), bytes + done, static_cast<DWORD>(request), &read, nullptr))
            return -1;
        if (read == 0)
            break;  // end of file
        done += read;
    }
    return done;
}

bool File::WriteAt(int64_t offset, const void* data, int64_t length) {
    if (!IsOpen() || offset < 0)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = offset;
    LARGE_INTEGER end;
    end.QuadPart = 0;
    const bool written =
        SetFilePointerEx(Native(handle_), at, nullptr, FILE_BEGIN) && Write(data, length) == length;
    SetFilePointerEx(Native(handle_), end, nullptr, FILE_END);
    return written;
}

void File::Close() {
    if (handle_ == kNoHandle)
        return;
    CloseHandle(Native(handle_));
    handle_ = kNoHandle;
}

bool PathExists(const char* path) {
    if (path == nullptr || path[0] == '\0')
        return false;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    return true;
}

}  // namespace fluxmere::platform
