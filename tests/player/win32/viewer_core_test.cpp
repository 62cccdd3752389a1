// The viewer without its COM shell, in a real window: the live picture read back from the screen,
// repaints that worker threads request without ever waiting for the window's thread, the
// windowless path through a container surface, and the Cancel button's mouse handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/test_pattern.h"
#include "player/player_registry.h"
#include "player/win32/viewer_core.h"
#include "tests/player/session_fixture.h"
#include "tests/player/win32/gdi_canvas.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

using testing::GdiCanvas;
using testing::LoopbackAddress;
using testing::LoopbackText;
using testing::Suite;
using testing::TestDevice;

std::string Url(int index) {
    return "rtsp://" + LoopbackText(Suite::Player, index) + "/live";
}

// Runs the thread's messages for ms milliseconds.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs)
            return false;
        Pump(10);
    }
    return true;
}

// A windowless container's surface: counts repaints asked for, and hands out `drawing` (when
// set) for drawing at once.
class RecordingSurface : public IContainerSurface {
public:
    void InvalidateInContainer(const RECT* rect) override {
        ++count;
        whole = rect == nullptr;
        if (rect != nullptr)
            last = *rect;
    }
    HDC GetDrawingDC(RECT* bounds) override {
        if (drawing == nullptr)
            return nullptr;
        ++handedOut;
        *bounds = drawingBounds;
        return drawing;
    }
    void ReleaseDrawingDC(HDC dc) override { handedBack += dc == drawing ? 1 : 0; }
    int count = 0;
    bool whole = false;
    RECT last = {};
    HDC drawing = nullptr;
    RECT drawingBounds = {};
    int handedOut = 0;
    int handedBack = 0;
};

class CountingJob : public IDownloadJob {
public:
    void AddRef() override { ++refs; }
    void Release() override { --refs; }
    void Cancel() override { ++cancels; }
    int refs = 0;
    int cancels = 0;
};

// A top-level window for the control's child window.
class Frame {
public:
    Frame(int width, int height) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "ViewerCoreTestFrame";
        RegisterClassA(&windowClass);
        RECT outer{0, 0, width, height};
        AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
        window_ =
            CreateWindowExA(0, "ViewerCoreTestFrame", "viewer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                            0, outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    }
    ~Frame() { DestroyWindow(window_); }
    HWND window() const { return window_; }

private:
    HWND window_ = nullptr;
};

// PSNR of the canvas's top-left width x height against packed R, G, B pixels.
double Psnr(const GdiCanvas& canvas, const uint8_t* rgb, int width, int height) {
    double squares = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t p = canvas.Pixel(x, y);
            const uint8_t* e = rgb + (static_cast<size_t>(y) * width + x) * 3;
            const int d[3] = {static_cast<int>(p >> 16 & 0xFF) - e[0],
                              static_cast<int>(p >> 8 & 0xFF) - e[1],
                              static_cast<int>(p & 0xFF) - e[2]};
            for (int v : d)
                squares += static_cast<double>(v) * v;
        }
    }
    const double mse = squares / (3.0 * width * height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The best PSNR of the canvas against the device's first three pictures (a device that stops
// after three frames shows one of them).
double BestPsnrOfFirstThree(const GdiCanvas& canvas, int width, int height) {
    std::vector<uint8_t> pattern(static_cast<size_t>(width) * height * 3);
    double best = 0;
    for (uint32_t n = 0; n < 3; ++n) {
        device::RenderTestPattern(width, height, n, pattern.data());
        best = std::max(best, Psnr(canvas, pattern.data(), width, height));
    }
    return best;
}

TEST(ViewerCore, WorkerThreadsOnlyPostWhileTheWindowThreadIsBlocked) {
    CViewerCore core;
    ASSERT_TRUE(core.IsValid());
    RecordingSurface surface;
    core.SetContainerSurface(&surface);

    // Worker threads notify the viewer of a download as download jobs do, through the registry,
    // each notice asking for a repaint, while this thread pumps nothing and waits for them. A
    // repaint request that waited for this thread would never return, and the wait below would
    // fail.
    const uint32_t address = LoopbackAddress(Suite::Player, 76);
    PlayerRegistry& registry = PlayerRegistry::Process();
    registry.Enter(address, &core.Session());
    HANDLE finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> running{4};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&registry, &running, address, finished, t] {
            for (int i = 0; i < 2000; ++i) {
                if ((i + t) % 2) {
                    registry.OnDownloadState(address, DownloadState::InProgress, CodecKind::DV,
                                             nullptr);
                } else {
                    registry.OnDownloadProgress(address, i);
                }
            }
            if (--running == 0)
                SetEvent(finished);
        });
    }
    EXPECT_EQ(WaitForSingleObject(finished, 60000), WAIT_OBJECT_0) << "a worker waited for us";
    for (std::thread& worker : workers)
        worker.join();
    CloseHandle(finished);
    EXPECT_EQ(surface.count, 0) << "nothing may run on this thread behind its back";

    // The 8000 requests arrive as one repaint of the whole control, on this thread.
    Pump(50);
    EXPECT_EQ(surface.count, 1);
    EXPECT_TRUE(surface.whole);

    // On this thread a repaint is asked for at once, for the bounds of the last paint.
    GdiCanvas canvas(200, 200);
    core.Draw(canvas.dc(), RECT{0, 10, 200, 200});
    registry.OnDownloadProgress(address, 1);
    EXPECT_EQ(surface.count, 2);
    EXPECT_FALSE(surface.whole);
    const RECT painted{0, 10, 200, 200};
    EXPECT_TRUE(EqualRect(&surface.last, &painted));
    registry.RemoveViewer(&core.Session());
}

TEST(ViewerCore, CancelButtonEdgesAreInsideAndOnlyAPressAndReleaseInsideCancels) {
    CViewerCore core;
    ASSERT_TRUE(core.IsValid());
    RecordingSurface surface;
    core.SetContainerSurface(&surface);
    CountingJob job;
    {
        platform::ScopedLock hold(RegistryLock());
        core.Session().OnDownloadState(DownloadState::InProgress, CodecKind::DV, &job);
    }
    const RECT bounds{10, 30, 330, 270};
    GdiCanvas released(340, 280), canvas(340, 280);
    core.Draw(released.dc(), bounds);  // the bounds the button is measured from

    struct Case {
        int downX, downY, upX, upY;
        bool pressed;  // after the press
        bool cancels;
    };
    // The button spans x 30..130 and y 130..150, both edges inside.
    const Case cases[] = {
        {30, 130, 30, 130, true, true},    // top-left corner
        {130, 150, 130, 150, true, true},  // bottom-right corner counts as inside
        {80, 140, 131, 140, true, false},  // released just right of the button
        {80, 140, 80, 151, true, false},   // released just below it
        {29, 140, 80, 140, false, false},  // pressed just left of it
        {80, 129, 80, 140, false, false},  // pressed just above it
    };
    const RECT button{30, 130, 130, 150};
    auto mouse = [&core](UINT message, int x, int y) {
        LRESULT result = 1;
        EXPECT_TRUE(core.HandleMouseMessage(message, 0, MAKELPARAM(x, y), &result));
        EXPECT_EQ(result, 0);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.downX << "," << c.downY << " -> " << c.upX << "," << c.upY);
        const int cancels = job.cancels;
        surface.count = 0;
        mouse(WM_LBUTTONDOWN, c.downX, c.downY);
        EXPECT_EQ(core.CancelPressed(), c.pressed);
        EXPECT_EQ(surface.count, 1);
        EXPECT_TRUE(EqualRect(&surface.last, &button));
        if (c.pressed) {
            core.Draw(canvas.dc(), bounds);
            EXPECT_FALSE(canvas.SameArea(released, button)) << "not drawn pressed";
        }
        mouse(WM_LBUTTONUP, c.upX, c.upY);
        EXPECT_FALSE(core.CancelPressed());
        EXPECT_EQ(job.cancels - cancels, c.cancels ? 1 : 0);
        EXPECT_EQ(surface.count, c.pressed ? 2 : 1);
    }
    // A release alone does nothing, inside or not.
    mouse(WM_LBUTTONUP, 80, 140);
    EXPECT_EQ(job.cancels, 2);
    {
        platform::ScopedLock hold(RegistryLock());
        IDownloadJob* previous =
            core.Session().OnDownloadState(DownloadState::Failed, CodecKind::DV, nullptr);
        if (previous != nullptr)
            previous->Release();
    }
    EXPECT_EQ(job.refs, 0);
}

TEST(ViewerCore, LivePictureInItsOwnWindowAndStopWhileFramesArePosted) {
    const int index = 60;
    TestDevice device;
    // Three frames, then silence: the newest picture stays the third until the session times out.
    ASSERT_TRUE(
        device.Start(LoopbackText(Suite::Player, index),
                     {"--size", "720x576", "--media-fault", "silence", "--fault-after", "3"}))
        << device.error();
    Frame frame(720, 576);
    ASSERT_NE(frame.window(), nullptr);
    // Stop waits for the session's threads without limit, so that it can only return if those
    // threads never wait for this one.
    SessionTiming unlimited;
    unlimited.stopGraceMs = INFINITE;
    CViewerCore core(unlimited);
    ASSERT_TRUE(core.IsValid());
    HWND child = core.CreateChildWindow(frame.window(), RECT{0, 0, 720, 576});
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)) & 0xFFFF0000u, 0x56000000u);

    core.Session().SetRectangle("0,0,720,576");
    UpdateWindow(child);
    EXPECT_EQ(core.PicturesPainted(), 0) << "a status screen is no picture";
    ASSERT_TRUE(core.Session().SetURL(Url(index).c_str()));
    ASSERT_TRUE(PumpUntil(
        [&] { return core.Session().Status() == static_cast<int32_t>(PlayerStatus::Playing); }));
    Pump(500);  // the last frame's repaint
    UpdateWindow(child);
    EXPECT_GE(core.PicturesPainted(), 1);

    GdiCanvas canvas(720, 576);
    HDC windowDC = GetDC(child);
    BitBlt(canvas.dc(), 0, 0, 720, 576, windowDC, 0, 0, SRCCOPY);
    ReleaseDC(child, windowDC);
    EXPECT_GE(BestPsnrOfFirstThree(canvas, 720, 576), 40.0)
        << "the painted window is not the device's picture";

    // Stop waits for the session's threads while this thread pumps nothing.
    core.Session().Stop();
    EXPECT_EQ(core.Session().Status(), static_cast<int32_t>(PlayerStatus::NotConnected));
    Pump(100);
}

TEST(ViewerCore, WindowlessNewPicturesAreDrawnAtOnceIntoTheContainersDC) {
    const int index = 64;
    TestDevice device;
    ASSERT_TRUE(
        device.Start(LoopbackText(Suite::Player, index),
                     {"--size", "352x288", "--media-fault", "silence", "--fault-after", "3"}))
        << device.error();
    CViewerCore core;
    ASSERT_TRUE(core.IsValid());
    RecordingSurface surface;
    core.SetContainerSurface(&surface);
    // The container's DC, with the control at (20, 10) in it.
    GdiCanvas container(400, 320), before(400, 320);
    surface.drawing = container.dc();
    surface.drawingBounds = RECT{20, 10, 372, 298};
    core.Session().SetRectangle("0,0,352,288");
    core.Draw(container.dc(), surface.drawingBounds);  // the container's first paint
    core.Draw(before.dc(), surface.drawingBounds);

    ASSERT_TRUE(core.Session().SetURL(Url(index).c_str()));
    ASSERT_TRUE(PumpUntil([&] { return core.PicturesPainted() >= 1; }));
    const int invalidations = surface.count;
    Pump(500);  // the other two frames
    EXPECT_EQ(surface.count, invalidations) << "a new picture went through invalidation";
    EXPECT_EQ(core.PicturesPainted(), surface.handedOut) << "every picture drawn at once";
    EXPECT_EQ(surface.handedBack, surface.handedOut);

    // The picture is where the container placed the control, and nothing else was touched.
    GdiCanvas picture(352, 288);
    BitBlt(picture.dc(), 0, 0, 352, 288, container.dc(), 20, 10, SRCCOPY);
    EXPECT_GE(BestPsnrOfFirstThree(picture, 352, 288), 40.0)
        << "the drawn picture is not the device's";
    EXPECT_TRUE(container.SameArea(before, RECT{0, 0, 400, 10}));
    EXPECT_TRUE(container.SameArea(before, RECT{0, 0, 20, 320}));
    EXPECT_TRUE(container.SameArea(before, RECT{372, 0, 400, 320}));
    EXPECT_TRUE(container.SameArea(before, RECT{0, 298, 400, 320}));
    core.Session().Stop();
    Pump(100);
}

}  // namespace
}  // namespace fluxmere
