#pragma once
// One of a download job's threads (fetch, writer, transcoding), owned by the job.
//
// A job goes away when its last reference is dropped, and that can happen on one of its own
// threads as the thread's last act, so a JobThread can be destroyed on the very thread it owns,
// which cannot wait for itself. Such a thread is handed to a process-wide slot instead; the next
// thread handed over (or the end of the process) waits for it, by when it has only had to return.
// At most one thread waits there at a time.

#include <cstdint>
#include <memory>

#include "platform/thread.h"

namespace fluxmere {

class JobThread {
public:
    JobThread() = default;
    ~JobThread();  // waits for the thread, unless it is the calling one (see above)
    JobThread(const JobThread&) = delete;
    JobThread& operator=(const JobThread&) = delete;

    // Starts entry(context) on a new thread; false when none could be made. Once only.
    bool Start(platform::ThreadEntry entry, void* context);
    // Waits up to timeoutMs for the thread to end; true when it has (or never started).
    bool Join(uint32_t timeoutMs);

private:
    static void Run(void* self);

    std::unique_ptr<platform::Thread> thread_;
    platform::ThreadEntry entry_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace fluxmere
