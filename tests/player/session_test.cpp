// Sessions against the device stand-in: statuses, URLs, the registry, pictures and hostile frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/test_pattern.h"
#include "platform/thread.h"
#include "player/player_registry.h"
#include "player/player_session.h"
#include "player/software_audio_output.h"
#include "streaming/device_address.h"
#include "tests/player/session_fixture.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::ConnectionProbe;
using testing::LoopbackAddress;
using testing::LoopbackText;
using testing::PsnrBgrAgainstRgb;
using testing::S;
using testing::ScriptedRtspPeer;
using testing::StatusRecorder;
using testing::Suite;
using testing::TestDevice;
using testing::WaitForRecorded;
using testing::WaitForStatus;

// A viewer: the session with its software sound device and a status recorder.
struct Viewer {
    explicit Viewer(const SessionTiming& timing = SessionTiming())
        : session(audio, &recorder, timing) {
        recorder.Attach(&session);
    }
    CSoftwareAudioOutput audio;
    StatusRecorder recorder;
    CPlayerSession session;
};

std::string Url(int index, const char* path = "live/main") {
    return "rtsp://" + LoopbackText(Suite::Player, index) + "/" + path;
}

TEST(PlayerSession, PlaysWhilePaintedAndStops) {
    const int index = 1;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index), {})) << device.error();
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForStatus(viewer.session, PlayerStatus::Playing));

    // A painter on its own thread while frames keep arriving.
    std::atomic<bool> painting{true};
    std::atomic<int> painted{0};
    std::thread painter([&] {
        RenderedPicture picture;
        while (painting.load()) {
            if (viewer.session.RenderFrame(&picture))
                ++painted;
            platform::SleepMs(5);
        }
    });
    while (painted.load() < 5)
        platform::SleepMs(10);
    painting.store(false);
    painter.join();

    viewer.session.Stop();
    EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::NotConnected));
    EXPECT_EQ(viewer.recorder.Statuses(),
              (std::vector<int32_t>{S(PlayerStatus::Connecting), S(PlayerStatus::Playing),
                                    S(PlayerStatus::NotConnected)}));
    EXPECT_FALSE(viewer.audio.IsOpen());
#ifndef _WIN32
    const device::DeviceCounters counters = device.Native().Counters();
    EXPECT_EQ(counters.plays, 1);
    EXPECT_GE(counters.teardowns, 1);
    const std::vector<std::string> lines = device.Native().RtspRequestLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "DESCRIBE " + Url(index) + " RTSP/1.0");
    EXPECT_EQ(lines[1], "SETUP " + Url(index) + "/video RTSP/1.0");
    EXPECT_EQ(lines[2], "PLAY " + Url(index) + " RTSP/1.0");
    EXPECT_EQ(lines[3], "TEARDOWN " + Url(index) + " RTSP/1.0");
#endif
}

// The device sends three frames and falls silent: the session ends by itself after the
// media time-out, and the picture painted is the last frame, close to what the device encoded.
struct StreamCase {
    int index;
    int width;
    int height;
};

class PlayerPicture : public ::testing::TestWithParam<StreamCase> {};

// The device pattern with its range squeezed to 16..235 and stretched back out: what the viewer
// would paint from a device that stored full-range (JPEG file) samples.
std::vector<uint8_t> StretchedFromStudioRange(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> stretched(rgb);
    for (uint8_t& v : stretched) {
        const double x = (v - 16) * 255.0 / 219.0 + 0.5;
        v = static_cast<uint8_t>(x < 0 ? 0 : x > 255 ? 255 : x);
    }
    return stretched;
}

TEST_P(PlayerPicture, NewestFrameMatchesTheDevicePicture) {
    const StreamCase c = GetParam();
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, c.index),
                             {"--size", size, "--media-fault", "silence", "--fault-after", "3"}))
        << device.error();
    Viewer viewer;
    viewer.session.SetRectangle(
        ("0,0," + std::to_string(c.width) + "," + std::to_string(c.height)).c_str());
    ASSERT_TRUE(viewer.session.SetURL(Url(c.index).c_str()));
    // Connecting, Playing, Not connected
    ASSERT_TRUE(WaitForRecorded(viewer.recorder, 3))
        << ::testing::PrintToString(viewer.recorder.Statuses());
    EXPECT_EQ(viewer.recorder.Statuses(),
              (std::vector<int32_t>{S(PlayerStatus::Connecting), S(PlayerStatus::Playing),
                                    S(PlayerStatus::NotConnected)}));
    EXPECT_EQ(viewer.session.SourceWidth(), c.width);
    EXPECT_EQ(viewer.session.SourceHeight(), c.height);

    RenderedPicture picture;
    ASSERT_TRUE(viewer.session.RenderFrame(&picture));
    ASSERT_EQ(picture.width, c.width);
    ASSERT_EQ(picture.height, c.height);
    std::vector<uint8_t> newest(static_cast<size_t>(c.width) * c.height * 3);
    std::vector<uint8_t> previous(newest.size());
    device::RenderTestPattern(c.width, c.height, 2, newest.data());
    device::RenderTestPattern(c.width, c.height, 1, previous.data());
    // The device sends studio-range YCbCr and the viewer converts it as such: the picture
    // matches the pattern itself, better than the range-stretched one.
    const double psnr = PsnrBgrAgainstRgb(picture, newest.data());
    const double stretched = PsnrBgrAgainstRgb(picture, StretchedFromStudioRange(newest).data());
    EXPECT_GT(psnr, 30.0);
    EXPECT_GT(psnr, stretched + 3.0) << "range stretched";
    EXPECT_GT(psnr, PsnrBgrAgainstRgb(picture, previous.data()) + 1.0) << "not the newest frame";
    viewer.session.Stop();
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlayerPicture,
                         ::testing::Values(StreamCase{2, 352, 288}, StreamCase{3, 720, 576},
                                           StreamCase{4, 1920, 1080}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                             return std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

TEST(PlayerSession, WaysASessionEnds) {
    struct Case {
        const char* what;
        int index;
        std::vector<std::string> flags;
        bool deviceRuns;
        PlayerStatus status;
    };
    const Case cases[] = {
        {"busy device", 5, {"--busy"}, true, PlayerStatus::InUseByOtherUser},
        {"refused connect", 6, {}, false, PlayerStatus::CannotConnect},
        {"device event", 7, {"--event-after", "0.3"}, true, PlayerStatus::NotConnected},
        {"describe refused", 8, {"--refuse-describe"}, true, PlayerStatus::CannotConnect},
        {"no server port", 9, {"--no-server-port"}, true, PlayerStatus::CannotConnect},
        {"media closed", 10, {"--max-frames", "2"}, true, PlayerStatus::NotConnected},
        {"stream header too long", 11, {"--long-header"}, true, PlayerStatus::CannotConnect},
        {"picture too large", 23, {"--size", "1936x1088"}, true, PlayerStatus::CannotConnect},
        // An event that comes in the same segment as the PLAY reply still ends the session.
        {"event with the PLAY reply", 24, {"--event-with-play"}, true, PlayerStatus::NotConnected},
        // A device that reboots mid-stream resets the media connection.
        {"media reset",
         25,
         {"--media-fault", "reset", "--fault-after", "3"},
         true,
         PlayerStatus::NotConnected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDevice device;
        if (c.deviceRuns) {
            ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, c.index), c.flags))
                << device.error();
        }
        Viewer viewer;
        EXPECT_FALSE(viewer.session.IsSessionRunning());
        // Whether it still runs right after SetURL is not asked: a session refused at once may
        // have ended already.
        ASSERT_TRUE(viewer.session.SetURL(Url(c.index).c_str()));
        std::vector<int32_t> statuses;
        for (int i = 0; i < 2000; ++i) {  // until the session has ended by itself
            statuses = viewer.recorder.Statuses();
            if (statuses.size() >= 2 && statuses.back() != S(PlayerStatus::Playing))
                break;
            platform::SleepMs(10);
        }
        ASSERT_GE(statuses.size(), 2u);
        EXPECT_EQ(statuses.front(), S(PlayerStatus::Connecting));
        EXPECT_EQ(statuses.back(), S(c.status));
        for (int i = 0; i < 1000 && viewer.session.IsSessionRunning(); ++i)
            platform::SleepMs(10);
        EXPECT_FALSE(viewer.session.IsSessionRunning()) << "its thread has ended";
#ifndef _WIN32
        if (c.deviceRuns) {
            const device::DeviceCounters counters = device.Native().Counters();
            if (c.status != PlayerStatus::NotConnected)
                EXPECT_EQ(counters.plays, 0);
            if (c.index == 7)
                EXPECT_EQ(counters.eventsSent, 1);
        }
#endif
        viewer.session.Stop();
        EXPECT_EQ(viewer.session.Status(), S(c.status)) << "Stop after the end changes nothing";
    }
}

// Devices that never answer, answer a byte a second or never take the connection: Stop, a new
// SetURL and destruction each return within the session's stop limit, with room for a loaded
// machine under ASan (a session that waited on such a device would not return at all), and the
// session's threads end before the viewer is gone.
TEST(PlayerSession, HostileDevicesNeverHoldThePagesThread) {
    struct Case {
        const char* what;
        int index;
        std::vector<std::string> flags;
        bool playsFirst;  // Stop comes once the picture plays, else during the exchange
    };
    const Case cases[] = {
        {"TEARDOWN never answered", 26, {"--silent-on", "TEARDOWN"}, true},
        {"DESCRIBE never answered", 27, {"--silent-on", "DESCRIBE"}, false},
        {"SETUP never answered", 28, {"--silent-on", "SETUP"}, false},
        {"PLAY never answered", 29, {"--silent-on", "PLAY"}, false},
        {"a reply byte a second", 30, {"--reply-byte-ms", "1000"}, false},
        {"no connection accepted", 31, {"--accept-nothing"}, false},
    };
    auto elapsedMs = [](uint64_t start) { return platform::MonotonicMs() - start; };
    const uint64_t limitMs = kStopLimitMs + 3000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDevice device;
        ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, c.index), c.flags)) << device.error();
        auto viewer = std::make_unique<Viewer>();
        ASSERT_TRUE(viewer->session.SetURL(Url(c.index).c_str()));
        if (c.playsFirst) {
            ASSERT_TRUE(WaitForStatus(viewer->session, PlayerStatus::Playing));
        } else {
            platform::SleepMs(300);
        }
        uint64_t start = platform::MonotonicMs();
        viewer->session.Stop();
        EXPECT_LT(elapsedMs(start), limitMs) << "Stop";
        EXPECT_EQ(viewer->session.Status(), S(PlayerStatus::NotConnected));

        ASSERT_TRUE(viewer->session.SetURL(Url(c.index).c_str()));
        platform::SleepMs(300);
        start = platform::MonotonicMs();
        ASSERT_TRUE(viewer->session.SetURL(Url(c.index).c_str()));  // replaces a stuck session
        EXPECT_LT(elapsedMs(start), limitMs) << "SetURL";

        platform::SleepMs(300);
        start = platform::MonotonicMs();
        viewer.reset();  // Stop, then its threads joined
        EXPECT_LT(elapsedMs(start), limitMs) << "destruction";
    }
}

// A stream that announces a picture size of 0 plays at the decoder's 320 x 240.
TEST(PlayerSession, ZeroSizeStreamPlaysAt320x240) {
    const int index = 32;
    TestDevice device;
    ASSERT_TRUE(
        device.Start(LoopbackText(Suite::Player, index), {"--size", "320x240", "--zero-size"}))
        << device.error();
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForStatus(viewer.session, PlayerStatus::Playing));
    EXPECT_EQ(viewer.session.SourceWidth(), 320);
    EXPECT_EQ(viewer.session.SourceHeight(), 240);
    RenderedPicture picture;
    ASSERT_TRUE(viewer.session.RenderFrame(&picture));
    EXPECT_EQ(picture.width, 320);
    EXPECT_EQ(picture.height, 240);
    viewer.session.Stop();
}

TEST(PlayerSession, StopBeforeAnySessionSendsNothing) {
    const int index = 12;
    ConnectionProbe probe(LoopbackAddress(Suite::Player, index));
    ASSERT_TRUE(probe.listening());
    Viewer viewer;
    const uint64_t start = platform::MonotonicMs();
    viewer.session.Stop();
    EXPECT_LT(platform::MonotonicMs() - start, 5000u) << "Stop waited for threads never started";
    EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::NotConnected));
    EXPECT_EQ(viewer.recorder.Invalidations(), 0);
    EXPECT_TRUE(probe.NobodyConnected());
}

TEST(PlayerSession, RejectedUrlsSendNothing) {
    const int index = 13;
    const std::string host = LoopbackText(Suite::Player, index);
    ConnectionProbe probe(LoopbackAddress(Suite::Player, index));
    ASSERT_TRUE(probe.listening());
    // The default device address points at the probe too, so a URL wrongly taken as a name
    // would show up there.
    const uint32_t savedDefault = DefaultDeviceAddress();
    SetDefaultDeviceAddress(LoopbackAddress(Suite::Player, index));
    const std::string rejected[] = {"rtsp://" + host, "RTSP://" + host + "/x", "rtsp://a/x", "",
                                    "http://" + host + "/x"};
    for (const std::string& url : rejected) {
        SCOPED_TRACE(url);
        Viewer viewer;
        ASSERT_TRUE(viewer.session.SetURL(url.c_str()));
        viewer.session.Stop();
        EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::Connecting));
        EXPECT_TRUE(probe.NobodyConnected());
    }
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(nullptr));
    viewer.session.Stop();
    EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::Connecting));
    EXPECT_TRUE(probe.NobodyConnected());
    SetDefaultDeviceAddress(savedDefault);
}

TEST(PlayerSession, HostNamesGoToTheDefaultDeviceAddress) {
    const int index = 14;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index), {})) << device.error();
    const uint32_t savedDefault = DefaultDeviceAddress();
    SetDefaultDeviceAddress(LoopbackAddress(Suite::Player, index));
    const std::string urls[] = {"rtsp://ab/x",
                                "rtsp://" + LoopbackText(Suite::Player, index) + ":8554/x"};
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        Viewer viewer;
        ASSERT_TRUE(viewer.session.SetURL(url.c_str()));
        EXPECT_TRUE(WaitForStatus(viewer.session, PlayerStatus::Playing));
        viewer.session.Stop();
#ifndef _WIN32
        // The request lines still carry the host text.
        EXPECT_EQ(device.Native().RtspRequestLines().back(), "TEARDOWN " + url + " RTSP/1.0");
#endif
    }
    SetDefaultDeviceAddress(savedDefault);
}

TEST(PlayerSession, SecondSetUrlReplacesTheFirstSession) {
    const int index = 15;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index), {})) << device.error();
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForStatus(viewer.session, PlayerStatus::Playing));
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForRecorded(viewer.recorder, 5));
    EXPECT_EQ(viewer.recorder.Statuses(),
              (std::vector<int32_t>{S(PlayerStatus::Connecting), S(PlayerStatus::Playing),
                                    S(PlayerStatus::NotConnected), S(PlayerStatus::Connecting),
                                    S(PlayerStatus::Playing)}));
    EXPECT_TRUE(viewer.audio.IsOpen());
#ifndef _WIN32
    // The first session was torn down before the second one began.
    const std::vector<std::string> lines = device.Native().RtspRequestLines();
    std::vector<std::string> methods;
    for (const std::string& line : lines)
        methods.push_back(line.substr(0, line.find(' ')));
    const auto secondDescribe = std::find(methods.begin() + 1, methods.end(), "DESCRIBE");
    ASSERT_NE(secondDescribe, methods.end());
    EXPECT_NE(std::find(methods.begin(), secondDescribe, "TEARDOWN"), secondDescribe);
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "PLAY"), 2);
#endif
    viewer.session.Stop();
}

struct FakeJob : IDownloadJob {
    std::atomic<int> references{1};
    std::atomic<int> cancels{0};
    void AddRef() override { ++references; }
    void Release() override { --references; }
    void Cancel() override { ++cancels; }
};

TEST(PlayerSession, DownloadNotificationsReachTheLaterViewerOfAHost) {
    const int index = 16;
    const uint32_t address = LoopbackAddress(Suite::Player, index);
    PlayerRegistry& registry = PlayerRegistry::Process();
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index), {})) << device.error();
    Viewer earlier;
    ASSERT_TRUE(earlier.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForStatus(earlier.session, PlayerStatus::Playing));
    FakeJob job;
    {
        Viewer later;
        ASSERT_TRUE(later.session.SetURL(Url(index).c_str()));
        ASSERT_TRUE(WaitForStatus(later.session, PlayerStatus::Playing));

        registry.OnDownloadState(address, DownloadState::InProgress, CodecKind::IMX50, &job);
        registry.OnDownloadProgress(address, 5 * INT64_C(1048576));
        EXPECT_EQ(later.session.DownloadStateValue(), 2);
        EXPECT_EQ(later.session.DownloadCodecValue(), 5);
        EXPECT_EQ(later.session.DownloadBytes(), 5 * INT64_C(1048576));
        EXPECT_EQ(earlier.session.DownloadStateValue(), 0);
        EXPECT_EQ(earlier.session.DownloadBytes(), 0);
        EXPECT_EQ(job.references.load(), 2);
        // The panel shows until the next frame arrives.
        const std::vector<int32_t> statuses = later.recorder.Statuses();
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), S(PlayerStatus::Downloading)),
                  statuses.end());
        EXPECT_TRUE(WaitForStatus(later.session, PlayerStatus::Playing));
        later.session.CancelDownload();
        EXPECT_EQ(job.cancels.load(), 1);
    }
    EXPECT_EQ(job.references.load(), 1) << "the destroyed viewer dropped its reference";
    registry.OnDownloadState(address, DownloadState::Complete, CodecKind::DV, &job);
    registry.OnDownloadProgress(address, 7);
    EXPECT_EQ(earlier.session.DownloadStateValue(), 0);
    EXPECT_EQ(earlier.session.DownloadBytes(), 0);
    EXPECT_EQ(job.references.load(), 1);
    earlier.session.Stop();
}

TEST(PlayerSession, HostileFramesAreDroppedOrDecodedPartially) {
    const struct {
        const char* kind;
        int index;
        bool sessionSurvives;
    } cases[] = {
        {"bad-lengths", 17, true},
        {"huge-video", 18, true},
        {"corrupt-jpeg", 19, true},
        {"oversized-chunk", 20, false},  // cannot be received: the receive loop ends
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        TestDevice device;
        ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, c.index),
                                 {"--hostile", c.kind, "--hostile-every", "2"}))
            << device.error();
        Viewer viewer;
        ASSERT_TRUE(viewer.session.SetURL(Url(c.index).c_str()));
        RenderedPicture picture;
        int rendered = 0;
        for (int i = 0; i < 2000 && rendered < 10; ++i) {
            if (viewer.session.RenderFrame(&picture))
                ++rendered;
            if (viewer.recorder.Statuses().size() >= 3)
                break;  // ended
            platform::SleepMs(10);
        }
        if (c.sessionSurvives) {
            EXPECT_EQ(rendered, 10);
            EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::Playing));
        } else {
            EXPECT_TRUE(WaitForStatus(viewer.session, PlayerStatus::NotConnected));
        }
        viewer.session.Stop();
    }
}

TEST(PlayerSession, DroppedFramesNeitherShowPlayingNorPaint) {
    // Every frame's block lengths point past its chunk: frames keep arriving, none is taken.
    const int index = 33;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, index),
                             {"--hostile", "bad-lengths", "--hostile-every", "1"}))
        << device.error();
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    for (int i = 0; i < 2000 && viewer.session.Counters().framesDropped < 5; ++i)
        platform::SleepMs(10);
    EXPECT_GE(viewer.session.Counters().framesDropped, 5);
    EXPECT_EQ(viewer.session.Counters().framesDelivered, 0);
    EXPECT_EQ(viewer.session.Status(), S(PlayerStatus::Connecting));
    RenderedPicture picture;
    EXPECT_FALSE(viewer.session.RenderFrame(&picture));
    viewer.session.Stop();
    EXPECT_EQ(viewer.recorder.Statuses(),
              (std::vector<int32_t>{S(PlayerStatus::Connecting), S(PlayerStatus::NotConnected)}));
}

TEST(PlayerSession, FailedMediaConnectEndsTheSessionThroughTheReceiversTeardown) {
    // Nothing listens on the announced media port: the receive loop ends at once, the receiver
    // thread sends TEARDOWN without reading, and the session thread (the only reader of the RTSP
    // connection) takes the replies and ends the session by itself.
    const int index = 22;
    ScriptedRtspPeer peer(LoopbackAddress(Suite::Player, index), 352, 288, 9);
    ASSERT_TRUE(peer.listening());
    Viewer viewer;
    ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
    ASSERT_TRUE(WaitForRecorded(viewer.recorder, 2));
    EXPECT_EQ(viewer.recorder.Statuses(),
              (std::vector<int32_t>{S(PlayerStatus::Connecting), S(PlayerStatus::NotConnected)}));
    const std::vector<std::string> methods = peer.Methods();  // the viewer closed the connection
    ASSERT_GE(methods.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(methods.begin(), methods.begin() + 2),
              (std::vector<std::string>{"DESCRIBE", "SETUP"}));
    // The receiver's TEARDOWN may go out before or after the PLAY.
    EXPECT_EQ(std::count(methods.begin(), methods.end(), "PLAY"), 1);
    EXPECT_GE(std::count(methods.begin(), methods.end(), "TEARDOWN"), 1);
    viewer.session.Stop();
}

TEST(PlayerSession, ExpiredStopWaitsDoNotFreeWhatThreadsUse) {
    // A device that accepts the RTSP connection and never answers: the session thread stays in
    // its DESCRIBE exchange, so Stop's waits expire and destruction must end it first.
    const int index = 21;
    ConnectionProbe silentDevice(LoopbackAddress(Suite::Player, index));
    ASSERT_TRUE(silentDevice.listening());
    {
        SessionTiming timing;
        timing.stopGraceMs = 200;
        Viewer viewer(timing);
        ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));
        platform::SleepMs(100);
        viewer.session.Stop();
        ASSERT_TRUE(viewer.session.SetURL(Url(index).c_str()));  // joins the first session
        platform::SleepMs(100);
    }  // destroyed with a session thread still waiting for its reply
}

}  // namespace
}  // namespace fluxmere
