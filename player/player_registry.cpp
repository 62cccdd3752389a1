#include "player/player_registry.h"

#include <cstddef>

namespace fluxmere {

platform::CriticalSection& RegistryLock() {
    static platform::CriticalSection lock;
    return lock;
}

PlayerRegistry& PlayerRegistry::Process() {
    // Never destroyed: download jobs may still report while the process ends.
    static PlayerRegistry* registry = new PlayerRegistry();
    return *registry;
}

void PlayerRegistry::Enter(uint32_t address, IDownloadPanel* viewer) {
    platform::ScopedLock hold(RegistryLock());
    for (Entry& entry : entries_) {
        if (entry.address == address) {
            entry.viewer = viewer;
            return;
        }
    }
    entries_.push_back({address, viewer});
}

void PlayerRegistry::RemoveViewer(IDownloadPanel* viewer) {
    platform::ScopedLock hold(RegistryLock());
    for (size_t i = 0; i < entries_.size();) {
        if (entries_[i].viewer == viewer) {
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

IDownloadPanel* PlayerRegistry::Find(uint32_t address) const {
    for (const Entry& entry : entries_) {
        if (entry.address == address)
            return entry.viewer;
    }
    return nullptr;
}

int PlayerRegistry::Size() const {
    platform::ScopedLock hold(RegistryLock());
    return static_cast<int>(entries_.size());
}

void PlayerRegistry::OnDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                                     IDownloadJob* job) {
    IDownloadJob* displaced = nullptr;
    {
        platform::ScopedLock hold(RegistryLock());
        if (IDownloadPanel* viewer = Find(address)) {
            displaced = viewer->OnDownloadState(state, codec, job);
        }
    }
    if (displaced != nullptr)
        displaced->Release();
}

void PlayerRegistry::OnDownloadProgress(uint32_t address, int64_t bytes) {
    platform::ScopedLock hold(RegistryLock());
    if (IDownloadPanel* viewer = Find(address)) {
        viewer->OnDownloadProgress(bytes);
    }
}

}  // namespace fluxmere
