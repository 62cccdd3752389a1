#pragma once
// A counting semaphore whose Wait and Release stay in user space while no thread has to sleep:
// the count lives in an atomic, and only a thread that finds nothing to take sleeps, on a
// Semaphore that carries nothing but the sleepers' wake-ups. Every call on a kernel object is a
// system call (under Wine a round trip to the wineserver), which a lock taken for every picture
// should not pay while nobody else holds it. Waits have no time limit.

#include <atomic>
#include <cstdint>

#include "platform/sync.h"

namespace fluxmere::platform {

class LightweightSemaphore {
public:
    // maximumSleepers: how many threads may wait at the same time.
    LightweightSemaphore(int32_t initialCount, int32_t maximumSleepers)
        : count_(initialCount), sleepers_(0, maximumSleepers) {}
    LightweightSemaphore(const LightweightSemaphore&) = delete;
    LightweightSemaphore& operator=(const LightweightSemaphore&) = delete;

    // Takes one from the count, sleeping until a Release when there is none.
    void Wait() {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) <= 0)
            sleepers_.Wait(kInfinite);
    }
    // Gives one back; wakes one sleeper when a thread is waiting for it.
    void Release() {
        if (count_.fetch_add(1, std::memory_order_acq_rel) < 0)
            sleepers_.Release();
    }

private:
    // Below zero: minus the number of threads that took nothing and sleep or are about to.
    std::atomic<int32_t> count_;
    Semaphore sleepers_;
};

}  // namespace fluxmere::platform
