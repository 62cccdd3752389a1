// What a user of an installed module does to get a movie of a clip: the viewer (by its ProgID)
// watches the device in a container window; a right click on it opens its context menu, from
// which "&Show Download Manager options" shows the download manager window; there the user ticks
// "Transcode to Quicktime Movie" and then downloads the clip through the registered download
// manager, as the browser does. Prints the steps it saw and, once the window has let go of the
// job, its row ("row=clip01.kelo|Complete|DVCPRO").
//
//   transcode_download_probe RTSP_URL EXPORT_URL
//
// Exit status 0 when every step happened and the row ended.

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>

#include "download/win32/download_manager_window.h"
#include "download/win32/download_ui_ids.h"
#include "fluxmere_library.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"
#include "tests/download/win32/window_probe.h"

namespace {

// {988934A4-064B-11D3-BB80-00104B35E7F9}
const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

using fluxmere::testing::Pump;
using fluxmere::testing::PumpUntil;

// From a second thread: waits for the popup menu of `thread` and types the item's mnemonic.
struct MenuKey {
    DWORD thread;
    char key;
    std::atomic<bool> typed{false};
};

DWORD WINAPI TypeIntoMenu(void* context) {
    auto* menu = static_cast<MenuKey*>(context);
    for (int i = 0; i < 1000; ++i) {
        HWND popup = nullptr;
        while ((popup = FindWindowExA(nullptr, popup, "#32768", nullptr)) != nullptr) {
            if (IsWindowVisible(popup) &&
                GetWindowThreadProcessId(popup, nullptr) == menu->thread) {
                PostMessageA(popup, WM_CHAR, menu->key, 0);
                menu->typed = true;
                return 0;
            }
        }
        Sleep(10);
    }
    return 1;
}

int Fail(const char* step) {
    std::fprintf(stderr, "transcode_download_probe: %s\n", step);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: transcode_download_probe RTSP_URL EXPORT_URL\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    // The viewer watches the device.
    CLSID playerClass;
    IUnknown* player = nullptr;
    if (FAILED(CLSIDFromProgID(L"FluxmereLibrary.MediaPlayer", &playerClass)) ||
        FAILED(CoCreateInstance(playerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&player)))) {
        return Fail("no viewer by its ProgID");
    }
    fluxmere::testing::TestContainer container(360, 280, RECT{20, 20, 340, 260}, false);
    if (container.Embed(player) != S_OK)
        return Fail("the viewer does not activate");
    HWND viewer = nullptr;
    IOleWindow* window = nullptr;
    player->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window));
    if (window != nullptr) {
        window->GetWindow(&viewer);
        window->Release();
    }
    IMediaPlayer* media = nullptr;
    player->QueryInterface(IID_IMediaPlayer, reinterpret_cast<void**>(&media));
    if (viewer == nullptr || media == nullptr)
        return Fail("the viewer has no window or no IMediaPlayer");
    const std::string live = argv[1];
    BSTR url = SysAllocString(std::wstring(live.begin(), live.end()).c_str());
    media->SetURL(url);
    SysFreeString(url);
    Pump(1000);
    std::printf("viewer: watching %s\n", argv[1]);

    // Its context menu shows the download manager window.
    MenuKey menu{GetCurrentThreadId(), 's'};
    HANDLE typist = CreateThread(nullptr, 0, TypeIntoMenu, &menu, 0, nullptr);
    PostMessageA(viewer, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(80, 80));
    PostMessageA(viewer, WM_RBUTTONUP, 0, MAKELPARAM(80, 80));
    HWND manager = nullptr;
    const bool shown = PumpUntil(
        [&] {
            manager = fluxmere::FindDownloadManagerWindow();
            return manager != nullptr && IsWindowVisible(manager);
        },
        15000);
    WaitForSingleObject(typist, INFINITE);
    CloseHandle(typist);
    if (!menu.typed || !shown)
        return Fail("the context menu did not show the download manager window");
    std::printf("window: shown from the context menu\n");

    // The user ticks "Transcode to Quicktime Movie".
    const HWND movie = GetDlgItem(manager, IDC_TRANSCODE_MOV);
    if (!IsWindowEnabled(movie) || IsDlgButtonChecked(manager, IDC_TRANSCODE_MOV) == BST_CHECKED)
        return Fail("the movie check box is not offered unticked");
    SendMessageA(movie, BM_CLICK, 0, 0);
    if (IsDlgButtonChecked(manager, IDC_TRANSCODE_MOV) != BST_CHECKED)
        return Fail("the movie check box does not tick");
    std::printf("window: Transcode to Quicktime Movie ticked\n");

    // The browser hands the clip's export to the registered download manager.
    IDownloadManager* downloads = nullptr;
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    const std::string exportUrl = argv[2];
    HRESULT hr = CoCreateInstance(CLSID_FluxmereDownloadManager, nullptr, CLSCTX_INPROC_SERVER,
                                  kIID_IDownloadManager, reinterpret_cast<void**>(&downloads));
    if (SUCCEEDED(hr))
        hr = CreateURLMoniker(nullptr, std::wstring(exportUrl.begin(), exportUrl.end()).c_str(),
                              &moniker);
    if (SUCCEEDED(hr))
        hr = CreateBindCtx(0, &context);
    if (SUCCEEDED(hr))
        hr = downloads->Download(moniker, context, BINDVERB_GET, 0, nullptr, nullptr, nullptr,
                                 CP_ACP);
    if (hr != S_OK)
        return Fail("the download manager did not take the export");
    context->Release();
    moniker->Release();
    downloads->Release();

    // The window lets go of the job once it has ended; its row keeps the last texts.
    using fluxmere::testing::CellText;
    using fluxmere::testing::RowCount;
    using fluxmere::testing::RowData;
    if (!PumpUntil([&] { return RowCount(manager) == 1 && RowData(manager, 0) == 0; }, 120000))
        return Fail("the job did not end");
    std::printf("row=%s|%s|%s|%s\n", CellText(manager, 0, 0).c_str(),
                CellText(manager, 0, 2).c_str(), CellText(manager, 0, 3).c_str(),
                CellText(manager, 0, 4).c_str());
    std::fflush(stdout);
    media->Stop();
    media->Release();
    container.Unembed();
    player->Release();
    // The window belongs to the module until the process ends.
    ExitProcess(0);
}
