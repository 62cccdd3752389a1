// The player registry, the panel texts, and what a paint settles in a viewer: the bounds that
// repaints use and the byte count of a job that has not started.
#include <gtest/gtest.h>

#include <vector>

#include "player/player_registry.h"
#include "player/player_session.h"
#include "player/player_status.h"
#include "player/software_audio_output.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::LoopbackAddress;
using testing::Suite;

struct FakePanel : IDownloadPanel {
    int states = 0;
    int progress = 0;
    DownloadState lastState = DownloadState::Initializing;
    int64_t lastBytes = -1;
    IDownloadJob* OnDownloadState(DownloadState state, CodecKind, IDownloadJob*) override {
        ++states;
        lastState = state;
        return nullptr;
    }
    void OnDownloadProgress(int64_t bytes) override {
        ++progress;
        lastBytes = bytes;
    }
};

TEST(PlayerRegistry, LaterViewerOfAnAddressTakesItsNotifications) {
    const uint32_t address = LoopbackAddress(Suite::Player, 200);
    const uint32_t other = LoopbackAddress(Suite::Player, 201);
    FakePanel first, second;
    PlayerRegistry& registry = PlayerRegistry::Process();
    registry.Enter(address, &first);
    registry.Enter(other, &first);  // a later session of the same viewer: a second entry
    registry.Enter(address, &second);

    registry.OnDownloadState(address, DownloadState::InProgress, CodecKind::DV, nullptr);
    registry.OnDownloadProgress(address, 3 * 1048576);
    EXPECT_EQ(first.states + first.progress, 0);
    EXPECT_EQ(second.states, 1);
    EXPECT_EQ(second.lastState, DownloadState::InProgress);
    EXPECT_EQ(second.lastBytes, 3 * 1048576);

    registry.OnDownloadProgress(other, 7);
    EXPECT_EQ(first.lastBytes, 7);

    registry.RemoveViewer(&second);
    registry.OnDownloadState(address, DownloadState::Complete, CodecKind::DV, nullptr);
    registry.OnDownloadProgress(LoopbackAddress(Suite::Player, 202), 1);  // never registered
    EXPECT_EQ(first.states, 0);
    EXPECT_EQ(second.states, 1);

    registry.RemoveViewer(&first);
    registry.OnDownloadProgress(other, 9);
    EXPECT_EQ(first.lastBytes, 7);
}

TEST(PanelTexts, Table) {
    EXPECT_STREQ(StatusText(1), "Not connected");
    EXPECT_STREQ(StatusText(2), "Connecting");
    EXPECT_STREQ(StatusText(3), "Cannot connect");
    EXPECT_STREQ(StatusText(4), "In use by other user");
    for (int32_t status : {0, 5, 6, -1})
        EXPECT_EQ(StatusText(status), nullptr) << status;

    const char* states[] = {"Initializing",       "Awaiting start", "In progress", "Transcoding",
                            "Transcoding Failed", "Failed",         "Complete"};
    for (int32_t i = 0; i < 7; ++i)
        EXPECT_STREQ(DownloadStateText(i), states[i]);
    EXPECT_EQ(DownloadStateText(7), nullptr);
    EXPECT_EQ(DownloadStateText(-1), nullptr);

    const char* codecs[] = {"Unknown", "DV", "DVCPRO", "IMX30", "IMX40", "IMX50", "MPEG2-I"};
    for (int32_t i = 0; i < 7; ++i)
        EXPECT_STREQ(CodecKindText(i), codecs[i]);
    EXPECT_EQ(CodecKindText(7), nullptr);

    char text[32];
    FormatDownloadSize(5 * INT64_C(1048576) - 1, text, sizeof text);
    EXPECT_STREQ(text, "4 MB");
    FormatDownloadSize(5 * INT64_C(1048576), text, sizeof text);
    EXPECT_STREQ(text, "5 MB");
    FormatDownloadSize(-INT64_C(1048576), text, sizeof text);
    EXPECT_STREQ(text, "-1 MB");
}

// Records every repaint a viewer asks for: nullptr (the whole control) as all -1.
class RepaintRecorder : public IPlayerHost {
public:
    void Invalidate(const PlayerRect* rect) override {
        asked.push_back(rect != nullptr ? *rect : PlayerRect{-1, -1, -1, -1});
    }
    std::vector<PlayerRect> asked;
};

bool Same(const PlayerRect& a, const PlayerRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(ViewerPaint, RepaintsCoverTheLastPaintsBoundsOrTheWholeControl) {
    CSoftwareAudioOutput audio;
    RepaintRecorder host;
    CPlayerSession session(audio, &host);
    const PlayerRect whole{-1, -1, -1, -1};
    const struct {
        PlayerRect painted;  // {} : no paint yet
        PlayerRect repainted;
    } cases[] = {
        {{}, whole},
        {{5, 6, 100, 200}, {5, 6, 100, 200}},
        {{7, 0, 300, 0}, whole},  // top and bottom both 0: the whole control
        {{0, 0, 300, 1}, {0, 0, 300, 1}},
    };
    for (const auto& c : cases) {
        if (c.painted.right != 0)
            session.NotePaint(c.painted);
        platform::ScopedLock hold(RegistryLock());
        host.asked.clear();
        session.OnDownloadProgress(1);  // a progress notice repaints without a status change
        ASSERT_EQ(host.asked.size(), 1u);
        EXPECT_TRUE(Same(host.asked[0], c.repainted)) << c.painted.left << "," << c.painted.top;
        EXPECT_TRUE(Same(session.LastBounds(), c.painted.right != 0 ? c.painted : PlayerRect{}));
    }
}

TEST(ViewerPaint, APanelOfAJobNotYetStartedShowsNoBytes) {
    CSoftwareAudioOutput audio;
    CPlayerSession session(audio, nullptr);
    // Without the panel on screen a paint leaves the count, whatever the state says.
    {
        platform::ScopedLock hold(RegistryLock());
        session.OnDownloadProgress(5 * 1048576);
    }
    session.NotePaint(PlayerRect{0, 0, 320, 240});
    ASSERT_EQ(session.Status(), static_cast<int32_t>(PlayerStatus::NotConnected));
    ASSERT_EQ(session.DownloadStateValue(), static_cast<int32_t>(DownloadState::Initializing));
    EXPECT_EQ(session.DownloadBytes(), 5 * 1048576);

    const struct {
        DownloadState state;
        int64_t bytesAfterPaint;
    } cases[] = {
        {DownloadState::Initializing, 0},
        {DownloadState::AwaitingStart, 0},
        {DownloadState::InProgress, 7 * 1048576},
        {DownloadState::Complete, 7 * 1048576},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        {
            platform::ScopedLock hold(RegistryLock());
            session.OnDownloadState(c.state, CodecKind::DV, nullptr);
            session.OnDownloadProgress(7 * 1048576);
        }
        EXPECT_EQ(session.DownloadBytes(), 7 * 1048576) << "only a paint settles the count";
        session.NotePaint(PlayerRect{0, 0, 320, 240});
        EXPECT_EQ(session.DownloadBytes(), c.bytesAfterPaint);
    }
}

}  // namespace
}  // namespace fluxmere
