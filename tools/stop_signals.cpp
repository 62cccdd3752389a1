#include "tools/stop_signals.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

namespace fluxmere::cli {

StopSignals::StopSignals() {
    sigemptyset(&stopSet_);
    sigaddset(&stopSet_, SIGINT);
    sigaddset(&stopSet_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSet_, &previous_);
}

StopSignals::~StopSignals() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

bool StopSignals::Wait(uint32_t ms) {
    if (signal_ != 0)
        return true;
    timespec timeout{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    int taken;
    do {
        taken = sigtimedwait(&stopSet_, nullptr, &timeout);
    } while (taken == -1 && errno == EINTR);
    if (taken <= 0)
        return false;
    signal_ = taken;
    pthread_sigmask(SIG_UNBLOCK, &stopSet_, nullptr);
    return true;
}

}  // namespace fluxmere::cli
