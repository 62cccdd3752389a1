// DV frames as a decoder nobody here wrote reads them (Debian's ffprobe and ffmpeg, from a raw
// .dv stream): the format of each flavour, silence from the decoder, pictures close to what was
// encoded (the device's recorded pictures as the engine gets them), and pictures that cannot be
// coded well still fitting their frames and keeping their block averages.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "decode/dispatch.h"
#include "device/device_options.h"
#include "device/media_frames.h"
#include "device/picture_loop.h"
#include "tests/decode/test_pictures.h"
#include "tests/support/file_bytes.h"
#include "tests/support/movie_probe.h"
#include "tests/transcode/dv_pictures.h"
#include "transcode/dv_encoder.h"

namespace fluxmere::testing {
namespace {

using transcode::DvEncoder;
using transcode::DvFlavour;
constexpr int kWidth = transcode::kEncodeWidth;
constexpr int kHeight = transcode::kEncodeHeight;

struct Flavour {
    DvFlavour flavour;
    const char* pixelFormat;  // as ffmpeg decodes it
    int chromaWidth, chromaHeight;
};
constexpr Flavour kFlavours[] = {{DvFlavour::Dv25, "yuv420p", 360, 288},
                                 {DvFlavour::Dvcpro25, "yuv411p", 180, 576}};

void PrintTo(const Flavour& f, std::ostream* os) {
    *os << f.pixelFormat;
}

class DvDecodeTest : public ::testing::TestWithParam<Flavour> {
protected:
    static void SetUpTestSuite() { SelectProcessorVariant(); }

    // Encodes the pictures into a raw DV stream file; every frame must be 144 000 bytes.
    std::string Stream(const std::vector<Planes422>& pictures, const std::string& name) {
        DvEncoder encoder(GetParam().flavour);
        EXPECT_EQ(encoder.FrameBytes(), 144000u);
        std::vector<uint8_t> frame(encoder.FrameBytes());
        const std::string path = name + "_" + GetParam().pixelFormat + ".dv";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        for (const Planes422& picture : pictures) {
            encoder.Encode(picture.Picture(), frame.data());
            std::fwrite(frame.data(), 1, frame.size(), file);
        }
        std::fclose(file);
        EXPECT_EQ(ReadFileBytes(path).size(), pictures.size() * 144000);
        return path;
    }

    // ffmpeg's pictures (planes in its own pixel format, one picture after the other); what it
    // said on its error output goes to complaints.
    std::vector<uint8_t> Decode(const std::string& path, std::string* complaints) {
        const std::string errors = path + ".err";
        const std::string out =
            CommandOutput("ffmpeg -nostdin -v error -f dv -i '" + path + "' -f rawvideo -pix_fmt " +
                          GetParam().pixelFormat + " - 2>'" + errors + "'");
        const std::vector<uint8_t> said = ReadFileBytes(errors);
        complaints->assign(said.begin(), said.end());
        std::remove(errors.c_str());
        return std::vector<uint8_t>(out.begin(), out.end());
    }

    size_t PictureBytes() const {
        return size_t{kWidth} * kHeight +
               2 * size_t(GetParam().chromaWidth) * GetParam().chromaHeight;
    }
};

double Psnr(const uint8_t* a, const uint8_t* b, size_t count) {
    double squares = 0;
    for (size_t i = 0; i < count; ++i) {
        const double d = double(a[i]) - double(b[i]);
        squares += d * d;
    }
    return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * count / squares);
}

// The sample of a 4:2:2 chroma plane that the stored sampling keeps at (x, line) of its plane:
// 4:1:1 every second one; 4:2:0 line 2j + f is frame line 4j + f for Cr, 4j + 2 + f for Cb.
uint8_t StoredSite(const std::vector<uint8_t>& plane, const Flavour& f, bool isCr, int x,
                   int line) {
    if (f.flavour == DvFlavour::Dvcpro25) {
        return plane[line * 360 + 2 * x];
    }
    const int frameLine = 4 * (line / 2) + line % 2 + (isCr ? 0 : 2);
    return plane[frameLine * 360 + x];
}

TEST_P(DvDecodeTest, StreamHasTheFlavoursFormat) {
    const std::string path = Stream({ScaledPicture(device::LoopPicture(0), 352, 288)}, "dv_format");
    const std::string stream = CommandOutput(
        "ffprobe -v error -select_streams v -of default=nw=1 -show_entries "
        "stream=codec_name,width,height,pix_fmt,r_frame_rate,sample_aspect_ratio,"
        "display_aspect_ratio '" +
        path + "' 2>&1");
    EXPECT_EQ(stream, std::string("codec_name=dvvideo\nwidth=720\nheight=576\n"
                                  "sample_aspect_ratio=16:15\ndisplay_aspect_ratio=4:3\npix_fmt=") +
                          GetParam().pixelFormat + "\nr_frame_rate=25/1\n");
    const std::string frame = CommandOutput(
        "ffprobe -v error -select_streams v -of default=nw=1 -show_entries "
        "frame=interlaced_frame,top_field_first '" +
        path + "' 2>&1");
    EXPECT_EQ(frame, "interlaced_frame=1\ntop_field_first=0\n");
    std::remove(path.c_str());
}

TEST_P(DvDecodeTest, PicturesComeBackClose) {
    // The device's recorded loop, as the engine gets it, a few of its live pictures at 704 x 576,
    // whose edges are sharper, and a scene like a camera's, which takes most of the segments'
    // room.
    std::vector<Planes422> pictures;
    for (uint32_t i = 0; i < device::kLoopPictures; ++i) {
        pictures.push_back(ScaledPicture(device::LoopPicture(i), device::kClipPictureWidth,
                                         device::kClipPictureHeight));
    }
    device::DeviceOptions options;
    options.width = 704;
    options.height = 576;
    device::FrameBuilder builder(options);
    for (uint32_t i = 0; i < 5; ++i) {
        builder.BuildHealthy(i * 7);
        pictures.push_back(ScaledPicture(builder.videoPayload(), options.width, options.height));
    }
    const Picture422 scene = MakeScene(kWidth, kHeight, 5, Detail::kLight);
    pictures.emplace_back();
    pictures.back().y = scene.y;
    pictures.back().cb = scene.cb;
    pictures.back().cr = scene.cr;
    const std::string path = Stream(pictures, "dv_device");
    std::string complaints;
    const std::vector<uint8_t> decoded = Decode(path, &complaints);
    EXPECT_EQ(complaints, "");
    ASSERT_EQ(decoded.size(), pictures.size() * PictureBytes());
    const Flavour& f = GetParam();
    const size_t chroma = size_t(f.chromaWidth) * f.chromaHeight;
    double worstLuma = 99, worstChroma = 99;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const uint8_t* y = decoded.data() + i * PictureBytes();
        worstLuma = std::min(worstLuma, Psnr(y, pictures[i].y.data(), pictures[i].y.size()));
        // Chroma against the samples at the sites the flavour keeps: a swapped or misplaced
        // component costs far more than the filter does.
        for (int c = 0; c < 2; ++c) {
            const bool isCr = c == 1;  // ffmpeg's planes: Y, Cb, Cr
            std::vector<uint8_t> sites(chroma);
            for (int line = 0; line < f.chromaHeight; ++line) {
                for (int x = 0; x < f.chromaWidth; ++x) {
                    sites[line * f.chromaWidth + x] =
                        StoredSite(isCr ? pictures[i].cr : pictures[i].cb, f, isCr, x, line);
                }
            }
            const uint8_t* plane = y + size_t{kWidth} * kHeight + c * chroma;
            worstChroma = std::min(worstChroma, Psnr(plane, sites.data(), chroma));
        }
    }
    EXPECT_GE(worstLuma, 35.0);
    EXPECT_GE(worstChroma, 30.0);
    std::printf("%s: luma PSNR %.2f dB, chroma %.2f dB at worst\n", f.pixelFormat, worstLuma,
                worstChroma);
    std::remove(path.c_str());
}

TEST_P(DvDecodeTest, PicturesTooHardToCodeStillFitAndKeepTheirAverages) {
    const std::vector<Planes422> pictures = {NoisePicture(1), EdgePicture()};
    const std::string path = Stream(pictures, "dv_hard");
    std::string complaints;
    const std::vector<uint8_t> decoded = Decode(path, &complaints);
    EXPECT_EQ(complaints, "");
    ASSERT_EQ(decoded.size(), pictures.size() * PictureBytes());
    for (size_t i = 0; i < pictures.size(); ++i) {
        SCOPED_TRACE(i);
        // Each 8 x 8 block's average survives even where its detail cannot.
        const uint8_t* y = decoded.data() + i * PictureBytes();
        double worst = 0;
        for (int by = 0; by < kHeight; by += 8) {
            for (int bx = 0; bx < kWidth; bx += 8) {
                double ours = 0, theirs = 0;
                for (int r = 0; r < 8; ++r) {
                    for (int c = 0; c < 8; ++c) {
                        ours += pictures[i].y[(by + r) * kWidth + bx + c];
                        theirs += y[(by + r) * kWidth + bx + c];
                    }
                }
                worst = std::max(worst, std::fabs(ours - theirs) / 64);
            }
        }
        EXPECT_LE(worst, 4.0);
    }
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Flavours, DvDecodeTest, ::testing::ValuesIn(kFlavours),
                         [](const ::testing::TestParamInfo<Flavour>& info) {
                             return std::string(info.param.flavour == DvFlavour::Dv25 ? "Dv25"
                                                                                      : "Dvcpro25");
                         });

}  // namespace
}  // namespace fluxmere::testing
