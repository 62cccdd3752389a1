// D-10 frames read back by ffprobe and ffmpeg: 4:2:2 MPEG-2 at 720 x 608, 25 frames/s, top field
// first, decoded without a complaint; the device's pictures come back at 38 dB or more at
// 50 Mbit/s with black above them, and the hardest pictures still make frames that decode.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "decode/dispatch.h"
#include "decode/jpeg_decoder.h"
#include "device/device_options.h"
#include "device/media_frames.h"
#include "tests/support/movie_probe.h"
#include "tests/transcode/d10_pictures.h"
#include "transcode/d10_encoder.h"

namespace fluxmere::testing {
namespace {

using transcode::D10Encoder;
using transcode::ImxRate;

constexpr int kCodedHeight = 608;
constexpr int kBlankLines = 32;
constexpr size_t kDecodedFrameBytes = size_t{kEncodeWidth} * kCodedHeight * 2;

// One plane scaled with bilinear interpolation, sample centres aligned.
void ScalePlane(const uint8_t* source, int sourceWidth, int sourceHeight, uint8_t* target,
                int targetWidth, int targetHeight) {
    for (int y = 0; y < targetHeight; ++y) {
        const double sy =
            std::clamp((y + 0.5) * sourceHeight / targetHeight - 0.5, 0.0, sourceHeight - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, sourceHeight - 1);
        for (int x = 0; x < targetWidth; ++x) {
            const double sx =
                std::clamp((x + 0.5) * sourceWidth / targetWidth - 0.5, 0.0, sourceWidth - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, sourceWidth - 1);
            const auto at = [&](int row, int column) { return source[row * sourceWidth + column]; };
            const double top = at(y0, x0) + (at(y0, x1) - at(y0, x0)) * (sx - x0);
            const double bottom = at(y1, x0) + (at(y1, x1) - at(y1, x0)) * (sx - x0);
            target[y * targetWidth + x] =
                static_cast<uint8_t>(std::lround(top + (bottom - top) * (sy - y0)));
        }
    }
}

// The device's pictures as the transcoding pipeline gets them: its payloads decoded by our
// decoder (4:2:2 at video levels, as the device records them) and scaled to 720 x 576.
std::vector<TestPicture> DevicePictures(int count) {
    device::DeviceOptions options;
    const int width = options.width, height = options.height;
    device::FrameBuilder builder(options);
    struct alignas(8) WorkArea {
        int16_t values[256];
    } work;
    std::vector<uint8_t> planes(size_t(width) * height * 2);
    uint8_t* pointers[3] = {planes.data(), planes.data() + width * height,
                            planes.data() + width * height * 3 / 2};
    CJPEGDecoder decoder;
    EXPECT_EQ(decoder.Configure(width, height, width, work.values,
                                {width * height, width * height / 2, width * height / 2}),
              0);
    std::vector<TestPicture> pictures;
    for (int i = 0; i < count; ++i) {
        builder.BuildHealthy(static_cast<uint32_t>(i));
        std::vector<uint8_t> payload = builder.videoPayload();
        CCompressedSample sample;
        sample.data = payload.data();
        sample.size = static_cast<int32_t>(payload.size());
        decoder.Decode(pointers, &sample);
        EXPECT_EQ(decoder.LastDecodeStatus(), 0);
        TestPicture picture;
        ScalePlane(pointers[0], width, height, picture.y.data(), kEncodeWidth, kEncodeHeight);
        ScalePlane(pointers[1], width / 2, height, picture.cb.data(), kEncodeWidth / 2,
                   kEncodeHeight);
        ScalePlane(pointers[2], width / 2, height, picture.cr.data(), kEncodeWidth / 2,
                   kEncodeHeight);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

// The frames of one encoder, one after the other, as a raw MPEG-2 video file.
std::string WriteStream(const std::string& name, D10Encoder& encoder,
                        const std::vector<transcode::Picture422>& pictures) {
    const std::string path = name + ".m2v";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    std::vector<uint8_t> frame(encoder.FrameBytes());
    for (const transcode::Picture422& picture : pictures) {
        encoder.Encode(picture, frame.data());
        if (file != nullptr) {
            std::fwrite(frame.data(), 1, frame.size(), file);
        }
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    return path;
}

// What ffprobe says of the video stream, counting its frames.
std::map<std::string, std::string> ProbeVideo(const std::string& path) {
    const std::string text = CommandOutput(
        "ffprobe -v error -count_frames -select_streams v:0 -of default=noprint_wrappers=1 "
        "-show_entries stream=codec_name,profile,width,height,pix_fmt,field_order,r_frame_rate,"
        "nb_read_frames,color_space,color_primaries,color_transfer '" +
        path + "' 2>/dev/null");
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            fields[line.substr(0, eq)] = line.substr(eq + 1);
        }
        start = end + 1;
    }
    return fields;
}

void ExpectD10Stream(const std::string& path, int frames) {
    std::map<std::string, std::string> video = ProbeVideo(path);
    EXPECT_EQ(video["codec_name"], "mpeg2video");
    EXPECT_EQ(video["profile"], "4:2:2");
    EXPECT_EQ(video["width"], "720");
    EXPECT_EQ(video["height"], "608");
    EXPECT_EQ(video["pix_fmt"], "yuv422p");
    EXPECT_EQ(video["field_order"], "tt");
    EXPECT_EQ(video["r_frame_rate"], "25/1");
    EXPECT_EQ(video["color_space"], "bt470bg");
    EXPECT_EQ(video["color_primaries"], "bt470bg");
    EXPECT_EQ(video["color_transfer"], "bt709");
    EXPECT_EQ(video["nb_read_frames"], std::to_string(frames));
    std::string complaints;
    EXPECT_TRUE(DecodesCleanly(path, &complaints)) << complaints;
}

// Every frame as ffmpeg decodes it: 720 x 608 luma, then both chroma planes.
std::vector<uint8_t> DecodedFrames(const std::string& path) {
    const std::string text = CommandOutput("ffmpeg -nostdin -v error -i '" + path +
                                           "' -f rawvideo -pix_fmt yuv422p - 2>/dev/null");
    return std::vector<uint8_t>(text.begin(), text.end());
}

double LumaPsnr(const uint8_t* decodedLuma, const TestPicture& original) {
    double squares = 0;
    for (size_t i = 0; i < original.y.size(); ++i) {
        const double difference =
            static_cast<double>(decodedLuma[size_t{kBlankLines} * kEncodeWidth + i]) -
            original.y[i];
        squares += difference * difference;
    }
    const double mean = squares / static_cast<double>(original.y.size());
    return mean == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mean);
}

class D10FfmpegTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SelectProcessorVariant(); }
};

TEST_F(D10FfmpegTest, DevicePicturesComeBackAtImx50Quality) {
    constexpr int kFrames = 12;
    const std::vector<TestPicture> pictures = DevicePictures(kFrames);
    std::vector<transcode::Picture422> views;
    for (const TestPicture& picture : pictures) {
        views.push_back(picture.View());
    }
    D10Encoder encoder(ImxRate::Imx50);
    const std::string path = WriteStream("d10_device", encoder, views);
    ExpectD10Stream(path, kFrames);

    const std::vector<uint8_t> decoded = DecodedFrames(path);
    ASSERT_EQ(decoded.size(), kDecodedFrameBytes * kFrames);
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(i);
        const uint8_t* luma = decoded.data() + kDecodedFrameBytes * i;
        EXPECT_GE(LumaPsnr(luma, pictures[i]), 38.0);
        // The lines above the picture are black.
        const uint8_t* chroma = luma + size_t{kEncodeWidth} * kCodedHeight;
        const auto [lumaLow, lumaHigh] =
            std::minmax_element(luma, luma + kBlankLines * kEncodeWidth);
        EXPECT_TRUE(*lumaLow >= 15 && *lumaHigh <= 17) << int{*lumaLow} << " " << int{*lumaHigh};
        const auto [chromaLow, chromaHigh] =
            std::minmax_element(chroma, chroma + kBlankLines * kEncodeWidth / 2);
        EXPECT_TRUE(*chromaLow >= 127 && *chromaHigh <= 129);
    }
    std::remove(path.c_str());
}

TEST_F(D10FfmpegTest, HardestPicturesStillMakeFramesThatDecode) {
    const TestPicture noise = NoisePicture(11, 16, 235, false);
    const TestPicture binary = NoisePicture(12, 16, 235, true);
    const TestPicture fullRange = NoisePicture(13, 0, 255, false);
    const std::vector<transcode::Picture422> pictures = {
        noise.View(), binary.View(), fullRange.View(), {}};
    // The smallest frames keep only the DC of what no longer fits.
    for (size_t frameBytes : {size_t{150000}, transcode::kMinimumD10FrameBytes}) {
        SCOPED_TRACE(frameBytes);
        D10Encoder encoder(frameBytes);
        const std::string path = WriteStream("d10_hard", encoder, pictures);
        ExpectD10Stream(path, static_cast<int>(pictures.size()));
        // The picture without planes is black.
        const std::vector<uint8_t> decoded = DecodedFrames(path);
        ASSERT_EQ(decoded.size(), kDecodedFrameBytes * pictures.size());
        const uint8_t* last = decoded.data() + kDecodedFrameBytes * (pictures.size() - 1);
        const auto [low, high] = std::minmax_element(last, last + kEncodeWidth * kCodedHeight);
        EXPECT_TRUE(*low >= 15 && *high <= 17);
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace fluxmere::testing
