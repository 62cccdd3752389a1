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

#include "decode/dispatch.h"
#include "decode/jpeg_decoder.h"
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

// Runs the tool with arguments (a shell command line) and captures its standard output.
ToolRun RunTool(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string(FLUXMERE_TOOL) + " " + arguments + " 2>/dev/null";
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

}  // namespace
}  // namespace fluxmere
