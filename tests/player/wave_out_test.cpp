// The system's wave output under the audio ring: the bytes played are exactly the byte-swapped
// samples of the blocks queued, in order. Under Wine the harness sends the default device to a
// capture file (FLUXMERE_AUDIO_CAPTURE).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/thread.h"
#include "player/audio_output.h"
#include "player/win32/wave_out_audio.h"
#include "tests/support/wine_environment.h"

namespace fluxmere {
namespace {

CKeloMediaFrame AudioHeader(uint32_t payloadSize) {
    CKeloMediaFrame header;
    header.mediaKind = kKindAudio;
    header.codecCode = kCodecP16S;
    header.payloadSize = payloadSize;
    return header;
}

bool WaitUntilFree(const CWaveOutAudioOutput& output, int slot) {
    for (int i = 0; i < 2000 && !output.IsSlotDone(slot); ++i)
        platform::SleepMs(5);
    return output.IsSlotDone(slot);
}

TEST(WaveOutAudio, CapturedBytesAreTheSwappedSamplesInOrder) {
    if (testing::WindowsPathFromEnvironment("FLUXMERE_AUDIO_CAPTURE").empty()) {
        GTEST_SKIP() << "no audio capture (run under tests/wine/wine-run.sh)";
    }
    CWaveOutAudioOutput output;
    CAudioRing ring(output);
    ring.OpenAudio();
    ASSERT_TRUE(output.IsOpen());

    // Ten blocks of 40 ms (7680 bytes) whose samples count up: any loss, repeat or reordering
    // shows. A block is queued when its slot is free, as a steady device stream would find it.
    std::vector<uint8_t> expected;
    uint32_t sample = 0;
    for (int block = 0; block < 10; ++block) {
        std::vector<uint8_t> payload(7680);
        for (size_t i = 0; i < payload.size(); i += 2, ++sample) {
            payload[i] = static_cast<uint8_t>(sample >> 8);  // big-endian on the wire
            payload[i + 1] = static_cast<uint8_t>(sample);
            expected.push_back(static_cast<uint8_t>(sample));
            expected.push_back(static_cast<uint8_t>(sample >> 8));
        }
        const int slot = block % kAudioSlots;
        ASSERT_TRUE(WaitUntilFree(output, slot)) << "block " << block;
        ring.QueueAudioBlock(AudioHeader(static_cast<uint32_t>(payload.size())), payload.data());
        ASSERT_EQ(ring.NextSlot(), static_cast<uint32_t>(slot + 1)) << "block " << block;
    }
    for (int slot = 0; slot < kAudioSlots; ++slot)
        ASSERT_TRUE(WaitUntilFree(output, slot));
    ring.CloseAudio();

    EXPECT_TRUE(
        testing::PlayedThenSilence(testing::ReadAudioCapture(), expected, kAudioFrameBytes));
}

TEST(WaveOutAudio, ClosingWithBlocksQueuedGivesTheBuffersBack) {
    if (testing::WindowsPathFromEnvironment("FLUXMERE_AUDIO_CAPTURE").empty()) {
        GTEST_SKIP() << "no audio capture (run under tests/wine/wine-run.sh)";
    }
    CWaveOutAudioOutput output;
    {
        CAudioRing ring(output);
        ring.OpenAudio();
        std::vector<uint8_t> payload(61440, 0x12);
        for (int i = 0; i < 4; ++i) {
            ring.QueueAudioBlock(AudioHeader(static_cast<uint32_t>(payload.size())),
                                 payload.data());
        }
        ring.OpenAudio();  // a second open closes the first device with four blocks queued
        for (int slot = 0; slot < kAudioSlots; ++slot)
            EXPECT_TRUE(output.IsSlotDone(slot));
        ring.QueueAudioBlock(AudioHeader(static_cast<uint32_t>(payload.size())), payload.data());
    }  // the ring's buffers go away with a block queued: closing resets the device first
    EXPECT_FALSE(output.IsOpen());
}

}  // namespace
}  // namespace fluxmere
