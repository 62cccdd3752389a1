// The device's clips and sound, compiled for every platform: the bytes must be the same
// natively and under Wine, because Windows tests regenerate the clips the native device sends
// and compare stored files with them byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "decode/dispatch.h"
#include "decode/jpeg_decoder.h"
#include "device/clip.h"
#include "device/picture_loop.h"
#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"

namespace fluxmere::device {
namespace {

std::string Text(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h = (h ^ b) * 1099511628211ull;
    }
    return h;
}

TEST(DeviceClip, ExactSizeDeterministicAndWellFormed) {
    const std::string name = "clip01";
    const std::vector<uint8_t> probe = GenerateClip(name, 1 << 20, 7);
    CKelo header;
    ASSERT_TRUE(header.ParseHeader(probe.data(), probe.size()));
    const size_t headerSize = header.bytesRead();
    EXPECT_EQ(header.version, 3u);
    ASSERT_EQ(header.tracks.size(), 2u);
    EXPECT_EQ(header.tracks[0].mediaKind, kKindVideo);
    EXPECT_EQ(header.tracks[1].codecCode, kCodecP16S);
    EXPECT_EQ(Text(header.parameters[0].value), name);

    for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{headerSize}, uint64_t{headerSize + 30},
                          uint64_t{headerSize + 57}, uint64_t{100000}, uint64_t{3} << 20}) {
        SCOPED_TRACE(size);
        const std::vector<uint8_t> clip = GenerateClip(name, size, 7);
        ASSERT_EQ(clip.size(), size);
        EXPECT_EQ(clip, GenerateClip(name, size, 7));
        // A prefix of a longer clip up to its last, resized block.
        const size_t common = std::min<size_t>(size, headerSize);
        EXPECT_TRUE(std::equal(clip.begin(), clip.begin() + common, probe.begin()));

        // Read in odd pieces, the source gives the same bytes.
        ClipSource source(name, size, 7);
        std::vector<uint8_t> pieces;
        uint8_t buffer[777];
        while (size_t got = source.Read(buffer, sizeof buffer)) {
            pieces.insert(pieces.end(), buffer, buffer + got);
        }
        EXPECT_EQ(pieces, clip);

        // Whole blocks from the header to the very last byte.
        if (size >= headerSize + 57) {
            size_t offset = headerSize;
            int blocks = 0;
            while (offset < size) {
                ASSERT_LE(offset + 4, size);
                const uint32_t length = LoadBE32(&clip[offset]);
                CKeloMediaFrame frame(3);
                uint32_t payload = 0;
                ASSERT_LE(offset + 4 + length, size);
                ASSERT_TRUE(frame.ParseHeader(&clip[offset + 4], length, &payload));
                EXPECT_EQ(frame.mediaKind, blocks % 2 == 0 ? kKindVideo : kKindAudio);
                offset += 4 + length + payload;
                ++blocks;
            }
            EXPECT_EQ(offset, size);
        }
    }
    EXPECT_NE(GenerateClip(name, 100000, 7), GenerateClip(name, 100000, 8));
    EXPECT_NE(GenerateClip(name, 100000, 7), GenerateClip("clip02", 100000, 7));
}

TEST(DeviceClip, ChunkSizesVaryWithinRange) {
    ChunkSizer sizer(3);
    uint32_t smallest = ~0u, largest = 0;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t size = sizer.Next();
        smallest = std::min(smallest, size);
        largest = std::max(largest, size);
    }
    EXPECT_GE(smallest, 32u * 1024);
    EXPECT_LE(largest, 200u * 1024);
    EXPECT_GT(largest - smallest, 100u * 1024);
}

TEST(DeviceClip, SameBytesOnEveryPlatform) {
    // The tone starts 0/0, then 1044 (1 kHz) and 523 (500 Hz), big-endian.
    uint8_t tone[8];
    RenderTone(0, tone, 2);
    EXPECT_EQ(std::vector<uint8_t>(tone, tone + 8),
              (std::vector<uint8_t>{0, 0, 0, 0, 0x04, 0x14, 0x02, 0x0B}));
    EXPECT_EQ(Fnv1a(GenerateClip("clip01", 3 << 20, 1)), 10470139672319174970ull);
}

TEST(DeviceClip, PicturesAreTheTestPatternAsOurDecoderSeesIt) {
    SelectProcessorVariant();
    constexpr int kW = kClipPictureWidth, kH = kClipPictureHeight;
    std::vector<uint8_t> rgb(kW * kH * 3);
    std::vector<uint8_t> planes(kW * kH * 2);
    uint8_t* pointers[3] = {planes.data(), planes.data() + kW * kH,
                            planes.data() + kW * kH * 3 / 2};
    struct alignas(8) {
        int16_t values[256];
    } work;
    CJPEGDecoder decoder;
    ASSERT_EQ(decoder.Configure(kW, kH, kW, work.values, {kW * kH, kW * kH / 2, kW * kH / 2}), 0);
    StudioRangeConverter converter;
    for (uint32_t i : {0u, 13u, kLoopPictures - 1}) {
        SCOPED_TRACE(i);
        std::vector<uint8_t> payload = LoopPicture(i);
        EXPECT_EQ(payload, LoopPicture(i + kLoopPictures));
        CCompressedSample sample;
        sample.data = payload.data();
        sample.size = static_cast<int32_t>(payload.size());
        decoder.Decode(pointers, &sample);
        RenderTestPattern(kW, kH, i, rgb.data());
        const YCbCr422Picture source = converter.Convert({rgb.data(), kW, kH, kW * 3});
        const uint8_t* expected[3] = {source.y, source.cb, source.cr};
        const int sizes[3] = {kW * kH, kW * kH / 2, kW * kH / 2};
        for (int p = 0; p < 3; ++p) {
            int64_t total = 0;
            for (int k = 0; k < sizes[p]; ++k) {
                total += std::abs(int{pointers[p][k]} - int{expected[p][k]});
            }
            EXPECT_LT(static_cast<double>(total) / sizes[p], 2.0) << "plane " << p;
        }
    }
}

}  // namespace
}  // namespace fluxmere::device
