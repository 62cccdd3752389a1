#pragma once
// The process-wide map from a device's IPv4 address to the viewer that last started a session with
// that host, through which download jobs reach that viewer (NotifyDownloadState/Progress).
//
// registryLock guards the map and every status change of a viewer. It is a recursive critical
// section, so a viewer may change its status from inside a notification.

#include <cstdint>

#include "platform/sync.h"
#include "player/download_notifications.h"

namespace fluxmere {

// What a notification changes in a viewer. Called with registryLock held.
class IDownloadPanel {
public:
    // Takes a reference to job and returns the job it showed before, whose reference the caller
    // drops after leaving registryLock (a job going away may wait for threads that notify).
    virtual IDownloadJob* OnDownloadState(DownloadState state, CodecKind codec,
                                          IDownloadJob* job) = 0;
    virtual void OnDownloadProgress(int64_t bytes) = 0;

protected:
    ~IDownloadPanel() = default;
};

// Made on first use (thread-safe), lives until the process ends.
platform::CriticalSection& RegistryLock();

class PlayerRegistry {
public:
    // registry[address] = viewer, replacing another viewer's entry for the same address. The key
    // is taken as given, also when it is none (all bits set).
    static void Enter(uint32_t address, IDownloadPanel* viewer);
    // Removes every entry of viewer. After it returns no notification reaches viewer.
    static void RemoveViewer(IDownloadPanel* viewer);
    // The viewer for address or nullptr. The caller holds RegistryLock().
    static IDownloadPanel* Find(uint32_t address);
    // Number of entries (for tests).
    static int Size();
};

}  // namespace fluxmere
