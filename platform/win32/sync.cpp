// Events, semaphores and critical sections: thin wrappers over the kernel objects.

#include "platform/sync.h"

#include <windows.h>

#include "platform/semaphore_limits.h"
#include "platform/win32/wait_result.h"

namespace fluxmere::platform {

struct Event::Impl {
    HANDLE handle;
};

struct Semaphore::Impl {
    HANDLE handle;
};

struct WaitableAccess {
    static HANDLE Handle(Waitable& waitable) {
        if (auto* event = dynamic_cast<Event*>(&waitable))
            return event->impl()->handle;
        if (auto* semaphore = dynamic_cast<Semaphore*>(&waitable))
            return semaphore->impl()->handle;
        return nullptr;
    }
};

Event::Event(bool manualReset, bool initiallySet)
    : impl_(new Impl{CreateEventA(nullptr, manualReset, initiallySet, nullptr)}) {}
Event::~Event() {
    if (impl_->handle != nullptr)
        CloseHandle(impl_->handle);
    delete impl_;
}
void Event::Set() {
    SetEvent(impl_->handle);
}
void Event::Reset() {
    ResetEvent(impl_->handle);
}
WaitResult Event::Wait(uint32_t timeoutMs) {
    return ToWaitResult(WaitForSingleObject(impl_->handle, timeoutMs));
}
bool Event::IsSet() const {
    if (WaitForSingleObject(impl_->handle, 0) != WAIT_OBJECT_0)
        return false;
    // The peek consumed an auto-reset event: put the state back. (A manual-reset event is
    // unchanged by the wait, and setting it again is harmless.)
    SetEvent(impl_->handle);
    return true;
}

Semaphore::Semaphore(int32_t initialCount, int32_t maximumCount)
    : impl_(new Impl{CreateSemaphoreA(nullptr, SemaphoreInitial(initialCount, maximumCount),
                                      SemaphoreMaximum(maximumCount), nullptr)}) {}
Semaphore::~Semaphore() {
    if (impl_->handle != nullptr)
        CloseHandle(impl_->handle);
    delete impl_;
}
bool Semaphore::Release(int32_t count, int32_t* previousCount) {
    // Windows refuses a count below 1, but not every implementation does: decide here.
    if (count < 1)
        return false;
    LONG previous = 0;
    if (!ReleaseSemaphore(impl_->handle, count, &previous))
        return false;
    if (previousCount != nullptr)
        *previousCount = previous;
    return true;
}
WaitResult Semaphore::Wait(uint32_t timeoutMs) {
    return ToWaitResult(WaitForSingleObject(impl_->handle, timeoutMs));
}
void Semaphore::Drain() {
    while (WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0) {
    }
}

int WaitForEither(Waitable& first, Waitable& second, uint32_t timeoutMs) {
    const HANDLE handles[2] = {WaitableAccess::Handle(first), WaitableAccess::Handle(second)};
    if (handles[0] == nullptr || handles[1] == nullptr)
        return -1;
    // WaitForMultipleObjects rejects the same handle twice.
    if (handles[0] == handles[1])
        return WaitForSingleObject(handles[0], timeoutMs) == WAIT_OBJECT_0 ? 0 : -1;
    // With bWaitAll FALSE the lowest signalled index is reported: the first object wins.
    const DWORD rc = WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    if (rc == WAIT_OBJECT_0)
        return 0;
    if (rc == WAIT_OBJECT_0 + 1)
        return 1;
    return -1;
}

struct CriticalSection::Impl {
    CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(new Impl) {
    InitializeCriticalSection(&impl_->section);
}
CriticalSection::~CriticalSection() {
    DeleteCriticalSection(&impl_->section);
    delete impl_;
}
void CriticalSection::Enter() {
    EnterCriticalSection(&impl_->section);
}
void CriticalSection::Leave() {
    LeaveCriticalSection(&impl_->section);
}

}  // namespace fluxmere::platform
