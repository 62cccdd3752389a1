// Clips into DVCPRO25 and D-10 pictures in MXF files and QuickTime movies, read back by ffprobe
// and ffmpeg: the picture pipeline against ffmpeg's own scaling of our decode, the sound put
// beside the pictures, and every output/codec combination with a stand-in encoder whose frames
// must come back byte for byte, with the clip's sound in the first two of eight channels.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decode/dispatch.h"
#include "tests/support/file_bytes.h"
#include "tests/support/movie_probe.h"
#include "tests/transcode/test_clip.h"
#include "transcode/clip_conversion.h"
#include "transcode/clip_reader.h"
#include "transcode/edit_unit_queue.h"
#include "transcode/mxf_writer.h"
#include "transcode/picture_pipeline.h"

namespace fluxmere::testing {
namespace {

using transcode::ConvertResult;
using transcode::OutputChoice;
using transcode::OutputContainer;
using transcode::PictureCodec;

// The clip's sound: every "p16S" payload, as 16-bit stereo samples.
std::vector<int16_t> ClipSound(const std::vector<uint8_t>& clip) {
    struct Collector : transcode::IClipConsumer {
        bool OnStreamHeader(const CKelo&) override { return true; }
        bool OnBlock(const CKeloMediaFrame& h, const uint8_t* p, uint32_t size) override {
            if (h.mediaKind == kKindAudio)
                for (uint32_t i = 0; i + 1 < size; i += 2)
                    samples.push_back(static_cast<int16_t>(p[i] << 8 | p[i + 1]));
            return true;
        }
        std::vector<int16_t> samples;
    } collector;
    transcode::ClipReader reader(&collector);
    reader.Feed(clip.data(), clip.size());
    return collector.samples;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * n / sum);
}

// ffmpeg's bicubic scaling of one plane (raw 8-bit samples) to width x height.
std::vector<uint8_t> FfmpegScaled(const uint8_t* plane, int w, int h, int stride, int toW,
                                  int toH) {
    std::vector<uint8_t> packed;
    for (int y = 0; y < h; ++y)
        packed.insert(packed.end(), plane + y * stride, plane + y * stride + w);
    const std::string in = "transcode_plane.raw";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(packed.data(), 1, packed.size(), f);
    std::fclose(f);
    const std::string out =
        CommandOutput("ffmpeg -nostdin -v error -f rawvideo -pix_fmt gray -s " + std::to_string(w) +
                      "x" + std::to_string(h) + " -i " + in + " -vf scale=" + std::to_string(toW) +
                      ":" + std::to_string(toH) + ":flags=bicubic -f rawvideo - 2>/dev/null");
    std::remove(in.c_str());
    return std::vector<uint8_t>(out.begin(), out.end());
}

class TranscodeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SelectProcessorVariant(); }
};

// Pictures of every size the device sends come out at 720 x 576 and video levels, where ffmpeg's
// bicubic scaling of our own decode puts them (720 x 576 ones exactly). Our resize maps the corner
// pixels onto each other where ffmpeg maps pixel areas, a quarter of a source pixel apart at
// most: about 35 dB on the test pattern; a picture shifted by one pixel, stretched or
// mis-levelled, or chroma out of place, falls below 31 dB.
TEST_F(TranscodeTest, PipelineScalesLikeAReferenceScaler) {
    const struct { int width, height; } sizes[] = {{352, 288}, {704, 576}, {720, 576}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        const TestClip clip = MakeClip(3, size.width, size.height);
        transcode::PicturePipeline pipeline;
        ASSERT_TRUE(pipeline.Configure(size.width, size.height));
        const std::vector<uint8_t>& payload = clip.payloads[2];
        const transcode::Picture422& picture =
            pipeline.Convert(payload.data(), static_cast<uint32_t>(payload.size()));
        const int stride = pipeline.decodedStride();
        const std::vector<uint8_t> luma =
            FfmpegScaled(pipeline.decodedLuma(), size.width, size.height, stride, 720, 576);
        ASSERT_EQ(luma.size(), 720u * 576u);
        std::vector<uint8_t> expected(luma.size()), ours(luma.size());
        int lowest = 255, highest = 0;
        for (size_t i = 0; i < luma.size(); ++i) {
            expected[i] = static_cast<uint8_t>(std::lround(16 + luma[i] * 219.0 / 255.0));
            ours[i] = picture.y[(i / 720) * picture.yStride + i % 720];
            lowest = std::min<int>(lowest, ours[i]);
            highest = std::max<int>(highest, ours[i]);
        }
        EXPECT_GE(Psnr(ours.data(), expected.data(), ours.size()), 34.0);
        EXPECT_GE(lowest, 16);
        EXPECT_LE(highest, 235);
        // Chroma (Cb), 4:2:2 at both ends.
        const std::vector<uint8_t> cb = FfmpegScaled(pipeline.decodedCb(), (size.width + 1) / 2,
                                                     size.height, stride / 2, 360, 576);
        ASSERT_EQ(cb.size(), 360u * 576u);
        std::vector<uint8_t> expectedCb(cb.size()), oursCb(cb.size());
        for (size_t i = 0; i < cb.size(); ++i) {
            expectedCb[i] = static_cast<uint8_t>(std::lround(128 + (cb[i] - 128) * 224.0 / 255.0));
            oursCb[i] = picture.cb[(i / 360) * picture.cStride + i % 360];
        }
        EXPECT_GE(Psnr(oursCb.data(), expectedCb.data(), oursCb.size()), 36.0);
    }
}

// Units leave with exactly their own sound, whatever the order and size of the sound blocks; a
// unit whose sound does not come in time leaves silent where it lacks it, and the late sound is
// dropped so that the next unit still gets its own.
TEST_F(TranscodeTest, EditUnitsGetTheSoundOfTheirTime) {
    constexpr uint32_t kFrames = 8;  // sample frames per unit, small to see every sample
    auto sound = [](uint32_t first, uint32_t count) {  // frame f: (f, -f), big-endian
        std::vector<uint8_t> bytes;
        for (uint32_t f = first; f < first + count; ++f)
            for (int16_t v : {int16_t(f + 1), int16_t(-int(f) - 1)}) {
                bytes.push_back(uint8_t(uint16_t(v) >> 8));
                bytes.push_back(uint8_t(v));
            }
        return bytes;
    };
    transcode::EditUnitQueue queue;
    ASSERT_TRUE(queue.Configure(1, kFrames, true));
    const uint8_t* picture = nullptr;
    const int16_t* stereo = nullptr;
    auto addPicture = [&](uint8_t mark) {
        *queue.PictureSlot() = mark;
        queue.CommitPicture();
    };
    auto addSound = [&](uint32_t first, uint32_t count) {
        const std::vector<uint8_t> bytes = sound(first, count);
        queue.AddSound(bytes.data(), count);
    };
    // Expects the front unit to be ready (or not), then its picture and sound frames
    // first..first+count-1, silence after them.
    auto expectFront = [&](bool force, uint8_t mark, uint32_t first, uint32_t count) {
        ASSERT_TRUE(queue.Front(force, &picture, &stereo));
        EXPECT_EQ(*picture, mark);
        for (uint32_t i = 0; i < kFrames; ++i) {
            const int expected = i < count ? int(first + i + 1) : 0;
            EXPECT_EQ(stereo[2 * i], expected) << i;
            EXPECT_EQ(stereo[2 * i + 1], -expected) << i;
        }
        queue.Pop();
    };

    // A picture, then its sound in uneven blocks; then sound ahead of its picture.
    addPicture(1);
    addSound(0, 3);
    EXPECT_FALSE(queue.Front(false, &picture, &stereo));
    addSound(3, 7);  // the first unit's rest and two frames of the next
    expectFront(false, 1, 0, kFrames);
    addSound(10, 6);
    addPicture(2);
    expectFront(false, 2, 8, kFrames);
    EXPECT_TRUE(queue.Empty());

    // Four pictures without sound fill the queue; the oldest leaves with three frames of its
    // sound; the five that come late for it are dropped; the next unit gets its own.
    for (uint8_t mark = 3; mark <= 6; ++mark)
        addPicture(mark);
    EXPECT_TRUE(queue.Full());
    addSound(16, 3);
    expectFront(true, 3, 16, 3);
    addSound(19, 5 + kFrames);
    expectFront(false, 4, 24, kFrames);

    // A clip without sound never waits.
    transcode::EditUnitQueue silent;
    ASSERT_TRUE(silent.Configure(1, kFrames, false));
    *silent.PictureSlot() = 9;
    silent.CommitPicture();
    ASSERT_TRUE(silent.Front(false, &picture, &stereo));
    EXPECT_EQ(stereo[0], 0);
}

// A stand-in for the DV and D-10 encoders: frame n is n + 1 in every byte, its index in the first
// four, so that the tests can find every frame where it belongs.
class MarkingEncoder final : public transcode::IPictureEncoder {
public:
    explicit MarkingEncoder(size_t bytes) : bytes_(bytes) {}
    size_t FrameBytes() const override { return bytes_; }
    void Encode(const transcode::Picture422& picture, uint8_t* out) override {
        EXPECT_EQ(picture.yStride, 720);
        std::memset(out, static_cast<uint8_t>(count_ + 1), bytes_);
        for (int i = 0; i < 4; ++i)
            out[i] = static_cast<uint8_t>(count_ >> (24 - 8 * i));
        ++count_;
    }
    static std::vector<uint8_t> Frame(size_t bytes, uint32_t n) {
        std::vector<uint8_t> frame(bytes, static_cast<uint8_t>(n + 1));
        for (int i = 0; i < 4; ++i)
            frame[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
        return frame;
    }

private:
    size_t bytes_;
    uint32_t count_ = 0;
};

size_t FrameBytesOf(PictureCodec codec) {
    switch (codec) {
        case PictureCodec::Imx30:
            return 150000;
        case PictureCodec::Imx40:
            return 200000;
        case PictureCodec::Imx50:
            return 250000;
        default:
            return 144000;
    }
}

std::unique_ptr<transcode::IPictureEncoder> MakeMarkingEncoder(PictureCodec codec) {
    return std::unique_ptr<transcode::IPictureEncoder>(new MarkingEncoder(FrameBytesOf(codec)));
}

ConvertResult Transcode(const OutputChoice& choice, const std::vector<uint8_t>& clip, size_t length,
                        transcode::EncoderFactory encoders, MemorySink* sink,
                        uint32_t* pictures = nullptr) {
    std::unique_ptr<transcode::IClipConversion> conversion =
        transcode::MakeClipConversion(choice, sink, encoders, 0x1234, 0);
    EXPECT_NE(conversion, nullptr);
    for (size_t at = 0; at < length; at += 65536) {
        if (!conversion->Feed(clip.data() + at, std::min<size_t>(65536, length - at)))
            break;
    }
    const ConvertResult result = conversion->Finish();
    if (pictures != nullptr)
        *pictures = conversion->pictures();
    return result;
}

// Container-level fields of every stream (packets counted, nothing decoded), and the format.
std::vector<StreamFields> ProbePackets(const std::string& path, std::string* format) {
    *format = CommandOutput(
        "ffprobe -v quiet -of default=nw=1:nk=1 -show_entries "
        "format=format_name '" +
        path + "'");
    const std::string text = CommandOutput(
        "ffprobe -v quiet -count_packets -of compact=p=0 -show_entries "
        "stream=codec_type,codec_name,codec_tag_string,r_frame_rate,nb_read_packets,sample_rate,"
        "channels,duration '" +
        path + "'");
    return ParseCompactLines(text);
}

// Checks that the file holds `pictures` pictures of the stand-in, each exactly as encoded, at 25
// per second, and the clip's sound in the first two of eight channels at 48000 Hz, the other six
// silent, as much of it as the pictures last.
void ExpectOutput(const std::string& path, const OutputChoice& choice, uint32_t pictures,
                  const std::vector<int16_t>& clipSound) {
    const bool mxf = choice.container == OutputContainer::Mxf;
    const bool dv = choice.codec == PictureCodec::Dvcpro25;
    std::string format;
    std::vector<StreamFields> streams = ProbePackets(path, &format);
    EXPECT_EQ(format, mxf ? "mxf\n" : "mov,mp4,m4a,3gp,3g2,mj2\n");
    ASSERT_EQ(streams.size(), 2u);
    StreamFields& video = streams[0];
    EXPECT_EQ(video["codec_type"], "video");
    EXPECT_EQ(video["codec_name"], dv ? "dvvideo" : "mpeg2video");
    if (!mxf) {
        const char* tags[] = {"", "dvpp", "mx3p", "mx4p", "mx5p"};
        EXPECT_EQ(video["codec_tag_string"], tags[int(choice.codec)]);
    }
    EXPECT_EQ(video["r_frame_rate"], "25/1");
    EXPECT_EQ(video["nb_read_packets"], std::to_string(pictures));
    EXPECT_NEAR(std::atof(video["duration"].c_str()), pictures / 25.0, 1e-6);
    StreamFields& sound = streams[1];
    EXPECT_EQ(sound["codec_type"], "audio");
    EXPECT_EQ(sound["codec_name"], mxf ? "pcm_s16le" : "pcm_s16be");
    EXPECT_EQ(sound["sample_rate"], "48000");
    EXPECT_EQ(sound["channels"], "8");
    EXPECT_NEAR(std::atof(sound["duration"].c_str()), pictures / 25.0, 1e-6);

    // The pictures, byte for byte, where the reader finds them (an MXF packet's position is its
    // element's key: 16 bytes of key, 4 of length before the data).
    const std::string packets = CommandOutput(
        "ffprobe -v quiet -select_streams v -show_entries "
        "packet=pos,size -of csv=p=0 '" +
        path + "'");
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const size_t bytes = FrameBytesOf(choice.codec);
    uint32_t n = 0;
    for (size_t at = 0; at < packets.size(); at = packets.find('\n', at) + 1, ++n) {
        const size_t size = std::strtoull(packets.c_str() + at, nullptr, 10);
        const size_t pos = std::strtoull(packets.c_str() + packets.find(',', at) + 1, nullptr, 10) +
                           (mxf ? 20 : 0);
        ASSERT_EQ(size, bytes) << n;
        ASSERT_LE(pos + size, file.size());
        const std::vector<uint8_t> expected = MarkingEncoder::Frame(bytes, n);
        EXPECT_EQ(std::memcmp(file.data() + pos, expected.data(), bytes), 0) << n;
    }
    EXPECT_EQ(n, pictures);
    // The sound.
    const std::string pcm =
        CommandOutput("ffmpeg -nostdin -v quiet -i '" + path + "' -map 0:a -f s16le - ");
    const size_t sampleFrames = size_t{pictures} * 1920;
    ASSERT_EQ(pcm.size(), sampleFrames * 16);
    size_t wrong = 0;
    for (size_t f = 0; f < sampleFrames; ++f) {
        for (size_t c = 0; c < 8; ++c) {
            const int16_t got = static_cast<int16_t>(uint8_t(pcm[16 * f + 2 * c]) |
                                                     uint8_t(pcm[16 * f + 2 * c + 1]) << 8);
            const int16_t want = c < 2 && 2 * f + c < clipSound.size() ? clipSound[2 * f + c] : 0;
            wrong += got != want;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

const OutputChoice kChoices[] = {
    {OutputContainer::Mxf, PictureCodec::Dvcpro25},
    {OutputContainer::Mxf, PictureCodec::Imx30},
    {OutputContainer::Mxf, PictureCodec::Imx40},
    {OutputContainer::Mxf, PictureCodec::Imx50},
    {OutputContainer::QuickTime, PictureCodec::Dvcpro25},
    {OutputContainer::QuickTime, PictureCodec::Imx50},
};

std::string ChoiceName(const OutputChoice& choice) {
    const char* codecs[] = {"mjpeg", "dvcpro", "imx30", "imx40", "imx50"};
    return std::string(codecs[int(choice.codec)]) +
           (choice.container == OutputContainer::Mxf ? ".mxf" : ".mov");
}

TEST_F(TranscodeTest, EveryOutputHoldsTheEncodedPicturesAndTheClipsSound) {
    const TestClip clip = MakeClip(12);
    const std::vector<int16_t> clipSound = ClipSound(clip.bytes);
    for (const OutputChoice& choice : kChoices) {
        SCOPED_TRACE(ChoiceName(choice));
        MemorySink sink;
        uint32_t pictures = 0;
        ASSERT_EQ(
            Transcode(choice, clip.bytes, clip.bytes.size(), MakeMarkingEncoder, &sink, &pictures),
            ConvertResult::Complete);
        EXPECT_EQ(pictures, 12u);
        const std::string path = sink.Save("transcode_" + ChoiceName(choice));
        ExpectOutput(path, choice, 12, clipSound);
        std::remove(path.c_str());
    }
}

// A cut clip (inside picture 7, inside its block length) still gives a whole file of the
// pictures before the cut; an encoder of the wrong frame size, or none, writes nothing.
TEST_F(TranscodeTest, CutClipsGiveAFileOfTheirWholePictures) {
    const TestClip clip = MakeClip(10);
    const std::vector<int16_t> clipSound = ClipSound(clip.bytes);
    for (const OutputChoice& choice : {kChoices[0], kChoices[3], kChoices[4]}) {
        for (size_t cut : {clip.frameStarts[7] + 300, clip.frameStarts[7] + 2}) {
            SCOPED_TRACE(ChoiceName(choice) + " cut at " + std::to_string(cut));
            MemorySink sink;
            uint32_t pictures = 0;
            EXPECT_EQ(Transcode(choice, clip.bytes, cut, MakeMarkingEncoder, &sink, &pictures),
                      ConvertResult::Cut);
            EXPECT_EQ(pictures, 7u);
            const std::string path = sink.Save("transcode_cut_" + ChoiceName(choice));
            ExpectOutput(path, choice, 7, clipSound);
            std::remove(path.c_str());
        }
    }
    const transcode::EncoderFactory wrongSize = [](PictureCodec) {
        return std::unique_ptr<transcode::IPictureEncoder>(new MarkingEncoder(1000));
    };
    const transcode::EncoderFactory none = [](PictureCodec) {
        return std::unique_ptr<transcode::IPictureEncoder>();
    };
    for (transcode::EncoderFactory factory : {wrongSize, none}) {
        MemorySink sink;
        EXPECT_EQ(Transcode(kChoices[0], clip.bytes, clip.bytes.size(), factory, &sink),
                  ConvertResult::WriteFailed);
        EXPECT_TRUE(sink.bytes.empty());
    }
    EXPECT_EQ(
        transcode::MakeClipConversion({OutputContainer::Mxf, PictureCodec::MotionJpeg}, nullptr),
        nullptr);
}

// With the real encoders, every reader takes the output for what it is: ffprobe finds the codec,
// size, rate, picture count and sound; ffmpeg decodes every picture without a word; each frame has
// its rate's exact size; and the pictures ffmpeg decodes stay close to our own pipeline's.
TEST_F(TranscodeTest, EncodedOutputsAreReadAndLookLikeTheClip) {
    constexpr int kPictures = 20;
    const TestClip clip = MakeClip(kPictures);
    // Luma of every picture as our pipeline hands it to the encoder.
    transcode::PicturePipeline pipeline;
    ASSERT_TRUE(pipeline.Configure(352, 288));
    std::vector<uint8_t> reference;
    for (const std::vector<uint8_t>& payload : clip.payloads) {
        const transcode::Picture422& picture =
            pipeline.Convert(payload.data(), static_cast<uint32_t>(payload.size()));
        for (int y = 0; y < 576; ++y)
            reference.insert(reference.end(), picture.y + y * picture.yStride,
                             picture.y + y * picture.yStride + 720);
    }
    const struct {
        OutputChoice choice;
        double minimumPsnr;
    } cases[] = {
        {{OutputContainer::Mxf, PictureCodec::Dvcpro25}, 35.0},
        {{OutputContainer::Mxf, PictureCodec::Imx50}, 38.0},
        {{OutputContainer::Mxf, PictureCodec::Imx30}, 35.0},
        {{OutputContainer::QuickTime, PictureCodec::Dvcpro25}, 35.0},
        {{OutputContainer::QuickTime, PictureCodec::Imx50}, 38.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ChoiceName(c.choice));
        const bool dv = c.choice.codec == PictureCodec::Dvcpro25;
        MemorySink sink;
        ASSERT_EQ(Transcode(c.choice, clip.bytes, clip.bytes.size(), transcode::MakePictureEncoder,
                            &sink),
                  ConvertResult::Complete);
        const std::string path = sink.Save("transcode_real_" + ChoiceName(c.choice));
        std::vector<StreamFields> streams = ProbeStreams(path);
        ASSERT_EQ(streams.size(), 2u);
        StreamFields& video = streams[0];
        EXPECT_EQ(video["codec_name"], dv ? "dvvideo" : "mpeg2video");
        if (!dv)
            EXPECT_EQ(CommandOutput("ffprobe -v quiet -select_streams v -show_entries "
                                    "stream=profile -of csv=p=0 '" +
                                    path + "'")
                          .rfind("4:2:2", 0),
                      0u);
        EXPECT_EQ(video["width"], "720");
        EXPECT_EQ(video["height"], dv ? "576" : "608");
        EXPECT_EQ(video["r_frame_rate"], "25/1");
        EXPECT_EQ(video["nb_read_frames"], std::to_string(kPictures));
        EXPECT_NEAR(std::atof(video["duration"].c_str()), kPictures / 25.0, 1e-6);
        EXPECT_EQ(streams[1]["sample_rate"], "48000");
        EXPECT_EQ(streams[1]["channels"], "8");
        std::string complaints;
        EXPECT_TRUE(DecodesCleanly(path, &complaints)) << complaints;
        const std::string sizes = CommandOutput(
            "ffprobe -v quiet -select_streams v -show_entries "
            "packet=size -of csv=p=0 '" +
            path + "'");
        const std::string size = std::to_string(FrameBytesOf(c.choice.codec)) + "\n";
        std::string expectedSizes;
        for (int i = 0; i < kPictures; ++i)
            expectedSizes += size;
        EXPECT_EQ(sizes, expectedSizes);

        // Luma PSNR over every picture; D-10 pictures start at coded line 32.
        const std::string decoded = CommandOutput("ffmpeg -nostdin -v error -i '" + path +
                                                  "' -map 0:v -f rawvideo - 2>/dev/null");
        const size_t frameBytes = dv ? 720 * 576 * 3 / 2 : 720 * 608 * 2;
        ASSERT_EQ(decoded.size(), frameBytes * kPictures);
        std::vector<uint8_t> luma;
        for (int n = 0; n < kPictures; ++n) {
            const char* y = decoded.data() + n * frameBytes + (dv ? 0 : 32 * 720);
            luma.insert(luma.end(), y, y + 720 * 576);
        }
        const double psnr = Psnr(luma.data(), reference.data(), luma.size());
        EXPECT_GE(psnr, c.minimumPsnr);
        std::printf("%s: luma PSNR %.2f dB over %d pictures\n", ChoiceName(c.choice).c_str(), psnr,
                    kPictures);
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace fluxmere::testing
