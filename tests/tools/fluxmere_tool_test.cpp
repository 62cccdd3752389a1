// The fluxmere tool as a user runs it: its output, its files and its exit status.

#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
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
#include "player/player_session.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::LoopbackText;
using testing::Suite;

extern "C" char** environ;

struct ToolRun {
    int status = -1;
    std::string output;
};

// The tool as a process of its own, so that a test can stop it by its pid as Ctrl-C does.
class ToolProcess {
public:
    ~ToolProcess() {
        if (pid_ > 0) {  // a test that gave up: the tool must not outlive it
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            close(output_);
    }

    // Runs `sh -c 'exec TOOL ARGUMENTS 2>&1'`: the shell becomes the tool, so pid_ is the tool's.
    bool Start(const std::string& arguments) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);
        const std::string command =
            "exec " + std::string(FLUXMERE_TOOL) + " " + arguments + " 2>&1";
        char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                        const_cast<char*>(command.c_str()), nullptr};
        const int spawned = posix_spawn(&pid_, "/bin/sh", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
        output_ = pipeEnds[0];
        if (spawned != 0)
            pid_ = 0;
        return spawned == 0;
    }

    // Collects output until condition holds or the output ends, for at most timeoutMs.
    bool WaitUntil(const std::function<bool(const std::string&)>& condition, uint64_t timeoutMs) {
        const uint64_t end = platform::MonotonicMs() + timeoutMs;
        while (!condition(run_.output)) {
            if (platform::MonotonicMs() >= end || !ReadSome(50))
                return condition(run_.output);
        }
        return true;
    }

    void Signal(int number) { kill(pid_, number); }

    // The rest of the output and the exit status; the tool is killed after timeoutMs.
    ToolRun Finish(uint64_t timeoutMs = 30000) {
        WaitUntil([](const std::string&) { return false; }, timeoutMs);
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            run_.output += "\n(killed: the tool did not end in time)";
        }
        pid_ = 0;
        run_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run_;
    }

private:
    // False once the output has ended.
    bool ReadSome(int waitMs) {
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, waitMs) <= 0)
            return true;
        char buffer[4096];
        const ssize_t n = read(output_, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        run_.output.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = 0;
    int output_ = -1;
    ToolRun run_;
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
        std::remove(png.c_str());  // each attempt shows its own picture, not an earlier one's
        const ToolRun run =
            RunTool("view rtsp://" + options.address + "/live --seconds 3 --snapshot " + png);
        EXPECT_EQ(0, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("Playing\n")) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("frames received 1,")) << run.output;
        int width = 0, height = 0;
        EXPECT_TRUE(PngSize(png, &width, &height));
    }
}

// With --reconnect the view brings the stream back by itself: after the session ended, after
// the picture froze (frames stop, the connection stays), and after the device went away and came
// back on its address. The three watch side by side.
TEST_F(ToolTest, ViewReconnectsAfterAnEndAFreezeAndAMissingDevice) {
    struct Case {
        const char* what;
        int index;
        int maxFrames;
        bool trickle;
        const char* line;  // what the tool says when it stops the session
    };
    const Case cases[] = {
        {"session ends", 30, 20, false, "not connected, reconnecting in 1 s\n"},
        {"picture freezes", 31, 0, true, "frozen, reconnecting in 1 s\n"},
        {"device goes away", 32, 0, false, "not connected, reconnecting in 1 s\n"},
    };
    std::vector<std::unique_ptr<device::Device>> devices;
    std::vector<std::unique_ptr<ToolProcess>> tools;
    for (const Case& c : cases) {
        device::DeviceOptions options;
        options.address = LoopbackText(Suite::Tools, c.index);
        options.maxFrames = c.maxFrames;
        if (c.trickle) {
            options.mediaFault = device::MediaFault::Trickle;
            options.mediaFramesBeforeFault = 20;
        }
        devices.push_back(std::make_unique<device::Device>(options));
        ASSERT_TRUE(devices.back()->Start()) << devices.back()->error();
        tools.push_back(std::make_unique<ToolProcess>());
        ASSERT_TRUE(tools.back()->Start("view rtsp://" + options.address +
                                        "/live --reconnect --seconds 30"));
    }
    const auto playingAfter = [](const std::string& line) {
        return [line](const std::string& output) {
            const size_t at = output.find(line);
            return at != std::string::npos && output.find("Playing\n", at) != std::string::npos;
        };
    };
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].what);
        if (cases[i].index == 32) {
            ASSERT_TRUE(tools[i]->WaitUntil(
                [](const std::string& output) {
                    return output.find("Playing\n") != std::string::npos;
                },
                20000));
            devices[i]->Stop();
            ASSERT_TRUE(tools[i]->WaitUntil(
                [&](const std::string& output) {
                    return output.find(cases[i].line) != std::string::npos;
                },
                20000));
            device::DeviceOptions options = devices[i]->options();
            devices[i] = std::make_unique<device::Device>(options);
            ASSERT_TRUE(devices[i]->Start()) << devices[i]->error();
        }
        EXPECT_TRUE(tools[i]->WaitUntil(playingAfter(cases[i].line), 25000));
    }
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].what);
        tools[i]->Signal(SIGINT);
        const ToolRun run = tools[i]->Finish();
        EXPECT_EQ(130, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("sessions started again ")) << run.output;
    }
}

// Whatever the device does, the view ends within its --seconds and the session's stop limit
// (kStopLimitMs), with room for starting the tool and its sanitizer on a loaded machine.
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
        EXPECT_LT(platform::MonotonicMs() - start, 1000u + kStopLimitMs + 4000u) << run.output;
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

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// A finished WAV: both size fields match the file, and it holds some sound.
void ExpectFinishedWav(const std::string& path) {
    const std::vector<uint8_t> wav = testing::ReadFileBytes(path);
    ASSERT_GT(wav.size(), 44u) << path;
    EXPECT_EQ(0, std::string(wav.begin(), wav.begin() + 4).compare("RIFF"));
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8) << "RIFF size";
    EXPECT_EQ(0, std::string(wav.begin() + 36, wav.begin() + 40).compare("data"));
    EXPECT_EQ(Le32(wav, 40), wav.size() - 44) << "data size";
}

// The tool's error paths as a user meets them: each row is a command line, the exit status, a
// phrase of what the tool says, and exactly the files the folder holds afterwards. Every row
// starts from the same folder: a clip (clip.kelo) and a movie that is already there (taken.mov),
// and neither may change unless the row says so. Rows with `stopWhen` are stopped as Ctrl-C does
// once the condition holds.
TEST_F(ToolTest, ErrorPathsSayWhatHappenedAndKeepTheUsersFiles) {
    device::DeviceOptions options;
    options.address = LoopbackText(Suite::Tools, 20);
    options.clipName = "clip20";
    options.clipBytes = 16 << 20;
    options.clipSeed = 20;
    options.bodyRate = 4 << 20;  // a few seconds: time to stop it on the way
    device::Device device(options);
    ASSERT_TRUE(device.Start()) << device.error();
    device::DeviceOptions cutOptions;
    cutOptions.address = LoopbackText(Suite::Tools, 21);
    cutOptions.clipName = "clip21";
    cutOptions.clipBytes = 4 << 20;
    cutOptions.clipSeed = 21;
    cutOptions.closeAfterBytes = 1536 << 10;
    device::Device cutDevice(cutOptions);
    ASSERT_TRUE(cutDevice.Start()) << cutDevice.error();
    const std::string live = "rtsp://" + options.address + "/live";
    const std::string nobody = LoopbackText(Suite::Tools, 22);  // nothing listens there
    const std::string f = folder_ + "/";
    const std::string exportUrl = "'http://" + options.address + "/command.cgi?stream&kelo&x'";
    const std::vector<uint8_t> clip = device::GenerateClip("clip05", 1 << 20, 5);

    const auto fileHasBytes = [&](const std::string& name, int64_t bytes) {
        return [=](const std::string&) {
            return static_cast<int64_t>(testing::ReadFileBytes(f + name).size()) >= bytes;
        };
    };
    // Once the tool has printed text and then run for ms more (for sound to have been played).
    const auto printedFor = [](const char* text, uint64_t ms) {
        auto seen = std::make_shared<uint64_t>(0);
        return [=](const std::string& output) {
            if (*seen == 0 && output.find(text) != std::string::npos)
                *seen = platform::MonotonicMs();
            return *seen != 0 && platform::MonotonicMs() - *seen >= ms;
        };
    };
    enum Extra { kNone, kCheckedFirst, kReplacesTaken };
    struct Case {
        std::string arguments;
        int status;
        std::string phrase;
        std::string filesLeft = "";  // besides clip.kelo and taken.mov, by blanks
        Extra extra = kNone;         // kCheckedFirst: refused before the device is contacted
        std::function<bool(const std::string&)> stopWhen = nullptr;
    };
    const std::string missing = f + "missing";
    const std::string noSuchFile = ": No such file or directory";
    const std::string convert = "convert " + f + "clip.kelo ";
    const std::string cutUrl = "'http://" + cutOptions.address + "/command.cgi?stream&kelo&x'";
    const std::string nobodyUrl = "'http://" + nobody + "/command.cgi?stream&kelo&x'";
    const Case cases[] = {
        // Never lose a file.
        {convert + f + "clip.kelo", 1, "the movie would replace the clip"},
        {convert + f + "./clip.kelo --force", 1, "itself"},
        {convert + f + "taken.mov", 1, f + "taken.mov already exists (--force replaces it)"},
        {convert + f + "taken.mov --force", 0, "pictures", "", kReplacesTaken},
        {convert + missing + "/x.mov", 1, "cannot create a file in " + missing + noSuchFile},
        {"convert " + f + "gone.kelo " + f + "x.mov", 1,
         "cannot read " + f + "gone.kelo" + noSuchFile},
        // Output paths are checked before any work.
        {"fetch " + exportUrl + " --folder " + missing, 1,
         "cannot write into " + missing + noSuchFile, "", kCheckedFirst},
        {"fetch " + exportUrl + " --folder " + f + "taken.mov", 1, "it is not a folder", "",
         kCheckedFirst},
        {"view " + live + " --snapshot " + missing + "/s.png", 1,
         "--snapshot: cannot create a file in " + missing, "", kCheckedFirst},
        {"view " + live + " --audio " + missing + "/a.wav", 1,
         "--audio: cannot create a file in " + missing, "", kCheckedFirst},
        {"view " + live + " --snapshot " + f + "s.jpg", 2, "ending in .png or .bmp, not '", "",
         kCheckedFirst},
        // An unreachable device, named with the system's reason.
        {"view rtsp://" + nobody + "/live --seconds 5", 1,
         "cannot connect to " + nobody + " port 554: Connection refused"},
        {"fetch " + nobodyUrl + " --folder " + folder_, 1,
         "cannot connect to " + nobody + " port 80: Connection refused"},
        // A port in the URL: the fixed port is the device's own; any other is refused.
        {"view rtsp://" + options.address + ":554/live --seconds 1 --default-device " + nobody, 0,
         "Playing\n"},
        {"view rtsp://" + options.address + ":8554/live", 2, "port is always 554"},
        {"fetch 'http://" + options.address + ":8080/command.cgi?stream&kelo&x'", 2,
         "port is always 80"},
        // Numbers as the user wrote them; data that is no picture is no picture.
        {"view " + live + " --seconds 1e9", 2, "from 0.1 to 86400, not '1e9'"},
        {"decode " + f + "taken.mov --width 64 --height 48 --png " + f + "p.png", 1,
         "is not a Motion-JPEG payload"},
        // A download cut by the device or stopped by the user leaves no whole-looking clip.
        {"fetch " + cutUrl + " --folder " + folder_, 1, "kept as " + f + "clip21.kelo.partial",
         "clip21.kelo.partial"},
        {"fetch " + exportUrl + " --folder " + folder_, 130, "interrupted", "clip20.kelo.partial",
         kNone, fileHasBytes("clip20.kelo", 1 << 20)},
        {"view " + live + " --snapshot " + f + "s.png --audio " + f + "a.wav", 130, "interrupted",
         "s.png a.wav", kNone, printedFor("Playing\n", 1000)},
        {"--version", 0, "fluxmere " FLUXMERE_VERSION "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        ASSERT_EQ(0, std::system(("rm -rf '" + folder_ + "'/*").c_str()));
        WriteBytes(f + "clip.kelo", clip.data(), clip.size());
        WriteBytes(f + "taken.mov", reinterpret_cast<const uint8_t*>("keep me"), 7);
        const device::DeviceCounters before = device.Counters();
        ToolProcess tool;
        ASSERT_TRUE(tool.Start(c.arguments));
        if (c.stopWhen) {
            EXPECT_TRUE(tool.WaitUntil(c.stopWhen, 20000)) << "never ready to be stopped";
            tool.Signal(SIGINT);
        }
        const ToolRun run = tool.Finish();
        EXPECT_EQ(c.status, run.status) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.phrase)) << run.output;
        std::set<std::string> expected = {"clip.kelo", "taken.mov"};
        std::istringstream names(c.filesLeft);
        for (std::string name; names >> name;)
            expected.insert(name);
        EXPECT_EQ(expected, testing::FolderNames(folder_)) << run.output;
        EXPECT_EQ(clip, testing::ReadFileBytes(f + "clip.kelo"));
        const std::vector<uint8_t> taken = testing::ReadFileBytes(f + "taken.mov");
        EXPECT_EQ(c.extra == kReplacesTaken, taken.size() != 7);
        if (expected.count("a.wav") != 0)
            ExpectFinishedWav(f + "a.wav");
        // What a stopped or cut download kept is the clip's beginning, byte for byte.
        for (const device::DeviceOptions* o : {&options, &cutOptions}) {
            const std::string partial = o->clipName + ".kelo.partial";
            if (expected.count(partial) == 0)
                continue;
            const std::vector<uint8_t> kept = testing::ReadFileBytes(f + partial);
            const std::vector<uint8_t> whole =
                device::GenerateClip(o->clipName, o->clipBytes, o->clipSeed);
            ASSERT_GT(kept.size(), 0u);
            ASSERT_LT(kept.size(), whole.size());
            EXPECT_TRUE(std::equal(kept.begin(), kept.end(), whole.begin()));
        }
        if (c.extra == kCheckedFirst) {
            EXPECT_EQ(before.rtspConnections, device.Counters().rtspConnections);
            EXPECT_EQ(before.httpConnections, device.Counters().httpConnections);
        }
    }
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
