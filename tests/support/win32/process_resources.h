#pragma once
// What a process holds, measured the same way on Windows and under Wine (where some of the
// system's own counters give 0): for tests and the soak that look for leaks. Windows only.

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fluxmere::testing {

inline int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return count;
}

// Handles of this process. Wine's GetProcessHandleCount gives 0; the system's handle table, which
// Wine's server does fill, tells the same on Windows and under Wine.
inline DWORD HandleCount() {
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const Query query = reinterpret_cast<Query>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation"));
    DWORD count = 0;
    if (query == nullptr || !GetProcessHandleCount(GetCurrentProcess(), &count) || count != 0)
        return count;
    constexpr ULONG kSystemHandleInformation = 16;
    std::vector<uint8_t> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &needed)) ==
               static_cast<LONG>(0xC0000004) &&  // STATUS_INFO_LENGTH_MISMATCH
           buffer.size() < (64u << 20))
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    if (status != 0)
        return 0;
    const ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entry = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; i < entries; ++i)
        count += entry[i].ownerPid == GetCurrentProcessId() ? 1 : 0;
    return count;
}

// Private bytes in MiB. Wine reports a PrivateUsage of 0 but fills the working set from the
// Unix process's resident memory; there that (RSS) is the measure.
inline double PrivateMiB() {
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    K32GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    return (memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.WorkingSetSize) / 1048576.0;
}

}  // namespace fluxmere::testing
