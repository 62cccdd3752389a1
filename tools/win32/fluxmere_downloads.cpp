// fluxmere-downloads.exe: a download started as the browser starts one. The registered download
// manager class is made by its class id, handed a URL moniker made by urlmon, and the job it
// starts is followed in the module's download manager window, which is then shown and saved as a
// picture.
//
//   fluxmere-downloads --url http://HOST/command.cgi?stream&kelo&... [--folder DIR]
//                      [--screenshot FILE.png|FILE.bmp] [--seconds N]
//
// Exit status 0 when the job's row ended "Complete".

#include <windows.h>
#include <commctrl.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "download/win32/download_manager_window.h"
#include "download/win32/download_settings.h"
#include "download/win32/download_ui_ids.h"
#include "fluxmere_library.h"
#include "tools/image_file.h"
#include "tools/win32/window_picture.h"

namespace {

// {988934A4-064B-11D3-BB80-00104B35E7F9}
const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

struct Options {
    std::string url;
    std::string folder;
    std::string screenshot;
    int seconds = 120;
};

bool ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--url") {
            options->url = value;
        } else if (name == "--folder") {
            options->folder = value;
        } else if (name == "--screenshot") {
            options->screenshot = value;
        } else if (name == "--seconds") {
            options->seconds = std::atoi(value);
        } else {
            return false;
        }
    }
    return (argc % 2) == 1 && !options->url.empty() && options->seconds > 0 &&
           (options->screenshot.empty() || fluxmere::tools::ImageFormatOf(options->screenshot) !=
                                               fluxmere::tools::ImageFormat::Unknown);
}

// The download folder setting the module reads for every job.
bool StoreFolder(const std::string& folder) {
    char current[fluxmere::kFolderBufferSize];
    uint32_t options = 0;
    fluxmere::ReadDownloadSettings(current, &options);
    char wanted[fluxmere::kFolderBufferSize] = {};
    if (folder.size() >= sizeof(wanted))
        return false;
    folder.copy(wanted, sizeof(wanted) - 1);
    return fluxmere::WriteDownloadSettings(wanted, &options);
}

HRESULT StartDownload(const std::string& url) {
    IDownloadManager* manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FluxmereDownloadManager, nullptr, CLSCTX_INPROC_SERVER,
                                  kIID_IDownloadManager, reinterpret_cast<void**>(&manager));
    if (FAILED(hr))
        return hr;
    const std::wstring wide(url.begin(), url.end());
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    hr = CreateURLMoniker(nullptr, wide.c_str(), &moniker);
    if (SUCCEEDED(hr))
        hr = CreateBindCtx(0, &context);
    if (SUCCEEDED(hr))
        hr =
            manager->Download(moniker, context, BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP);
    if (context != nullptr)
        context->Release();
    if (moniker != nullptr)
        moniker->Release();
    manager->Release();
    return hr;
}

std::string Cell(HWND list, int row, int column) {
    char text[260] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

bool RowReleased(HWND list, int row) {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: fluxmere-downloads --url URL [--folder DIR] "
                     "[--screenshot FILE.png|FILE.bmp] [--seconds N]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!options.folder.empty() && !StoreFolder(options.folder)) {
        std::fprintf(stderr, "fluxmere-downloads: cannot store the folder %s\n",
                     options.folder.c_str());
        return 1;
    }
    const HRESULT hr = StartDownload(options.url);
    std::printf("fluxmere-downloads: Download returned 0x%08lx\n", static_cast<unsigned long>(hr));
    const HWND window = fluxmere::FindDownloadManagerWindow();
    if (hr != S_OK || window == nullptr)
        return 1;

    // Follow the newest row until the window lets go of its job.
    const HWND list = GetDlgItem(window, IDC_DOWNLOAD_LIST);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(options.seconds) * 1000;
    std::string last;
    bool ended = false;
    while (!ended && GetTickCount64() < end) {
        Sleep(250);
        if (SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) < 1)
            continue;
        ended = RowReleased(list, 0);
        const std::string line = Cell(list, 0, 0) + "  " + Cell(list, 0, 1) + " MB  " +
                                 Cell(list, 0, 2) + "  " + Cell(list, 0, 3);
        if (line != last)
            std::printf("  %s\n", line.c_str());
        last = line;
    }
    const bool complete = ended && Cell(list, 0, 2) == "Complete";

    ShowWindow(window, SW_SHOW);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(500);  // the window's thread paints
    if (!options.screenshot.empty()) {
        const std::string error = fluxmere::tools::SaveWindowPicture(
            window, fluxmere::tools::WindowArea::Whole, options.screenshot);
        if (!error.empty()) {
            std::fprintf(stderr, "fluxmere-downloads: %s\n", error.c_str());
            return 1;
        }
        std::printf("fluxmere-downloads: saved %s\n", options.screenshot.c_str());
    }
    CoUninitialize();
    return complete ? 0 : 1;
}
