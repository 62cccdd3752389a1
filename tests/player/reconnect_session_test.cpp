// A real session kept coming back by the reconnect rules, on a clock the test turns: fifty
// attempts at a device that is not there leave no thread or handle behind, and once the device
// is there the next attempt plays.
#include <gtest/gtest.h>

#include <string>

#include "platform/thread.h"
#include "player/player_session.h"
#include "player/reconnect_policy.h"
#include "player/software_audio_output.h"
#include "tests/player/session_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/process_resources.h"

namespace fluxmere {
namespace {

using testing::HandlesOfThisProcess;
using testing::LoopbackText;
using testing::Suite;
using testing::TestDevice;
using testing::ThreadsOfThisProcess;

// One camera: its session driven by its policy. The back-off waits pass at once on the test's
// clock; only the session's own work takes real time.
struct Camera {
    Camera() : session(audio, nullptr) {}

    CameraLook Look() const {
        const bool running = session.IsSessionRunning();  // first: see CameraLook
        return CameraLook{session.Status(), running,
                          static_cast<uint64_t>(session.Counters().framesDelivered)};
    }

    // Looks until the policy asks for action, and does it; polls the session meanwhile.
    CameraAction Step() {
        for (int polls = 0; polls < 20000; ++polls) {
            const CameraAction action = policy.Observe(now, Look());
            if (action == CameraAction::Start) {
                session.SetURL(url.c_str());
                return action;
            }
            if (action == CameraAction::Stop) {
                session.Stop();
                now += policy.WaitMs();  // the back-off, without waiting for it
                return action;
            }
            now += 1;
            platform::SleepMs(1);
        }
        return CameraAction::None;
    }

    std::string url;
    CSoftwareAudioOutput audio;
    CPlayerSession session;
    ReconnectPolicy policy;
    uint64_t now = 0;
};

TEST(ReconnectSession, FiftyAttemptsAtAMissingDeviceLeaveNothingBehindThenItPlays) {
    const int index = 100;
    Camera camera;
    camera.url = "rtsp://" + LoopbackText(Suite::Player, index) + "/live";
    int threads = 0, handles = 0;
    while (camera.policy.Restarts() < 50 && !HasFailure()) {
        ASSERT_EQ(camera.Step(), CameraAction::Start);
        ASSERT_EQ(camera.Step(), CameraAction::Stop) << "nobody listens: the session ends";
        EXPECT_EQ(camera.policy.EndStatus(), static_cast<int32_t>(PlayerStatus::CannotConnect));
        if (camera.policy.Restarts() == 5) {  // what lives as long as the process is made by now
            threads = ThreadsOfThisProcess();
            handles = HandlesOfThisProcess();
        }
    }
    EXPECT_EQ(camera.policy.WaitMs(), 30000u);
    // A session's threads are joined before the next starts; the system's own may linger.
    for (int i = 0; i < 500 && ThreadsOfThisProcess() > threads; ++i)
        platform::SleepMs(10);
    EXPECT_LE(ThreadsOfThisProcess(), threads) << "threads grow";
    EXPECT_LE(HandlesOfThisProcess(), handles) << "handles grow";

    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index), {})) << device.error();
    ASSERT_EQ(camera.Step(), CameraAction::Start);
    for (int i = 0; i < 2000 && camera.policy.State() != CameraState::Playing; ++i) {
        camera.policy.Observe(camera.now, camera.Look());
        platform::SleepMs(10);
    }
    EXPECT_EQ(camera.policy.State(), CameraState::Playing);
    camera.session.Stop();
}

}  // namespace
}  // namespace fluxmere
