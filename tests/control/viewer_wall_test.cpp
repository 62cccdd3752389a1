// fluxmere-viewer.exe's camera wall with the real DLL against several device stand-ins, each told
// apart by its colour bars and its tone: every camera in its cell, cameras that go away, freeze or
// never answer coming back by themselves while the others play on, and the selected camera alone
// heard, saved and shown full window.
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
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
using testing::ViewerProcess;
using testing::WindowsPathOfUnixPath;
using tools::WallCell;
using tools::WallRect;

// The devices' picture size, and each camera's picture in the wall.
constexpr int kWidth = 176;
constexpr int kHeight = 144;

// A click (or a double click) on cell `index`'s strip, in a side x side wall.
void ClickCell(HWND frame, int index, int side, bool doubleClick) {
    RECT client;
    GetClientRect(frame, &client);
    const WallRect cell = WallCell(index, side, client.right, client.bottom);
    const LPARAM at = MAKELPARAM(cell.left + 10, cell.bottom - 5);
    PostMessageA(frame, doubleClick ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(frame, WM_LBUTTONUP, 0, at);
}

void PressKey(HWND frame, WPARAM key) {
    PostMessageA(frame, WM_KEYDOWN, key, 1);
    PostMessageA(frame, WM_KEYUP, key, 0xC0000001);
}

// The frame's commands: what Ctrl+S and Ctrl+Shift+S send.
constexpr WORD kCommandSnapshot = 101;
constexpr WORD kCommandSnapshotAll = 102;

// The viewer with the DLL under test.
bool StartViewer(ViewerProcess& viewer, const std::string& arguments) {
    return viewer.Start(
        FLUXMERE_VIEWER_EXE,
        "--dll \"" + WindowsPathOfUnixPath(FLUXMERE_LIBRARY_DLL) + "\" " + arguments);
}

// The stand-ins of a test, each on its own address with its own bars and tone.
struct Camera {
    int index;      // of its loopback address
    int barsShift;  // 0 to 7
    int toneHz;
    std::string address() const { return LoopbackText(Suite::Player, index); }
    std::string url() const { return "rtsp://" + address() + "/live"; }
    std::vector<std::string> arguments() const {
        return {"--address",
                address(),
                "--no-http",
                "--size",
                "176x144",
                "--tone",
                std::to_string(toneHz),
                "--bars-shift",
                std::to_string(barsShift)};
    }
};

std::string UrlArguments(const std::vector<Camera>& cameras) {
    std::string arguments;
    for (const Camera& camera : cameras)
        arguments += "--url " + camera.url() + " ";
    return arguments;
}

// R, G, B rows top-down.
struct RgbPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// A 24-bit top-down BMP as the viewer writes it.
bool ReadBmp(const std::vector<uint8_t>& bmp, RgbPicture* picture) {
    if (bmp.size() < 54 || bmp[0] != 'B' || static_cast<int32_t>(Le32(&bmp[22])) >= 0)
        return false;
    picture->width = static_cast<int32_t>(Le32(&bmp[18]));
    picture->height = -static_cast<int32_t>(Le32(&bmp[22]));
    const size_t stride = (static_cast<size_t>(picture->width) * 3 + 3) & ~size_t{3};
    if (bmp.size() < 54 + stride * picture->height)
        return false;
    picture->rgb.resize(static_cast<size_t>(picture->width) * picture->height * 3);
    for (int y = 0; y < picture->height; ++y) {
        for (int x = 0; x < picture->width; ++x) {
            const uint8_t* bgr = &bmp[54 + stride * y + 3 * x];
            uint8_t* rgb = &picture->rgb[(static_cast<size_t>(y) * picture->width + x) * 3];
            rgb[0] = bgr[2];
            rgb[1] = bgr[1];
            rgb[2] = bgr[0];
        }
    }
    return true;
}

// An 8-bit RGB PNG whose pixels are stored uncompressed, with no row filters (as the viewer
// writes them).
bool ReadPng(const std::vector<uint8_t>& png, RgbPicture* picture) {
    if (png.size() < 33 || std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8) != 0)
        return false;
    std::vector<uint8_t> zlib;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = Be32(&png[at]);
        if (at + 12 + length > png.size())
            return false;
        const uint8_t* data = &png[at + 8];
        if (std::memcmp(&png[at + 4], "IHDR", 4) == 0) {
            picture->width = static_cast<int>(Be32(data));
            picture->height = static_cast<int>(Be32(data + 4));
            if (data[8] != 8 || data[9] != 2)
                return false;
        } else if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) {
            zlib.insert(zlib.end(), data, data + length);
        }
        at += 12 + length;
    }
    std::vector<uint8_t> raw;
    for (size_t at = 2; at + 5 <= zlib.size();) {  // after the zlib header: stored blocks
        const bool last = zlib[at] & 1;
        if ((zlib[at] >> 1) != 0)
            return false;
        const size_t length = zlib[at + 1] | (zlib[at + 2] << 8);
        if (at + 5 + length > zlib.size())
            return false;
        raw.insert(raw.end(), &zlib[at + 5], &zlib[at + 5] + length);
        at += 5 + length;
        if (last)
            break;
    }
    const size_t row = static_cast<size_t>(picture->width) * 3 + 1;
    if (picture->width <= 0 || raw.size() != row * picture->height)
        return false;
    picture->rgb.clear();
    for (int y = 0; y < picture->height; ++y) {
        if (raw[row * y] != 0)
            return false;
        picture->rgb.insert(picture->rgb.end(), &raw[row * y + 1], &raw[row * (y + 1)]);
    }
    return true;
}

// How many of the eight colour bars of the area (left, top, width x height of the picture) have
// the colours of a stand-in whose bars start barsShift places on.
int MatchingBars(const RgbPicture& picture, int left, int top, int width, int height,
                 int barsShift) {
    int matching = 0;
    for (int bar = 0; bar < 8; ++bar) {
        const uint32_t colour = device::BarColour(bar, barsShift);
        const uint8_t* p = picture.at(left + (2 * bar + 1) * width / 16, top + height / 3);
        const int want[3] = {static_cast<int>(colour >> 16), static_cast<int>((colour >> 8) & 255),
                             static_cast<int>(colour & 255)};
        bool close = true;
        for (int c = 0; c < 3; ++c)
            close = close && std::abs(p[c] - want[c]) <= 40;
        matching += close ? 1 : 0;
    }
    return matching;
}

// Power of one frequency in the left channel of 16-bit stereo at 48000 Hz (Goertzel).
double TonePower(const std::vector<uint8_t>& pcm, size_t firstByte, int hz) {
    const double k = 2 * std::cos(2 * 3.14159265358979 * hz / device::kSampleRate);
    double s1 = 0, s2 = 0;
    for (size_t at = firstByte & ~size_t{3}; at + 4 <= pcm.size(); at += 4) {
        const double x = static_cast<int16_t>(pcm[at] | (pcm[at + 1] << 8));
        const double s = x + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

class ViewerWall : public ::testing::Test {
protected:
    void SetUp() override {
        const char* folder = std::getenv("FLUXMERE_TEST_DIR");
        if (folder == nullptr)
            GTEST_SKIP() << "run under tests/wine/wine-run.sh";
        folder_ = folder;
    }

    // Starts a stand-in for each camera; false after a failure was recorded.
    bool StartDevices(const std::vector<Camera>& cameras) {
        for (const Camera& camera : cameras) {
            devices_.push_back(std::make_unique<DeviceProcess>());
            if (!devices_.back()->Start(camera.arguments())) {
                ADD_FAILURE() << devices_.back()->error();
                return false;
            }
        }
        return true;
    }

    void TearDown() override {
        for (auto& device : devices_) {
            if (device->running()) {
                EXPECT_TRUE(device->Stop());
            }
        }
    }

    std::string folder_;
    std::vector<std::unique_ptr<DeviceProcess>> devices_;
};

TEST_F(ViewerWall, FourCamerasPlayInTheirCellsAndTheSelectedOneIsHeardSavedAndShownAlone) {
    const std::vector<Camera> cameras = {
        {140, 0, 1000}, {141, 2, 2000}, {142, 4, 3000}, {143, 6, 4000}};
    ASSERT_TRUE(StartDevices(cameras));
    const std::string snapshots = folder_ + "/snapshots";
    CreateDirectoryA(WindowsPathOfUnixPath(snapshots).c_str(), nullptr);
    const std::string wall = WindowsPathOfUnixPath(folder_ + "/wall.bmp");

    // First the whole wall, as it is at the end.
    {
        ViewerProcess viewer(folder_);
        ASSERT_TRUE(StartViewer(
            viewer,
            UrlArguments(cameras) + "--size 176x144 --seconds 4 --screenshot \"" + wall + "\""));
        EXPECT_EQ(viewer.Wait(120000), 0u) << viewer.Out() << viewer.Err();
        for (const Camera& camera : cameras) {
            EXPECT_NE(viewer.Out().find(camera.url() + ": playing"), std::string::npos)
                << viewer.Out();
        }
        RgbPicture shot;
        ASSERT_TRUE(ReadBmp(testing::ReadFileBytes(folder_ + "/wall.bmp"), &shot));
        ASSERT_EQ(shot.width, 2 * kWidth);
        ASSERT_EQ(shot.height, 2 * (kHeight + tools::kWallStripHeight));
        for (int cell = 0; cell < 4; ++cell) {
            SCOPED_TRACE(cell);
            const WallRect place = WallCell(cell, 2, shot.width, shot.height);
            EXPECT_EQ(
                MatchingBars(shot, place.left, place.top, kWidth, kHeight, cameras[cell].barsShift),
                8);
        }
    }

    // Then the third camera selected: heard alone, saved, and double clicked to fill the window
    // (double click, Esc, double click: alone again).
    ViewerProcess viewer(folder_);
    ASSERT_TRUE(StartViewer(
        viewer, UrlArguments(cameras) + "--size 176x144 --seconds 12 --snapshots \"" +
                    WindowsPathOfUnixPath(snapshots) + "\" --screenshot \"" + wall + "\""));
    std::vector<std::string> playing;
    for (const Camera& camera : cameras)
        playing.push_back(camera.url() + ": playing");
    ASSERT_TRUE(viewer.WaitForOutput(playing, 60000)) << viewer.Out() << viewer.Err();
    ASSERT_NE(viewer.Frame(), nullptr);
    ClickCell(viewer.Frame(), 2, 2, false);
    ASSERT_TRUE(viewer.WaitForOutput({"cell 3 " + cameras[2].url() + ": selected"}, 10000))
        << viewer.Out();
    Sleep(2500);
    PostMessageA(viewer.Frame(), WM_COMMAND, kCommandSnapshot, 0);
    ASSERT_TRUE(viewer.WaitForOutput({"saved"}, 10000)) << viewer.Out() << viewer.Err();
    EXPECT_EQ(testing::FolderNames(snapshots).size(), 1u);
    // Names go by the second: the selected camera's next snapshot may take this one's name or the
    // next second's, so this one goes before every camera's are saved.
    for (const std::string& name : testing::FolderNames(snapshots))
        DeleteFileA(WindowsPathOfUnixPath(snapshots + "/" + name).c_str());
    PostMessageA(viewer.Frame(), WM_COMMAND, kCommandSnapshotAll, 0);
    ClickCell(viewer.Frame(), 2, 2, true);
    PressKey(viewer.Frame(), VK_ESCAPE);
    ClickCell(viewer.Frame(), 2, 2, true);
    EXPECT_EQ(viewer.Wait(120000), 0u) << viewer.Out() << viewer.Err();

    // Only the selected camera's tone at the end, and never the tones of the two that never were
    // selected.
    const std::vector<uint8_t> heard = testing::ReadAudioCapture();
    ASSERT_GE(heard.size(), 192000u);
    const size_t lastSecond = heard.size() - 192000;
    const double selected = TonePower(heard, lastSecond, 3000);
    EXPECT_GT(selected, 1e12);
    for (int other : {1000, 2000, 4000}) {
        SCOPED_TRACE(other);
        EXPECT_LT(TonePower(heard, lastSecond, other), selected / 100);
    }
    EXPECT_LT(TonePower(heard, 0, 2000), TonePower(heard, 0, 3000) / 100);
    EXPECT_LT(TonePower(heard, 0, 4000), TonePower(heard, 0, 3000) / 100);

    // One snapshot of every camera, each a PNG of that camera's picture.
    const std::set<std::string> names = testing::FolderNames(snapshots);
    EXPECT_EQ(names.size(), 4u);
    for (size_t i = 0; i < cameras.size(); ++i) {
        SCOPED_TRACE(cameras[i].url());
        const std::string prefix = cameras[i].address() + "_live_";
        int found = 0;
        for (const std::string& name : names) {
            if (name.compare(0, prefix.size(), prefix) != 0)
                continue;
            ++found;
            EXPECT_EQ(name.substr(name.size() - 4), ".png");
            RgbPicture snapshot;
            ASSERT_TRUE(ReadPng(testing::ReadFileBytes(snapshots + "/" + name), &snapshot));
            EXPECT_EQ(snapshot.width, kWidth);
            EXPECT_EQ(snapshot.height, kHeight);
            EXPECT_EQ(MatchingBars(snapshot, 0, 0, kWidth, kHeight, cameras[i].barsShift), 8);
        }
        EXPECT_EQ(found, 1);
    }

    // The third camera alone fills the window, its strip under it.
    RgbPicture shot;
    ASSERT_TRUE(ReadBmp(testing::ReadFileBytes(folder_ + "/wall.bmp"), &shot));
    EXPECT_EQ(MatchingBars(shot, 0, 0, shot.width, shot.height - tools::kWallStripHeight,
                           cameras[2].barsShift),
              8);
}

TEST_F(ViewerWall, CamerasThatGoAwayFreezeOrNeverAnswerComeBackWhileTheOthersPlayOn) {
    const Camera steady{144, 0, 1000}, away{145, 2, 2000}, freezing{146, 4, 3000};
    const Camera nobody{147, 6, 4000};  // nothing ever listens there
    ASSERT_TRUE(StartDevices({steady, away}));
    devices_.push_back(std::make_unique<DeviceProcess>());
    std::vector<std::string> freezingArguments = freezing.arguments();
    freezingArguments.insert(freezingArguments.end(),
                             {"--media-fault", "trickle", "--fault-after", "25"});
    ASSERT_TRUE(devices_.back()->Start(freezingArguments)) << devices_.back()->error();

    const std::string shot = WindowsPathOfUnixPath(folder_ + "/wall.bmp");
    ViewerProcess viewer(folder_);
    ASSERT_TRUE(StartViewer(viewer, UrlArguments({steady, away, freezing, nobody}) +
                                        "--size 176x144 --seconds 20 --screenshot \"" + shot +
                                        "\""));
    ASSERT_TRUE(viewer.WaitForOutput({away.url() + ": playing"}, 60000)) << viewer.Out();
    // The second device goes away for a while, and a new one comes on its address.
    Sleep(1000);
    ASSERT_TRUE(devices_[1]->Stop());
    ASSERT_TRUE(viewer.WaitForOutput({away.url() + ": not connected, reconnecting in 1 s"}, 20000))
        << viewer.Out();
    Sleep(2000);
    ASSERT_TRUE(devices_[1]->Start(away.arguments())) << devices_[1]->error();
    EXPECT_EQ(viewer.Wait(120000), 1u) << viewer.Out() << viewer.Err();

    const std::string out = viewer.Out();
    const auto after = [&out](const std::string& first, const std::string& then) {
        const size_t at = out.find(first);
        return at != std::string::npos && out.find(then, at) != std::string::npos;
    };
    // The steady camera played throughout.
    EXPECT_TRUE(after(steady.url() + ": playing", "")) << out;
    EXPECT_EQ(out.find(steady.url() + ": not connected"), std::string::npos) << out;
    EXPECT_EQ(out.find(steady.url() + ": frozen"), std::string::npos) << out;
    // The camera that went away came back, the frozen one was started again and played.
    EXPECT_TRUE(after(away.url() + ": not connected, reconnecting", away.url() + ": playing"))
        << out;
    EXPECT_TRUE(
        after(freezing.url() + ": frozen, reconnecting in 1 s", freezing.url() + ": playing"))
        << out;
    // The one that never answers waits longer each time.
    EXPECT_TRUE(after(nobody.url() + ": cannot connect, reconnecting in 1 s",
                      nobody.url() + ": cannot connect, reconnecting in 2 s"))
        << out;
    EXPECT_TRUE(after(nobody.url() + ": cannot connect, reconnecting in 2 s",
                      nobody.url() + ": cannot connect, reconnecting in 4 s"))
        << out;
    // Only that one was never shown.
    const std::string err = viewer.Err();
    EXPECT_NE(err.find("no picture from " + nobody.url() + " was shown"), std::string::npos) << err;
    EXPECT_EQ(err.find("no picture from " + away.url()), std::string::npos) << err;

    // The camera that came back shows its picture in its cell again.
    RgbPicture wall;
    ASSERT_TRUE(ReadBmp(testing::ReadFileBytes(folder_ + "/wall.bmp"), &wall));
    for (int cell : {0, 1}) {
        SCOPED_TRACE(cell);
        const WallRect place = WallCell(cell, 2, wall.width, wall.height);
        EXPECT_EQ(MatchingBars(wall, place.left, place.top, kWidth, kHeight, cell * 2), 8);
    }
}

}  // namespace
}  // namespace fluxmere
