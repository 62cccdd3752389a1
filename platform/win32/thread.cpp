// Win32 threads.

#include "platform/thread.h"

#include <process.h>
#include <windows.h>

#include <new>

namespace fluxmere::platform {

namespace {

struct ThreadControl {
    CRITICAL_SECTION lock;
    HANDLE thread = nullptr;  // not null from Start until a Join saw the thread end
    // Set when the entry function has returned. Joins wait on this event rather than on the
    // thread handle, which the first successful Join closes while others may still wait.
    HANDLE ended = nullptr;
    ThreadEntry entry = nullptr;
    void* context = nullptr;
    HMODULE pin = nullptr;  // the running thread's reference to this module
};

volatile LONG runningThreads = 0;

unsigned __stdcall RunThread(void* argument);

// A thread keeps the module that holds its code loaded until it has left that code: it holds a
// reference taken by the starting thread and drops it with its very last call, which does not
// return into the module.
HMODULE PinOwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&RunThread), &module);
    return module;
}

unsigned __stdcall RunThread(void* argument) {
    auto* state = static_cast<ThreadControl*>(argument);
    HMODULE pin = state->pin;
    state->entry(state->context);
    SetEvent(state->ended);
    InterlockedDecrement(&runningThreads);
    if (pin != nullptr)
        FreeLibraryAndExitThread(pin, 0);
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

Thread::Thread() : state_(new State) {
    InitializeCriticalSection(&state_->lock);
    state_->ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Thread::~Thread() {
    Join(kInfinite);
    if (state_->ended != nullptr)
        CloseHandle(state_->ended);
    DeleteCriticalSection(&state_->lock);
    delete state_;
}

bool Thread::Start(ThreadEntry entry, void* context) {
    if (entry == nullptr || state_->ended == nullptr)
        return false;
    EnterCriticalSection(&state_->lock);
    if (state_->thread != nullptr) {
        LeaveCriticalSection(&state_->lock);
        return false;
    }
    state_->entry = entry;
    state_->context = context;
    ResetEvent(state_->ended);
    state_->pin = PinOwnModule();
    InterlockedIncrement(&runningThreads);
    // _beginthreadex rather than CreateThread: the thread may use the C runtime.
    const uintptr_t thread =
        _beginthreadex(nullptr, 0, RunThread, static_cast<ThreadControl*>(state_), 0, nullptr);
    if (thread == 0) {
        InterlockedDecrement(&runningThreads);
        if (state_->pin != nullptr)
            FreeLibrary(state_->pin);
    }
    state_->thread = reinterpret_cast<HANDLE>(thread);
    LeaveCriticalSection(&state_->lock);
    return thread != 0;
}

bool Thread::SetPriority(ThreadPriority priority) {
    HANDLE thread = CurrentHandle(state_);
    if (thread == nullptr)
        return false;
    const int level = priority == ThreadPriority::TimeCritical ? THREAD_PRIORITY_TIME_CRITICAL
                                                               : THREAD_PRIORITY_NORMAL;
    return SetThreadPriority(thread, level) != FALSE;
}

bool Thread::Join(uint32_t timeoutMs) {
    if (CurrentHandle(state_) == nullptr)
        return true;
    // No lock is held while waiting: the thread itself may still call SetPriority or IsRunning.
    if (WaitForSingleObject(state_->ended, timeoutMs) != WAIT_OBJECT_0)
        return false;
    EnterCriticalSection(&state_->lock);
    if (state_->thread != nullptr) {
        // The entry function has returned; the thread only has to leave RunThread.
        WaitForSingleObject(state_->thread, INFINITE);
        CloseHandle(state_->thread);
        state_->thread = nullptr;
    }
    LeaveCriticalSection(&state_->lock);
    return true;
}

bool Thread::IsRunning() const {
    return CurrentHandle(state_) != nullptr &&
           WaitForSingleObject(state_->ended, 0) != WAIT_OBJECT_0;
}

namespace {

struct DetachedStart {
    ThreadEntry entry;
    void* context;
    HMODULE pin;
};

unsigned __stdcall RunDetached(void* argument) {
    const DetachedStart start = *static_cast<DetachedStart*>(argument);
    delete static_cast<DetachedStart*>(argument);
    start.entry(start.context);
    InterlockedDecrement(&runningThreads);
    if (start.pin != nullptr)
        FreeLibraryAndExitThread(start.pin, 0);
    return 0;
}

}  // namespace

bool StartDetachedThread(ThreadEntry entry, void* context) {
    if (entry == nullptr)
        return false;
    auto* start = new (std::nothrow) DetachedStart{entry, context, PinOwnModule()};
    if (start == nullptr)
        return false;
    HMODULE pin = start->pin;
    InterlockedIncrement(&runningThreads);
    const uintptr_t thread = _beginthreadex(nullptr, 0, RunDetached, start, 0, nullptr);
    if (thread == 0) {
        InterlockedDecrement(&runningThreads);
        delete start;
        if (pin != nullptr)
            FreeLibrary(pin);
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

int RunningThreadCount() {
    return static_cast<int>(InterlockedCompareExchange(&runningThreads, 0, 0));
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

// The performance counter, not GetTickCount64: the tick count moves in steps of about
// 16 ms (under Wine, whenever the server refreshes it), so short intervals measured
// with it read up to two steps short.
uint64_t MonotonicMs() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<uint64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

}  // namespace fluxmere::platform
