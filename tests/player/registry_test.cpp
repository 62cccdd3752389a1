// The player registry and the panel texts.
#include <gtest/gtest.h>

#include "player/player_registry.h"
#include "player/player_status.h"
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

}  // namespace
}  // namespace fluxmere
