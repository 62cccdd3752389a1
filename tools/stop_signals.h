#pragma once
// Ctrl-C (SIGINT) and SIGTERM as a normal way to end a command that runs until stopped: the
// signals are blocked in every thread, so no socket call or sleep of the session is cut short,
// and the main thread takes them while it waits between its polls. After the first one the main
// thread no longer blocks them: a second Ctrl-C ends the program at once.

#include <signal.h>

#include <cstdint>

namespace fluxmere::cli {

class StopSignals {
public:
    // Before any thread starts: threads inherit the blocked set.
    StopSignals();
    ~StopSignals();  // the main thread's mask as it was
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits up to ms; true once a stop signal has come (then at once, also on later calls).
    bool Wait(uint32_t ms);
    bool received() const { return signal_ != 0; }
    // 128 + the signal's number (130 for Ctrl-C), as a shell reports a program it ended.
    int ExitStatus() const { return 128 + signal_; }

private:
    sigset_t stopSet_;
    sigset_t previous_;
    int signal_ = 0;
};

}  // namespace fluxmere::cli
