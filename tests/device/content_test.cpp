// What the device sends, checked without a network: the clip bytes, the stream description and
// the combined frames, including the hostile ones. The picture payloads are checked with a
// decoder nobody here wrote: wrapped back into a JPEG, they must decode with djpeg to the test
// pattern.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "device/clip.h"
#include "device/device_arguments.h"
#include "device/media_frames.h"
#include "device/mjpa_encoder.h"
#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"
#include "tests/device/raw_client.h"

namespace fluxmere::device {
namespace {

TEST(DeviceStream, DescriptionCarriesTheStreamHeader) {
    struct Case {
        uint32_t version;
        bool audio;
        bool longHeader;
    };
    for (const Case c : {Case{3, true, false}, Case{2, false, false}, Case{1, true, true},
                         Case{2, true, true}, Case{3, true, true}}) {
        SCOPED_TRACE(::testing::Message() << "version " << c.version << " audio " << c.audio
                                          << " long " << c.longHeader);
        DeviceOptions o;
        o.width = 176;
        o.height = 144;
        o.streamVersion = c.version;
        o.hasAudio = c.audio;
        o.longHeader = c.longHeader;
        const std::string sdp = BuildSdp(o, "127.0.0.1");
        EXPECT_NE(sdp.find("m=video"), std::string::npos);
        EXPECT_EQ(sdp.find("m=audio") != std::string::npos, c.audio);
        const std::string marker = "a=pgmpu:data:application/kelo;base64,";
        const size_t at = sdp.find(marker);
        ASSERT_NE(at, std::string::npos);
        const size_t end = sdp.find("\r\n", at);
        const std::vector<uint8_t> description = fluxmere::testing::DecodeBase64(
            sdp.substr(at + marker.size(), end - at - marker.size()));
        EXPECT_EQ(description, BuildStreamDescription(o));
        EXPECT_EQ(description.size() > 512, c.longHeader);
        ASSERT_GE(description.size(), 8u);
        EXPECT_EQ(LoadBE32(&description[4]), description.size() - 8);

        CKelo stream;
        ASSERT_TRUE(stream.ParseHeader(description.data() + 8, description.size() - 8));
        EXPECT_EQ(stream.bytesRead(), description.size() - 8);
        EXPECT_EQ(stream.version, c.version);
        EXPECT_EQ(stream.tracks[0].mediaKind, kKindVideo);
        EXPECT_EQ(stream.tracks[0].codecCode, kCodecMjpa);
        EXPECT_EQ(stream.tracks[0].width, 176u);
        EXPECT_EQ(stream.tracks[0].height, 144u);
        EXPECT_EQ(stream.tracks.size() > 1 && stream.tracks[1].mediaKind == kKindAudio, c.audio);
    }
}

// Decodes a JPEG with djpeg into packed RGB; false when djpeg fails or warns.
bool DecodeWithDjpeg(const std::vector<uint8_t>& jpeg, int* width, int* height,
                     std::vector<uint8_t>* rgb) {
    const std::string base = ::testing::TempDir() + "device_content_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string in = base + ".jpg", out = base + ".ppm";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr)
        return false;
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
    const std::string command = "djpeg -pnm -outfile '" + out + "' '" + in + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    std::remove(in.c_str());
    if (status != 0) {
        std::remove(out.c_str());
        return false;
    }
    f = std::fopen(out.c_str(), "rb");
    if (f == nullptr)
        return false;
    int maxValue = 0;
    const bool headerOk = std::fscanf(f, "P6 %d %d %d", width, height, &maxValue) == 3 &&
                          std::fgetc(f) != EOF && maxValue == 255;
    rgb->resize(static_cast<size_t>(*width) * *height * 3);
    const bool dataOk = headerOk && std::fread(rgb->data(), 1, rgb->size(), f) == rgb->size();
    std::fclose(f);
    std::remove(out.c_str());
    return dataOk;
}

double MeanAbsoluteDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sum += std::abs(int{a[i]} - int{b[i]});
    }
    return sum / a.size();
}

// What a full-range (JFIF) decoder such as djpeg makes of a pixel the device stored as
// studio-range YCbCr: the BT.601 studio forward equations, then the JFIF inverse, in floating
// point. Luma lands on 16 + c * 219 / 255; chroma, scaled by 224 / 255, adds a little more.
std::vector<uint8_t> AsFullRangeDecoderShowsStudioRange(const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out(rgb.size());
    auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); };
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        const double r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
        const double y = 16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255;
        const double cb = (-37.797 * r - 74.203 * g + 112.0 * b) / 255;
        const double cr = (112.0 * r - 93.786 * g - 18.214 * b) / 255;
        out[i] = clamp(y + 1.402 * cr);
        out[i + 1] = clamp(y - 0.344136 * cb - 0.714136 * cr);
        out[i + 2] = clamp(y + 1.772 * cb);
    }
    return out;
}

TEST(DeviceFrames, PayloadsDecodeToTheMovingTestPattern) {
    DeviceOptions o;  // 352 x 288, 25 frames/s, version 3 headers
    FrameBuilder builder(o);
    std::vector<uint8_t> decodedFirst;
    for (uint32_t index : {0u, 37u}) {
        SCOPED_TRACE(index);
        const std::vector<uint8_t> frame = builder.Build(index);
        CKeloMediaFrame video(3), audio(3);
        CombinedFrameSpans spans;
        ASSERT_TRUE(SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans));
        EXPECT_EQ(video.codecCode, kCodecMjpa);
        EXPECT_EQ(video.frameWord, index);
        EXPECT_EQ(audio.codecCode, kCodecP16S);
        ASSERT_EQ(spans.audioPayloadSize, 1920u * 4);
        std::vector<uint8_t> tone(1920 * 4);
        RenderTone(uint64_t{index} * 1920, tone.data(), 1920);
        EXPECT_EQ(std::vector<uint8_t>(spans.audioPayload, spans.audioPayload + 7680), tone);

        std::vector<uint8_t> jpeg;
        ASSERT_TRUE(WrapMjpaPayload(spans.videoPayload, spans.videoPayloadSize, 352, 288, &jpeg));
        int w = 0, h = 0;
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(DecodeWithDjpeg(jpeg, &w, &h, &decoded));
        ASSERT_EQ(w, 352);
        ASSERT_EQ(h, 288);
        std::vector<uint8_t> pattern(352 * 288 * 3);
        RenderTestPattern(352, 288, index, pattern.data());
        // About 1.3 here; a device sending full-range samples lands near 11.
        EXPECT_LT(MeanAbsoluteDifference(decoded, AsFullRangeDecoderShowsStudioRange(pattern)),
                  1.6);
        if (index == 0) {
            decodedFirst = decoded;
        } else {
            EXPECT_GT(MeanAbsoluteDifference(decoded, decodedFirst), 1.0);  // bar and counter moved
        }
    }
}

TEST(DeviceFrames, OddAudioBlocksAreTheToneAndOneMoreByte) {
    DeviceOptions o;
    o.oddAudioBlocks = true;
    const std::vector<uint8_t> frame = FrameBuilder(o).Build(5);
    CKeloMediaFrame video(3), audio(3);
    CombinedFrameSpans spans;
    ASSERT_TRUE(SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans));
    ASSERT_EQ(spans.audioPayloadSize, 7681u);
    std::vector<uint8_t> tone(1920 * 4);
    RenderTone(5 * 1920, tone.data(), 1920);
    EXPECT_EQ(std::vector<uint8_t>(spans.audioPayload, spans.audioPayload + 7680), tone);
}

// Stand-ins told apart: a higher tone is the default one sped up, and shifted bars start further
// along the same order; frames carry both.
TEST(DeviceFrames, ToneAndBarsTellStandInsApart) {
    std::vector<uint8_t> base(4 * 1920 * 4), higher(4 * 1920);
    RenderTone(0, base.data(), 4 * 1920);
    const auto left = [](const std::vector<uint8_t>& tone, size_t frame) {
        return (tone[4 * frame] << 8) | tone[4 * frame + 1];
    };
    const auto right = [](const std::vector<uint8_t>& tone, size_t frame) {
        return (tone[4 * frame + 2] << 8) | tone[4 * frame + 3];
    };
    for (int hz : {2000, 3000, 4000}) {
        SCOPED_TRACE(hz);
        const size_t factor = static_cast<size_t>(hz / 1000);
        RenderTone(0, higher.data(), 1920, hz);
        for (size_t i = 0; i < 1920; ++i) {
            ASSERT_EQ(left(higher, i), left(base, factor * i)) << i;
            ASSERT_EQ(right(higher, i), right(base, factor * i)) << i;
        }
    }

    // Row 48 of 96 lies in the bars, below the frame number.
    std::vector<uint8_t> plain(128 * 96 * 3), shifted(128 * 96 * 3);
    RenderTestPattern(128, 96, 3, plain.data());
    for (int shift : {1, 3, 7}) {
        SCOPED_TRACE(shift);
        RenderTestPattern(128, 96, 3, shifted.data(), shift);
        for (int bar = 0; bar < 8; ++bar) {
            const uint8_t* p = &shifted[(48 * 128 + bar * 16 + 8) * 3];
            const uint8_t* q = &plain[(48 * 128 + (bar + shift) % 8 * 16 + 8) * 3];
            EXPECT_EQ(std::vector<uint8_t>(p, p + 3), std::vector<uint8_t>(q, q + 3)) << bar;
            EXPECT_EQ(BarColour(bar, shift), uint32_t(p[0] << 16 | p[1] << 8 | p[2])) << bar;
        }
    }

    DeviceOptions o;
    o.width = 128;
    o.height = 96;
    o.toneHz = 3000;
    o.barsShift = 5;
    const std::vector<uint8_t> frame = FrameBuilder(o).Build(2);
    CKeloMediaFrame video(3), audio(3);
    CombinedFrameSpans spans;
    ASSERT_TRUE(SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans));
    std::vector<uint8_t> tone(1920 * 4);
    RenderTone(2 * 1920, tone.data(), 1920, 3000);
    EXPECT_EQ(std::vector<uint8_t>(spans.audioPayload, spans.audioPayload + 7680), tone);
    std::vector<uint8_t> jpeg, decoded;
    int w = 0, h = 0;
    ASSERT_TRUE(WrapMjpaPayload(spans.videoPayload, spans.videoPayloadSize, 128, 96, &jpeg));
    ASSERT_TRUE(DecodeWithDjpeg(jpeg, &w, &h, &decoded));
    RenderTestPattern(128, 96, 2, shifted.data(), 5);
    RenderTestPattern(128, 96, 2, plain.data());
    // The frame's picture is the shifted pattern, far from the plain one.
    EXPECT_LT(MeanAbsoluteDifference(decoded, AsFullRangeDecoderShowsStudioRange(shifted)) * 10,
              MeanAbsoluteDifference(decoded, AsFullRangeDecoderShowsStudioRange(plain)));
}

TEST(DeviceFrames, PicturesAreStudioRangeWithPairedChroma) {
    // Textbook studio-range values of black, white and the primaries.
    struct Case {
        uint8_t r, g, b, y, cb, cr;
    };
    for (const Case c : {Case{0, 0, 0, 16, 128, 128}, Case{255, 255, 255, 235, 128, 128},
                         Case{255, 0, 0, 81, 90, 240}, Case{0, 255, 0, 145, 54, 34},
                         Case{0, 0, 255, 41, 240, 110}}) {
        SCOPED_TRACE(::testing::Message() << int{c.r} << "," << int{c.g} << "," << int{c.b});
        const StudioSample s = StudioRangeFromRgb(c.r, c.g, c.b);
        EXPECT_EQ(int{s.y}, int{c.y});
        EXPECT_EQ(int{s.cb}, int{c.cb});
        EXPECT_EQ(int{s.cr}, int{c.cr});
    }

    // Three columns, two rows, in a padded stride: red beside blue shares the average of their
    // chroma, rounded once; the odd last column keeps its own.
    const uint8_t rgb[2][12] = {{255, 0, 0, 0, 0, 255, 0, 255, 0, 9, 9, 9},
                                {255, 255, 255, 0, 0, 0, 255, 0, 0, 9, 9, 9}};
    StudioRangeConverter converter;
    const YCbCr422Picture p = converter.Convert(RgbPicture{rgb[0], 3, 2, 12});
    ASSERT_NE(p.y, nullptr);
    ASSERT_EQ(p.lumaStride, 3);
    ASSERT_EQ(p.chromaStride, 2);
    EXPECT_EQ(std::vector<uint8_t>(p.y, p.y + 6), (std::vector<uint8_t>{81, 41, 145, 235, 16, 81}));
    // (90 + 240) / 2 = 165 and (240 + 110) / 2 = 175, from the unrounded 90.2 and 109.8.
    EXPECT_EQ(std::vector<uint8_t>(p.cb, p.cb + 4), (std::vector<uint8_t>{165, 54, 128, 90}));
    EXPECT_EQ(std::vector<uint8_t>(p.cr, p.cr + 4), (std::vector<uint8_t>{175, 34, 128, 240}));
    // The planes are reused from frame to frame.
    EXPECT_EQ(converter.Convert(RgbPicture{rgb[0], 3, 2, 12}).y, p.y);
    EXPECT_EQ(converter.Convert(RgbPicture{rgb[0], 0, 2, 12}).y, nullptr);
}

TEST(DeviceFrames, HostileFramesAreTheFaultsTheyClaim) {
    DeviceOptions o;
    o.width = 64;
    o.height = 32;
    o.hostileEvery = 1;
    CKeloMediaFrame video(3), audio(3);
    CombinedFrameSpans spans;

    o.hostileFrame = HostileFrame::BadBlockLengths;
    FrameBuilder bad(o);
    for (uint32_t variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE(variant);
        const std::vector<uint8_t> frame = bad.Build(variant);
        EXPECT_FALSE(SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans));
    }

    o.hostileFrame = HostileFrame::OversizedChunk;
    EXPECT_EQ(FrameBuilder(o).Build(0).size(), 1u << 20);

    o.hostileFrame = HostileFrame::HugeVideoPayload;
    const std::vector<uint8_t> huge = FrameBuilder(o).Build(0);
    ASSERT_TRUE(SplitCombinedFrame(huge.data(), huge.size(), video, audio, &spans));
    EXPECT_EQ(spans.videoPayloadSize, 300000u);

    o.hostileFrame = HostileFrame::CorruptJpeg;
    FrameBuilder corrupt(o);
    const std::vector<uint8_t> damaged = corrupt.Build(0);
    ASSERT_TRUE(SplitCombinedFrame(damaged.data(), damaged.size(), video, audio, &spans));
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(WrapMjpaPayload(spans.videoPayload, spans.videoPayloadSize, 64, 32, &jpeg));
    int w = 0, h = 0;
    std::vector<uint8_t> decoded;
    EXPECT_FALSE(DecodeWithDjpeg(jpeg, &w, &h, &decoded));
    const std::vector<uint8_t> healthy = corrupt.BuildHealthy(0);
    ASSERT_TRUE(SplitCombinedFrame(healthy.data(), healthy.size(), video, audio, &spans));
    ASSERT_TRUE(WrapMjpaPayload(spans.videoPayload, spans.videoPayloadSize, 64, 32, &jpeg));
    EXPECT_TRUE(DecodeWithDjpeg(jpeg, &w, &h, &decoded));

    o.hostileEvery = 3;
    std::vector<uint32_t> hostile;
    for (uint32_t i = 0; i < 9; ++i) {
        if (IsHostileFrame(o, i))
            hostile.push_back(i);
    }
    EXPECT_EQ(hostile, (std::vector<uint32_t>{2, 5, 8}));
}

// A short scripted run is built ahead, frame for frame what the stream would have built.
TEST(DeviceFrames, ScriptedRunsAreBuiltAheadAsTheStreamWouldBuildThem) {
    DeviceOptions o;
    o.width = 64;
    o.height = 32;
    o.hostileFrame = HostileFrame::CorruptJpeg;
    o.hostileEvery = 2;
    const struct {
        MediaFault fault;
        int beforeFault;
        int maxFrames;
        size_t built;
    } cases[] = {
        {MediaFault::Silence, 3, 0, 3},  // a fault within the first second
        {MediaFault::None, 0, 4, 4},     // a session of four frames
        {MediaFault::Close, 25, 0, 25},  // one second at 25 fps
        {MediaFault::Close, 26, 0, 0},   // longer: built as it streams
        {MediaFault::None, 0, 0, 0},     // open-ended
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.beforeFault + 100 * c.maxFrames);
        o.mediaFault = c.fault;
        o.mediaFramesBeforeFault = c.beforeFault;
        o.maxFrames = c.maxFrames;
        const std::vector<std::vector<uint8_t>> frames = BuildScriptedFrames(o);
        ASSERT_EQ(frames.size(), c.built);
        FrameBuilder builder(o);
        for (uint32_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(frames[i] == builder.Build(i)) << "frame " << i;
    }
}

TEST(DeviceArguments, FlagsSetOptionsAndBadValuesAreRefused) {
    const char* good[] = {"fluxmere-device",
                          "--address",
                          "127.10.4.9",
                          "--size",
                          "176x144",
                          "--fps",
                          "50",
                          "--no-audio",
                          "--busy",
                          "--event-after",
                          "1.5",
                          "--media-fault",
                          "stall",
                          "--hostile",
                          "corrupt-jpeg",
                          "--clip-bytes",
                          "12345",
                          "--clip-name",
                          "c9",
                          "--not-ready",
                          "3",
                          "--for",
                          "2",
                          "--ready-file",
                          "/tmp/r",
                          "--silent-on",
                          "DESCRIBE,TEARDOWN",
                          "--reply-byte-ms",
                          "1000",
                          "--accept-nothing",
                          "--event-with-play",
                          "--odd-audio",
                          "--zero-size",
                          "--export-status",
                          "404",
                          "--chunk-extensions",
                          "--content-length-body",
                          "--no-last-chunk",
                          "--reset-after-bytes",
                          "777",
                          "--tone",
                          "3000",
                          "--bars-shift",
                          "7"};
    ProgramOptions p;
    std::string error;
    ASSERT_TRUE(ParseDeviceArguments(sizeof good / sizeof *good, good, &p, &error)) << error;
    EXPECT_EQ(p.device.address, "127.10.4.9");
    EXPECT_EQ(p.device.width, 176);
    EXPECT_EQ(p.device.height, 144);
    EXPECT_EQ(p.device.fps, 50);
    EXPECT_FALSE(p.device.hasAudio);
    EXPECT_TRUE(p.device.busy);
    EXPECT_EQ(p.device.eventAfterMs, 1500);
    EXPECT_EQ(p.device.mediaFault, MediaFault::Stall);
    EXPECT_EQ(p.device.hostileFrame, HostileFrame::CorruptJpeg);
    EXPECT_EQ(p.device.clipBytes, 12345u);
    EXPECT_EQ(p.device.clipName, "c9");
    EXPECT_EQ(p.device.notReady, 3);
    EXPECT_EQ(p.forSeconds, 2.0);
    EXPECT_EQ(p.readyFile, "/tmp/r");
    EXPECT_EQ(p.device.silentOn, "DESCRIBE,TEARDOWN");
    EXPECT_EQ(p.device.replyByteMs, 1000);
    EXPECT_TRUE(p.device.acceptNothing && p.device.eventWithPlay && p.device.oddAudioBlocks &&
                p.device.zeroSize);
    EXPECT_EQ(p.device.exportStatus, 404);
    EXPECT_TRUE(p.device.chunkExtensions && p.device.contentLengthBody && p.device.noLastChunk);
    EXPECT_EQ(p.device.resetAfterBytes, 777u);
    EXPECT_EQ(p.device.toneHz, 3000);
    EXPECT_EQ(p.device.barsShift, 7);

    const std::vector<std::vector<const char*>> bad = {
        {"d", "--size", "352"},        {"d", "--size", "0x288"},   {"d", "--fps", "0"},
        {"d", "--rtsp-port", "70000"}, {"d", "--hostile", "nice"}, {"d", "--clip-name", "a\"b"},
        {"d", "--for", "-1"},          {"d", "--unknown"},         {"d", "--clip-bytes"},
        {"d", "--tone", "1500"},       {"d", "--tone", "13000"},   {"d", "--bars-shift", "8"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[1]);
        ProgramOptions q;
        EXPECT_FALSE(ParseDeviceArguments(static_cast<int>(args.size()), args.data(), &q, &error));
    }
}

}  // namespace
}  // namespace fluxmere::device
