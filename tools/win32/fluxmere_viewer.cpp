// fluxmere-viewer.exe: watches a device without a browser. It embeds the viewer control by its
// ProgID in a top-level window through the ActiveX host of the system's atl.dll (a real
// container), drives it through its dispatch interface as a page would, and can save a picture
// of the window when it ends.
//
// --dll makes the control straight from that DLL's class object, without the registry (the
// same host then attaches it); otherwise the host creates it by its ProgID. Without --seconds it
// runs until the window is closed or Ctrl-C. Exit status 0 when the device's picture was shown,
// 1 when it never was or the control could not be made or driven, 2 for bad arguments.

#include <windows.h>
#include <mmsystem.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli_args.h"
#include "tools/device_url.h"
#include "tools/image_file.h"
#include "tools/status_screen.h"
#include "tools/win32/window_picture.h"

namespace {

using fluxmere::cli::Args;
using fluxmere::cli::FlagSpec;

const std::vector<FlagSpec> kFlags = {
    {"url", true, "URL     the device's stream, rtsp://HOST/PATH (required)"},
    {"size", true, "WxH     size of the picture (default 320x240)"},
    {"seconds", true, "S       how long to watch (default: until the window is closed)"},
    {"screenshot", true, "FILE    save the window at the end (FILE.png or FILE.bmp)"},
    {"progid", true, "ID      the control's ProgID (default FluxmereLibrary.MediaPlayer)"},
    {"dll", true, "FILE    make the control from this DLL, without the registry"},
    {"version", false, "        print the version and end"},
    {"help", false, "        show this help"},
};

constexpr char kUsage[] =
    "fluxmere-viewer --url rtsp://HOST/PATH [--size WxH] [--seconds S]\n"
    "                       [--screenshot FILE.png|FILE.bmp] [--progid ID | --dll FILE]";
constexpr char kSummary[] =
    "Shows the device's live picture in a window, through the registered viewer\n"
    "control (or the one in --dll). Exit status 0 when the device's picture was\n"
    "shown, 1 when it never was or the control failed, 2 for bad arguments.";

constexpr uint16_t kRtspPort = 554;
constexpr DWORD kPollMs = 20;
constexpr DWORD kPictureCheckMs = 250;

struct Options {
    std::string url;
    int width = 320;
    int height = 240;
    double seconds = 0;  // 0: until closed
    std::string screenshot;
    std::wstring progid = L"FluxmereLibrary.MediaPlayer";
    std::string dll;  // empty: by ProgID through the registry
};

// The viewer control's class (CLSID_MediaPlayer).
constexpr CLSID kMediaPlayerClass = {
    0xcf9a6aef, 0xdbee, 0x4db9, {0xa6, 0x7e, 0xd8, 0x78, 0x98, 0x2d, 0x7f, 0xdd}};

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "fluxmere-viewer: %s (see fluxmere-viewer --help)\n", message.c_str());
    return 2;
}

// False with *status set when the program ends here (help, version or a usage error).
bool ParseArguments(int argc, char** argv, Options* options, int* status) {
    Args args;
    if (!args.Parse(argc, argv, 1, kFlags)) {
        *status = UsageError(args.error());
        return false;
    }
    *status = 0;
    if (args.Has("help")) {
        fluxmere::cli::PrintHelp(kUsage, kSummary, kFlags);
        return false;
    }
    if (args.Has("version")) {
        std::printf("fluxmere-viewer %s\n", FLUXMERE_VERSION);
        return false;
    }
    if (!args.positional().empty()) {
        *status = UsageError("unexpected argument '" + args.positional()[0] + "'");
        return false;
    }
    options->url = args.Get("url");
    std::string portError;
    if (options->url.compare(0, 7, "rtsp://") != 0) {
        *status = UsageError("--url needs the device's stream, rtsp://HOST/PATH, not '" +
                             options->url + "'");
        return false;
    }
    if (!fluxmere::cli::DropFixedPort(&options->url, kRtspPort, "RTSP", &portError)) {
        *status = UsageError(portError);
        return false;
    }
    if ((args.Has("size") && !args.GetSize("size", 1920, &options->width, &options->height)) ||
        (args.Has("seconds") && !args.GetDouble("seconds", 0.1, 86400, &options->seconds))) {
        *status = UsageError(args.error());
        return false;
    }
    if (options->height > 1088) {
        *status = UsageError("--size: the height may be at most 1088");
        return false;
    }
    options->screenshot = args.Get("screenshot");
    if (args.Has("screenshot") && fluxmere::tools::ImageFormatOf(options->screenshot) ==
                                      fluxmere::tools::ImageFormat::Unknown) {
        *status = UsageError("--screenshot needs a name ending in .png or .bmp, not '" +
                             options->screenshot + "'");
        return false;
    }
    if (args.Has("progid"))
        options->progid = Widen(args.Get("progid"));
    options->dll = args.Get("dll");
    return true;
}

// The control's methods through IDispatch, as a page's script calls them.
HRESULT CallWithText(IDispatch* control, const wchar_t* method, const std::wstring& text) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(text.c_str());
    DISPPARAMS parameters = {&argument, nullptr, 1, 0};
    hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr,
                         nullptr, nullptr);
    VariantClear(&argument);
    return hr;
}

HRESULT CallWithoutArguments(IDispatch* control, const wchar_t* method) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS parameters = {nullptr, nullptr, 0, 0};
    return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr,
                           nullptr, nullptr);
}

HWND g_frame = nullptr;  // for the console's Ctrl-C, which arrives on a thread of its own

BOOL WINAPI OnConsoleStop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (g_frame != nullptr)
        PostMessageW(g_frame, WM_CLOSE, 0, 0);
    return TRUE;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE: {
            HWND host = GetWindow(window, GW_CHILD);
            if (host != nullptr)
                MoveWindow(host, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return 0;
        }
        case WM_CLOSE:
            PostQuitMessage(0);  // the loop ends; the window goes after the screenshot
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

class AtlLibrary {
public:
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
    AtlLibrary() {
        module_ = LoadLibraryA("atl.dll");
        if (module_ == nullptr)
            return;
        auto init = reinterpret_cast<BOOL(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxWinInit")));
        getControl = reinterpret_cast<GetControlFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxGetControl")));
        attach = reinterpret_cast<AttachFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxAttachControl")));
        ready_ = init != nullptr && getControl != nullptr && attach != nullptr && init();
    }
    ~AtlLibrary() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    bool ready() const { return ready_; }
    GetControlFn getControl = nullptr;
    AttachFn attach = nullptr;

private:
    HMODULE module_ = nullptr;
    bool ready_ = false;
};

// The container: atl.dll's host window, which creates the control named by its text.
IUnknown* CreateByProgID(AtlLibrary& atl, const Options& options, HWND frame, HWND* host) {
    *host = CreateWindowExW(0, L"AtlAxWin", options.progid.c_str(), WS_CHILD | WS_VISIBLE, 0, 0,
                            options.width, options.height, frame, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
    IUnknown* unknown = nullptr;
    if (*host == nullptr || FAILED(atl.getControl(*host, &unknown)) || unknown == nullptr) {
        std::fprintf(stderr, "fluxmere-viewer: cannot create %ls (is the DLL registered?)\n",
                     options.progid.c_str());
        return nullptr;
    }
    return unknown;
}

// The control from the DLL's class object, attached to the same host in a plain child window.
IUnknown* CreateFromDll(AtlLibrary& atl, const Options& options, HWND frame, HWND* host) {
    HMODULE module = LoadLibraryA(options.dll.c_str());  // stays loaded for the program's life
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto getClassObject = module == nullptr
                              ? nullptr
                              : reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(
                                    GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IUnknown* unknown = nullptr;
    if (getClassObject == nullptr ||
        FAILED(getClassObject(kMediaPlayerClass, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory))) ||
        FAILED(
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)))) {
        std::fprintf(stderr, "fluxmere-viewer: cannot make the viewer from %s\n",
                     options.dll.c_str());
        if (factory != nullptr)
            factory->Release();
        return nullptr;
    }
    factory->Release();
    *host =
        CreateWindowExW(0, L"FluxmereViewerHost", L"", WS_CHILD | WS_VISIBLE, 0, 0, options.width,
                        options.height, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    IUnknown* container = nullptr;
    if (*host == nullptr || FAILED(atl.attach(unknown, *host, &container))) {
        std::fprintf(stderr, "fluxmere-viewer: the host did not take the control\n");
        unknown->Release();
        return nullptr;
    }
    if (container != nullptr)
        container->Release();  // the host window keeps its own
    return unknown;
}

// One viewer control in its host window, and what it has shown so far. A wall of several
// devices is several panes in one frame.
class ViewerPane {
public:
    ~ViewerPane() { Release(); }

    // Lets go of the control (the host window keeps its own reference until it goes).
    void Release() {
        if (control_ != nullptr)
            control_->Release();
        if (unknown_ != nullptr)
            unknown_->Release();
        control_ = nullptr;
        unknown_ = nullptr;
    }

    bool Create(AtlLibrary& atl, const Options& options, HWND frame) {
        width_ = options.width;
        height_ = options.height;
        unknown_ = options.dll.empty() ? CreateByProgID(atl, options, frame, &host_)
                                       : CreateFromDll(atl, options, frame, &host_);
        if (unknown_ == nullptr)
            return false;
        unknown_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control_));
        if (control_ == nullptr) {
            std::fprintf(stderr, "fluxmere-viewer: the control has no dispatch interface\n");
            return false;
        }
        return true;
    }

    bool Start(const std::string& url) {
        const std::wstring rectangle =
            L"0,0," + std::to_wstring(width_) + L"," + std::to_wstring(height_);
        HRESULT hr = CallWithText(control_, L"SetRectangle", rectangle);
        if (SUCCEEDED(hr))
            hr = CallWithText(control_, L"SetURL", Widen(url));
        if (FAILED(hr)) {
            std::fprintf(stderr, "fluxmere-viewer: the control refused the call (0x%08lx)\n",
                         static_cast<unsigned long>(hr));
            return false;
        }
        return true;
    }

    // Looks at what the control draws now; once it has drawn anything but a status screen, the
    // device's picture was shown.
    void CheckShown() {
        fluxmere::tools::BgrPicture picture;
        if (!shown_ && fluxmere::tools::DrawControl(unknown_, width_, height_, &picture))
            shown_ = !fluxmere::tools::IsStatusScreen(picture.pixels.data(), picture.width,
                                                      picture.height, picture.stride);
    }

    void Stop() { CallWithoutArguments(control_, L"Stop"); }

    HWND host() const { return host_; }
    bool shown() const { return shown_; }

private:
    IUnknown* unknown_ = nullptr;
    IDispatch* control_ = nullptr;
    HWND host_ = nullptr;
    int width_ = 0, height_ = 0;
    bool shown_ = false;
};

HWND CreateFrame(const Options& options) {
    WNDCLASSW frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    frameClass.lpszClassName = L"FluxmereViewerFrame";
    RegisterClassW(&frameClass);
    WNDCLASSW hostClass = {};
    hostClass.lpfnWndProc = DefWindowProcW;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"FluxmereViewerHost";
    RegisterClassW(&hostClass);
    RECT outer{0, 0, options.width, options.height};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    const std::wstring title = L"Fluxmere viewer - " + Widen(options.url);
    return CreateWindowExW(0, L"FluxmereViewerFrame", title.c_str(),
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                           outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Pumps messages until the time is up or the window is closed, looking at the picture now and
// then.
void Watch(const Options& options, ViewerPane& pane) {
    const DWORD start = GetTickCount();
    const DWORD limit = static_cast<DWORD>(options.seconds * 1000);
    DWORD lastCheck = start;
    MSG msg;
    for (;;) {
        if (options.seconds > 0 && GetTickCount() - start >= limit)
            return;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT) == WAIT_FAILED)
            return;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (GetTickCount() - lastCheck >= kPictureCheckMs) {
            pane.CheckShown();
            lastCheck = GetTickCount();
        }
    }
}

int Run(const Options& options) {
    AtlLibrary atl;
    if (!atl.ready()) {
        std::fprintf(stderr, "fluxmere-viewer: the ActiveX host of atl.dll is not available\n");
        return 1;
    }
    // The sound library of a machine without a sound device may print its own complaints when
    // the control opens the wave output; this is the one line that matters.
    if (waveOutGetNumDevs() == 0)
        std::fprintf(stderr, "fluxmere-viewer: no sound device: the picture plays without sound\n");
    g_frame = CreateFrame(options);
    SetConsoleCtrlHandler(OnConsoleStop, TRUE);
    ViewerPane pane;
    if (!pane.Create(atl, options, g_frame) || !pane.Start(options.url)) {
        DestroyWindow(g_frame);
        return 1;
    }
    Watch(options, pane);
    pane.CheckShown();

    int status = 0;
    if (!options.screenshot.empty()) {
        const std::string error = fluxmere::tools::SaveWindowPicture(
            pane.host(), fluxmere::tools::WindowArea::Client, options.screenshot);
        if (error.empty()) {
            std::printf("fluxmere-viewer: saved %s\n", options.screenshot.c_str());
        } else {
            std::fprintf(stderr, "fluxmere-viewer: %s\n", error.c_str());
            status = 1;
        }
    }
    pane.Stop();
    pane.Release();
    SetConsoleCtrlHandler(OnConsoleStop, FALSE);
    DestroyWindow(g_frame);
    g_frame = nullptr;
    if (!pane.shown()) {
        std::fprintf(stderr,
                     "fluxmere-viewer: no picture from %s was shown (the control showed only its "
                     "status screen)\n",
                     options.url.c_str());
        return 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = 0;
    if (!ParseArguments(argc, argv, &options, &status))
        return status;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    status = Run(options);
    CoUninitialize();
    return status;
}
