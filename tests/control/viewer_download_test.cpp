// The viewer and the download manager of FluxmereLibrary.dll in one process, as a page has them:
// the viewer watches the device stand-in in our container, the download manager is handed the
// device's clip export through a URL moniker, and the viewer's download panel follows the real
// job. Its Cancel button, clicked with the mouse, ends the real transfer.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>
#include <string>
#include <vector>

#include "device/clip.h"
#include "download/download_notices.h"
#include "download/win32/download_manager_window.h"
#include "fluxmere_library.h"
#include "player/player_status.h"
#include "player/win32/viewer_painter.h"
#include "platform/socket.h"
#include "tests/support/library_classes.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"
#include "tests/download/job_fixture.h"
#include "tests/download/win32/registry_sandbox.h"
#include "tests/download/win32/window_probe.h"
#include "tests/player/win32/gdi_canvas.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

constexpr int kPanelLineHeight = 20;  // the panel's lines, each in its own band from the top
constexpr int kMaxMegabytes = 64;

// What the panel shows, read back from the screen line by line against the painter's own
// drawing of each possible text; -1 where no text matches.
struct PanelReading {
    int state = -1;
    int codec = -1;
    int megabytes = -1;
    bool operator<(const PanelReading& o) const {
        return std::tie(state, codec, megabytes) < std::tie(o.state, o.codec, o.megabytes);
    }
};

class PanelReader {
public:
    PanelReader(int width, int height) : width_(width), height_(height) {
        for (int state = 0; state <= 6; ++state)
            states_.push_back(Reference([&](ViewerScreen& s) { s.downloadState = state; }));
        for (int codec = 0; codec <= 6; ++codec)
            codecs_.push_back(Reference([&](ViewerScreen& s) { s.downloadCodec = codec; }));
        for (int mb = 0; mb <= kMaxMegabytes; ++mb)
            sizes_.push_back(
                Reference([&](ViewerScreen& s) { s.downloadBytes = int64_t(mb) * 1048576; }));
    }

    PanelReading Read(const GdiCanvas& screen) const {
        PanelReading reading;
        reading.state = Match(screen, states_, 1);
        reading.codec = Match(screen, codecs_, 2);
        reading.megabytes = Match(screen, sizes_, 3);
        return reading;
    }

private:
    template <typename Set>
    std::unique_ptr<GdiCanvas> Reference(Set set) {
        auto reference = std::make_unique<GdiCanvas>(width_, height_);
        ViewerScreen s;
        s.status = static_cast<int32_t>(PlayerStatus::Downloading);
        set(s);
        CViewerPainter painter;
        painter.Draw(reference->dc(), RECT{0, 0, width_, height_}, s);
        return reference;
    }
    int Match(const GdiCanvas& screen, const std::vector<std::unique_ptr<GdiCanvas>>& references,
              int line) const {
        const RECT band{0, line * kPanelLineHeight, width_, (line + 1) * kPanelLineHeight};
        for (size_t i = 0; i < references.size(); ++i) {
            if (screen.SameArea(*references[i], band))
                return static_cast<int>(i);
        }
        return -1;
    }

    int width_, height_;
    std::vector<std::unique_ptr<GdiCanvas>> states_, codecs_, sizes_;
};

// A left click at (x, y) of window, through the system's mouse input.
void ClickWithTheMouse(HWND window, int x, int y) {
    POINT at{x, y};
    ClientToScreen(window, &at);
    SetCursorPos(at.x, at.y);
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &inputs[0], sizeof(INPUT));
    Pump(100);
    SendInput(1, &inputs[1], sizeof(INPUT));
    Pump(100);
}

TEST(ViewerWithDownloadManager, ThePanelFollowsTheRealJobAndItsCancelEndsTheTransfer) {
    platform::InitSockets();
    RegistrySandbox user(HKEY_CURRENT_USER);
    ASSERT_TRUE(user.ok());
    ScratchFolder folder("viewer_download");
    ASSERT_TRUE(StoreSettings(folder.path(), 0));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const GetClassObjectFn getClassObject = LibraryClassObjects();
    ASSERT_NE(getClassObject, nullptr);

    // The device: a short live stream for the viewer, then a slow clip export that pauses for a
    // minute after 8 MiB, so that a loaded machine still clicks Cancel before the clip is whole.
    constexpr uint64_t kClipBytes = 24 * 1048576;
    const std::string host = LoopbackText(Suite::Download, 150);
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", host, "--max-frames", "3", "--clip-name", "clip01",
                              "--clip-bytes", std::to_string(kClipBytes), "--body-rate", "1048576",
                              "--stall-after-bytes", std::to_string(8 * 1048576), "--body-stall-ms",
                              "60000"}))
        << device.error();

    // The viewer, windowed in our container, watching the device.
    IClassFactory* playerClass = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MediaPlayer, IID_IClassFactory,
                             reinterpret_cast<void**>(&playerClass)),
              S_OK);
    IUnknown* player = nullptr;
    ASSERT_EQ(playerClass->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&player)),
              S_OK);
    playerClass->Release();
    TestContainer container(360, 280, RECT{20, 20, 340, 260}, false);
    ASSERT_EQ(container.Embed(player), S_OK);
    HWND viewer = nullptr;
    {
        IOleWindow* window = nullptr;
        player->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window));
        ASSERT_NE(window, nullptr);
        window->GetWindow(&viewer);
        window->Release();
    }
    ASSERT_NE(viewer, nullptr);
    IMediaPlayer* media = nullptr;
    ASSERT_EQ(player->QueryInterface(IID_IMediaPlayer, reinterpret_cast<void**>(&media)), S_OK);
    const std::string live = "rtsp://" + host + "/live";
    BSTR url = SysAllocString(std::wstring(live.begin(), live.end()).c_str());
    EXPECT_EQ(media->SetURL(url), S_OK);
    SysFreeString(url);
    ASSERT_TRUE(PumpUntil([&] { return device.Counter("framesSent") >= 3; }));

    // The download manager of the same module, handed the export as the browser does.
    IClassFactory* managerClass = nullptr;
    ASSERT_EQ(getClassObject(CLSID_FluxmereDownloadManager, IID_IClassFactory,
                             reinterpret_cast<void**>(&managerClass)),
              S_OK);
    IDownloadManager* manager = nullptr;
    ASSERT_EQ(managerClass->CreateInstance(nullptr, kIID_IDownloadManager,
                                           reinterpret_cast<void**>(&manager)),
              S_OK);
    managerClass->Release();
    const std::string exportUrl = "http://" + host + "/command.cgi?stream&kelo&codec=DVCPRO";
    IMoniker* moniker = nullptr;
    ASSERT_EQ(CreateURLMoniker(nullptr, std::wstring(exportUrl.begin(), exportUrl.end()).c_str(),
                               &moniker),
              S_OK);
    IBindCtx* bind = nullptr;
    CreateBindCtx(0, &bind);
    EXPECT_EQ(manager->Download(moniker, bind, BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP),
              S_OK);
    bind->Release();
    moniker->Release();

    // The panel, as painted on the screen, follows the job: state, codec and whole MiB.
    RECT client;
    GetClientRect(viewer, &client);
    PanelReader reader(client.right, client.bottom);
    GdiCanvas screen(client.right, client.bottom);
    std::set<PanelReading> seen;
    std::set<int> downloadingMegabytes;
    ASSERT_TRUE(PumpUntil(
        [&] {
            Capture(viewer, screen);
            const PanelReading r = reader.Read(screen);
            seen.insert(r);
            if (r.state == static_cast<int>(DownloadState::InProgress) && r.megabytes > 0)
                downloadingMegabytes.insert(r.megabytes);
            return downloadingMegabytes.size() >= 2;
        },
        60000))
        << "panel readings: " << seen.size();
    for (const PanelReading& r : seen) {
        if (r.state >= 0)
            EXPECT_EQ(r.codec, static_cast<int>(CodecKind::DVCPRO));
    }

    // Cancel, clicked with the mouse inside the panel's button.
    SetForegroundWindow(container.window());
    const long long sentBefore = device.Counter("clipBytesSent");
    ClickWithTheMouse(viewer, 70, 110);
    PanelReading last;
    EXPECT_TRUE(PumpUntil(
        [&] {
            Capture(viewer, screen);
            last = reader.Read(screen);
            return last.state == static_cast<int>(DownloadState::Failed);
        },
        20000))
        << "state " << last.state;
    EXPECT_EQ(last.codec, static_cast<int>(CodecKind::DVCPRO));

    // The window's row agrees, and lets go of the job.
    const HWND window = FindDownloadManagerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitFor([&] { return RowCount(window) == 1 && RowData(window, 0) == 0; }));
    EXPECT_EQ(CellText(window, 0, 0), "clip01.kelo");
    EXPECT_EQ(CellText(window, 0, 2), "Failed");
    EXPECT_EQ(CellText(window, 0, 3), "DVCPRO");

    // The device saw the connection close: its sending stopped short of the clip.
    long long sent = device.Counter("clipBytesSent");
    for (int i = 0; i < 20; ++i) {
        Pump(250);
        const long long now = device.Counter("clipBytesSent");
        if (now == sent && i >= 4)
            break;
        sent = now;
    }
    Pump(2000);
    EXPECT_EQ(device.Counter("clipBytesSent"), sent) << "still sending";
    EXPECT_GE(sent, sentBefore);
    EXPECT_LT(sent, static_cast<long long>(kClipBytes));
    EXPECT_EQ(device.Counter("clipsCompleted"), 0);

    // The partial file stays: what was received, from the clip's start.
    const std::string kept = folder.ReadFile("clip01.kelo");
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", kClipBytes, 1);
    EXPECT_GT(kept.size(), 1048576u);
    EXPECT_LT(kept.size(), clip.size());
    EXPECT_TRUE(kept == std::string(clip.begin(), clip.begin() + kept.size()))
        << "a prefix of the clip";

    media->Release();
    manager->Release();
    container.Unembed();
    player->Release();
    EXPECT_TRUE(device.Stop());
    CoUninitialize();
}

}  // namespace
}  // namespace fluxmere::testing
