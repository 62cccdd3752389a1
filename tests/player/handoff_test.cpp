// The frame hand-off through its own interface: frames are placed in the receive buffers by hand
// and delivered as the receiver thread would; what the painting side copies out is compared
// byte for byte with the payload that went in.
#include "player/frame_handoff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo_writer.h"
#include "player/frame_renderer.h"
#include "player/software_audio_output.h"
#include "tests/player/frame_fixture.h"

namespace fluxmere {
namespace {

using testing::CombinedFrame;
using testing::FlatMjpaPayload;

constexpr uint32_t kVersion = 3;
constexpr FourCC kCodecH264{{'h', '2', '6', '4'}};

// Keeps what the hand-off copies out; refuses payloads beyond its capacity.
class RecordingSink : public IVideoPayloadSink {
public:
    bool TakePayload(const uint8_t* payload, size_t size) override {
        ++calls;
        if (size > capacity)
            return false;
        taken.assign(payload, payload + size);
        return true;
    }
    size_t capacity = SIZE_MAX;
    int calls = 0;
    std::vector<uint8_t> taken;
};

// A payload whose every byte tells where it came from.
std::vector<uint8_t> Payload(size_t size, uint8_t seed) {
    std::vector<uint8_t> payload(size);
    for (size_t i = 0; i < size; ++i)
        payload[i] = static_cast<uint8_t>(seed + i * 7);
    return payload;
}

class HandOff : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ring_.IsValid());
        ASSERT_TRUE(handOff_.IsValid());
        ASSERT_TRUE(handOff_.PrepareForStream(kVersion, kMinFrameBufferBytes));
    }

    static uint8_t* Place(uint8_t* buffer, size_t offset, const std::vector<uint8_t>& frame) {
        std::memcpy(buffer + offset, frame.data(), frame.size());
        return buffer + offset;
    }
    uint8_t* Deliver(uint8_t* at, const std::vector<uint8_t>& frame, int32_t sizeDelta = 0) {
        return handOff_.Deliver(Place(at, 0, frame),
                                static_cast<int32_t>(frame.size()) + sizeDelta);
    }
    // The newest frame's video payload, as the painting side gets it.
    std::vector<uint8_t> Newest(FourCC codec = kCodecMjpa) {
        RecordingSink sink;
        if (!handOff_.CopyNewestVideo(codec, sink))
            return {};
        return sink.taken;
    }

    CSoftwareAudioOutput audio_;
    CAudioRing ring_{audio_};
    FrameHandOff handOff_{ring_};
};

TEST_F(HandOff, BuffersAlternateAndTheNewestFrameIsCopiedOut) {
    const std::vector<uint8_t> first = Payload(1000, 1), second = Payload(777, 2);
    const std::vector<uint8_t> frameA = CombinedFrame(kVersion, first, {1, 2, 3, 4});
    const std::vector<uint8_t> frameB = CombinedFrame(kVersion, second, {});
    EXPECT_TRUE(Newest().empty()) << "no frame yet";

    uint8_t* a = handOff_.FirstBuffer();
    uint8_t* b = Deliver(a, frameA);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(b, a);
    EXPECT_EQ(Newest(), first);
    EXPECT_EQ(Newest(), first) << "copying out leaves the frame in place";

    // A frame anywhere in B sends the receiver back to A; the end of A still counts as A.
    EXPECT_EQ(handOff_.Deliver(Place(b, 37, frameB), static_cast<int32_t>(frameB.size())), a);
    EXPECT_EQ(Newest(), second);
    const size_t last = handOff_.BufferBytes() - frameA.size();
    EXPECT_EQ(handOff_.Deliver(Place(a, last, frameA), static_cast<int32_t>(frameA.size())), b);
    EXPECT_EQ(Newest(), first);

    const HandOffCounters counters = handOff_.Counters();
    EXPECT_EQ(counters.framesDelivered, 3);
    EXPECT_EQ(counters.framesDropped, 0);
}

TEST_F(HandOff, BadFramesAreDroppedWithoutEffect) {
    ring_.OpenAudio();
    audio_.Hold(true);  // a queued block stays queued: the ring's slot counts what was queued
    uint8_t* a = handOff_.FirstBuffer();
    const std::vector<uint8_t> goodPayload = Payload(500, 3);
    const std::vector<uint8_t> good = CombinedFrame(kVersion, goodPayload, {9, 9, 9, 9});
    uint8_t* b = Deliver(a, good);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(ring_.NextSlot(), 1u);

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
        {"empty chunk", 0, 0, -static_cast<int32_t>(good.size())},
    };
    int64_t dropped = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad = good;
        if (c.value != 0)
            StoreBE32(bad.data() + c.offset, c.value);
        EXPECT_EQ(Deliver(b, bad, c.sizeDelta), nullptr);
        if (c.sizeDelta > -static_cast<int32_t>(good.size()))
            ++dropped;  // an empty chunk is no frame at all
        EXPECT_EQ(handOff_.Counters().framesDropped, dropped);
        EXPECT_EQ(ring_.NextSlot(), 1u) << "audio of a dropped frame was queued";
        EXPECT_EQ(Newest(), goodPayload);
    }

    // Video payloads up to the limit pass; one byte more is dropped.
    ASSERT_TRUE(handOff_.PrepareForStream(kVersion, 4000));
    EXPECT_EQ(Deliver(a, CombinedFrame(kVersion, Payload(4001, 4), {1, 2, 3, 4})), nullptr);
    EXPECT_EQ(ring_.NextSlot(), 1u);
    EXPECT_NE(Deliver(a, CombinedFrame(kVersion, Payload(4000, 5), {1, 2, 3, 4})), nullptr);
    EXPECT_EQ(ring_.NextSlot(), 2u);
    EXPECT_EQ(Newest(), Payload(4000, 5));
    audio_.Hold(false);
    ring_.CloseAudio();
}

TEST_F(HandOff, OnlyTheAskedCodecIsCopiedAndTheSinkMayRefuse) {
    const std::vector<uint8_t> payload = Payload(300, 6);
    ASSERT_NE(Deliver(handOff_.FirstBuffer(), CombinedFrame(kVersion, payload, {}, "h264")),
              nullptr);
    RecordingSink sink;
    EXPECT_FALSE(handOff_.CopyNewestVideo(kCodecMjpa, sink));
    EXPECT_EQ(sink.calls, 0);
    EXPECT_EQ(Newest(kCodecH264), payload);

    sink.capacity = 299;
    EXPECT_FALSE(handOff_.CopyNewestVideo(kCodecH264, sink));
    EXPECT_EQ(sink.calls, 1);
}

TEST_F(HandOff, ANewStreamForgetsTheLastFrameAndSizesTheBuffers) {
    ASSERT_NE(Deliver(handOff_.FirstBuffer(), CombinedFrame(kVersion, Payload(100, 7), {})),
              nullptr);
    // The buffers hold the largest frame a stream allows (video payload at the limit and a whole
    // audio buffer), its framing and one read of the receiver behind it.
    const size_t limit = FrameRenderer::PayloadBytesFor(1920, 1088);
    ASSERT_TRUE(handOff_.PrepareForStream(2, limit));
    EXPECT_TRUE(Newest().empty());
    const std::vector<uint8_t> largest =
        CombinedFrame(2, Payload(limit, 8), std::vector<uint8_t>(kAudioBufferBytes));
    EXPECT_GE(handOff_.BufferBytes(), largest.size() + 32 + 65536);
    // Headers are read in the stream's version.
    EXPECT_NE(Deliver(handOff_.FirstBuffer(), largest), nullptr);
    EXPECT_EQ(Newest(), Payload(limit, 8));
}

TEST_F(HandOff, APictureDeliveredIsThePictureRendered) {
    // The path a session's RenderFrame takes: the hand-off copies into the renderer.
    FrameRenderer renderer;
    ASSERT_TRUE(renderer.PrepareSource(352, 288));
    ASSERT_TRUE(handOff_.PrepareForStream(kVersion, renderer.PayloadCapacity()));
    const std::vector<uint8_t> frame =
        CombinedFrame(kVersion, FlatMjpaPayload(352, 288, testing::kRed), {});
    ASSERT_NE(Deliver(handOff_.FirstBuffer(), frame), nullptr);
    RenderedPicture picture;
    ASSERT_TRUE(handOff_.CopyNewestVideo(kCodecMjpa, renderer));
    ASSERT_TRUE(renderer.Render(&picture));
    EXPECT_EQ(testing::FirstPixelOtherThan(picture.pixels, picture.width, picture.height,
                                           picture.stride, testing::kRedBgr),
              "");
}

TEST_F(HandOff, TheReceiverNeverWritesTheFramePaintedFrom) {
    // The receiver writes each frame into the buffer the last delivery returned, while the
    // painter copies the newest frame out; every copy must be one whole frame.
    std::vector<std::vector<uint8_t>> frames;
    for (uint8_t seed = 0; seed < 4; ++seed)
        frames.push_back(CombinedFrame(kVersion, std::vector<uint8_t>(200000, seed), {}));
    std::atomic<bool> receiving{true};
    std::thread receiver([&] {
        uint8_t* next = handOff_.FirstBuffer();
        for (int i = 0; i < 1000 && next != nullptr; ++i)
            next = Deliver(next, frames[i % frames.size()]);
        receiving = false;
    });
    int torn = 0, copies = 0;
    while (receiving.load()) {
        const std::vector<uint8_t> copy = Newest();
        if (copy.empty())
            continue;
        ++copies;
        for (uint8_t byte : copy) {
            if (byte != copy[0]) {
                ++torn;
                break;
            }
        }
    }
    receiver.join();
    EXPECT_EQ(torn, 0) << "of " << copies << " copies";
    EXPECT_EQ(handOff_.Counters().framesDelivered, 1000);
}

}  // namespace
}  // namespace fluxmere
