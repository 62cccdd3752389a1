// Files through CreateFileA, shared for reading and writing so a download can be read while it
// is still being written.

#include "platform/file.h"

#include <windows.h>

#include <cstdio>

namespace fluxmere::platform {

namespace {

HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Largest single ReadFile/WriteFile request; the calls take a DWORD.
constexpr int64_t kChunk = 1 << 30;

// A download's file stays deletable and movable by the user while it is written or read.
constexpr DWORD kShareAllowingDelete = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

File::~File() {
    Close();
}

bool File::CreateAlways(const char* path) {
    Close();
    if (path == nullptr)
        return false;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, kShareAllowingDelete, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::CreateNew(const char* path) {
    Close();
    if (path == nullptr)
        return false;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, kShareAllowingDelete, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::OpenForRead(const char* path) {
    Close();
    if (path == nullptr)
        return false;
    HANDLE h = CreateFileA(path, GENERIC_READ, kShareAllowingDelete, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
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
                       nullptr))
            return -1;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);  // a write that takes nothing
            return -1;
        }
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

bool IsFolder(const char* path) {
    if (path == nullptr)
        return false;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// A handle that reads nothing, only what the system knows of the file or folder at path.
class QueryHandle {
public:
    explicit QueryHandle(const char* path)
        : handle_(path == nullptr
                      ? INVALID_HANDLE_VALUE
                      : CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~QueryHandle() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    QueryHandle(const QueryHandle&) = delete;
    QueryHandle& operator=(const QueryHandle&) = delete;

    // The volume and file index, attributes included.
    bool Identity(BY_HANDLE_FILE_INFORMATION* info) const {
        return handle_ != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle_, info) != 0;
    }
    // Device names (NUL, CON, COM1) open as character devices.
    bool OnDisk() const {
        return handle_ != INVALID_HANDLE_VALUE && GetFileType(handle_) == FILE_TYPE_DISK;
    }

private:
    HANDLE handle_;
};

}  // namespace

bool IsRegularFile(const char* path) {
    const QueryHandle file(path);
    BY_HANDLE_FILE_INFORMATION info;
    return file.OnDisk() && file.Identity(&info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int64_t FileSize(const char* path) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!QueryHandle(path).Identity(&info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow);
}

bool SameFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    return QueryHandle(a).Identity(&infoA) && QueryHandle(b).Identity(&infoB) &&
           infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
}

bool RenameFile(const char* from, const char* to, bool replace) {
    if (from == nullptr || to == nullptr)
        return false;
    return MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

bool RemoveFile(const char* path) {
    return path != nullptr && DeleteFileA(path) != 0;
}

int LastFileError() {
    return static_cast<int>(GetLastError());
}

void FileErrorText(int code, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(text, size, "error %d", code);
        return;
    }
    // The system's messages end in ".\r\n"; a message reads better without them inside a line.
    size_t end = length < size ? length : size - 1;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' ||
                       text[end - 1] == '.'))
        --end;
    text[end] = '\0';
}

}  // namespace fluxmere::platform
