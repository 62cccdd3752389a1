// What the viewer paints for a given screen, read back pixel by pixel from a memory drawing
// context: the status screens' gradient and texts, the download panel's lines and Cancel button,
// and the live picture with its placement.
#include <gtest/gtest.h>

#include <vector>

#include "player/win32/viewer_painter.h"
#include "tests/player/win32/gdi_canvas.h"

namespace fluxmere {
namespace {

using testing::GdiCanvas;

constexpr uint32_t kMarker = 0x123456;  // what the canvas holds where nothing was painted
constexpr int32_t kUnknownStatus = 6;   // background only

uint32_t ExpectedBand(int i, int height) {
    return testing::StatusBand(i, height);
}

ViewerScreen Screen(int32_t status) {
    ViewerScreen screen;
    screen.status = status;
    return screen;
}

ViewerScreen Screen(PlayerStatus status) {
    return Screen(static_cast<int32_t>(status));
}

class Painter : public ::testing::Test {
protected:
    void Paint(GdiCanvas& canvas, const RECT& bounds, const ViewerScreen& screen) {
        canvas.Fill(kMarker);
        painter_.Draw(canvas.dc(), bounds, screen);
    }

    // A canvas with the background only, and the given lines drawn as the panel draws its lines.
    void PaintReference(GdiCanvas& canvas, const RECT& bounds,
                        std::initializer_list<std::pair<int, const char*>> lines) {
        Paint(canvas, bounds, Screen(kUnknownStatus));
        for (const auto& line : lines) {
            RECT rect = bounds;
            rect.top += line.first;
            DrawTextA(canvas.dc(), line.second, -1, &rect, 0);
        }
    }

    CViewerPainter painter_;
};

TEST_F(Painter, BackgroundBandsFollowTheGradientInsideTheBoundsOnly) {
    for (int height : {240, 1, 0}) {
        SCOPED_TRACE(height);
        GdiCanvas canvas(360, 300);
        ASSERT_TRUE(canvas.IsValid());
        const RECT bounds{10, 20, 330, 20 + height};
        Paint(canvas, bounds, Screen(kUnknownStatus));
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
    Paint(background, bounds, Screen(kUnknownStatus));
    const RECT textArea{0, 0, 200, 16};
    const RECT belowText{0, 20, 320, 240};
    std::vector<std::vector<uint32_t>> texts;
    for (PlayerStatus status : {PlayerStatus::NotConnected, PlayerStatus::Connecting,
                                PlayerStatus::CannotConnect, PlayerStatus::InUseByOtherUser}) {
        SCOPED_TRACE(static_cast<int>(status));
        Paint(screen, bounds, Screen(status));
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
    Paint(screen, RECT{0, 50, 320, 50}, Screen(PlayerStatus::NotConnected));
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
        {DownloadState::Initializing, 1, 0, "Initializing", "DV", "0 MB"},
        {DownloadState::AwaitingStart, 0, 3 * 1048576LL, "Awaiting start", "Unknown", "3 MB"},
        {static_cast<DownloadState>(9), 17, 1048576LL, nullptr, nullptr, "1 MB"},
    };
    GdiCanvas panel(330, 250), reference(330, 250);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sizeLine);
        ViewerScreen screen = Screen(PlayerStatus::Downloading);
        screen.downloadState = static_cast<int32_t>(c.state);
        screen.downloadCodec = c.codec;
        screen.downloadBytes = c.bytes;
        Paint(panel, bounds, screen);
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

TEST_F(Painter, APressedCancelButtonLooksPressed) {
    const RECT bounds{10, 30, 330, 270};
    GdiCanvas released(340, 280), pressed(340, 280);
    ViewerScreen screen = Screen(PlayerStatus::Downloading);
    Paint(released, bounds, screen);
    screen.cancelPressed = true;
    Paint(pressed, bounds, screen);
    // The button spans x 30..130 and y 130..150; only it changes.
    EXPECT_FALSE(pressed.SameArea(released, RECT{30, 130, 130, 150}));
    EXPECT_TRUE(pressed.SameArea(released, RECT{0, 0, 340, 130}));
    EXPECT_TRUE(pressed.SameArea(released, RECT{0, 151, 340, 280}));
}

// Pictures of one colour, laid out as the render path leaves them: B, G, R rows padded to 4 bytes.
class VideoPainter : public Painter {
protected:
    const RenderedPicture* Picture(int width, int height, uint32_t rgb) {
        const int stride = (width * 3 + 3) & ~3;
        pixels_.assign(static_cast<size_t>(stride) * height, 0xEE);  // padding that must not show
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                uint8_t* p = &pixels_[static_cast<size_t>(y) * stride + x * 3];
                p[0] = static_cast<uint8_t>(rgb);
                p[1] = static_cast<uint8_t>(rgb >> 8);
                p[2] = static_cast<uint8_t>(rgb >> 16);
            }
        }
        picture_ = RenderedPicture{pixels_.data(), width, height, stride};
        return &picture_;
    }
    void PaintPicture(GdiCanvas& canvas, const RECT& bounds, const RenderedPicture* picture,
                      bool targetChanged = false, bool fill = true) {
        ViewerScreen screen = Screen(PlayerStatus::Playing);
        screen.picture = picture;
        screen.targetChanged = targetChanged;
        if (fill)
            canvas.Fill(kMarker);
        painter_.Draw(canvas.dc(), bounds, screen);
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
    std::vector<uint8_t> pixels_;
    RenderedPicture picture_;
};

constexpr uint32_t kRedRgb = 0xFD0004;
constexpr uint32_t kBlueRgb = 0x133BFF;

TEST_F(VideoPainter, PictureCoversExactlyTheBoundsInTheContainersCoordinates) {
    GdiCanvas canvas(400, 300);
    const RECT bounds{37, 21, 37 + 320, 21 + 240};
    PaintPicture(canvas, bounds, Picture(320, 240, kRedRgb));
    ExpectOnly(canvas, bounds, kRedRgb);
    PaintPicture(canvas, bounds, Picture(320, 240, kBlueRgb));
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
        {"321 x 241", 321, 241}, {"175 x 99", 175, 99}, {"1024 x 768", 1024, 768}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rectangle);
        GdiCanvas canvas(c.width + 6, c.height + 4);
        const RECT bounds{3, 2, 3 + c.width, 2 + c.height};
        PaintPicture(canvas, bounds, Picture(c.width, c.height, kRedRgb), true);
        ExpectOnly(canvas, bounds, kRedRgb);
    }
    EXPECT_GE(painter_.SurfaceSize().cx, 1024);
    EXPECT_GE(painter_.SurfaceSize().cy, 768);
}

TEST_F(VideoPainter, EveryPixelLandsWhereTheRenderPathPutIt) {
    // Every pixel of a different colour: a pixel taken from its neighbour, or a byte from the
    // row's padding, shows. Widths around the copy's groups of pixels.
    for (int width : {1, 7, 8, 9, 17, 330}) {
        SCOPED_TRACE(width);
        const int height = 5;
        const int stride = (width * 3 + 3) & ~3;
        pixels_.assign(static_cast<size_t>(stride) * height, 0xEE);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t rgb = (static_cast<uint32_t>(x) * 2654435761u + y * 40503u) >> 8;
                uint8_t* p = &pixels_[static_cast<size_t>(y) * stride + x * 3];
                p[0] = static_cast<uint8_t>(rgb);
                p[1] = static_cast<uint8_t>(rgb >> 8);
                p[2] = static_cast<uint8_t>(rgb >> 16);
            }
        }
        picture_ = RenderedPicture{pixels_.data(), width, height, stride};
        GdiCanvas canvas(width + 4, height + 4);
        PaintPicture(canvas, RECT{2, 2, 2 + width, 2 + height}, &picture_, true);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint32_t rgb =
                    ((static_cast<uint32_t>(x) * 2654435761u + y * 40503u) >> 8) & 0xFFFFFFu;
                ASSERT_EQ(canvas.Pixel(2 + x, 2 + y), rgb) << x << "," << y;
            }
        }
    }
}

TEST_F(VideoPainter, BoundsBeyondTheLargestPictureAreWhiteAroundIt) {
    // The control reports itself opaque: what lies beyond the 1920 x 1088 bitmap is painted too.
    GdiCanvas canvas(1940, 1110);
    const RECT bounds{4, 3, 4 + 1930, 3 + 1100};
    PaintPicture(canvas, bounds, Picture(1920, 1088, kRedRgb), true);
    for (int y = 0; y < canvas.height(); y += 7) {
        for (int x = 0; x < canvas.width(); x += 7) {
            const bool inside =
                x >= bounds.left && x < bounds.right && y >= bounds.top && y < bounds.bottom;
            const bool picture = x < bounds.left + 1920 && y < bounds.top + 1088;
            const uint32_t expected = !inside ? kMarker : picture ? kRedRgb : 0xFFFFFFu;
            ASSERT_EQ(canvas.Pixel(x, y), expected) << x << "," << y;
        }
    }
    // The edges themselves.
    EXPECT_EQ(canvas.Pixel(bounds.right - 1, bounds.bottom - 1), 0xFFFFFFu);
    EXPECT_EQ(canvas.Pixel(bounds.left + 1919, bounds.top + 1087), kRedRgb);
    EXPECT_EQ(canvas.Pixel(bounds.left + 1920, bounds.top), 0xFFFFFFu);
    EXPECT_EQ(canvas.Pixel(bounds.left, bounds.top + 1088), 0xFFFFFFu);
}

TEST_F(VideoPainter, ANewTargetSizeWhitensWhatTheOldPictureLeft) {
    GdiCanvas canvas(320, 240);
    const RECT bounds{0, 0, 320, 240};
    PaintPicture(canvas, bounds, Picture(320, 240, kRedRgb));
    ExpectOnly(canvas, bounds, kRedRgb);

    // The same size again: around a smaller picture the bitmap still holds the last one.
    PaintPicture(canvas, bounds, Picture(100, 80, kBlueRgb));
    for (int y = 0; y < 240; y += 3) {
        for (int x = 0; x < 320; x += 3) {
            const bool picture = x < 100 && y < 80;
            ASSERT_EQ(canvas.Pixel(x, y), picture ? kBlueRgb : kRedRgb) << x << "," << y;
        }
    }
    // A new target size: white around it.
    PaintPicture(canvas, bounds, Picture(100, 80, kBlueRgb), true);
    for (int y = 0; y < 240; y += 3) {
        for (int x = 0; x < 320; x += 3) {
            const bool picture = x < 100 && y < 80;
            ASSERT_EQ(canvas.Pixel(x, y), picture ? kBlueRgb : 0xFFFFFFu) << x << "," << y;
        }
    }
}

TEST_F(VideoPainter, NoPictureToPaintLeavesTheScreen) {
    GdiCanvas canvas(330, 250);
    PaintPicture(canvas, RECT{0, 0, 320, 240}, nullptr);
    ExpectOnly(canvas, RECT{0, 0, 0, 0}, kMarker);
    EXPECT_EQ(painter_.SurfaceSize().cx, 0) << "no drawing objects for nothing to draw";
}

}  // namespace
}  // namespace fluxmere
