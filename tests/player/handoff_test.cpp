// The frame hand-off and the render path, without a network: frames are placed in the receive
// buffers by hand and handed over as the receiver thread would.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo_writer.h"
#include "player/player_session.h"
#include "player/software_audio_output.h"
#include "tests/player/frame_fixture.h"

namespace fluxmere {
namespace {

using testing::CombinedFrame;
using testing::FirstPixelOtherThan;
using testing::FlatColour;
using testing::FlatMjpaPayload;
using testing::kBlue;
using testing::kBlueBgr;
using testing::kRed;
using testing::kRedBgr;

constexpr int kWidth = 352;
constexpr int kHeight = 288;
constexpr uint32_t kVersion = 3;

class HandOff : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session_.IsValid());
        ASSERT_TRUE(session_.PrepareForStreamForTesting(kWidth, kHeight, kVersion));
    }

    std::vector<uint8_t> Frame(FlatColour colour, size_t audioBytes = 192) {
        std::vector<uint8_t> audio(audioBytes);
        for (size_t i = 0; i < audio.size(); ++i)
            audio[i] = static_cast<uint8_t>(i);
        return CombinedFrame(kVersion, FlatMjpaPayload(kWidth, kHeight, colour), audio);
    }

    uint8_t* Place(uint8_t* buffer, size_t offset, const std::vector<uint8_t>& frame) {
        std::memcpy(buffer + offset, frame.data(), frame.size());
        return buffer + offset;
    }

    // Every pixel of the rendered picture must be the same three bytes.
    static void ExpectUniform(const RenderedPicture& picture, const uint8_t* bgr) {
        EXPECT_EQ(
            FirstPixelOtherThan(picture.pixels, picture.width, picture.height, picture.stride, bgr),
            "");
    }

    CSoftwareAudioOutput audio_;
    CPlayerSession session_{audio_, nullptr};
};

TEST_F(HandOff, BuffersAlternateAndTheNewestFrameIsRendered) {
    uint8_t* a = session_.ReceiveBufferAForTesting();
    uint8_t* b = session_.ReceiveBufferBForTesting();
    const std::vector<uint8_t> red = Frame(kRed);
    const std::vector<uint8_t> blue = Frame(kBlue);

    RenderedPicture picture;
    EXPECT_FALSE(session_.RenderFrame(&picture)) << "no frame yet";

    uint8_t* frame = Place(a, 0, red);
    EXPECT_EQ(session_.DeliverFrameForTesting(frame, static_cast<int32_t>(red.size())), b);
    EXPECT_EQ(session_.Status(), static_cast<int32_t>(PlayerStatus::Playing));
    ASSERT_TRUE(session_.RenderFrame(&picture));
    EXPECT_EQ(picture.width, kDefaultTargetWidth);
    EXPECT_EQ(picture.height, kDefaultTargetHeight);
    ExpectUniform(picture, kRedBgr);
    const std::vector<uint8_t> first(picture.pixels,
                                     picture.pixels + picture.stride * picture.height);
    ASSERT_TRUE(session_.RenderFrame(&picture));  // the same frame again, decoded anew
    EXPECT_EQ(0, std::memcmp(first.data(), picture.pixels, first.size()));

    frame = Place(b, 37, blue);  // a frame anywhere in B sends the receiver back to A
    EXPECT_EQ(session_.DeliverFrameForTesting(frame, static_cast<int32_t>(blue.size())), a);
    ASSERT_TRUE(session_.RenderFrame(&picture));
    ExpectUniform(picture, kBlueBgr);

    // The end of A still counts as A.
    const size_t last = session_.ReceiveBufferBytesForTesting() - red.size();
    frame = Place(a, last, red);
    EXPECT_EQ(session_.DeliverFrameForTesting(frame, static_cast<int32_t>(red.size())), b);
    ASSERT_TRUE(session_.RenderFrame(&picture));
    ExpectUniform(picture, kRedBgr);
}

TEST_F(HandOff, BadFramesAreDroppedWithoutEffect) {
    // An open ring, so that a delivered frame would queue its audio.
    ASSERT_TRUE(session_.SetURL("not a url"));  // the session thread ends at once
    session_.Stop();
    session_.AudioForTesting().OpenAudio();
    audio_.Hold(true);

    uint8_t* a = session_.ReceiveBufferAForTesting();
    const std::vector<uint8_t> good = Frame(kRed);
    ASSERT_EQ(session_.DeliverFrameForTesting(Place(a, 0, good), static_cast<int32_t>(good.size())),
              session_.ReceiveBufferBForTesting());
    ASSERT_EQ(session_.AudioForTesting().NextSlot(), 1u);

    CKeloMediaFrame video(kVersion), audio(kVersion);
    CombinedFrameSpans spans;
    ASSERT_TRUE(SplitCombinedFrame(good.data(), good.size(), video, audio, &spans));
    const size_t l1 = LoadBE32(good.data());
    const size_t audioAt = static_cast<size_t>(spans.audioBlock - good.data());
    struct Case {
        const char* what;
        size_t offset;
        uint32_t value;
        int32_t sizeDelta;
    };
    const Case cases[] = {
        {"video header length past the chunk", 0, 0x7FFFFFF0u, 0},
        {"video header length shorter than its header", 0, 20, 0},
        {"audio header length past the chunk", audioAt, 0xFFFFFFFFu, 0},
        {"chunk ends inside the audio payload", 0, 0, -1},
        {"chunk ends inside the video payload", 0, 0,
         -static_cast<int32_t>(good.size() - 4 - l1 - 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = good;
        if (c.value != 0)
            StoreBE32(bad.data() + c.offset, c.value);
        session_.SetStatusForTesting(PlayerStatus::NotConnected);
        uint8_t* frame = Place(session_.ReceiveBufferBForTesting(), 0, bad);
        EXPECT_EQ(
            session_.DeliverFrameForTesting(frame, static_cast<int32_t>(bad.size()) + c.sizeDelta),
            nullptr);
        EXPECT_EQ(session_.Status(), static_cast<int32_t>(PlayerStatus::NotConnected));
        EXPECT_EQ(session_.AudioForTesting().NextSlot(), 1u);
    }

    // A video payload larger than copyBuffer, in a chunk that holds it.
    std::vector<uint8_t> huge = CombinedFrame(
        kVersion, std::vector<uint8_t>(session_.PayloadCapacityForTesting() + 1, 0x11),
        {1, 2, 3, 4});
    EXPECT_EQ(session_.DeliverFrameForTesting(huge.data(), static_cast<int32_t>(huge.size())),
              nullptr);
    EXPECT_EQ(session_.AudioForTesting().NextSlot(), 1u);

    // The good frame is still the one painted.
    RenderedPicture picture;
    ASSERT_TRUE(session_.RenderFrame(&picture));
    ExpectUniform(picture, kRedBgr);
    audio_.Hold(false);
    session_.AudioForTesting().CloseAudio();
}

TEST_F(HandOff, OtherVideoCodecPaintsNothing) {
    std::vector<uint8_t> frame =
        CombinedFrame(kVersion, FlatMjpaPayload(kWidth, kHeight, kRed), {}, "h264");
    uint8_t* a = session_.ReceiveBufferAForTesting();
    ASSERT_NE(
        session_.DeliverFrameForTesting(Place(a, 0, frame), static_cast<int32_t>(frame.size())),
        nullptr);
    RenderedPicture picture;
    EXPECT_FALSE(session_.RenderFrame(&picture));
}

TEST_F(HandOff, TargetRectangle) {
    const std::vector<uint8_t> red = Frame(kRed);
    session_.DeliverFrameForTesting(Place(session_.ReceiveBufferAForTesting(), 0, red),
                                    static_cast<int32_t>(red.size()));
    struct Case {
        const char* text;
        int width;
        int height;
        bool changed;
    };
    const Case cases[] = {
        {"10,20,330,260", 320, 240, true},
        {"0, 0, 641, 479", 641, 479, true},  // rows of 1923 bytes are padded to 1924
        {"0,0,640", 641, 479, false},
        {"0 ,0,640,480", 641, 479, false},
        {"5,5,5,100", 641, 479, false},     // zero width: ignored
        {"0,0,-3,10", 641, 479, false},     // negative: ignored
        {"0,0,1921,100", 641, 479, false},  // beyond the largest picture: refused
        {"0,0,1920,1088", 1920, 1088, true},
        {"0,0,1,1", 1, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        session_.SetRectangle(c.text);
        EXPECT_EQ(session_.TargetWidth(), c.width);
        EXPECT_EQ(session_.TargetHeight(), c.height);
        EXPECT_EQ(session_.ConsumeRectangleChanged(), c.changed);
        RenderedPicture picture;
        ASSERT_TRUE(session_.RenderFrame(&picture));
        EXPECT_EQ(picture.width, c.width);
        EXPECT_EQ(picture.height, c.height);
        EXPECT_EQ(picture.stride % 4, 0);
        EXPECT_GE(picture.stride, 3 * c.width);
        ExpectUniform(picture, kRedBgr);
    }
}

TEST_F(HandOff, StreamSizes) {
    // Sizes the session learns from a stream header.
    EXPECT_FALSE(session_.PrepareForStreamForTesting(0, 288, kVersion));
    EXPECT_FALSE(session_.PrepareForStreamForTesting(1921, 1080, kVersion));
    EXPECT_FALSE(session_.PrepareForStreamForTesting(352, 1089, kVersion));
    const struct { int width, height; } sizes[] = {{720, 576}, {1920, 1080}, {100, 96}};
    for (const auto& size : sizes) {
        const int width = size.width, height = size.height;
        SCOPED_TRACE(width);
        ASSERT_TRUE(session_.PrepareForStreamForTesting(width, height, kVersion));
        EXPECT_GE(session_.PayloadCapacityForTesting(),
                  static_cast<size_t>((width + 15) / 16 * 16) * height * 2);
        std::vector<uint8_t> frame = CombinedFrame(kVersion, FlatMjpaPayload(width, height, kRed),
                                                   std::vector<uint8_t>(7680));
        ASSERT_LE(frame.size(), session_.ReceiveBufferBytesForTesting());
        session_.SetRectangle(width == 100 ? "0,0,100,96" : "0,0,320,240");
        session_.DeliverFrameForTesting(Place(session_.ReceiveBufferAForTesting(), 0, frame),
                                        static_cast<int32_t>(frame.size()));
        RenderedPicture picture;
        ASSERT_TRUE(session_.RenderFrame(&picture));
        ExpectUniform(picture, kRedBgr);
    }
}

}  // namespace
}  // namespace fluxmere
