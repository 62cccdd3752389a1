#pragma once
// Synchronisation objects with Win32 semantics on every backend.

#include <cstdint>

#include "platform/thread.h"  // kInfinite

namespace fluxmere::platform {

enum class WaitResult { Signaled, Timeout, Failed };

// Something WaitForEither can wait on (an Event or a Semaphore).
class Waitable {
public:
    virtual ~Waitable() = default;

protected:
    friend struct WaitableAccess;
    Waitable() = default;
};

// Manual- or auto-reset event.
class Event : public Waitable {
public:
    Event(bool manualReset, bool initiallySet);
    ~Event() override;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // An auto-reset event is cleared by the wait that it releases.
    WaitResult Wait(uint32_t timeoutMs);
    bool IsSet() const;  // peeks without consuming (for tests and diagnostics)

    struct Impl;
    Impl* impl() const { return impl_; }

private:
    Impl* impl_;
};

// Counting semaphore with a maximum count.
class Semaphore : public Waitable {
public:
    Semaphore(int32_t initialCount, int32_t maximumCount);
    ~Semaphore() override;
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds count; fails without changing anything when the maximum would be passed.
    // previousCount (optional) receives the count before the release.
    bool Release(int32_t count = 1, int32_t* previousCount = nullptr);
    WaitResult Wait(uint32_t timeoutMs);
    // Takes the count down to zero without waiting.
    void Drain();

    struct Impl;
    Impl* impl() const { return impl_; }

private:
    Impl* impl_;
};

// Waits for either object. When both are signalled, the first one wins. A satisfied wait
// consumes as Wait would (a semaphore count is taken, an auto-reset event is cleared).
// Returns 0 for first, 1 for second, -1 on time-out.
int WaitForEither(Waitable& first, Waitable& second, uint32_t timeoutMs);

// Recursive critical section: the owning thread may enter again.
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    struct Impl;
    Impl* impl_;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~ScopedLock() { section_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& section_;
};

}  // namespace fluxmere::platform
