#include "download/job_thread.h"

#include <new>
#include <utility>

#include "platform/sync.h"

namespace fluxmere {

namespace {

// The job thread the calling code runs on, if any.
thread_local const JobThread* tCurrentJobThread = nullptr;

// Keeps the thread of a JobThread destroyed on that thread until the next one comes, which then
// waits for the one kept (it has left the job by then) and frees it.
class RetiredThreadSlot {
public:
    void Retire(std::unique_ptr<platform::Thread> thread) {
        std::unique_ptr<platform::Thread> previous;
        {
            platform::ScopedLock scoped(lock_);
            previous = std::move(retired_);
            retired_ = std::move(thread);
        }
        // previous is waited for here, outside the lock.
    }

private:
    platform::CriticalSection lock_;
    std::unique_ptr<platform::Thread> retired_;
};

void RetireOwnThread(std::unique_ptr<platform::Thread> thread) {
    static RetiredThreadSlot slot;
    slot.Retire(std::move(thread));
}

}  // namespace

JobThread::~JobThread() {
    if (tCurrentJobThread == this)
        RetireOwnThread(std::move(thread_));
}

bool JobThread::Start(platform::ThreadEntry entry, void* context) {
    if (thread_ != nullptr)
        return false;
    thread_.reset(new (std::nothrow) platform::Thread);
    entry_ = entry;
    context_ = context;
    return thread_ != nullptr && thread_->Start(&JobThread::Run, this);
}

bool JobThread::Join(uint32_t timeoutMs) {
    return thread_ == nullptr || thread_->Join(timeoutMs);
}

void JobThread::Run(void* self) {
    auto* thread = static_cast<JobThread*>(self);
    tCurrentJobThread = thread;
    // The entry may end the job and with it this JobThread: nothing of it is touched afterwards.
    thread->entry_(thread->context_);
}

}  // namespace fluxmere
