// SplitCombinedFrame: a frame is accepted only when both blocks lie inside the chunk.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo_writer.h"

namespace fluxmere {
namespace {

CKeloMediaFrame Header(FourCC kind, FourCC codec) {
    CKeloMediaFrame h(2);
    h.mediaKind = kind;
    h.codecCode = codec;
    return h;
}

// Video block (payload of videoSize bytes of 0x11, header padded by `padding`), audio block
// (audioSize bytes of 0x22), and `tail` extra bytes.
std::vector<uint8_t> Frame(uint32_t videoSize, uint32_t audioSize, uint32_t padding = 0,
                           size_t tail = 0) {
    CKeloMediaFrame v = Header(kKindVideo, kCodecMjpa);
    CKeloMediaFrame a = Header(kKindAudio, kCodecP16S);
    std::vector<uint8_t> vp(videoSize, 0x11), ap(audioSize, 0x22);
    size_t vs = BlockSize(v, videoSize, padding);
    std::vector<uint8_t> out(vs + BlockSize(a, audioSize) + tail, 0);
    WriteBlock(v, vp.data(), videoSize, out.data(), out.size(), padding);
    WriteBlock(a, ap.data(), audioSize, out.data() + vs, out.size() - vs);
    return out;
}

// Offsets in Frame(100, 64), version 2 headers of 53 bytes: video L at 0, video payloadSize at
// 4 + 41, audio block at 4 + 53 + 100.
constexpr size_t kVideoPayloadSizeAt = 4 + 41;
constexpr size_t kAudioBlockAt = 4 + 53 + 100;
constexpr size_t kAudioPayloadSizeAt = kAudioBlockAt + 4 + 41;

TEST(CombinedFrame, AcceptsFramesInsideTheChunkAndRefusesTheRest) {
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        bool ok;
    };
    const Case cases[] = {
        {"intact", [](std::vector<uint8_t>&) {}, true},
        {"trailing byte is ignored", [](std::vector<uint8_t>& f) { f.push_back(0); }, true},
        {"audio payload one byte short", [](std::vector<uint8_t>& f) { f.pop_back(); }, false},
        {"video payload past the chunk",
         [](std::vector<uint8_t>& f) { StoreBE32(&f[kVideoPayloadSizeAt], 0xFFFFFF00u); }, false},
        {"audio payload past the chunk",
         [](std::vector<uint8_t>& f) { StoreBE32(&f[kAudioPayloadSizeAt], 65); }, false},
        {"video L past the chunk", [](std::vector<uint8_t>& f) { StoreBE32(&f[0], 0xFFFFFFFCu); },
         false},
        {"video L shorter than its header", [](std::vector<uint8_t>& f) { StoreBE32(&f[0], 48); },
         false},
        {"audio L past the chunk",
         [](std::vector<uint8_t>& f) { StoreBE32(&f[kAudioBlockAt], 0x7FFFFFFFu); }, false},
        {"no audio block at all", [](std::vector<uint8_t>& f) { f.resize(kAudioBlockAt); }, false},
        {"audio length field cut", [](std::vector<uint8_t>& f) { f.resize(kAudioBlockAt + 3); },
         false},
        {"empty chunk", [](std::vector<uint8_t>& f) { f.clear(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> frame = Frame(100, 64);
        c.damage(frame);
        // An exactly sized copy so that any read past the chunk is caught by the sanitizer.
        std::vector<uint8_t> chunk(frame);
        CKeloMediaFrame video(2), audio(2);
        CombinedFrameSpans spans;
        ASSERT_EQ(SplitCombinedFrame(chunk.data(), chunk.size(), video, audio, &spans), c.ok);
        if (c.ok) {
            EXPECT_EQ(spans.videoPayload, chunk.data() + 4 + 53);
            EXPECT_EQ(spans.videoPayloadSize, 100u);
            EXPECT_EQ(spans.audioBlock, chunk.data() + kAudioBlockAt);
            EXPECT_EQ(spans.audioPayload, chunk.data() + kAudioBlockAt + 4 + 53);
            EXPECT_EQ(spans.audioPayloadSize, 64u);
            EXPECT_EQ(video.codecCode, kCodecMjpa);
            EXPECT_EQ(audio.codecCode, kCodecP16S);
        } else {
            EXPECT_EQ(spans.videoPayload, nullptr);
        }
    }
    CKeloMediaFrame video(2), audio(2);
    EXPECT_FALSE(SplitCombinedFrame(nullptr, 100, video, audio, nullptr));
}

TEST(CombinedFrame, PayloadStartsAfterTheWholeHeaderLength) {
    // A header length larger than the parsed header still places the payload at 4 + L.
    std::vector<uint8_t> frame = Frame(10, 8, /*padding=*/7);
    CKeloMediaFrame video(2), audio(2);
    CombinedFrameSpans spans;
    ASSERT_TRUE(SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans));
    EXPECT_EQ(spans.videoPayload, frame.data() + 4 + 53 + 7);
    EXPECT_EQ(spans.videoPayload[0], 0x11);
    EXPECT_EQ(spans.audioBlock, frame.data() + 4 + 60 + 10);
    EXPECT_EQ(spans.audioPayload[0], 0x22);

    // Objects left at version 1 read these version 2 headers' count as payloadSize (0); the
    // audio block is then looked for inside the video payload, and the frame is refused.
    CKeloMediaFrame v1(1), a1(1);
    EXPECT_FALSE(SplitCombinedFrame(frame.data(), frame.size(), v1, a1, nullptr));
}

}  // namespace
}  // namespace fluxmere
