// fluxmere-viewer.exe: watches a device without a browser. It embeds the viewer control by its
// ProgID in a top-level window through the ActiveX host of the system's atl.dll (a real
// container), drives it through its dispatch interface as a page would, and can save a picture
// of the window when it ends.
//
//   fluxmere-viewer --url rtsp://HOST/live [--size 320x240] [--seconds N] [--screenshot F.png]
//                   [--progid FluxmereLibrary.MediaPlayer | --dll FluxmereLibrary.dll]
//
// --dll makes the control straight from that DLL's class object, without the registry (the
// same host then attaches it); otherwise the host creates it by its ProgID. Without --seconds it
// runs until the window is closed. Exit status 0 on success, 1 when the control cannot be made
// or driven, 2 for bad arguments.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/image_file.h"

namespace {

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

void Usage() {
    std::fprintf(stderr,
                 "usage: fluxmere-viewer --url rtsp://HOST/PATH [--size WxH] [--seconds N]\n"
                 "                       [--screenshot FILE.png|FILE.bmp]\n"
                 "                       [--progid PROGID | --dll FluxmereLibrary.dll]\n");
}

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

bool ParseArguments(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (name == "--url") {
            options->url = value;
        } else if (name == "--size") {
            if (std::sscanf(value, "%dx%d", &options->width, &options->height) != 2 ||
                options->width <= 0 || options->height <= 0 || options->width > 1920 ||
                options->height > 1088) {
                return false;
            }
        } else if (name == "--seconds") {
            options->seconds = std::atof(value);
            if (options->seconds < 0)
                return false;
        } else if (name == "--screenshot") {
            options->screenshot = value;
        } else if (name == "--progid") {
            options->progid = Widen(value);
        } else if (name == "--dll") {
            options->dll = value;
        } else {
            return false;
        }
    }
    return !options->url.empty();
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

// The window's client area as it is on the screen, B, G, R rows top-down.
bool SaveScreenshot(HWND window, const std::string& path) {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    HDC windowDC = GetDC(window);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memoryDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memoryDC, bitmap);
        BitBlt(memoryDC, 0, 0, width, height, windowDC, 0, 0, SRCCOPY);
        GdiFlush();
        saved = fluxmere::tools::WriteImageFile(path, static_cast<uint8_t*>(bits), width, height,
                                                (width * 3 + 3) & ~3);
        SelectObject(memoryDC, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memoryDC);
    ReleaseDC(window, windowDC);
    return saved;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE: {
            HWND host = GetWindow(window, GW_CHILD);
            if (host != nullptr)
                MoveWindow(host, 0, 0, LOWORD(lparam), HIWORD(lparam), TRUE);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
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

int Run(const Options& options) {
    AtlLibrary atl;
    if (!atl.ready()) {
        std::fprintf(stderr, "fluxmere-viewer: the ActiveX host of atl.dll is not available\n");
        return 1;
    }
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
    HWND frame = CreateWindowExW(0, L"FluxmereViewerFrame", title.c_str(),
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                 outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND host = nullptr;
    IUnknown* unknown = options.dll.empty() ? CreateByProgID(atl, options, frame, &host)
                                            : CreateFromDll(atl, options, frame, &host);
    if (unknown == nullptr) {
        DestroyWindow(frame);
        return 1;
    }
    IDispatch* control = nullptr;
    unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control));
    unknown->Release();
    if (control == nullptr) {
        std::fprintf(stderr, "fluxmere-viewer: the control has no dispatch interface\n");
        DestroyWindow(frame);
        return 1;
    }
    const std::wstring rectangle =
        L"0,0," + std::to_wstring(options.width) + L"," + std::to_wstring(options.height);
    HRESULT hr = CallWithText(control, L"SetRectangle", rectangle);
    if (SUCCEEDED(hr))
        hr = CallWithText(control, L"SetURL", Widen(options.url));
    if (FAILED(hr)) {
        std::fprintf(stderr, "fluxmere-viewer: the control refused the call (0x%08lx)\n",
                     static_cast<unsigned long>(hr));
        control->Release();
        DestroyWindow(frame);
        return 1;
    }

    const DWORD start = GetTickCount();
    const DWORD limit = static_cast<DWORD>(options.seconds * 1000);
    MSG msg;
    bool running = true;
    while (running) {
        if (options.seconds > 0 && GetTickCount() - start >= limit)
            break;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT) == WAIT_FAILED)
            break;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                running = false;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    int status = 0;
    if (running && !options.screenshot.empty()) {
        if (SaveScreenshot(host, options.screenshot)) {
            std::printf("fluxmere-viewer: saved %s\n", options.screenshot.c_str());
        } else {
            std::fprintf(stderr, "fluxmere-viewer: cannot write %s\n", options.screenshot.c_str());
            status = 1;
        }
    }
    CallWithoutArguments(control, L"Stop");
    control->Release();
    if (running)
        DestroyWindow(frame);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        Usage();
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    const int status = Run(options);
    CoUninitialize();
    return status;
}
