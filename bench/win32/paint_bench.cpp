// How long the viewer's video paint takes under Wine: the device stand-in streams at a size, the
// viewer plays it, and the paint (copy of the newest payload, decode, colour conversion, scaling,
// bitmap transfer, blit) runs again and again into a screen-compatible drawing context. Prints
// the medians of the calls' wall times, of the paint and of the render path alone.
//
//   paint_bench [--paints N]    (run through tests/wine/wine-run.sh; needs FLUXMERE_DEVICE_BIN)

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/win32/viewer_core.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace {

struct Case {
    int sourceWidth, sourceHeight, width, height;
};

bool PumpUntilPlaying(fluxmere::CViewerCore& core) {
    for (int i = 0; i < 2000; ++i) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (core.Session().Status() == static_cast<int32_t>(fluxmere::PlayerStatus::Playing)) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

int Measure(const Case& c, int index, int paints) {
    fluxmere::testing::DeviceProcess device;
    const std::string address =
        fluxmere::testing::LoopbackText(fluxmere::testing::Suite::Player, 250 + index);
    const std::string size = std::to_string(c.sourceWidth) + "x" + std::to_string(c.sourceHeight);
    if (!device.Start({"--address", address, "--no-http", "--size", size})) {
        std::fprintf(stderr, "paint_bench: %s\n", device.error().c_str());
        return 1;
    }
    fluxmere::CViewerCore core;
    core.Session().SetRectangle(
        ("0,0," + std::to_string(c.width) + "," + std::to_string(c.height)).c_str());
    core.Session().SetURL(("rtsp://" + address + "/live").c_str());
    if (!PumpUntilPlaying(core)) {
        std::fprintf(stderr, "paint_bench: no picture from the device\n");
        return 1;
    }
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, c.width, c.height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT bounds{0, 0, c.width, c.height};
    core.Draw(dc, bounds);  // the drawing objects are made on the first paint
    // Medians of the calls' wall times: on a shared machine a mean would carry every wait.
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto medianMs = [&](auto&& call) {
        std::vector<double> times;
        for (int i = 0; i < paints; ++i) {
            LARGE_INTEGER start, end;
            QueryPerformanceCounter(&start);
            call();
            QueryPerformanceCounter(&end);
            times.push_back(1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart);
        }
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double ms = medianMs([&] {
        core.Draw(dc, bounds);
        GdiFlush();
    });
    // The render path alone (decode, colour conversion, scaling), without GDI.
    fluxmere::RenderedPicture picture;
    const double renderMs = medianMs([&] { core.Session().RenderFrame(&picture); });
    std::printf(
        "paint %dx%d -> %dx%d: %.2f ms per frame, of which the render path %.2f ms "
        "(medians of %d paints)\n",
        c.sourceWidth, c.sourceHeight, c.width, c.height, ms, renderMs, paints);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    core.Session().Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int paints = 200;
    if (argc == 3 && std::strcmp(argv[1], "--paints") == 0)
        paints = std::atoi(argv[2]);
    if (paints <= 0)
        return 2;
    const Case cases[] = {{352, 288, 320, 240}, {720, 576, 720, 576}};
    int status = 0;
    int index = 1;
    for (const Case& c : cases)
        status |= Measure(c, index++, paints);
    return status;
}
