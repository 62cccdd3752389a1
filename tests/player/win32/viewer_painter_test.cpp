// What the viewer paints, read back pixel by pixel from a memory drawing context: the status
// screens' gradient and texts, the download panel's lines and Cancel button, the live picture
// and its placement, and the Cancel button's mouse handling.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "player/player_registry.h"
#include "player/player_session.h"
#include "player/software_audio_output.h"
#include "player/win32/viewer_painter.h"
#include "tests/player/frame_fixture.h"
#include "tests/player/win32/gdi_canvas.h"

namespace fluxmere {
namespace {

using testing::GdiCanvas;

constexpr uint32_t kMarker = 0x123456;  // what the canvas holds where nothing was painted
constexpr int32_t kUnknownStatus = 6;   // background only
constexpr uint32_t kVersion = 3;

// The gradient as the screens define it, written out independently of the painter.
uint32_t ExpectedBand(int i, int height) {
    const int m = (2 * i * 255 + height) / (2 * height);  // i x 255 / height, halves up
    const int d = m >= 128 ? (m - 128) / 4 : -((128 - m + 3) / 4);
    const int c = 32 - std::abs(d);
    return static_cast<uint32_t>(((235 - c) << 16) | ((238 - c) << 8) | (240 - c));
}

class RecordingHost : public IPlayerHost {
public:
    void Invalidate(const PlayerRect* rect) override {
        ++count;
        whole = rect == nullptr;
        if (rect != nullptr)
            last = *rect;
    }
    int count = 0;
    bool whole = false;
    PlayerRect last = {};
};

class CountingJob : public IDownloadJob {
public:
    void AddRef() override { ++refs; }
    void Release() override { --refs; }
    void Cancel() override { ++cancels; }
    int refs = 0;
    int cancels = 0;
};

class Painter : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(session_.IsValid()); }

    void Paint(GdiCanvas& canvas, const RECT& bounds) {
        canvas.Fill(kMarker);
        painter_.Draw(canvas.dc(), bounds);
    }

    void ShowPanel(DownloadState state, int32_t codec, int64_t bytes, IDownloadJob* job) {
        platform::ScopedLock hold(RegistryLock());
        IDownloadJob* previous =
            session_.OnDownloadState(state, static_cast<CodecKind>(codec), job);
        if (previous != nullptr)
            previous->Release();
        session_.OnDownloadProgress(bytes);
    }

    // A canvas with the background only, and the given lines drawn as the panel draws its lines.
    void PaintReference(GdiCanvas& canvas, const RECT& bounds,
                        std::initializer_list<std::pair<int, const char*>> lines) {
        session_.SetStatusForTesting(static_cast<PlayerStatus>(kUnknownStatus));
        Paint(canvas, bounds);
        for (const auto& line : lines) {
            RECT rect = bounds;
            rect.top += line.first;
            DrawTextA(canvas.dc(), line.second, -1, &rect, 0);
        }
    }

    CSoftwareAudioOutput audio_;
    RecordingHost host_;
    CPlayerSession session_{audio_, &host_};
    CViewerPainter painter_{session_, host_};
};

TEST_F(Painter, BackgroundBandsFollowTheGradientInsideTheBoundsOnly) {
    for (int height : {240, 1, 0}) {
        SCOPED_TRACE(height);
        GdiCanvas canvas(360, 300);
        ASSERT_TRUE(canvas.IsValid());
        session_.SetStatusForTesting(static_cast<PlayerStatus>(kUnknownStatus));
        const RECT bounds{10, 20, 330, 20 + height};
        Paint(canvas, bounds);
        for (int y = 0; y < canvas.height(); ++y) {
            const bool inRows = y >= bounds.top && y < bounds.bottom;
            for (int x = 0; x < canvas.width(); ++x) {
                const bool inside = inRows && x >= bounds.left && x < bounds.right;
                ASSERT_EQ(canvas.Pixel(x, y),
                          inside ? ExpectedBand(y - bounds.top, height) : kMarker)
                    << x << "," << y;
            }
        }
    }
    // The anchors: edges at the lightest, the middle at the darkest.
    EXPECT_EQ(ExpectedBand(0, 240), 0xEBEEF0u);
    EXPECT_EQ(ExpectedBand(120, 240), 0xCBCED0u);
    EXPECT_EQ(ExpectedBand(239, 240), 0xEAEDEFu);
}

TEST_F(Painter, StatusScreensDrawTheirTextOverTheBackground) {
    const RECT bounds{0, 0, 320, 240};
    GdiCanvas background(320, 240), screen(320, 240);
    session_.SetStatusForTesting(static_cast<PlayerStatus>(kUnknownStatus));
    Paint(background, bounds);
    const RECT textArea{0, 0, 200, 16};
    const RECT belowText{0, 20, 320, 240};
    std::vector<std::vector<uint32_t>> texts;
    for (PlayerStatus status : {PlayerStatus::NotConnected, PlayerStatus::Connecting,
                                PlayerStatus::CannotConnect, PlayerStatus::InUseByOtherUser}) {
        SCOPED_TRACE(static_cast<int>(status));
        session_.SetStatusForTesting(status);
        Paint(screen, bounds);
        EXPECT_TRUE(screen.SameArea(background, belowText));
        EXPECT_FALSE(screen.SameArea(background, textArea)) << "no text drawn";
        std::vector<uint32_t> pixels;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 200; ++x)
                pixels.push_back(screen.Pixel(x, y));
        }
        for (const auto& other : texts)
            EXPECT_NE(other, pixels) << "two screens look alike";
        texts.push_back(pixels);
    }
    // A zero-height screen draws nothing at all, text included.
    session_.SetStatusForTesting(PlayerStatus::NotConnected);
    Paint(screen, RECT{0, 50, 320, 50});
    for (int y = 0; y < 240; y += 7)
        EXPECT_EQ(screen.Pixel(5, y), kMarker);
}

TEST_F(Painter, DownloadPanelShowsStateCodecAndWholeMegabytes) {
    const RECT bounds{4, 6, 324, 246};
    struct Case {
        DownloadState state;
        int32_t codec;
        int64_t bytes;
        const char* stateLine;  // nullptr: empty
        const char* codecLine;
        const char* sizeLine;
    };
    const Case cases[] = {
        {DownloadState::InProgress, 2, 5 * 1048576LL - 1, "In progress", "DVCPRO", "4 MB"},
        {DownloadState::Complete, 6, 5 * 1048576LL, "Complete", "MPEG2-I", "5 MB"},
        {DownloadState::Initializing, 1, 7 * 1048576LL, "Initializing", "DV", "0 MB"},
        {DownloadState::AwaitingStart, 0, 3 * 1048576LL, "Awaiting start", "Unknown", "0 MB"},
        {static_cast<DownloadState>(9), 17, 1048576LL, nullptr, nullptr, "1 MB"},
    };
    GdiCanvas panel(330, 250), reference(330, 250);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sizeLine);
        ShowPanel(c.state, c.codec, c.bytes, nullptr);
        Paint(panel, bounds);
        EXPECT_EQ(session_.Status(), static_cast<int32_t>(PlayerStatus::Downloading));
        PaintReference(reference, bounds,
                       {{0, "Downloading"},
                        {20, c.stateLine ? c.stateLine : ""},
                        {40, c.codecLine ? c.codecLine : ""},
                        {60, c.sizeLine}});
        // Each line has its own 20-pixel band above the button; below it the background.
        for (int line = 0; line < 4; ++line) {
            SCOPED_TRACE(line);
            const RECT band{0, bounds.top + 20 * line, 330, bounds.top + 20 * line + 20};
            EXPECT_TRUE(panel.SameArea(reference, band));
        }
        EXPECT_TRUE(panel.SameArea(reference, RECT{0, bounds.top + 80, 330, bounds.top + 100}));
        EXPECT_TRUE(panel.SameArea(reference, RECT{0, bounds.top + 121, 330, 250}));
        EXPECT_FALSE(panel.SameArea(reference, RECT{24, 106, 124, 126})) << "no button";
    }
}

TEST_F(Painter, CancelButtonEdgesAreInsideAndOnlyAPressAndReleaseInsideCancels) {
    const RECT bounds{10, 30, 330, 270};
    GdiCanvas canvas(340, 280);
    CountingJob job;
    ShowPanel(DownloadState::InProgress, 1, 0, &job);
    Paint(canvas, bounds);  // records the bounds the button is measured from
    GdiCanvas released(340, 280);
    Paint(released, bounds);

    struct Case {
        int downX, downY, upX, upY;
        bool pressed;  // after the press
        bool cancels;
    };
    // The button spans x 30..130 and y 130..150, both edges inside.
    const Case cases[] = {
        {30, 130, 30, 130, true, true},    // top-left corner
        {130, 150, 130, 150, true, true},  // bottom-right corner counts as inside
        {80, 140, 131, 140, true, false},  // released just right of the button
        {80, 140, 80, 151, true, false},   // released just below it
        {29, 140, 80, 140, false, false},  // pressed just left of it
        {80, 129, 80, 140, false, false},  // pressed just above it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.downX << "," << c.downY << " -> " << c.upX << "," << c.upY);
        const int cancels = job.cancels;
        host_.count = 0;
        painter_.OnLButtonDown(c.downX, c.downY);
        EXPECT_EQ(painter_.CancelPressed(), c.pressed);
        EXPECT_EQ(host_.count, 1);
        EXPECT_EQ(host_.last.left, 30);
        EXPECT_EQ(host_.last.top, 130);
        EXPECT_EQ(host_.last.right, 130);
        EXPECT_EQ(host_.last.bottom, 150);
        if (c.pressed) {
            Paint(canvas, bounds);
            EXPECT_FALSE(canvas.SameArea(released, RECT{30, 130, 130, 150})) << "not drawn pressed";
        }
        painter_.OnLButtonUp(c.upX, c.upY);
        EXPECT_FALSE(painter_.CancelPressed());
        EXPECT_EQ(job.cancels - cancels, c.cancels ? 1 : 0);
        EXPECT_EQ(host_.count, c.pressed ? 2 : 1);
    }
    // A release alone does nothing, inside or not.
    painter_.OnLButtonUp(80, 140);
    EXPECT_EQ(job.cancels, 2);
    ShowPanel(DownloadState::Failed, 1, 0, nullptr);  // hands the job's reference back
    EXPECT_EQ(job.refs, 0);
}

class VideoPainter : public Painter {
protected:
    void SetUp() override {
        Painter::SetUp();
        ASSERT_TRUE(session_.PrepareForStreamForTesting(352, 288, kVersion));
    }
    void Deliver(testing::FlatColour colour, const char* codec = "mjpa") {
        frame_ = testing::CombinedFrame(kVersion, testing::FlatMjpaPayload(352, 288, colour),
                                        std::vector<uint8_t>(64), codec);
        uint8_t* at = session_.ReceiveBufferAForTesting();
        std::memcpy(at, frame_.data(), frame_.size());
        ASSERT_NE(session_.DeliverFrameForTesting(at, static_cast<int32_t>(frame_.size())),
                  nullptr);
    }
    // Every pixel of area is rgb, every other one the marker.
    static void ExpectOnly(const GdiCanvas& canvas, const RECT& area, uint32_t rgb) {
        for (int y = 0; y < canvas.height(); ++y) {
            for (int x = 0; x < canvas.width(); ++x) {
                const bool inside =
                    x >= area.left && x < area.right && y >= area.top && y < area.bottom;
                ASSERT_EQ(canvas.Pixel(x, y), inside ? rgb : kMarker) << x << "," << y;
            }
        }
    }
    std::vector<uint8_t> frame_;
};

// Flat colours of the hand-off tests: red comes out as R 253, G 0, B 4.
constexpr testing::FlatColour kRed{-64, -40, 128};
constexpr uint32_t kRedRgb = 0xFD0004;
constexpr testing::FlatColour kBlue{-64, 128, -40};
constexpr uint32_t kBlueRgb = 0x133BFF;

TEST_F(VideoPainter, PictureCoversExactlyTheBoundsInTheContainersCoordinates) {
    GdiCanvas canvas(400, 300);
    Deliver(kRed);
    const RECT bounds{37, 21, 37 + 320, 21 + 240};
    Paint(canvas, bounds);
    ExpectOnly(canvas, bounds, kRedRgb);
    // No new frame: the same picture is decoded and painted again.
    Paint(canvas, bounds);
    ExpectOnly(canvas, bounds, kRedRgb);
    Deliver(kBlue);
    Paint(canvas, bounds);
    ExpectOnly(canvas, bounds, kBlueRgb);
    EXPECT_EQ(painter_.SurfaceSize().cx, 720);
    EXPECT_EQ(painter_.SurfaceSize().cy, 608);
}

TEST_F(VideoPainter, TargetsOfAnyWidthAndLargerThanTheBitmapPaintWhole) {
    // Widths whose packed rows are not a multiple of 4 bytes, and a target beyond 720 x 608.
    struct Case {
        const char* rectangle;
        int width, height;
    };
    const Case cases[] = {
        {"0,0,321,241", 321, 241}, {"0,0,175,99", 175, 99}, {"5,5,1029,773", 1024, 768}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rectangle);
        session_.SetRectangle(c.rectangle);
        Deliver(kRed);
        GdiCanvas canvas(c.width + 6, c.height + 4);
        const RECT bounds{3, 2, 3 + c.width, 2 + c.height};
        Paint(canvas, bounds);
        ExpectOnly(canvas, bounds, kRedRgb);
    }
    EXPECT_GE(painter_.SurfaceSize().cx, 1024);
    EXPECT_GE(painter_.SurfaceSize().cy, 768);
}

TEST_F(VideoPainter, ANewTargetSizeWhitensWhatTheOldPictureLeft) {
    GdiCanvas canvas(320, 240);
    const RECT bounds{0, 0, 320, 240};
    Deliver(kRed);
    Paint(canvas, bounds);
    ExpectOnly(canvas, bounds, kRedRgb);

    session_.SetRectangle("0,0,100,80");
    Deliver(kBlue);
    Paint(canvas, bounds);
    for (int y = 0; y < 240; y += 3) {
        for (int x = 0; x < 320; x += 3) {
            const bool picture = x < 100 && y < 80;
            ASSERT_EQ(canvas.Pixel(x, y), picture ? kBlueRgb : 0xFFFFFFu) << x << "," << y;
        }
    }
}

TEST_F(VideoPainter, AFrameThatIsNotMotionJpegPaintsNothing) {
    GdiCanvas canvas(330, 250);
    Deliver(kRed, "dvc ");
    Paint(canvas, RECT{0, 0, 320, 240});
    ExpectOnly(canvas, RECT{0, 0, 0, 0}, kMarker);
    EXPECT_EQ(painter_.SurfaceSize().cx, 0) << "no drawing objects for nothing to draw";
}

}  // namespace
}  // namespace fluxmere
