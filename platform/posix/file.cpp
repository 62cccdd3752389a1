// Files on POSIX. Sharing is the default here, so CreateAlways and OpenForRead need no flags for
// it; the design's backslash separators become '/'.

#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace fluxmere::platform {

namespace {

// Copies path into native with '\\' turned into '/'. False (errno set) when it does not fit
// kMaxPath.
bool NativePath(const char* path, char (&native)[kMaxPath]) {
    if (path == nullptr || path[0] == '\0') {
        errno = ENOENT;
        return false;
    }
    int i = 0;
    for (; path[i] != '\0'; ++i) {
        if (i == kMaxPath - 1) {
            errno = ENAMETOOLONG;
            return false;
        }
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

bool File::CreateNew(const char* path) {
    Close();
    const int fd = OpenNative(path, O_WRONLY | O_CREAT | O_EXCL);
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
        if (n == 0)
            errno = ENOSPC;  // a write that takes nothing: the disk is full
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
        if (n == 0)
            errno = ENOSPC;
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

bool IsFolder(const char* path) {
    char native[kMaxPath];
    struct stat info;
    return NativePath(path, native) && stat(native, &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const char* path) {
    char native[kMaxPath];
    struct stat info;
    return NativePath(path, native) && stat(native, &info) == 0 && S_ISREG(info.st_mode);
}

int64_t FileSize(const char* path) {
    char native[kMaxPath];
    struct stat info;
    if (!NativePath(path, native) || stat(native, &info) != 0 || S_ISDIR(info.st_mode))
        return -1;
    return static_cast<int64_t>(info.st_size);
}

bool SameFile(const char* a, const char* b) {
    char nativeA[kMaxPath], nativeB[kMaxPath];
    struct stat infoA, infoB;
    return NativePath(a, nativeA) && NativePath(b, nativeB) && stat(nativeA, &infoA) == 0 &&
           stat(nativeB, &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
           infoA.st_ino == infoB.st_ino;
}

bool RenameFile(const char* from, const char* to, bool replace) {
    char nativeFrom[kMaxPath], nativeTo[kMaxPath];
    if (!NativePath(from, nativeFrom) || !NativePath(to, nativeTo))
        return false;
    if (replace)
        return rename(nativeFrom, nativeTo) == 0;
    if (renameat2(AT_FDCWD, nativeFrom, AT_FDCWD, nativeTo, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails on an existing name; one
    // without hard links either gets a test before the rename.
    if (link(nativeFrom, nativeTo) == 0) {
        unlink(nativeFrom);
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat info;
    if (stat(nativeTo, &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return rename(nativeFrom, nativeTo) == 0;
}

bool RemoveFile(const char* path) {
    char native[kMaxPath];
    return NativePath(path, native) && unlink(native) == 0;
}

int LastFileError() {
    return errno;
}

void FileErrorText(int code, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    // The GNU strerror_r: returns the text, which may or may not be in the buffer.
    char buffer[128];
    const char* words = strerror_r(code, buffer, sizeof buffer);
    std::snprintf(text, size, "%s", words != nullptr ? words : "unknown error");
}

}  // namespace fluxmere::platform
