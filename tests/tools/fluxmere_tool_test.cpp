// The fluxmere tool as a user runs it: its output, its files and its exit status.

#include <png.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/file_bytes.h"
#include "tests/support/movie_probe.h"

#include "decode/dispatch.h"
#include "decode/jpeg_decoder.h"
#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "device/clip.h"
#include "device/device.h"
#include "device/mjpa_encoder.h"
#include "device/test_pattern.h"
#include "platform/thread.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::LoopbackText;
using testing::Suite;

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs the tool with arguments (a shell command line) and captures its standard output, and its
// standard error after it when asked.
ToolRun RunTool(const std::string& arguments, bool withErrors = false) {
    ToolRun run;
    const std::string command =
        std::string(FLUXMERE_TOOL) + " " + arguments + (withErrors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool PngSize(const std::string& path, int* width, int* height) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    png_image_free(&image);
    return true;
}

class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = ::testing::TempDir() + "fluxmere_tool_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string command = "rm -rf '" + folder_ + "' && mkdir -p '" + folder_ + "'";
        ASSERT_EQ(0, std::system(command.c_str()));
    }
    void TearDown() override {
        std::string command = "rm -rf '" + folder_ + "'";
        std::system(command.c_str());
    }
    std::string folder_;
};

TEST_F(ToolTest, ViewPlaysAndWritesThePictureAtTheTargetSize) {
    device::DeviceOptions options;
    options.address = LoopbackText(Suite::Tools, 1);
    device::Device device(options);
    ASSERT_TRUE(device.Start()) << device.error();

    const std::string png = folder_ + "/snapshot.png";
    const std::string wav = folder_ + "/audio.wav";
    const ToolRun run =
        RunTool("view rtsp://" + options.address + "/live --seconds 2 --size 200x150 " +
                "--snapshot " + png + " --audio " + wav);
    EXPECT_EQ(0, run.status) << run.output;
    const size_t connecting = run.output.find("Connecting\n");
    const size_t playing = run.output.find("Playing\n");
    ASSERT_NE(std::string::npos, connecting) << run.output;
    ASSERT_NE(std::string::npos, playing) << run.output;
    EXPECT_LT(connecting, playing);
    int width = 0, height = 0;
    ASSERT_TRUE(PngSize(png, &width, &height));
    EXPECT_EQ(200, width);
    EXPECT_EQ(150, height);
    // A RIFF header and some sound.
    const std::vector<uint8_t> sound = testing::ReadFileBytes(wav);
    ASSERT_GT(sound.size(), 44u);
    EXPECT_EQ(0, std::string(sound.begin(), sound.begin() + 4).compare("RIFF"));
}

TEST_F(ToolTest, ViewOfABusyDeviceSaysSoAndFails) {
    device::DeviceOptions options;
    options.address = LoopbackText(Suite::Tools, 2);
    options.busy = true;
    device::Device device(options);
    ASSERT_TRUE(device.Start()) << device.error();

    const ToolRun run = RunTool("view rtsp://" + options.address + "/live --seconds 5");
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("In use by other user\n")) << run.output;
    EXPECT_EQ(0, device.Counters().plays);
}

// A session that connects, plays one frame and ends can fall between two of the tool's polls;
// it still played: exit 0 and its picture.
TEST_F(ToolTest, ViewSeesASessionShorterThanAPoll) {
    device::DeviceOptions options;
    options.address = LoopbackText(Suite::Tools, 10);
    options.maxFrames = 1;
    options.fps = 1000;
    device::Device device(options);
    ASSERT_TRUE(device.Start()) << device.error();
    const std::string png = folder_ + "/short.png";
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ToolRun run =
            RunTool("view rtsp://" + options.address + "/live --seconds 3 --snapshot " + png);
        EXPECT_EQ(0, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("Playing\n")) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("frames received 1,")) << run.output;
        int width = 0, height = 0;
        EXPECT_TRUE(PngSize(png, &width, &height));
    }
}

// Whatever the device does, the view ends within its --seconds and 2 s more.
TEST_F(ToolTest, ViewEndsInTimeWithHostileDevices) {
    struct Case {
        const char* what;
        void (*script)(device::DeviceOptions&);
    };
    const Case cases[] = {
        {"TEARDOWN never answered", [](device::DeviceOptions& o) { o.silentOn = "TEARDOWN"; }},
        {"DESCRIBE never answered", [](device::DeviceOptions& o) { o.silentOn = "DESCRIBE"; }},
        {"a reply byte a second", [](device::DeviceOptions& o) { o.replyByteMs = 1000; }},
        {"no connection accepted", [](device::DeviceOptions& o) { o.acceptNothing = true; }},
    };
    int index = 11;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device::DeviceOptions options;
        options.address = LoopbackText(Suite::Tools, index++);
        c.script(options);
        device::Device device(options);
        ASSERT_TRUE(device.Start()) << device.error();
        const uint64_t start = platform::MonotonicMs();
        const ToolRun run = RunTool("view rtsp://" + options.address + "/live --seconds 1");
        EXPECT_LT(platform::MonotonicMs() - start, 3000u) << run.output;
    }
}

TEST_F(ToolTest, BadArgumentsGiveStatusTwo) {
    for (const char* arguments :
         {"view http://127.0.0.1/live", "view rtsp://a/x", "view rtsp://127.0.0.1/x --size 0x5",
          "view rtsp://127.0.0.1/x --frobnicate", "fetch rtsp://127.0.0.1/x",
          "fetch 'http://127.0.0.1/command.cgi?stream&kelo&' --options 9", "decode", "nonsense"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(2, RunTool(arguments).status);
    }
}

TEST_F(ToolTest, FetchStoresTheClipByteForByte) {
    device::DeviceOptions options;
    options.address = LoopbackText(Suite::Tools, 3);
    options.clipName = "clip07";
    options.clipBytes = 3 * 1048576 + 12345;
    options.clipSeed = 7;
    device::Device device(options);
    ASSERT_TRUE(device.Start()) << device.error();

    const ToolRun run = RunTool("fetch 'http://" + options.address +
                                "/command.cgi?stream&kelo&codec=DVCPRO' --folder " + folder_);
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Complete\n")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("clip07.kelo")) << run.output;
    EXPECT_EQ(device::GenerateClip("clip07", options.clipBytes, 7),
              testing::ReadFileBytes(folder_ + "/clip07.kelo"));
}

TEST_F(ToolTest, FetchFromNoDeviceFails) {
    // Nothing listens on this address.
    const ToolRun run = RunTool("fetch 'http://" + LoopbackText(Suite::Tools, 4) +
                                "/command.cgi?stream&kelo&x' --folder " + folder_);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("Awaiting start")) << run.output;
}

TEST_F(ToolTest, DecodePlanesMatchTheDecoder) {
    SelectProcessorVariant();
    constexpr int kWidth = 100, kHeight = 60;  // not a multiple of 16 or 8
    std::vector<uint8_t> rgb(kWidth * kHeight * 3);
    device::RenderTestPattern(kWidth, kHeight, 5, rgb.data());
    RgbPicture picture{rgb.data(), kWidth, kHeight, kWidth * 3};
    std::vector<uint8_t> payload;
    ASSERT_TRUE(EncodeMjpaPayload(picture, &payload));
    const std::string payloadPath = folder_ + "/frame.mjpa";
    {
        std::ofstream out(payloadPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(payload.data()), payload.size());
    }
    const std::string prefix = folder_ + "/planes";
    const ToolRun run = RunTool("decode " + payloadPath + " --width 100 --height 60 --planes " +
                                prefix + " --png " + folder_ + "/frame.png");
    ASSERT_EQ(0, run.status) << run.output;

    // The same decode in process.
    const int w16 = 112, rows = 56;
    std::vector<uint8_t> y(w16 * kHeight, 16), cb(w16 / 2 * kHeight, 128),
        cr(w16 / 2 * kHeight, 128);
    alignas(8) int16_t work[256];
    CJPEGDecoder decoder;
    ASSERT_EQ(0, decoder.Configure(kWidth, kHeight, w16, work,
                                   {static_cast<int32_t>(y.size()), static_cast<int32_t>(cb.size()),
                                    static_cast<int32_t>(cr.size())}));
    CCompressedSample sample;
    sample.data = payload.data();
    sample.size = static_cast<int32_t>(payload.size());
    uint8_t* planes[3] = {y.data(), cb.data(), cr.data()};
    decoder.Decode(planes, &sample);

    EXPECT_EQ(std::vector<uint8_t>(y.begin(), y.begin() + w16 * rows),
              testing::ReadFileBytes(prefix + ".y"));
    EXPECT_EQ(std::vector<uint8_t>(cb.begin(), cb.begin() + w16 / 2 * rows),
              testing::ReadFileBytes(prefix + ".cb"));
    EXPECT_EQ(std::vector<uint8_t>(cr.begin(), cr.begin() + w16 / 2 * rows),
              testing::ReadFileBytes(prefix + ".cr"));
    int width = 0, height = 0;
    ASSERT_TRUE(PngSize(folder_ + "/frame.png", &width, &height));
    EXPECT_EQ(kWidth, width);
    EXPECT_EQ(kHeight, height);
}

// Whole pictures and sample frames of sound in the first `length` bytes of a clip.
void CountClip(const std::vector<uint8_t>& clip, size_t length, int* pictures,
               int64_t* soundFrames) {
    *pictures = 0;
    *soundFrames = 0;
    CKelo stream;
    ASSERT_TRUE(stream.ParseHeader(clip.data(), clip.size()));
    size_t at = stream.bytesRead();
    CKeloMediaFrame frame(stream.version);
    while (at + 4 <= length) {
        const uint32_t headerLength = LoadBE32(&clip[at]);
        uint32_t payload = 0;
        ASSERT_TRUE(frame.ParseHeader(&clip[at + 4], headerLength, &payload));
        at += 4 + headerLength + payload;
        if (at > length)
            break;
        if (frame.mediaKind == kKindVideo)
            ++*pictures;
        else
            *soundFrames += payload / 4;
    }
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

TEST_F(ToolTest, ConvertMakesAMovieOfTheDevicesClip) {
    const std::vector<uint8_t> clip = device::GenerateClip("clip03", 3 * 1048576 + 777, 3);
    const std::string kelo = folder_ + "/clip03.kelo";
    WriteBytes(kelo, clip.data(), clip.size());
    int pictures = 0;
    int64_t soundFrames = 0;
    CountClip(clip, clip.size(), &pictures, &soundFrames);
    ASSERT_GT(pictures, 50);

    const std::string movie = folder_ + "/clip03.mov";
    const ToolRun run = RunTool("convert " + kelo + " " + movie, true);
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find(std::to_string(pictures) + " pictures"))
        << run.output;
    testing::ExpectMjpegMovie(movie, 352, 288, pictures, soundFrames);
}

// --codec and the output's name choose the writer: .mxf is DVCPRO25 unless told; a cut clip gives
// a file of its whole pictures that ffmpeg decodes, with status 1; MXF with Motion-JPEG and unknown
// codecs are refused before anything is written.
TEST_F(ToolTest, ConvertWritesTheCodecAndContainerAsked) {
    const std::vector<uint8_t> clip = device::GenerateClip("clip05", 1048576, 5);
    const size_t cut = 700000;
    const std::string kelo = folder_ + "/cut.kelo";
    WriteBytes(kelo, clip.data(), cut);
    int pictures = 0;
    int64_t soundFrames = 0;
    CountClip(clip, cut, &pictures, &soundFrames);
    const struct {
        const char* output;
        const char* flags;
        int status;
        const char* expected;  // codec_name,height; or a part of the error message
    } cases[] = {
        {"cut.mxf", "", 1, "dvvideo,576"},
        {"cut_imx.mxf", "--codec imx50", 1, "mpeg2video,608"},
        {"cut_dv.mov", "--codec dv", 1, "dvvideo,576"},
        {"jpeg.mxf", "--codec mjpeg", 2, "MXF cannot carry Motion-JPEG"},
        {"what.mov", "--codec mpeg4", 2, "unknown codec mpeg4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string path = folder_ + "/" + c.output;
        const ToolRun run = RunTool("convert " + kelo + " " + path + " " + c.flags, true);
        EXPECT_EQ(c.status, run.status) << run.output;
        if (c.status == 2) {
            EXPECT_NE(std::string::npos, run.output.find(c.expected)) << run.output;
            EXPECT_TRUE(testing::ReadFileBytes(path).empty());
            continue;
        }
        EXPECT_NE(std::string::npos, run.output.find("cut")) << run.output;
        // The first line, without the comma that MPEG-2's side data leaves behind.
        std::string probed = testing::CommandOutput(
            "ffprobe -v error -count_frames -select_streams v -of csv=p=0 -show_entries "
            "stream=codec_name,height,nb_read_frames '" +
            path + "'");
        probed = probed.substr(0, probed.find('\n'));
        while (!probed.empty() && probed.back() == ',')
            probed.pop_back();
        EXPECT_EQ(probed, std::string(c.expected) + "," + std::to_string(pictures));
        std::string complaints;
        EXPECT_TRUE(testing::DecodesCleanly(path, &complaints)) << complaints;
    }
}

TEST_F(ToolTest, ConvertSaysWhenTheClipWasCutOrIsNoClip) {
    // Cut in the middle: a movie of the whole pictures before the cut, and status 1.
    const std::vector<uint8_t> clip = device::GenerateClip("clip04", 1048576, 4);
    const size_t cut = 700000;
    const std::string kelo = folder_ + "/cut.kelo";
    WriteBytes(kelo, clip.data(), cut);
    int pictures = 0;
    int64_t soundFrames = 0;
    CountClip(clip, cut, &pictures, &soundFrames);
    const std::string movie = folder_ + "/cut.mov";
    ToolRun run = RunTool("convert " + kelo + " " + movie, true);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("cut")) << run.output;
    testing::ExpectMjpegMovie(movie, 352, 288, pictures, soundFrames);

    // Not a clip: status 1, a clear message, no movie.
    const std::string text = folder_ + "/notes.kelo";
    WriteBytes(text, reinterpret_cast<const uint8_t*>("just some notes\n"), 16);
    run = RunTool("convert " + text + " " + folder_ + "/notes.mov", true);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("is not a kelo clip")) << run.output;
    EXPECT_TRUE(testing::ReadFileBytes(folder_ + "/notes.mov").empty());
    EXPECT_EQ(2, RunTool("convert " + kelo).status);
}

}  // namespace
}  // namespace fluxmere
