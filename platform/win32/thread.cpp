// Win32 threads.

#include "platform/thread.h"

#include <windows.h>
#include <process.h>

namespace fluxmere::platform {

namespace {

struct ThreadControl {
    CRITICAL_SECTION lock;
    HANDLE thread = nullptr;  // not null from Start until Join saw the thread end
    volatile LONG finished = 0;
    ThreadEntry entry = nullptr;
    void* context = nullptr;
};

unsigned __stdcall RunThread(void* argument) {
    auto* state = static_cast<ThreadControl*>(argument);
    state->entry(state->context);
    InterlockedExchange(&state->finished, 1);
    return 0;
}

HANDLE CurrentHandle(ThreadControl* state) {
    EnterCriticalSection(&state->lock);
    HANDLE thread = state->thread;
    LeaveCriticalSection(&state->lock);
    return thread;
}

}  // namespace

struct Thread::State : ThreadControl {};

Thread::Thread() : state_(new State) { InitializeCriticalSection(&state_->lock); }

Thread::~Thread() {
    Join(kInfinite);
    DeleteCriticalSection(&state_->lock);
    delete state_;
}

bool Thread::Start(ThreadEntry entry, void* context) {
    if (entry == nullptr) return false;
    EnterCriticalSection(&state_->lock);
    if (state_->thread != nullptr) {
        LeaveCriticalSection(&state_->lock);
        return false;
    }
    state_->entry = entry;
    state_->context = context;
    state_->finished = 0;
    // _beginthreadex rather than CreateThread: the thread may use the C runtime.
    const uintptr_t thread = _beginthreadex(nullptr, 0, RunThread,
                                            static_cast<ThreadControl*>(state_), 0, nullptr);
    state_->thread = reinterpret_cast<HANDLE>(thread);
    LeaveCriticalSection(&state_->lock);
    return thread != 0;
}

bool Thread::SetPriority(ThreadPriority priority) {
    HANDLE thread = CurrentHandle(state_);
    if (thread == nullptr) return false;
    const int level = priority == ThreadPriority::TimeCritical ? THREAD_PRIORITY_TIME_CRITICAL
                                                               : THREAD_PRIORITY_NORMAL;
    return SetThreadPriority(thread, level) != FALSE;
}

bool Thread::Join(uint32_t timeoutMs) {
    EnterCriticalSection(&state_->lock);
    HANDLE thread = state_->thread;
    if (thread == nullptr) {
        LeaveCriticalSection(&state_->lock);
        return true;
    }
    // Waiting while holding the lock keeps two joiners from closing the handle twice; Start and
    // SetPriority from other threads wait meanwhile, which is what they would get anyway.
    const bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (ended) {
        CloseHandle(thread);
        state_->thread = nullptr;
    }
    LeaveCriticalSection(&state_->lock);
    return ended;
}

bool Thread::IsRunning() const {
    return CurrentHandle(state_) != nullptr &&
           InterlockedCompareExchange(&state_->finished, 0, 0) == 0;
}

void SleepMs(uint32_t ms) { Sleep(ms); }

uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace fluxmere::platform
