// The audio ring over the portable software device.
#include <gtest/gtest.h>

#include "tests/support/file_bytes.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/thread.h"
#include "player/audio_output.h"
#include "player/software_audio_output.h"

namespace fluxmere {
namespace {

CKeloMediaFrame AudioHeader(uint32_t payloadSize, const FourCC& codec = kCodecP16S) {
    CKeloMediaFrame header;
    header.mediaKind = kKindAudio;
    header.codecCode = codec;
    header.payloadSize = payloadSize;
    return header;
}

// Big-endian samples whose bytes tell the block and the position apart.
std::vector<uint8_t> Block(uint8_t tag, size_t bytes) {
    std::vector<uint8_t> block(bytes);
    for (size_t i = 0; i < bytes; ++i)
        block[i] = static_cast<uint8_t>(i % 2 == 0 ? tag : i / 2);
    return block;
}

std::vector<uint8_t> Swapped(const std::vector<uint8_t>& block) {
    std::vector<uint8_t> out(block);
    for (size_t i = 0; i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr ? dir : "/tmp";
#ifdef _WIN32
    if (const char* temp = std::getenv("TEMP"))
        path = temp;
    path += "\\";
#else
    path += "/";
#endif
    return path + name;
}

// Polls until the device has played `bytes` (bounded, so a broken device fails instead of hanging).
bool WaitPlayed(const CSoftwareAudioOutput& device, uint64_t bytes) {
    for (int i = 0; i < 2000 && device.BytesPlayed() < bytes; ++i)
        platform::SleepMs(5);
    return device.BytesPlayed() >= bytes;
}

TEST(AudioRing, FullRingDropsAndRetriesTheSameSlot) {
    const std::string wav = TempPath("fluxmere_player_ring.wav");
    CSoftwareAudioOutput device(wav);
    CAudioRing ring(device);
    ring.OpenAudio();
    device.Hold(true);  // the device plays nothing until released

    std::vector<std::vector<uint8_t>> blocks;
    for (uint8_t tag = 1; tag <= 6; ++tag)
        blocks.push_back(Block(tag, 192));
    const uint32_t expectedSlot[] = {1, 2, 3, 4, 0, 0};  // after blocks 1..6
    for (size_t i = 0; i < blocks.size(); ++i) {
        ring.QueueAudioBlock(AudioHeader(192), blocks[i].data());
        EXPECT_EQ(ring.NextSlot(), expectedSlot[i]) << "block " << i + 1;
    }
    for (int slot = 0; slot < kAudioSlots; ++slot)
        EXPECT_FALSE(device.IsSlotDone(slot));

    // Neither another codec nor a block larger than a buffer moves the ring.
    device.Hold(false);
    ASSERT_TRUE(WaitPlayed(device, 4 * 192));
    const std::vector<uint8_t> big = Block(9, kAudioBufferBytes + 2);
    ring.QueueAudioBlock(AudioHeader(192, kCodecMjpa), blocks[0].data());
    ring.QueueAudioBlock(AudioHeader(kAudioBufferBytes + 2), big.data());
    EXPECT_EQ(ring.NextSlot(), 0u);

    const std::vector<uint8_t> seventh = Block(7, 191);  // only its 47 whole frames are played
    ring.QueueAudioBlock(AudioHeader(191), seventh.data());
    EXPECT_EQ(ring.NextSlot(), 1u);
    EXPECT_EQ(ring.BlocksQueued(), 5u);
    EXPECT_EQ(ring.BlocksDropped(), 4u);  // blocks 5 and 6, the other codec, the large block
    ASSERT_TRUE(WaitPlayed(device, 4 * 192 + 188));
    ring.CloseAudio();

    std::vector<uint8_t> expected;
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t> swapped = Swapped(blocks[i]);
        expected.insert(expected.end(), swapped.begin(), swapped.end());
    }
    const std::vector<uint8_t> swapped = Swapped(seventh);
    expected.insert(expected.end(), swapped.begin(), swapped.begin() + 188);

    const std::vector<uint8_t> file = testing::ReadFileBytes(wav);
    ASSERT_EQ(file.size(), 44 + expected.size());
    EXPECT_EQ(0, std::memcmp(file.data(), "RIFF", 4));
    EXPECT_EQ(0, std::memcmp(file.data() + 8, "WAVEfmt ", 8));
    const uint32_t rate = file[24] | file[25] << 8 | file[26] << 16 | file[27] << 24;
    const uint32_t dataBytes = file[40] | file[41] << 8 | file[42] << 16 | file[43] << 24;
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(dataBytes, expected.size());
    EXPECT_EQ(0, std::memcmp(file.data() + 44, expected.data(), expected.size()));
    std::remove(wav.c_str());
}

// A device whose blocks carry a byte more than their whole sample frames (7681 bytes for 1920
// stereo frames) must sound exactly like the one that sends 7680: a stray byte written out would
// shift every later sample.
TEST(AudioRing, OddBlocksSoundLikeWholeFrameBlocks) {
    std::vector<std::vector<uint8_t>> played;
    for (uint32_t extra : {0u, 1u}) {
        const std::string wav = TempPath(extra ? "fluxmere_odd.wav" : "fluxmere_even.wav");
        {
            CSoftwareAudioOutput device(wav);
            CAudioRing ring(device);
            ring.OpenAudio();
            for (uint8_t tag = 1; tag <= 6; ++tag) {
                std::vector<uint8_t> block = Block(tag, 7680 + extra);
                if (extra != 0)
                    block.back() = 0x55;
                ring.QueueAudioBlock(AudioHeader(7680 + extra), block.data());
                ASSERT_TRUE(WaitPlayed(device, tag * 7680u));
            }
            EXPECT_EQ(ring.BlocksDropped(), 0u);
            ring.CloseAudio();
        }
        played.push_back(testing::ReadFileBytes(wav));
        std::remove(wav.c_str());
    }
    ASSERT_EQ(played[0].size(), 44u + 6 * 7680);
    EXPECT_TRUE(played[1] == played[0]);
}

TEST(AudioRing, ClosingWithQueuedBlocksResetsTheDevice) {
    CSoftwareAudioOutput device;
    {
        CAudioRing ring(device);
        ring.QueueAudioBlock(AudioHeader(192), Block(1, 192).data());  // closed: dropped
        EXPECT_EQ(ring.NextSlot(), 0u);
        ring.OpenAudio();
        device.Hold(true);
        for (int i = 0; i < 3; ++i)
            ring.QueueAudioBlock(AudioHeader(192), Block(1, 192).data());
        ring.OpenAudio();  // a second open closes the first device, with its blocks queued
        EXPECT_TRUE(device.IsOpen());
        for (int slot = 0; slot < kAudioSlots; ++slot)
            EXPECT_TRUE(device.IsSlotDone(slot));
        ring.QueueAudioBlock(AudioHeader(192), Block(1, 192).data());
        EXPECT_FALSE(device.IsSlotDone(3)) << "the ring goes on where it was";
        // The ring goes away with a block queued: the device must not read the freed buffer.
    }
    EXPECT_FALSE(device.IsOpen());
    device.Hold(false);
    EXPECT_EQ(device.BytesPlayed(), 0u);
}

// Sound off holds no device and plays nothing; on again, only while a session wants sound.
TEST(AudioRing, SoundOffClosesTheDeviceAndOnOpensItWhileWanted) {
    CSoftwareAudioOutput device;
    CAudioRing ring(device);
    ring.SetSoundOn(false);
    ring.OpenAudio();
    EXPECT_FALSE(device.IsOpen());
    ring.QueueAudioBlock(AudioHeader(192), Block(1, 192).data());
    EXPECT_EQ(ring.BlocksQueued() + ring.BlocksDropped(), 0u) << "muted blocks go nowhere";

    ring.SetSoundOn(true);
    EXPECT_TRUE(device.IsOpen());
    ring.QueueAudioBlock(AudioHeader(192), Block(2, 192).data());
    EXPECT_TRUE(WaitPlayed(device, 192));

    device.Hold(true);
    ring.QueueAudioBlock(AudioHeader(192), Block(3, 192).data());
    ring.SetSoundOn(false);  // with a block queued: the device lets go of the buffer
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(ring.SoundOn());
    device.Hold(false);
    EXPECT_EQ(ring.BlocksQueued(), 2u);

    ring.CloseAudio();
    ring.SetSoundOn(true);
    EXPECT_FALSE(device.IsOpen()) << "no session wants sound";
    ring.OpenAudio();
    EXPECT_TRUE(device.IsOpen());
}

TEST(SoftwareAudioOutput, PlaysInRealTimeOrder) {
    // Not a timing assertion: only that every byte comes out once, in the order queued.
    CSoftwareAudioOutput device;
    std::vector<uint8_t> storage(kAudioSlots * 64);
    uint8_t* buffers[kAudioSlots];
    for (int i = 0; i < kAudioSlots; ++i)
        buffers[i] = storage.data() + i * 64;
    EXPECT_TRUE(device.Open(buffers, 64));
    EXPECT_FALSE(device.Write(0, 65)) << "longer than the buffer";
    EXPECT_FALSE(device.IsSlotDone(0)) << "a refused write keeps the slot queued";
    device.Hold(true);
    EXPECT_TRUE(device.Write(1, 64));
    EXPECT_FALSE(device.Write(1, 64)) << "already queued";
    device.Hold(false);
    ASSERT_TRUE(WaitPlayed(device, 64));
    EXPECT_TRUE(device.IsSlotDone(1));
    device.Close();
    EXPECT_FALSE(device.Write(2, 8));
}

}  // namespace
}  // namespace fluxmere
