#include "download/file_naming.h"

#include <climits>
#include <cstdio>

#include "platform/sync.h"

namespace fluxmere {

namespace {

bool FormatFits(size_t capacity, int written) {
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

}  // namespace

bool ChooseFreeFileName(const char* folderWithSeparator, const char* baseName, char* fileName,
                        char* fullPath, size_t capacity) {
    for (int i = 0; i < INT_MAX; ++i) {
        const int nameLength = i == 0
                                   ? std::snprintf(fileName, capacity, "%s.kelo", baseName)
                                   : std::snprintf(fileName, capacity, "%s_%d.kelo", baseName, i);
        const int pathLength =
            std::snprintf(fullPath, capacity, "%s%s", folderWithSeparator, fileName);
        if (!FormatFits(capacity, nameLength) || !FormatFits(capacity, pathLength))
            break;
        if (!platform::PathExists(fullPath))
            return true;
    }
    if (capacity != 0) {
        fileName[0] = '\0';
        fullPath[0] = '\0';
    }
    return false;
}

bool CreateFreeFile(const char* folderWithSeparator, const char* baseName, char* fileName,
                    char* fullPath, size_t capacity, platform::File* file) {
    static platform::CriticalSection namingLock;
    platform::ScopedLock lock(namingLock);
    if (!ChooseFreeFileName(folderWithSeparator, baseName, fileName, fullPath, capacity))
        return false;
    return file->CreateAlways(fullPath);
}

}  // namespace fluxmere
