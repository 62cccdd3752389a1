// fluxmere-viewer.exe with the real DLL against the device: the screenshot it saves is the
// device's picture, and the device's tone reaches the sound output; its arguments and exit
// statuses as a user meets them.
#include <gtest/gtest.h>

#include <windows.h>
#include <winver.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "device/test_pattern.h"
#include "tests/support/device_process.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/wine_environment.h"
#include "tests/control/viewer_process.h"
#include "tools/camera_wall.h"

namespace fluxmere {
namespace {

using testing::DeviceProcess;
using testing::LoopbackText;
using testing::Suite;
using testing::WindowsPathOfUnixPath;

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// PSNR of a 24-bit top-down BMP against packed R, G, B pixels of the same size.
double PsnrOfBmp(const std::vector<uint8_t>& bmp, const uint8_t* rgb, int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    double squares = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = bmp.data() + 54 + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(row[3 * x + 2 - c]) -
                                 rgb[(static_cast<size_t>(y) * width + x) * 3 + c];
                squares += d * d;
            }
        }
    }
    const double mse = squares / (3.0 * width * height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST(ViewerHost, ScreenshotShowsTheDevicesPictureAndTheToneIsPlayed) {
    const char* folder = std::getenv("FLUXMERE_TEST_DIR");
    if (folder == nullptr)
        GTEST_SKIP() << "run under tests/wine/wine-run.sh";
    const int index = 75;
    DeviceProcess device;
    ASSERT_TRUE(device.Start(
        {"--address", LoopbackText(Suite::Player, index), "--no-http", "--size", "720x576"}))
        << device.error();

    const std::string shot = WindowsPathOfUnixPath(std::string(folder) + "/shot.bmp");
    std::string command = "\"" + WindowsPathOfUnixPath(FLUXMERE_VIEWER_EXE) + "\" --dll \"" +
                          WindowsPathOfUnixPath(FLUXMERE_LIBRARY_DLL) + "\" --url rtsp://" +
                          LoopbackText(Suite::Player, index) +
                          "/live --size 720x576 --seconds 2 --screenshot \"" + shot + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << command;
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);

    const std::vector<uint8_t> bmp = testing::ReadFileBytes(shot);
    ASSERT_GE(bmp.size(), 54u);
    ASSERT_EQ(bmp[0], 'B');
    ASSERT_EQ(static_cast<int32_t>(Le32(&bmp[18])), 720);
    // The picture, and the camera's strip under it; rows top-down.
    ASSERT_EQ(static_cast<int32_t>(Le32(&bmp[22])), -(576 + tools::kWallStripHeight));
    ASSERT_GE(bmp.size(), 54u + 720 * 3 * 576);
    std::vector<uint8_t> pattern(720 * 576 * 3);
    double best = 0;
    // The device numbers its frames from the start of the session; 25 a second.
    for (uint32_t n = 0; n < 150 && best < 40.0; ++n) {
        device::RenderTestPattern(720, 576, n, pattern.data());
        best = std::max(best, PsnrOfBmp(bmp, pattern.data(), 720, 576));
    }
    EXPECT_GE(best, 40.0);

    // At least a second of the tone went to the sound output, and it is not silence.
    const std::vector<uint8_t> played = testing::ReadAudioCapture();
    EXPECT_GE(played.size(), 192000u);
    EXPECT_TRUE(std::any_of(played.begin(), played.end(), [](uint8_t b) { return b != 0; }));
    EXPECT_TRUE(device.Stop());
}

struct ViewerRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};

// Runs the viewer with arguments until it ends (two minutes at most).
ViewerRun RunViewer(const std::string& folder, const std::string& arguments) {
    ViewerRun run;
    testing::ViewerProcess viewer(folder);
    if (viewer.Start(FLUXMERE_VIEWER_EXE, arguments))
        run.exitCode = viewer.Wait(120000);
    run.out = viewer.Out();
    run.err = viewer.Err();
    return run;
}

// "1.0.0.11": the version resource of the DLL.
std::string DllVersion(const std::string& dll) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll.c_str(), &ignored);
    std::vector<uint8_t> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(dll.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length))
        return "(no version)";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// Each row: the arguments, the exit status, a phrase of standard output or of standard error.
TEST(ViewerHost, ArgumentsAndExitStatusTellWhatHappened) {
    const char* folder = std::getenv("FLUXMERE_TEST_DIR");
    if (folder == nullptr)
        GTEST_SKIP() << "run under tests/wine/wine-run.sh";
    const std::string device = LoopbackText(Suite::Player, 76);
    const std::string nobody = LoopbackText(Suite::Player, 77);  // nothing listens there
    DeviceProcess process;
    ASSERT_TRUE(process.Start({"--address", device, "--no-http"})) << process.error();
    const std::string dll = "--dll \"" + WindowsPathOfUnixPath(FLUXMERE_LIBRARY_DLL) + "\" ";
    const std::string shot = WindowsPathOfUnixPath(std::string(folder) + "/shot");
    // A list of cameras with a comment, and one with a device and one with too many.
    const std::string list = WindowsPathOfUnixPath(std::string(folder) + "/cameras.txt");
    const std::string tooMany = WindowsPathOfUnixPath(std::string(folder) + "/many.txt");
    std::string seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen += "rtsp://" + device + "/live\n";
    ASSERT_TRUE(WriteText(list, "# the yard\r\nrtsp://" + device + "/live  # gate\r\n"));
    ASSERT_TRUE(WriteText(tooMany, seventeen));
    struct Case {
        std::string arguments;
        DWORD status;
        std::string out;  // a phrase of standard output ("" for none)
        std::string err;  // a phrase of standard error ("" for an empty one)
    };
    const Case cases[] = {
        {"--help", 0, "usage: fluxmere-viewer --url rtsp://HOST/PATH", ""},
        {"--version", 0, "fluxmere-viewer " + DllVersion(FLUXMERE_LIBRARY_DLL) + "\n", ""},
        {"--frobnicate", 2, "", "unknown flag --frobnicate"},
        {dll + "--url http://" + device + "/live", 2, "", "needs the device's stream, rtsp://"},
        {dll + "--url rtsp://" + device + ":8554/live", 2, "", "RTSP port is always 554"},
        {dll + "--url rtsp://" + device + "/live --screenshot \"" + shot + ".jpg\"", 2, "",
         "ending in .png or .bmp"},
        {dll + "--url rtsp://" + nobody + "/live --seconds 2", 1, "",
         "no picture from rtsp://" + nobody + "/live was shown"},
        {dll + "--url rtsp://" + device + ":554/live --seconds 2 --screenshot \"" + shot + ".png\"",
         0, "saved", ""},
        {dll + "--seconds 2", 2, "", "--url or --urls is required"},
        {dll + "--urls \"" + list + ".missing\"", 2, "", "cannot read --urls"},
        {dll + "--urls \"" + tooMany + "\"", 2, "", "at most 16 cameras, not 17"},
        {dll + "--url rtsp://" + nobody + "/live --urls \"" + list + "\" --seconds 2", 1,
         "cell 2 rtsp://" + device + "/live: playing",
         "no picture from rtsp://" + nobody + "/live was shown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ViewerRun run = RunViewer(folder, c.arguments);
        EXPECT_EQ(c.status, run.exitCode) << run.out << run.err;
        EXPECT_NE(std::string::npos, run.out.find(c.out)) << run.out;
        if (c.err.empty())
            EXPECT_EQ("", run.err);
        else
            EXPECT_NE(std::string::npos, run.err.find(c.err)) << run.err;
    }
    // Only the PNG that was asked for: no file under the refused name.
    EXPECT_TRUE(testing::ReadFileBytes(shot + ".jpg").empty());
    const std::vector<uint8_t> png = testing::ReadFileBytes(shot + ".png");
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG", 4));
    EXPECT_TRUE(process.Stop());
}

}  // namespace
}  // namespace fluxmere
