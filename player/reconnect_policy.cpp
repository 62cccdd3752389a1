#include "player/reconnect_policy.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace fluxmere {

namespace {

bool IsEndStatus(int32_t status) {
    return status == static_cast<int32_t>(PlayerStatus::NotConnected) ||
           status == static_cast<int32_t>(PlayerStatus::CannotConnect) ||
           status == static_cast<int32_t>(PlayerStatus::InUseByOtherUser);
}

}  // namespace

CameraAction ReconnectPolicy::Observe(uint64_t nowMs, const CameraLook& look) {
    if (state_ == CameraState::Waiting || !started_) {
        if (started_ && nowMs < retryAt_)
            return CameraAction::None;
        return Start(nowMs, look);
    }

    if (look.frames != lastFrames_) {
        lastFrames_ = look.frames;
        lastFrameAt_ = nowMs;
    }
    // Right after a start the status may still be the last session's end: only an ending status
    // seen after a live one, or the session thread's end, tells that this session ended.
    if (!IsEndStatus(look.status))
        seenLive_ = true;
    if (!look.sessionRunning || (seenLive_ && IsEndStatus(look.status)))
        return Stop(nowMs, false, look.status);

    const bool playing = look.status == static_cast<int32_t>(PlayerStatus::Playing);
    if (playing && !playing_) {
        playingSince_ = nowMs;
        lastFrameAt_ = nowMs;  // the freeze clock runs from the first picture on
    }
    playing_ = playing;
    if (!playing) {
        // Connecting, or the download panel: nothing to freeze.
        state_ = look.status == static_cast<int32_t>(PlayerStatus::Downloading)
                     ? CameraState::Playing
                     : CameraState::Connecting;
        return CameraAction::None;
    }
    state_ = CameraState::Playing;
    if (nowMs - lastFrameAt_ >= kFreezeMs)
        return Stop(nowMs, true, look.status);
    if (nowMs - playingSince_ >= kGoodPlayingMs)
        step_ = 0;
    return CameraAction::None;
}

CameraAction ReconnectPolicy::Start(uint64_t nowMs, const CameraLook& look) {
    if (started_)
        ++restarts_;
    started_ = true;
    state_ = CameraState::Connecting;
    seenLive_ = false;
    playing_ = false;
    lastFrames_ = look.frames;
    lastFrameAt_ = nowMs;
    return CameraAction::Start;
}

CameraAction ReconnectPolicy::Stop(uint64_t nowMs, bool frozen, int32_t status) {
    frozen_ = frozen;
    endStatus_ = IsEndStatus(status) ? status : static_cast<int32_t>(PlayerStatus::NotConnected);
    waitMs_ = kBackOffMs[std::min(step_, kBackOffSteps - 1)];
    step_ = std::min(step_ + 1, kBackOffSteps - 1);
    retryAt_ = nowMs + waitMs_;
    state_ = CameraState::Waiting;
    playing_ = false;
    return CameraAction::Stop;
}

uint32_t ReconnectPolicy::SecondsLeft(uint64_t nowMs) const {
    if (state_ != CameraState::Waiting || nowMs >= retryAt_)
        return 0;
    return static_cast<uint32_t>((retryAt_ - nowMs + 999) / 1000);
}

CameraText DescribeCamera(const ReconnectPolicy& policy, uint64_t nowMs) {
    CameraText out = {};
    switch (policy.State()) {
        case CameraState::Connecting:
            std::snprintf(out.text, sizeof out.text, "connecting");
            break;
        case CameraState::Playing:
            std::snprintf(out.text, sizeof out.text, "playing");
            break;
        case CameraState::Waiting: {
            const char* why = policy.Frozen() ? "frozen" : StatusText(policy.EndStatus());
            std::snprintf(out.text, sizeof out.text, "%s, reconnecting in %u s",
                          why != nullptr ? why : "not connected",
                          static_cast<unsigned>(std::max<uint32_t>(1, policy.SecondsLeft(nowMs))));
            out.text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(out.text[0])));
            break;
        }
    }
    return out;
}

}  // namespace fluxmere
