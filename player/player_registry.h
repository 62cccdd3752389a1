#pragma once
// The process-wide map from a device's IPv4 address to the viewer that last started a session with
// that host. Download jobs report to it (it is their IDownloadNotices in the product) and it passes
// each notice on to the viewer of the job's device.
//
// registryLock guards the map and every status change of a viewer. It is a recursive critical
// section, so a viewer may change its status from inside a notification.

#include <cstdint>
#include <vector>

#include "download/download_notices.h"
#include "platform/sync.h"

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

class PlayerRegistry final : public IDownloadNotices {
public:
    // The one registry of the process: made on first use (thread-safe), lives until it ends.
    static PlayerRegistry& Process();

    // registry[address] = viewer, replacing another viewer's entry for the same address. The key
    // is taken as given, also when it is none (all bits set).
    void Enter(uint32_t address, IDownloadPanel* viewer);
    // Removes every entry of viewer. After it returns no notification reaches viewer.
    void RemoveViewer(IDownloadPanel* viewer);
    // The viewer for address or nullptr. The caller holds RegistryLock().
    IDownloadPanel* Find(uint32_t address) const;
    // Number of entries (for tests).
    int Size() const;

    // IDownloadNotices: passed on to the viewer of address; addresses without one are ignored.
    // The viewer found takes its own reference to job (and drops the one it held before).
    void OnDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                         IDownloadJob* job) override;
    void OnDownloadProgress(uint32_t address, int64_t bytes) override;

private:
    PlayerRegistry() = default;
    ~PlayerRegistry() = default;

    struct Entry {
        uint32_t address;
        IDownloadPanel* viewer;
    };
    // Entries change only when a session starts or a viewer goes away, never per frame.
    std::vector<Entry> entries_;
};

}  // namespace fluxmere
