// What the download manager window of an installed module offers: starts a download as the
// browser does, which makes the window, and prints whether its two transcoding check boxes are
// enabled ("movie=enabled mxf=disabled"). The manager is the registered class, or the one of the
// module file given.
//
//   transcode_switch_probe URL [MODULE.dll]
//
// Exit status 0 when the download was taken and the window found.

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <cstdio>
#include <string>

#include "download/win32/download_manager_window.h"
#include "download/win32/download_ui_ids.h"
#include "fluxmere_library.h"

namespace {

// {988934A4-064B-11D3-BB80-00104B35E7F9}
const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

HRESULT MakeManager(const char* modulePath, IDownloadManager** manager) {
    if (modulePath == nullptr) {
        return CoCreateInstance(CLSID_FluxmereDownloadManager, nullptr, CLSCTX_INPROC_SERVER,
                                kIID_IDownloadManager, reinterpret_cast<void**>(manager));
    }
    const HMODULE module = LoadLibraryA(modulePath);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = module == nullptr
                                    ? nullptr
                                    : reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                          GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr)
        return HRESULT_FROM_WIN32(GetLastError());
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(CLSID_FluxmereDownloadManager, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, kIID_IDownloadManager,
                                     reinterpret_cast<void**>(manager));
        factory->Release();
    }
    return hr;
}

HRESULT Download(IDownloadManager* manager, const std::string& url) {
    const std::wstring wide(url.begin(), url.end());
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    HRESULT hr = CreateURLMoniker(nullptr, wide.c_str(), &moniker);
    if (SUCCEEDED(hr))
        hr = CreateBindCtx(0, &context);
    if (SUCCEEDED(hr))
        hr =
            manager->Download(moniker, context, BINDVERB_GET, 0, nullptr, nullptr, nullptr, CP_ACP);
    if (context != nullptr)
        context->Release();
    if (moniker != nullptr)
        moniker->Release();
    return hr;
}

const char* Enabled(HWND window, int control) {
    return IsWindowEnabled(GetDlgItem(window, control)) ? "enabled" : "disabled";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: transcode_switch_probe URL [MODULE.dll]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IDownloadManager* manager = nullptr;
    HRESULT hr = MakeManager(argc == 3 ? argv[2] : nullptr, &manager);
    if (SUCCEEDED(hr)) {
        hr = Download(manager, argv[1]);
        manager->Release();
    }
    const HWND window = fluxmere::FindDownloadManagerWindow();
    if (hr != S_OK || window == nullptr) {
        std::fprintf(stderr, "transcode_switch_probe: Download returned 0x%08lx, window %s\n",
                     static_cast<unsigned long>(hr), window != nullptr ? "found" : "not found");
        return 1;
    }
    std::printf("movie=%s mxf=%s\n", Enabled(window, IDC_TRANSCODE_MOV),
                Enabled(window, IDC_TRANSCODE_MXF));
    std::fflush(stdout);
    // The window and the job belong to the module until the process ends.
    ExitProcess(0);
}
