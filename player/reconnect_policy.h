#pragma once
// Brings one camera back by itself. It looks at a viewer's session from outside (its status,
// whether its session thread still runs, how many frames it has received) and says when to stop
// the session and when to start it again: a session that ended (the device went away, refused
// the connection or was busy) or whose picture froze (status playing, but no new frame for 3 s)
// is stopped at once and started again after a back-off of 1, 2, 4, 8, 16, then 30 s for good;
// 30 s of good playing bring the back-off down to 1 s again.
//
// Time is handed in, never read: every call takes the caller's clock in milliseconds, so that a
// test drives hours of it without waiting. One instance per camera, used by one thread. The
// viewer application (one per cell of its wall) and `fluxmere view --reconnect` share it.

#include <cstddef>
#include <cstdint>

#include "player/player_status.h"

namespace fluxmere {

// One look at a camera's session.
// Take sessionRunning before status: a session sets its last status before its thread ends, so
// a look taken in that order never pairs an ended session with the status it started from.
struct CameraLook {
    int32_t status = static_cast<int32_t>(PlayerStatus::NotConnected);  // a PlayerStatus value
    bool sessionRunning = false;  // the session's thread has not ended yet
    uint64_t frames = 0;          // any count that grows with every new frame the session takes
};

enum class CameraAction {
    None,
    Start,  // start the session now (SetURL)
    Stop,   // stop the session now (Stop); a start follows after the back-off
};

enum class CameraState {
    Connecting,  // started, no picture yet (also before the first start)
    Playing,     // pictures arrive (or the download panel shows)
    Waiting,     // stopped, waiting for the next start
};

class ReconnectPolicy {
public:
    static constexpr uint32_t kFreezeMs = 3000;
    static constexpr uint32_t kGoodPlayingMs = 30000;
    static constexpr int kBackOffSteps = 6;
    static constexpr uint32_t kBackOffMs[kBackOffSteps] = {1000, 2000, 4000, 8000, 16000, 30000};

    // Call often (a few times a second) with the session as it is now; returns what to do with it
    // now. The first call asks for the first start. After Start the policy takes the session as
    // started at nowMs, after Stop as stopped.
    CameraAction Observe(uint64_t nowMs, const CameraLook& look);

    CameraState State() const { return state_; }
    // Why the camera waits: its picture froze, or its session ended with EndStatus().
    bool Frozen() const { return frozen_; }
    int32_t EndStatus() const { return endStatus_; }
    // While waiting: the back-off of this wait, and the seconds left of it, rounded up.
    uint32_t WaitMs() const { return waitMs_; }
    uint32_t SecondsLeft(uint64_t nowMs) const;
    // Starts after the first one.
    uint32_t Restarts() const { return restarts_; }

private:
    CameraAction Start(uint64_t nowMs, const CameraLook& look);
    CameraAction Stop(uint64_t nowMs, bool frozen, int32_t status);

    CameraState state_ = CameraState::Connecting;
    bool started_ = false;
    uint64_t retryAt_ = 0;
    uint32_t waitMs_ = 0;
    int step_ = 0;  // the next back-off: kBackOffMs[min(step_, kBackOffSteps - 1)]
    uint32_t restarts_ = 0;
    bool frozen_ = false;
    int32_t endStatus_ = static_cast<int32_t>(PlayerStatus::NotConnected);

    // The running session.
    bool seenLive_ = false;  // a status other than an ending one since the start
    bool playing_ = false;
    uint64_t playingSince_ = 0;
    uint64_t lastFrameAt_ = 0;
    uint64_t lastFrames_ = 0;
};

// What a camera's strip or line says: "connecting", "playing", "frozen, reconnecting in 4 s",
// "cannot connect, reconnecting in 2 s".
struct CameraText {
    char text[64];
};
CameraText DescribeCamera(const ReconnectPolicy& policy, uint64_t nowMs);

}  // namespace fluxmere
