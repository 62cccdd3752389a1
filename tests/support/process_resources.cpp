#include "tests/support/process_resources.h"

#ifdef _WIN32
#include "tests/support/win32/process_resources.h"
#else
#include <dirent.h>
#endif

namespace fluxmere::testing {

#ifdef _WIN32

// The counts that also work under Wine, where GetProcessHandleCount gives 0.
int ThreadsOfThisProcess() {
    return ThreadCount();
}

int HandlesOfThisProcess() {
    return static_cast<int>(HandleCount());
}

#else

namespace {

// Entries of a /proc folder, without "." and "..".
int EntriesOf(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count;
}

}  // namespace

int ThreadsOfThisProcess() {
    return EntriesOf("/proc/self/task");
}

int HandlesOfThisProcess() {
    return EntriesOf("/proc/self/fd") - 1;  // the one opendir holds while counting
}

#endif

}  // namespace fluxmere::testing
