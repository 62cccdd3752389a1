// fluxmere-viewer.exe with the real DLL against the device: the screenshot it saves is the
// device's picture, and the device's tone reaches the sound output.
#include <gtest/gtest.h>

#include <windows.h>

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
    ASSERT_EQ(static_cast<int32_t>(Le32(&bmp[22])), -576) << "rows top-down";
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

}  // namespace
}  // namespace fluxmere
