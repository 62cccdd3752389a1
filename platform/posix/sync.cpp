// Win32-style events, semaphores and critical sections on pthreads.
//
// Every waitable object is a mutex, a condition and a state that a successful wait consumes.
// WaitForEither cannot block on two conditions at once, so it hangs a node on each object's list
// of outside waiters; a state change wakes those waiters too. The nodes live on the waiting
// thread's stack, so no wait allocates.

#include "platform/sync.h"

#include <errno.h>
#include <pthread.h>

#include "platform/posix/clock.h"
#include "platform/semaphore_limits.h"

namespace fluxmere::platform {

namespace {

// One thread inside WaitForEither.
struct Waiter {
    pthread_mutex_t mutex;
    pthread_cond_t wake;
    bool woken = false;
};

struct WaiterNode {
    Waiter* waiter = nullptr;
    WaiterNode* previous = nullptr;
    WaiterNode* next = nullptr;
};

class WaitObject {
public:
    WaitObject() {
        pthread_mutex_init(&mutex_, nullptr);
        InitMonotonicCondition(&changed_);
    }
    virtual ~WaitObject() {
        pthread_cond_destroy(&changed_);
        pthread_mutex_destroy(&mutex_);
    }
    WaitObject(const WaitObject&) = delete;
    WaitObject& operator=(const WaitObject&) = delete;

    WaitResult Wait(uint32_t timeoutMs) {
        pthread_mutex_lock(&mutex_);
        bool consumed = TryConsumeLocked();
        if (!consumed && timeoutMs != 0) {
            if (timeoutMs == kInfinite) {
                while (!(consumed = TryConsumeLocked()))
                    pthread_cond_wait(&changed_, &mutex_);
            } else {
                const timespec deadline = MonotonicDeadline(timeoutMs);
                while (!(consumed = TryConsumeLocked())) {
                    if (pthread_cond_timedwait(&changed_, &mutex_, &deadline) == ETIMEDOUT) {
                        consumed = TryConsumeLocked();
                        break;
                    }
                }
            }
        }
        pthread_mutex_unlock(&mutex_);
        return consumed ? WaitResult::Signaled : WaitResult::Timeout;
    }

    bool TryConsume() {
        pthread_mutex_lock(&mutex_);
        const bool consumed = TryConsumeLocked();
        pthread_mutex_unlock(&mutex_);
        return consumed;
    }

    void AddWaiter(WaiterNode* node) {
        pthread_mutex_lock(&mutex_);
        node->previous = nullptr;
        node->next = waiters_;
        if (waiters_ != nullptr)
            waiters_->previous = node;
        waiters_ = node;
        pthread_mutex_unlock(&mutex_);
    }

    void RemoveWaiter(WaiterNode* node) {
        pthread_mutex_lock(&mutex_);
        if (node->previous != nullptr) {
            node->previous->next = node->next;
        } else {
            waiters_ = node->next;
        }
        if (node->next != nullptr)
            node->next->previous = node->previous;
        pthread_mutex_unlock(&mutex_);
    }

protected:
    virtual bool TryConsumeLocked() = 0;

    void Lock() { pthread_mutex_lock(&mutex_); }
    void Unlock() { pthread_mutex_unlock(&mutex_); }

    // Called with the mutex held after the state became signalled. Lock order: object, waiter.
    void NotifyLocked() {
        pthread_cond_broadcast(&changed_);
        for (WaiterNode* node = waiters_; node != nullptr; node = node->next) {
            pthread_mutex_lock(&node->waiter->mutex);
            node->waiter->woken = true;
            pthread_cond_signal(&node->waiter->wake);
            pthread_mutex_unlock(&node->waiter->mutex);
        }
    }

private:
    pthread_mutex_t mutex_;
    pthread_cond_t changed_;
    WaiterNode* waiters_ = nullptr;
};

}  // namespace

struct Event::Impl : WaitObject {
    Impl(bool manual, bool set) : manualReset(manual), signaled(set) {}

    void Set() {
        Lock();
        signaled = true;
        NotifyLocked();
        Unlock();
    }
    void Reset() {
        Lock();
        signaled = false;
        Unlock();
    }
    bool IsSet() {
        Lock();
        const bool set = signaled;
        Unlock();
        return set;
    }

    bool TryConsumeLocked() override {
        if (!signaled)
            return false;
        if (!manualReset)
            signaled = false;
        return true;
    }

    const bool manualReset;
    bool signaled;
};

struct Semaphore::Impl : WaitObject {
    Impl(int32_t initial, int32_t maximum) : count(initial), maximumCount(maximum) {}

    bool Release(int32_t amount, int32_t* previous) {
        Lock();
        const bool fits = amount > 0 && amount <= maximumCount - count;
        if (fits) {
            if (previous != nullptr)
                *previous = count;
            count += amount;
            NotifyLocked();
        }
        Unlock();
        return fits;
    }
    void Drain() {
        Lock();
        count = 0;
        Unlock();
    }

    bool TryConsumeLocked() override {
        if (count == 0)
            return false;
        --count;
        return true;
    }

    int32_t count;
    const int32_t maximumCount;
};

struct WaitableAccess {
    static WaitObject* Object(Waitable& waitable) {
        if (auto* event = dynamic_cast<Event*>(&waitable))
            return event->impl();
        if (auto* semaphore = dynamic_cast<Semaphore*>(&waitable))
            return semaphore->impl();
        return nullptr;
    }
};

Event::Event(bool manualReset, bool initiallySet) : impl_(new Impl(manualReset, initiallySet)) {}
Event::~Event() {
    delete impl_;
}
void Event::Set() {
    impl_->Set();
}
void Event::Reset() {
    impl_->Reset();
}
WaitResult Event::Wait(uint32_t timeoutMs) {
    return impl_->Wait(timeoutMs);
}
bool Event::IsSet() const {
    return impl_->IsSet();
}

Semaphore::Semaphore(int32_t initialCount, int32_t maximumCount)
    : impl_(
          new Impl(SemaphoreInitial(initialCount, maximumCount), SemaphoreMaximum(maximumCount))) {}
Semaphore::~Semaphore() {
    delete impl_;
}
bool Semaphore::Release(int32_t count, int32_t* previousCount) {
    return impl_->Release(count, previousCount);
}
WaitResult Semaphore::Wait(uint32_t timeoutMs) {
    return impl_->Wait(timeoutMs);
}
void Semaphore::Drain() {
    impl_->Drain();
}

int WaitForEither(Waitable& first, Waitable& second, uint32_t timeoutMs) {
    WaitObject* objects[2] = {WaitableAccess::Object(first), WaitableAccess::Object(second)};
    if (objects[0] == nullptr || objects[1] == nullptr)
        return -1;
    if (objects[0] == objects[1])
        return objects[0]->Wait(timeoutMs) == WaitResult::Signaled ? 0 : -1;

    // Checking in order on every pass gives the first object precedence.
    auto check = [&objects]() {
        for (int i = 0; i < 2; ++i) {
            if (objects[i]->TryConsume())
                return i;
        }
        return -1;
    };
    int result = check();
    if (result >= 0 || timeoutMs == 0)
        return result;

    Waiter waiter;
    pthread_mutex_init(&waiter.mutex, nullptr);
    InitMonotonicCondition(&waiter.wake);
    WaiterNode nodes[2];
    for (int i = 0; i < 2; ++i) {
        nodes[i].waiter = &waiter;
        objects[i]->AddWaiter(&nodes[i]);
    }
    const timespec deadline = MonotonicDeadline(timeoutMs == kInfinite ? 0 : timeoutMs);
    // Registered before each check, so a change between the check and the sleep sets woken.
    while ((result = check()) < 0) {
        pthread_mutex_lock(&waiter.mutex);
        bool timedOut = false;
        while (!waiter.woken && !timedOut) {
            if (timeoutMs == kInfinite) {
                pthread_cond_wait(&waiter.wake, &waiter.mutex);
            } else {
                timedOut =
                    pthread_cond_timedwait(&waiter.wake, &waiter.mutex, &deadline) == ETIMEDOUT;
            }
        }
        waiter.woken = false;
        pthread_mutex_unlock(&waiter.mutex);
        if (timedOut) {
            result = check();
            break;
        }
    }
    for (int i = 0; i < 2; ++i)
        objects[i]->RemoveWaiter(&nodes[i]);
    pthread_cond_destroy(&waiter.wake);
    pthread_mutex_destroy(&waiter.mutex);
    return result;
}

struct CriticalSection::Impl {
    pthread_mutex_t mutex;
};

CriticalSection::CriticalSection() : impl_(new Impl) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&impl_->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}
CriticalSection::~CriticalSection() {
    pthread_mutex_destroy(&impl_->mutex);
    delete impl_;
}
void CriticalSection::Enter() {
    pthread_mutex_lock(&impl_->mutex);
}
void CriticalSection::Leave() {
    pthread_mutex_unlock(&impl_->mutex);
}

}  // namespace fluxmere::platform
