#pragma once
// Threads of the portable core. One Thread object owns one OS thread.

#include <cstdint>

namespace fluxmere::platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // time-out meaning "wait without limit"

enum class ThreadPriority {
    Normal,
    TimeCritical,  // THREAD_PRIORITY_TIME_CRITICAL on Windows; best effort on POSIX
};

using ThreadEntry = void (*)(void* context);

class Thread {
public:
    Thread();
    ~Thread();  // waits for a thread that is still running (see Join)
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts entry(context) on a new thread with the default stack size and normal priority.
    // Fails (false) while a thread started earlier by this object has not been joined yet.
    bool Start(ThreadEntry entry, void* context);

    // Never fails on POSIX for lack of rights: the request is then ignored and true returned.
    bool SetPriority(ThreadPriority priority);

    // Waits up to timeoutMs (kInfinite: without limit) for the thread to end. True when it has
    // ended (or none was started); the object can then start another thread.
    bool Join(uint32_t timeoutMs);

    // True from Start until the entry function has returned.
    bool IsRunning() const;

private:
    struct State;
    State* state_;
};

// Starts entry(context) on a thread that nobody waits for: it ends on its own when entry
// returns. For work that may have to be abandoned (a call into another process that never
// returns): until then the thread counts in RunningThreadCount and keeps the module that holds
// its code loaded. False when no thread could be started.
bool StartDetachedThread(ThreadEntry entry, void* context);

// Threads started through Thread (or StartDetachedThread) whose entry function has not returned
// yet, in this module (the
// program, or the DLL that links the platform layer). The component server may be unloaded only
// while it is 0.
int RunningThreadCount();

// Sleep and a monotonic clock in milliseconds.
void SleepMs(uint32_t ms);
uint64_t MonotonicMs();

}  // namespace fluxmere::platform
