// POSIX threads with the Win32 start/priority/join behaviour the core expects.

#include "platform/thread.h"

#include <errno.h>
#include <atomic>
#include <new>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/posix/clock.h"

namespace fluxmere::platform {

namespace {

struct ThreadControl {
    pthread_mutex_t mutex;
    pthread_cond_t ended;  // signalled when the entry function has returned
    pthread_t thread{};
    bool started = false;   // an OS thread exists that was not joined yet
    bool finished = false;  // its entry function has returned
    ThreadEntry entry = nullptr;
    void* context = nullptr;
    pid_t tid = 0;  // kernel id of the running thread, once it has started
    ThreadPriority priority = ThreadPriority::Normal;
};

// Windows' time-critical level is the top of the normal (dynamic) range, not a real-time class.
// The closest match is the strongest nice value under the normal scheduler: it favours the
// thread without letting a runaway loop starve the machine as SCHED_FIFO would. Lowering the
// nice value needs a right the process may lack; the thread then keeps its priority.
// Normal is the nice value of the process's main thread (whose id is the process id).
void ApplyPriority(pid_t tid, ThreadPriority priority) {
    int nice = -20;
    if (priority == ThreadPriority::Normal) {
        errno = 0;
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        if (errno != 0)
            nice = 0;
    }
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

std::atomic<int> runningThreads{0};

void* RunThread(void* argument) {
    auto* state = static_cast<ThreadControl*>(argument);
    pthread_mutex_lock(&state->mutex);
    state->tid = static_cast<pid_t>(syscall(SYS_gettid));
    // Linux threads inherit the creator's nice value, Windows threads start at normal priority:
    // the priority (normal, or one asked for before the thread knew its id) is set here.
    ApplyPriority(state->tid, state->priority);
    pthread_mutex_unlock(&state->mutex);
    state->entry(state->context);
    pthread_mutex_lock(&state->mutex);
    state->finished = true;
    pthread_cond_broadcast(&state->ended);
    pthread_mutex_unlock(&state->mutex);
    runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    return nullptr;
}

}  // namespace

struct Thread::State : ThreadControl {};

Thread::Thread() : state_(new State) {
    pthread_mutex_init(&state_->mutex, nullptr);
    InitMonotonicCondition(&state_->ended);
}

Thread::~Thread() {
    Join(kInfinite);
    pthread_cond_destroy(&state_->ended);
    pthread_mutex_destroy(&state_->mutex);
    delete state_;
}

bool Thread::Start(ThreadEntry entry, void* context) {
    if (entry == nullptr)
        return false;
    pthread_mutex_lock(&state_->mutex);
    if (state_->started) {
        pthread_mutex_unlock(&state_->mutex);
        return false;
    }
    state_->entry = entry;
    state_->context = context;
    state_->finished = false;
    state_->tid = 0;
    state_->priority = ThreadPriority::Normal;
    // The mutex is held while creating, so a SetPriority or Join from another thread sees a
    // complete thread id.
    runningThreads.fetch_add(1, std::memory_order_acq_rel);
    const bool created = pthread_create(&state_->thread, nullptr, RunThread,
                                        static_cast<ThreadControl*>(state_)) == 0;
    if (!created)
        runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    state_->started = created;
    pthread_mutex_unlock(&state_->mutex);
    return created;
}

bool Thread::SetPriority(ThreadPriority priority) {
    pthread_mutex_lock(&state_->mutex);
    const bool started = state_->started;
    if (started) {
        state_->priority = priority;
        if (state_->tid != 0 && !state_->finished)
            ApplyPriority(state_->tid, priority);
    }
    pthread_mutex_unlock(&state_->mutex);
    return started;
}

bool Thread::Join(uint32_t timeoutMs) {
    pthread_mutex_lock(&state_->mutex);
    if (!state_->started) {
        pthread_mutex_unlock(&state_->mutex);
        return true;
    }
    if (timeoutMs == kInfinite) {
        while (!state_->finished)
            pthread_cond_wait(&state_->ended, &state_->mutex);
    } else {
        const timespec deadline = MonotonicDeadline(timeoutMs);
        while (!state_->finished) {
            if (pthread_cond_timedwait(&state_->ended, &state_->mutex, &deadline) == ETIMEDOUT)
                break;
        }
    }
    if (!state_->finished) {
        pthread_mutex_unlock(&state_->mutex);
        return false;
    }
    const pthread_t thread = state_->thread;
    state_->started = false;
    pthread_mutex_unlock(&state_->mutex);
    // The entry function has returned; the thread only has to leave RunThread.
    pthread_join(thread, nullptr);
    return true;
}

bool Thread::IsRunning() const {
    pthread_mutex_lock(&state_->mutex);
    const bool running = state_->started && !state_->finished;
    pthread_mutex_unlock(&state_->mutex);
    return running;
}

namespace {

struct DetachedStart {
    ThreadEntry entry;
    void* context;
};

void* RunDetached(void* argument) {
    const DetachedStart start = *static_cast<DetachedStart*>(argument);
    delete static_cast<DetachedStart*>(argument);
    start.entry(start.context);
    runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    return nullptr;
}

}  // namespace

bool StartDetachedThread(ThreadEntry entry, void* context) {
    if (entry == nullptr)
        return false;
    auto* start = new (std::nothrow) DetachedStart{entry, context};
    if (start == nullptr)
        return false;
    runningThreads.fetch_add(1, std::memory_order_acq_rel);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunDetached, start) != 0) {
        runningThreads.fetch_sub(1, std::memory_order_acq_rel);
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

int RunningThreadCount() {
    return runningThreads.load(std::memory_order_acquire);
}

void SleepMs(uint32_t ms) {
    timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace fluxmere::platform
