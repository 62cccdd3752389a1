// The download job against the recording-device stand-in: in-process natively, the device program
// under Wine. The stored file must equal the device's clip byte for byte.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "device/clip.h"
#include "platform/socket.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/support/loopback.h"

#ifdef _WIN32
#include "tests/support/device_process.h"
#else
#include "device/device.h"
#include "device/device_arguments.h"
#endif

namespace fluxmere::testing {
namespace {

using S = DownloadState;
constexpr uint64_t kMiB = 1048576;

// The device exporting one clip named "clip01" at the suite's address index.
class ExportDevice {
public:
    // flags: more of the device program's flags (its hostile modes).
    bool Start(int index, uint64_t clipBytes, const std::vector<std::string>& flags = {}) {
        std::vector<std::string> arguments = {"--address",
                                              LoopbackText(Suite::Download, index),
                                              "--no-rtsp",
                                              "--clip-name",
                                              "clip01",
                                              "--clip-bytes",
                                              std::to_string(clipBytes)};
        arguments.insert(arguments.end(), flags.begin(), flags.end());
#ifdef _WIN32
        return process_.Start(arguments);
#else
        std::vector<const char*> argv = {"fluxmere-device"};
        for (const std::string& argument : arguments)
            argv.push_back(argument.c_str());
        device::ProgramOptions program;
        std::string error;
        if (!device::ParseDeviceArguments(static_cast<int>(argv.size()), argv.data(), &program,
                                          &error)) {
            ADD_FAILURE() << error;
            return false;
        }
        device_ = std::make_unique<device::Device>(program.device);
        return device_->Start();
#endif
    }
    void Stop() {
#ifdef _WIN32
        EXPECT_TRUE(process_.Stop());
#else
        device_->Stop();
#endif
    }

private:
#ifdef _WIN32
    DeviceProcess process_;
#else
    std::unique_ptr<device::Device> device_;
#endif
};

std::string ExpectedClip(uint64_t size) {
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", size, 1);
    return std::string(clip.begin(), clip.end());
}

class DeviceExport : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitSockets();
        notices.Clear();
    }
    DownloadLinks Links() {
        DownloadLinks links;
        links.notices = &notices;
        return links;
    }
    NoticeLog notices;
};

TEST_F(DeviceExport, StoresEveryClipByteForByteWithItsStatesAndProgress) {
    struct Case {
        int index;
        uint64_t size;
        int64_t blocks;
        std::vector<S> states;
        std::vector<int64_t> progress;
    } cases[] = {
        {30, 0, 0, {S::AwaitingStart, S::Complete}, {}},
        {31, 1, 1, {S::AwaitingStart, S::Complete}, {}},
        {32, 524288, 1, {S::AwaitingStart, S::Complete}, {}},
        {33, 3 * kMiB, 6, {S::AwaitingStart, S::InProgress, S::Complete}, {1572864, 3145728}},
        {34, 40 * kMiB, 80, {S::AwaitingStart, S::InProgress, S::Complete}, {}},
    };
    // Blocks of 512 KiB report every third block: at 1.5, 3, ... 39 MiB.
    for (int64_t bytes = 1572864; bytes <= int64_t{40 * kMiB}; bytes += 1572864)
        cases[4].progress.push_back(bytes);
    for (const Case& c : cases) {
        notices.Clear();
        ExportDevice device;
        ASSERT_TRUE(device.Start(c.index, c.size));
        ScratchFolder folder("device");
        TestProbe probe;
        RecordingJobList rows;
        DownloadLinks links = Links();
        links.jobList = &rows;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(LoopbackText(Suite::Download, c.index), "DVCPRO"),
                                folder.path(), 0, links, probe));
        device.Stop();

        EXPECT_EQ(folder.FileNames(), std::vector<std::string>({"clip01.kelo"})) << c.size;
        EXPECT_TRUE(folder.ReadFile("clip01.kelo") == ExpectedClip(c.size)) << c.size;
        EXPECT_EQ(rows.Rows(), std::vector<std::string>({"clip01.kelo"}));
        EXPECT_EQ(probe.blocksWritten, c.blocks) << c.size;
        EXPECT_EQ(notices.States(), c.states) << c.size;
        EXPECT_EQ(notices.Progress(), c.progress) << c.size;
    }
}

TEST_F(DeviceExport, WriterSlowerThanTheNetworkFillsTheQueueWithoutLosingAByte) {
    ExportDevice device;
    ASSERT_TRUE(device.Start(36, 40 * kMiB));
    ScratchFolder folder("slow");
    TestProbe probe;
    probe.holdWriterUntilQueueFull = true;  // nothing is written until every block is in use
    ASSERT_TRUE(RunJobToEnd(ExportUrl(LoopbackText(Suite::Download, 36)), folder.path(), 0, Links(),
                            probe));
    device.Stop();
    EXPECT_GE(probe.queueFullCount, 1);
    EXPECT_TRUE(folder.ReadFile("clip01.kelo") == ExpectedClip(40 * kMiB));
    EXPECT_EQ(notices.States().back(), S::Complete);
}

// The device's hostile export modes: a download is Complete only with the clip byte for byte.
TEST_F(DeviceExport, HostileExportsAreNeverTakenForACompleteClip) {
    struct Case {
        const char* what;
        int index;
        std::vector<std::string> flags;
        S last;
        bool file;
    } cases[] = {
        {"chunk extensions", 50, {"--chunk-extensions"}, S::Complete, true},
        {"no zero-size chunk", 51, {"--no-last-chunk"}, S::Complete, true},
        {"an error page", 52, {"--export-status", "404"}, S::Failed, false},
        {"a Content-Length body", 53, {"--content-length-body"}, S::Failed, false},
        {"a reset mid-body", 54, {"--reset-after-bytes", "1000000"}, S::Failed, true},
    };
    const std::string clip = ExpectedClip(3 * kMiB);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        notices.Clear();
        ExportDevice device;
        ASSERT_TRUE(device.Start(c.index, 3 * kMiB, c.flags));
        ScratchFolder folder("hostile");
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(LoopbackText(Suite::Download, c.index)), folder.path(), 0,
                                Links(), probe));
        device.Stop();
        ASSERT_FALSE(notices.States().empty());
        EXPECT_EQ(notices.States().back(), c.last);
        if (!c.file) {
            EXPECT_TRUE(folder.FileNames().empty());
            continue;
        }
        const std::string stored = folder.ReadFile("clip01.kelo");
        if (c.last == S::Complete) {
            EXPECT_TRUE(stored == clip);
        } else {
            EXPECT_LT(stored.size(), clip.size());
            EXPECT_TRUE(stored == clip.substr(0, stored.size()));
        }
    }
}

}  // namespace
}  // namespace fluxmere::testing
