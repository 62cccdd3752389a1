// The control hosted by atl.dll's ActiveX host: it activates windowless there, shows its status
// screen, then the device's live picture repainted frame after frame, and "In use by other
// user" against a busy device. The pictures are read back from the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "decode/resize/resize.h"
#include "device/test_pattern.h"
#include "tests/control/atl_host.h"
#include "tests/control/test_viewer.h"
#include "tests/player/session_fixture.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::AtlHost;
using testing::Capture;
using testing::GdiCanvas;
using testing::LoopbackText;
using testing::Pump;
using testing::PumpUntil;
using testing::Suite;
using testing::TestDevice;
using testing::TestViewer;

std::string Url(int index) {
    return "rtsp://" + LoopbackText(Suite::Player, index) + "/live";
}

// A top-level window with a client area of width x height for the host to take over.
HWND MakeHostWindow(int width, int height) {
    static const ATOM atom = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "AtlHostTestWindow";
        return RegisterClassA(&windowClass);
    }();
    (void)atom;
    RECT outer{0, 0, width, height};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    return CreateWindowExA(0, "AtlHostTestWindow", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                           outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

// The viewer embedded in atl.dll's host inside its own top-level window.
class Hosted {
public:
    Hosted(AtlHost& atl, int width, int height) : window_(MakeHostWindow(width, height)) {
        viewer_ = new TestViewer;
        result_ = atl.attach(viewer_->unknown(), window_, &container_);
    }
    ~Hosted() {
        viewer_->Control().Core().Session().Stop();
        DestroyWindow(window_);  // the host lets go of the control
        if (container_ != nullptr)
            container_->Release();
        Pump(20);
        viewer_->Release();
    }
    HRESULT result() const { return result_; }
    HWND window() const { return window_; }
    COleControl& control() { return viewer_->Control(); }
    CPlayerSession& session() { return viewer_->Control().Core().Session(); }

private:
    HWND window_;
    TestViewer* viewer_ = nullptr;
    IUnknown* container_ = nullptr;
    HRESULT result_ = E_FAIL;
};

uint32_t ExpectedBand(int i, int height) {
    const int m = (2 * i * 255 + height) / (2 * height);
    const int d = m >= 128 ? (m - 128) / 4 : -((128 - m + 3) / 4);
    const int c = 32 - std::abs(d);
    return static_cast<uint32_t>(((235 - c) << 16) | ((238 - c) << 8) | (240 - c));
}

// Rows from 40 down hold no text: they must be the gradient exactly; the text rows must not.
void ExpectStatusScreen(const GdiCanvas& canvas) {
    for (int y = 40; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); x += 5) {
            ASSERT_EQ(canvas.Pixel(x, y), ExpectedBand(y, canvas.height())) << x << "," << y;
        }
    }
    bool text = false;
    for (int y = 0; y < 16 && !text; ++y) {
        for (int x = 0; x < 120 && !text; ++x)
            text = canvas.Pixel(x, y) != ExpectedBand(y, canvas.height());
    }
    EXPECT_TRUE(text) << "no status text";
}

double Psnr(const GdiCanvas& canvas, const uint8_t* rgb) {
    double squares = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const uint32_t p = canvas.Pixel(x, y);
            const uint8_t* e = rgb + (static_cast<size_t>(y) * canvas.width() + x) * 3;
            const int d[3] = {static_cast<int>(p >> 16 & 0xFF) - e[0],
                              static_cast<int>(p >> 8 & 0xFF) - e[1],
                              static_cast<int>(p & 0xFF) - e[2]};
            for (int v : d)
                squares += static_cast<double>(v) * v;
        }
    }
    const double mse = squares / (3.0 * canvas.width() * canvas.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The best match of the picture among the device's first frames, scaled as the viewer scales.
double BestMatch(const GdiCanvas& canvas, int width, int height, uint32_t frames) {
    std::vector<uint8_t> pattern(static_cast<size_t>(width) * height * 3);
    std::vector<uint8_t> scaled(static_cast<size_t>(canvas.width()) * canvas.height() * 3);
    double best = 0;
    for (uint32_t n = 0; n < frames; ++n) {
        device::RenderTestPattern(width, height, n, pattern.data());
        const uint8_t* reference = pattern.data();
        if (canvas.width() != width || canvas.height() != height) {
            ResizeRGB(pattern.data(), width, height, width * 3, 0, 0, width, height, scaled.data(),
                      canvas.width() * 3, canvas.width(), canvas.height(),
                      static_cast<double>(canvas.width()) / width,
                      static_cast<double>(canvas.height()) / height, CubicMode);
            reference = scaled.data();
        }
        best = std::max(best, Psnr(canvas, reference));
    }
    return best;
}

struct Com {
    Com() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Com() { CoUninitialize(); }
};

TEST(AtlHosted, ActivatesWindowlessAndShowsNotConnected) {
    Com com;
    AtlHost atl;
    ASSERT_TRUE(atl.IsValid());
    Hosted hosted(atl, 320, 240);
    ASSERT_EQ(hosted.result(), S_OK);
    EXPECT_TRUE(hosted.control().IsInPlaceActive());
    EXPECT_TRUE(hosted.control().IsWindowless()) << "the host allows windowless activation";
    Pump(100);
    InvalidateRect(hosted.window(), nullptr, FALSE);
    GdiCanvas canvas(320, 240);
    Capture(hosted.window(), canvas);
    ExpectStatusScreen(canvas);
}

struct LiveCase {
    int index;
    int sourceWidth, sourceHeight;
    int width, height;
};

class AtlHostedLive : public ::testing::TestWithParam<LiveCase> {};

TEST_P(AtlHostedLive, PaintsTheDevicesPicture) {
    const LiveCase c = GetParam();
    Com com;
    AtlHost atl;
    ASSERT_TRUE(atl.IsValid());
    TestDevice device;
    const std::string size = std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight);
    // Three frames and then silence: the third stays on screen until the session times out.
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, c.index),
                             {"--size", size, "--media-fault", "silence", "--fault-after", "3"}))
        << device.error();
    Hosted hosted(atl, c.width, c.height);
    ASSERT_EQ(hosted.result(), S_OK);
    hosted.session().SetRectangle(
        ("0,0," + std::to_string(c.width) + "," + std::to_string(c.height)).c_str());
    ASSERT_TRUE(hosted.session().SetURL(Url(c.index).c_str()));
    ASSERT_TRUE(PumpUntil(
        [&] { return hosted.session().Status() == static_cast<int32_t>(PlayerStatus::Playing); }));
    Pump(400);
    GdiCanvas canvas(c.width, c.height);
    Capture(hosted.window(), canvas);
    const double psnr = BestMatch(canvas, c.sourceWidth, c.sourceHeight, 3);
    RecordProperty("psnr", std::to_string(psnr));
    EXPECT_GE(psnr, 40.0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, AtlHostedLive,
                         ::testing::Values(LiveCase{70, 352, 288, 320, 240},
                                           LiveCase{71, 720, 576, 720, 576}),
                         [](const ::testing::TestParamInfo<LiveCase>& info) {
                             return std::to_string(info.param.sourceWidth) + "to" +
                                    std::to_string(info.param.width);
                         });

TEST(AtlHosted, RepaintsFrameAfterFrame) {
    Com com;
    AtlHost atl;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, 72), {})) << device.error();
    Hosted hosted(atl, 320, 240);
    ASSERT_EQ(hosted.result(), S_OK);
    ASSERT_TRUE(hosted.session().SetURL(Url(72).c_str()));
    ASSERT_TRUE(PumpUntil(
        [&] { return hosted.session().Status() == static_cast<int32_t>(PlayerStatus::Playing); }));
    // The moving bar and the frame number change the picture on every frame.
    GdiCanvas first(320, 240), later(320, 240);
    Pump(200);
    Capture(hosted.window(), first);
    Pump(400);
    Capture(hosted.window(), later);
    EXPECT_FALSE(first.SameArea(later, RECT{0, 0, 320, 240})) << "the picture did not move on";
}

TEST(AtlHosted, ShowsInUseByOtherUserForABusyDevice) {
    Com com;
    AtlHost atl;
    TestDevice device;
    ASSERT_TRUE(device.Start(LoopbackText(Suite::Player, 73), {"--busy"})) << device.error();
    Hosted hosted(atl, 320, 240);
    ASSERT_EQ(hosted.result(), S_OK);
    GdiCanvas notConnected(320, 240);
    Pump(100);
    Capture(hosted.window(), notConnected);
    ASSERT_TRUE(hosted.session().SetURL(Url(73).c_str()));
    ASSERT_TRUE(PumpUntil([&] {
        return hosted.session().Status() == static_cast<int32_t>(PlayerStatus::InUseByOtherUser);
    }));
    Pump(200);
    GdiCanvas busy(320, 240);
    Capture(hosted.window(), busy);
    ExpectStatusScreen(busy);
    EXPECT_FALSE(busy.SameArea(notConnected, RECT{0, 0, 320, 16})) << "still the old text";
}

}  // namespace
}  // namespace fluxmere
