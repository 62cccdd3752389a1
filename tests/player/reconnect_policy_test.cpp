// The reconnect rules on a clock the test turns: back-off, its reset after good playing, freeze
// detection and what the strip says. No session and no waiting: hours pass in microseconds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/reconnect_policy.h"

namespace fluxmere {
namespace {

constexpr int32_t kPlaying = static_cast<int32_t>(PlayerStatus::Playing);
constexpr int32_t kNotConnected = static_cast<int32_t>(PlayerStatus::NotConnected);
constexpr int32_t kConnecting = static_cast<int32_t>(PlayerStatus::Connecting);
constexpr int32_t kCannotConnect = static_cast<int32_t>(PlayerStatus::CannotConnect);
constexpr int32_t kInUse = static_cast<int32_t>(PlayerStatus::InUseByOtherUser);
constexpr int32_t kDownloading = static_cast<int32_t>(PlayerStatus::Downloading);

// A camera and its policy on the test's clock, looked at every 100 ms.
class Camera {
public:
    CameraAction Look(int32_t status, bool running = true) {
        return policy.Observe(now, CameraLook{status, running, frames});
    }
    // Looks every 100 ms for ms, with a new frame every frameMs (0: none) while playing; returns
    // the first action other than None (and stops there), or None.
    CameraAction Run(uint64_t ms, int32_t status, uint64_t frameMs = 40) {
        const uint64_t end = now + ms;
        uint64_t nextFrame = now + frameMs;
        while (now < end) {
            now += 100;
            while (frameMs != 0 && nextFrame <= now) {
                ++frames;
                nextFrame += frameMs;
            }
            const CameraAction action = Look(status);
            if (action != CameraAction::None)
                return action;
        }
        return CameraAction::None;
    }
    // Waits out the back-off: the time from now to the start that ends it.
    uint64_t WaitForStart() {
        const uint64_t from = now;
        while (Look(kNotConnected, false) != CameraAction::Start)
            now += 100;
        return now - from;
    }

    ReconnectPolicy policy;
    uint64_t now = 1000000;
    uint64_t frames = 7;
};

TEST(ReconnectPolicy, ADeviceThatNeverComesBackWaitsUpTo30sAndStaysThere) {
    Camera camera;
    ASSERT_EQ(camera.Look(kNotConnected, false), CameraAction::Start) << "the first start at once";
    std::vector<uint64_t> waits;
    for (int attempt = 0; attempt < 50; ++attempt) {
        // The session fails at once: its thread has ended with "Cannot connect".
        ASSERT_EQ(camera.Look(kCannotConnect, false), CameraAction::Stop) << attempt;
        waits.push_back(camera.WaitForStart());
    }
    std::vector<uint64_t> expected = {1000, 2000, 4000, 8000, 16000};
    expected.resize(50, 30000);
    EXPECT_EQ(waits, expected);
    EXPECT_EQ(camera.policy.Restarts(), 50u);
}

TEST(ReconnectPolicy, ThirtySecondsOfGoodPlayingBringTheBackOffDown) {
    struct Case {
        uint64_t playMs;
        uint64_t nextWaitMs;
    };
    // Three failures first (1, 2 and 4 s), then a session that plays for a while and ends.
    for (const Case c : {Case{29000, 8000}, Case{30100, 1000}, Case{600000, 1000}}) {
        SCOPED_TRACE(c.playMs);
        Camera camera;
        camera.Look(kNotConnected, false);
        for (int i = 0; i < 3; ++i) {
            camera.Look(kCannotConnect, false);
            camera.WaitForStart();
        }
        EXPECT_EQ(camera.Run(500, kConnecting, 0), CameraAction::None);
        EXPECT_EQ(camera.Run(c.playMs, kPlaying), CameraAction::None);
        EXPECT_EQ(camera.Look(kNotConnected), CameraAction::Stop);
        EXPECT_EQ(camera.policy.WaitMs(), c.nextWaitMs);
        EXPECT_FALSE(camera.policy.Frozen());
    }
}

TEST(ReconnectPolicy, APlayingPictureWithoutNewFramesFor3sIsFrozen) {
    struct Case {
        const char* what;
        int32_t status;
        uint64_t frameMs;  // a new frame this often (0: none)
        bool stops;
    };
    const Case cases[] = {
        {"no frame at all while playing", kPlaying, 0, true},
        {"a frame every 2.9 s", kPlaying, 2900, false},
        {"a frame every 3.2 s", kPlaying, 3200, true},
        {"connecting for a minute", kConnecting, 0, false},
        {"the download panel for a minute", kDownloading, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Camera camera;
        camera.Look(kNotConnected, false);
        EXPECT_EQ(camera.Run(1000, kPlaying), CameraAction::None);
        const uint64_t lastFrame = camera.now;
        const CameraAction action = camera.Run(60000, c.status, c.frameMs);
        EXPECT_EQ(action, c.stops ? CameraAction::Stop : CameraAction::None);
        if (c.stops) {
            EXPECT_TRUE(camera.policy.Frozen());
            EXPECT_EQ(camera.policy.WaitMs(), 1000u);
            EXPECT_EQ(camera.now, lastFrame + ReconnectPolicy::kFreezeMs);
        }
    }
}

TEST(ReconnectPolicy, OnlyAnEndAfterThisSessionWentLiveEndsIt) {
    Camera camera;
    camera.Look(kNotConnected, false);
    // The last session's "Not connected" until the new session thread says "Connecting".
    EXPECT_EQ(camera.Look(kNotConnected), CameraAction::None);
    EXPECT_EQ(camera.policy.State(), CameraState::Connecting);
    EXPECT_EQ(camera.Look(kConnecting), CameraAction::None);
    EXPECT_EQ(camera.Look(kInUse), CameraAction::Stop);
    EXPECT_EQ(camera.policy.EndStatus(), kInUse);

    // A session whose thread ended while its status still says "Connecting" (a URL it refused).
    camera.WaitForStart();
    EXPECT_EQ(camera.Look(kConnecting, false), CameraAction::Stop);
    EXPECT_EQ(camera.policy.EndStatus(), kNotConnected);
}

TEST(ReconnectPolicy, TheStripSaysWhatTheCameraIsDoing) {
    Camera camera;
    EXPECT_STREQ(DescribeCamera(camera.policy, camera.now).text, "connecting");
    camera.Look(kNotConnected, false);
    camera.Run(1000, kPlaying);
    EXPECT_STREQ(DescribeCamera(camera.policy, camera.now).text, "playing");
    camera.Run(5000, kPlaying, 0);
    EXPECT_STREQ(DescribeCamera(camera.policy, camera.now).text, "frozen, reconnecting in 1 s");

    struct Case {
        int32_t status;
        uint64_t afterMs;  // into the wait
        const char* text;
    };
    // Waits of 2, 4 and 8 s follow.
    const Case cases[] = {{kCannotConnect, 0, "cannot connect, reconnecting in 2 s"},
                          {kInUse, 1500, "in use by other user, reconnecting in 3 s"},
                          {kNotConnected, 7999, "not connected, reconnecting in 1 s"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        camera.WaitForStart();
        camera.Look(kConnecting);
        ASSERT_EQ(camera.Look(c.status, false), CameraAction::Stop);
        EXPECT_STREQ(DescribeCamera(camera.policy, camera.now + c.afterMs).text, c.text);
    }
}

}  // namespace
}  // namespace fluxmere
