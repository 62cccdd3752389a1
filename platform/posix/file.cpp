// Files on POSIX. Sharing is the default here, so CreateAlways and OpenForRead need no flags for
// it; the design's backslash separators become '/'.

#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace fluxmere::platform {

namespace {

// Copies path into native with '\\' turned into '/'. False when it does not fit kMaxPath.
bool NativePath(const char* path, char (&native)[kMaxPath]) {
    if (path == nullptr || path[0] == '\0')
        return false;
    int i = 0;
    for (; path[i] != '\0'; ++i) {
        if (i == kMaxPath - 1)
            return false;
        native[i] = path[i] == '\\' ? '/' : path[i];
    }
    native[i] = '\0';
    return true;
}

int OpenNative(const char* path, int flags) {
    char native[kMaxPath];
    if (!NativePath(path, native))
        return -1;
    int fd;
    do {
        fd = open(native, flags | O_CLOEXEC, 0644);
    } while (fd == -1 && errno == EINTR);
    return fd;
}

}  // namespace

File::~File() {
    Close();
}

bool File::CreateAlways(const char* path) {
    Close();
    const int fd = OpenNative(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd == -1)
        return false;
    handle_ = fd;
    return true;
}

bool File::OpenForRead(const char* path) {
    Close();
    const int fd = OpenNative(path, O_RDONLY);
    if (fd == -1)
        return false;
    handle_ = fd;
    return true;
}

int64_t File::Write(const void* data, int64_t length) {
    if (!IsOpen() || length < 0 || (data == nullptr && length > 0))
        return -1;
    const char* bytes = static_cast<const char*>(data);
    int64_t done = 0;
    while (done < length) {
        const ssize_t n =
            write(static_cast<int>(handle_), bytes + done, static_cast<size_t>(length - done));
        if (n == -1 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += n;
    }
    return done;
}

int64_t File::Read(void* buffer, int64_t length) {
    if (!IsOpen() || length < 0 || (buffer == nullptr && length > 0))
        return -1;
    char* bytes = static_cast<char*>(buffer);
    int64_t done = 0;
    // Like ReadFile on a disk file: fills the buffer unless the end of the file comes first.
    while (done < length) {
        const ssize_t n =
            read(static_cast<int>(handle_), bytes + done, static_cast<size_t>(length - done));
        if (n == -1 && errno == EINTR)
            continue;
        if (n == -1)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool File::WriteAt(int64_t offset, const void* data, int64_t length) {
    if (!IsOpen() || offset < 0 || length < 0 || (data == nullptr && length > 0))
        return false;
    const char* bytes = static_cast<const char*>(data);
    int64_t done = 0;
    while (done < length) {
        const ssize_t n = pwrite(static_cast<int>(handle_), bytes + done,
                                 static_cast<size_t>(length - done), offset + done);
        if (n == -1 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

void File::Close() {
    if (handle_ == kNoHandle)
        return;
    close(static_cast<int>(handle_));
    handle_ = kNoHandle;
}

bool PathExists(const char* path) {
    char native[kMaxPath];
    if (!NativePath(path, native))
        return false;
    // FindFirstFileA finds nothing for a path that ends in a separator, even when the folder
    // exists; callers get the same answer here.
    const size_t length = std::strlen(native);
    if (native[length - 1] == '/')
        return false;
    struct stat info;
    return stat(native, &info) == 0;
}

}  // namespace fluxmere::platform
