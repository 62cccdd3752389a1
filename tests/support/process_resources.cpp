#include "tests/support/process_resources.h"

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

namespace fluxmere::testing {

#ifdef _WIN32

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int HandlesOfThisProcess() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
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
