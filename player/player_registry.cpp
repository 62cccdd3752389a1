#include "player/player_registry.h"

#include <cstddef>
#include <vector>

namespace fluxmere {

namespace {

struct Entry {
    uint32_t address;
    IDownloadPanel* viewer;
};

// Entries change only when a session starts or a viewer goes away, never per frame.
std::vector<Entry>& Entries() {
    static std::vector<Entry> entries;
    return entries;
}

}  // namespace

platform::CriticalSection& RegistryLock() {
    static platform::CriticalSection lock;
    return lock;
}

void PlayerRegistry::Enter(uint32_t address, IDownloadPanel* viewer) {
    platform::ScopedLock hold(RegistryLock());
    for (Entry& entry : Entries()) {
        if (entry.address == address) {
            entry.viewer = viewer;
            return;
        }
    }
    Entries().push_back({address, viewer});
}

void PlayerRegistry::RemoveViewer(IDownloadPanel* viewer) {
    platform::ScopedLock hold(RegistryLock());
    std::vector<Entry>& entries = Entries();
    for (size_t i = 0; i < entries.size();) {
        if (entries[i].viewer == viewer) {
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

IDownloadPanel* PlayerRegistry::Find(uint32_t address) {
    for (const Entry& entry : Entries()) {
        if (entry.address == address) return entry.viewer;
    }
    return nullptr;
}

int PlayerRegistry::Size() {
    platform::ScopedLock hold(RegistryLock());
    return static_cast<int>(Entries().size());
}

void NotifyDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                         IDownloadJob* job) {
    IDownloadJob* displaced = nullptr;
    {
        platform::ScopedLock hold(RegistryLock());
        if (IDownloadPanel* viewer = PlayerRegistry::Find(address)) {
            displaced = viewer->OnDownloadState(state, codec, job);
        }
    }
    if (displaced != nullptr) displaced->Release();
}

void NotifyDownloadProgress(uint32_t address, int64_t bytes) {
    platform::ScopedLock hold(RegistryLock());
    if (IDownloadPanel* viewer = PlayerRegistry::Find(address)) {
        viewer->OnDownloadProgress(bytes);
    }
}

}  // namespace fluxmere
