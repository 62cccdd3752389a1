// The viewer's test for "a picture was shown": the control's status screens against pictures.
#include "tools/status_screen.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/test_pattern.h"

namespace fluxmere {
namespace {

// A status screen as the control draws it: light rows of one colour each, dark text pixels in
// the top lines and, for the download panel, a button at rows 100 to 120.
std::vector<uint8_t> StatusScreen(int width, int height, bool panel) {
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const uint8_t shade = static_cast<uint8_t>(208 + y * 30 / height);
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = shade + 2, p[1] = shade, p[2] = shade - 3;
            const bool text = y < 16 && x < 90 && (x + y) % 3 == 0;
            const bool button = panel && y >= 100 && y <= 120 && x >= 20 && x <= 120;
            if (text || (button && (x == 20 || y == 100)))
                p[0] = p[1] = p[2] = 0;
        }
    }
    return bgr;
}

TEST(StatusScreen, TellsTheControlsScreensFromPictures) {
    for (const int height : {240, 150, 576}) {
        SCOPED_TRACE(height);
        const int width = 320;
        std::vector<uint8_t> screen = StatusScreen(width, height, false);
        EXPECT_TRUE(tools::IsStatusScreen(screen.data(), width, height, width * 3));
        screen = StatusScreen(width, height, true);
        EXPECT_TRUE(tools::IsStatusScreen(screen.data(), width, height, width * 3));

        // The device's picture (channel order does not matter here).
        std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
        device::RenderTestPattern(width, height, 7, picture.data());
        EXPECT_FALSE(tools::IsStatusScreen(picture.data(), width, height, width * 3));
        // A dark uniform picture (a covered lens) is still a picture.
        std::vector<uint8_t> dark(picture.size(), 12);
        EXPECT_FALSE(tools::IsStatusScreen(dark.data(), width, height, width * 3));
        // One changed pixel low in a status screen makes it a picture.
        screen[(static_cast<size_t>(height - 1) * width + 5) * 3] ^= 0x40;
        EXPECT_FALSE(tools::IsStatusScreen(screen.data(), width, height, width * 3));
    }
    EXPECT_TRUE(tools::IsStatusScreen(nullptr, 0, 0, 0)) << "nothing drawn: nothing shown";
}

}  // namespace
}  // namespace fluxmere
