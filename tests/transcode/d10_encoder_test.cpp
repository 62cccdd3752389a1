// The D-10 encoder's frames: exactly the rate's size whatever the picture, every byte written,
// the start codes D-10 readers expect in their order, a time code that counts the frames, and the
// same bytes from every processor variant.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/dispatch.h"
#include "tests/transcode/d10_pictures.h"
#include "transcode/d10_encoder.h"

namespace fluxmere::testing {
namespace {

using transcode::D10Encoder;
using transcode::ImxRate;

// The byte after each 00 00 01 of the frame, in order.
std::vector<uint8_t> StartCodes(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> codes;
    for (size_t i = 0; i + 3 < frame.size(); ++i) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1) {
            codes.push_back(frame[i + 3]);
        }
    }
    return codes;
}

// Sequence header, sequence and display extensions, GOP, picture header and its coding
// extension, then the 38 slices from the top row down.
std::vector<uint8_t> ExpectedStartCodes() {
    std::vector<uint8_t> codes = {0xB3, 0xB5, 0xB5, 0xB8, 0x00, 0xB5};
    for (uint8_t row = 1; row <= 38; ++row) {
        codes.push_back(row);
    }
    return codes;
}

std::vector<uint8_t> EncodeFresh(size_t frameBytes, const transcode::Picture422& picture,
                                 uint8_t fill) {
    D10Encoder encoder(frameBytes);
    std::vector<uint8_t> frame(encoder.FrameBytes(), fill);
    encoder.Encode(picture, frame.data());
    return frame;
}

class D10EncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SelectProcessorVariant(); }
};

TEST_F(D10EncoderTest, FrameBytesFollowTheRate) {
    EXPECT_EQ(D10Encoder(ImxRate::Imx30).FrameBytes(), 150000u);
    EXPECT_EQ(D10Encoder(ImxRate::Imx40).FrameBytes(), 200000u);
    EXPECT_EQ(D10Encoder(ImxRate::Imx50).FrameBytes(), 250000u);
    EXPECT_EQ(D10Encoder(size_t{1000}).FrameBytes(), transcode::kMinimumD10FrameBytes);
    EXPECT_EQ(D10Encoder(size_t{1000000}).FrameBytes(), transcode::kMaximumD10FrameBytes);
}

TEST_F(D10EncoderTest, EveryPictureFillsItsFrameWithTheExpectedLayout) {
    struct Case {
        const char* name;
        TestPicture picture;
        bool planes;  // false: a picture without planes, encoded as black
    };
    const Case cases[] = {
        {"black", FlatPicture(16, 128), true},
        {"pattern", PatternPicture(7), true},
        {"noise", NoisePicture(1, 16, 235, false), true},
        {"binary noise", NoisePicture(2, 16, 235, true), true},
        {"full-range noise", NoisePicture(3, 0, 255, false), true},
        {"no planes", TestPicture(), false},
    };
    const std::vector<uint8_t> expectedCodes = ExpectedStartCodes();
    for (size_t frameBytes :
         {size_t{150000}, size_t{200000}, size_t{250000}, transcode::kMinimumD10FrameBytes}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(frameBytes) + " bytes");
            const transcode::Picture422 picture =
                c.planes ? c.picture.View() : transcode::Picture422{};
            // Frames made over zeros and over ones are the same: every byte is written.
            const std::vector<uint8_t> frame = EncodeFresh(frameBytes, picture, 0x00);
            ASSERT_EQ(frame.size(), frameBytes);
            EXPECT_TRUE(frame == EncodeFresh(frameBytes, picture, 0xFF));
            EXPECT_EQ(StartCodes(frame), expectedCodes);
        }
    }
}

TEST_F(D10EncoderTest, TimeCodeCountsTheEncodersFrames) {
    D10Encoder encoder(ImxRate::Imx30);
    const TestPicture picture = FlatPicture(128, 128);
    std::vector<uint8_t> frame(encoder.FrameBytes());
    // The GOP header's 4 bytes after its start code: drop flag, hours, minutes, marker, seconds,
    // pictures, closed_gop, broken_link.
    const auto timeCode = [&frame]() {
        for (size_t i = 0; i + 8 < frame.size(); ++i) {
            if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xB8) {
                return uint32_t{frame[i + 4]} << 24 | uint32_t{frame[i + 5]} << 16 |
                       uint32_t{frame[i + 6]} << 8 | frame[i + 7];
            }
        }
        return uint32_t{0};
    };
    const auto bits = [](int seconds, int pictures) {
        return uint32_t{1} << 19 | uint32_t(seconds) << 13 | uint32_t(pictures) << 7 | 1u << 6;
    };
    for (int index = 0; index <= 25; ++index) {
        encoder.Encode(picture.View(), frame.data());
        if (index == 0 || index == 24 || index == 25) {
            SCOPED_TRACE(index);
            EXPECT_EQ(timeCode(), bits(index / 25, index % 25));
        }
    }
}

TEST_F(D10EncoderTest, EveryVariantWritesTheSameFrames) {
    const TestPicture pictures[] = {PatternPicture(3), NoisePicture(4, 0, 255, false),
                                    NoisePicture(5, 16, 235, true)};
    const int32_t savedIndex = variantIndex;
    const bool savedWide = wideVectorsUsable;
    for (size_t frameBytes : {size_t{250000}, transcode::kMinimumD10FrameBytes}) {
        std::vector<std::vector<uint8_t>> generic;
        for (int slot = 0; slot < kImplementationCount; ++slot) {
            if (!SlotRunsHere(slot)) {
                continue;
            }
            SCOPED_TRACE(::testing::Message() << "slot " << slot << ", " << frameBytes);
            variantIndex = slot == kWideVectorSlot ? kVariantCount - 1 : slot;
            wideVectorsUsable = slot == kWideVectorSlot;
            ASSERT_EQ(ActiveSlot(), slot);
            D10Encoder encoder(frameBytes);
            for (size_t i = 0; i < std::size(pictures); ++i) {
                std::vector<uint8_t> frame(encoder.FrameBytes());
                encoder.Encode(pictures[i].View(), frame.data());
                if (slot == 0) {
                    generic.push_back(frame);
                } else {
                    EXPECT_TRUE(frame == generic[i]) << "picture " << i;
                }
            }
        }
    }
    variantIndex = savedIndex;
    wideVectorsUsable = savedWide;
}

}  // namespace
}  // namespace fluxmere::testing
