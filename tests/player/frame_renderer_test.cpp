// The render path alone: a Motion-JPEG payload in, a picture of the target size in bitmap row
// layout and the expected colour out.
#include "player/frame_renderer.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/player/frame_fixture.h"

namespace fluxmere {
namespace {

using testing::FirstPixelOtherThan;
using testing::FlatMjpaPayload;

TEST(FrameRenderer, RendersAPayloadAtTheTargetSizeInBgrRows) {
    FrameRenderer renderer;
    ASSERT_TRUE(renderer.IsValid());
    RenderedPicture picture;
    EXPECT_FALSE(renderer.Render(&picture)) << "no source prepared";

    struct Case {
        int sourceWidth, sourceHeight;
        int targetWidth, targetHeight;
        testing::FlatColour colour;
        const uint8_t* bgr;
    } cases[] = {
        {352, 288, 320, 240, testing::kRed, testing::kRedBgr},
        {720, 576, 641, 479, testing::kBlue, testing::kBlueBgr},  // rows padded to 1924 bytes
        {100, 96, 100, 96, testing::kRed, testing::kRedBgr},      // W16 wider than the picture
        {1920, 1080, 1, 1, testing::kBlue, testing::kBlueBgr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sourceWidth);
        ASSERT_TRUE(renderer.PrepareSource(c.sourceWidth, c.sourceHeight));
        ASSERT_TRUE(renderer.SetTarget(c.targetWidth, c.targetHeight));
        EXPECT_EQ(renderer.SourceWidth(), c.sourceWidth);
        EXPECT_EQ(renderer.TargetHeight(), c.targetHeight);
        const std::vector<uint8_t> payload =
            FlatMjpaPayload(c.sourceWidth, c.sourceHeight, c.colour);
        ASSERT_TRUE(renderer.TakePayload(payload.data(), payload.size()));
        ASSERT_TRUE(renderer.Render(&picture));
        EXPECT_EQ(picture.width, c.targetWidth);
        EXPECT_EQ(picture.height, c.targetHeight);
        EXPECT_EQ(picture.stride % 4, 0);
        EXPECT_GE(picture.stride, 3 * c.targetWidth);
        EXPECT_LT(picture.stride, 3 * c.targetWidth + 4);
        EXPECT_EQ(FirstPixelOtherThan(picture.pixels, picture.width, picture.height, picture.stride,
                                      c.bgr),
                  "");
    }
}

TEST(FrameRenderer, RefusesPayloadsBeyondABufferThatGrowsWithTheSource) {
    FrameRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSource(352, 288));
    EXPECT_EQ(renderer.PayloadCapacity(), FrameRenderer::PayloadBytesFor(352, 288));
    const std::vector<uint8_t> huge(renderer.PayloadCapacity() + 1, 0x11);
    EXPECT_FALSE(renderer.TakePayload(huge.data(), huge.size()));
    // A payload buffer grows with the source: 2 bytes a pixel of W16 columns at least.
    ASSERT_TRUE(renderer.PrepareSource(1000, 1000));
    EXPECT_GE(renderer.PayloadCapacity(), size_t{1008} * 1000 * 2);
    EXPECT_TRUE(renderer.TakePayload(huge.data(), huge.size()));
}

}  // namespace
}  // namespace fluxmere
