#include "tools/win32/camera_cell.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/status_screen.h"

namespace fluxmere::tools {

namespace {

// The viewer control's class (CLSID_MediaPlayer), for --dll.
constexpr CLSID kMediaPlayerClass = {
    0xcf9a6aef, 0xdbee, 0x4db9, {0xa6, 0x7e, 0xd8, 0x78, 0x98, 0x2d, 0x7f, 0xdd}};
// An older control without IViewerState: how often its picture is looked at until it shows one.
constexpr uint64_t kLegacyCheckMs = 250;
// The largest picture the control takes.
constexpr int kMaxPictureWidth = 1920;
constexpr int kMaxPictureHeight = 1088;

// The container: atl.dll's host window, which creates the control named by its text.
IUnknown* CreateByProgID(AtlLibrary& atl, const ControlSource& source, HWND frame, HWND* host) {
    *host = CreateWindowExW(0, L"AtlAxWin", source.progid.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 1,
                            1, frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    IUnknown* unknown = nullptr;
    if (*host == nullptr || FAILED(atl.getControl(*host, &unknown)) || unknown == nullptr) {
        std::fprintf(stderr, "fluxmere-viewer: cannot create %ls (is the DLL registered?)\n",
                     source.progid.c_str());
        return nullptr;
    }
    return unknown;
}

// The control from the DLL's class object, attached to the same host in a plain child window.
IUnknown* CreateFromDll(AtlLibrary& atl, const ControlSource& source, HWND frame, HWND* host) {
    HMODULE module = LoadLibraryA(source.dll.c_str());  // stays loaded for the program's life
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
                     source.dll.c_str());
        if (factory != nullptr)
            factory->Release();
        return nullptr;
    }
    factory->Release();
    *host = CreateWindowExW(0, L"FluxmereViewerHost", L"", WS_CHILD | WS_VISIBLE, 0, 0, 1, 1, frame,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
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

}  // namespace

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                      wide.data(), static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

AtlLibrary::AtlLibrary() {
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
    // The plain host window of --dll's controls.
    WNDCLASSW hostClass = {};
    hostClass.lpfnWndProc = DefWindowProcW;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"FluxmereViewerHost";
    RegisterClassW(&hostClass);
}

AtlLibrary::~AtlLibrary() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}

CameraCell::~CameraCell() {
    Release();
}

void CameraCell::Release() {
    if (state_ != nullptr)
        state_->Release();
    if (control_ != nullptr)
        control_->Release();
    if (unknown_ != nullptr)
        unknown_->Release();
    state_ = nullptr;
    control_ = nullptr;
    unknown_ = nullptr;
}

bool CameraCell::Create(AtlLibrary& atl, const ControlSource& source, HWND frame) {
    unknown_ = source.dll.empty() ? CreateByProgID(atl, source, frame, &host_)
                                  : CreateFromDll(atl, source, frame, &host_);
    if (unknown_ == nullptr)
        return false;
    unknown_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control_));
    if (control_ == nullptr) {
        std::fprintf(stderr, "fluxmere-viewer: the control has no dispatch interface\n");
        return false;
    }
    unknown_->QueryInterface(IID_IViewerState, reinterpret_cast<void**>(&state_));
    if (state_ == nullptr && number_ == 1) {
        std::fprintf(stderr,
                     "fluxmere-viewer: this control cannot tell its state (an older "
                     "FluxmereLibrary.dll?): no reconnecting, and every camera is heard\n");
    }
    return true;
}

void CameraCell::Place(const RECT& picture, bool visible) {
    MoveWindow(host_, picture.left, picture.top, picture.right - picture.left,
               picture.bottom - picture.top, TRUE);
    ShowWindow(host_, visible ? SW_SHOWNA : SW_HIDE);
    const int width =
        std::min<int>(kMaxPictureWidth, std::max<int>(1, picture.right - picture.left));
    const int height =
        std::min<int>(kMaxPictureHeight, std::max<int>(1, picture.bottom - picture.top));
    if (width == width_ && height == height_)
        return;
    width_ = width;
    height_ = height;
    CallWithText(L"SetRectangle",
                 L"0,0," + std::to_wstring(width) + L"," + std::to_wstring(height));
}

void CameraCell::SetSound(bool on) {
    if (state_ != nullptr)
        state_->SetSoundOn(on ? VARIANT_TRUE : VARIANT_FALSE);
}

bool CameraCell::Tick(uint64_t nowMs) {
    if (state_ == nullptr) {
        // An older control plays its one session; it counts as shown once it draws a picture.
        if (!legacyStarted_) {
            legacyStarted_ = true;
            CallWithText(L"SetURL", Widen(url_));
        }
        if (!shown_ && nowMs - lastLegacyCheck_ >= kLegacyCheckMs) {
            lastLegacyCheck_ = nowMs;
            BgrPicture picture;
            if (TakePicture(&picture))
                shown_ = !IsStatusScreen(picture.pixels.data(), picture.width, picture.height,
                                         picture.stride);
        }
        return false;
    }
    LONG status = 1, frames = 0, painted = 0;
    VARIANT_BOOL running = VARIANT_FALSE;
    state_->IsSessionRunning(&running);  // before the status: see CameraLook
    state_->GetStatus(&status);
    state_->GetFramesReceived(&frames);
    state_->GetPicturesPainted(&painted);
    if (painted != 0)
        shown_ = true;
    const CameraLook look{static_cast<int32_t>(status), running != VARIANT_FALSE,
                          static_cast<uint32_t>(frames)};
    const CameraAction action = policy_.Observe(nowMs, look);
    if (action == CameraAction::Start) {
        CallWithText(L"SetURL", Widen(url_));
    } else if (action == CameraAction::Stop) {
        CallWithoutArguments(L"Stop");
    }
    const CameraText text = DescribeCamera(policy_, nowMs);
    if (std::strcmp(text.text, strip_.text) == 0)
        return false;
    // The countdown of a wait changes every second; only the wait's start is worth a line.
    if (action == CameraAction::Stop || policy_.State() != CameraState::Waiting)
        Print(text.text);
    strip_ = text;
    return true;
}

bool CameraCell::TakePicture(BgrPicture* picture) {
    return DrawControl(unknown_, width_, height_, picture);
}

void CameraCell::Stop() {
    if (control_ != nullptr)
        CallWithoutArguments(L"Stop");
}

void CameraCell::Print(const char* text) {
    std::printf("cell %d %s: %s\n", number_, url_.c_str(), text);
    std::fflush(stdout);
}

// The control's methods through IDispatch, as a page's script calls them.
HRESULT CameraCell::CallWithText(const wchar_t* method, const std::wstring& text) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = control_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(text.c_str());
    DISPPARAMS parameters = {&argument, nullptr, 1, 0};
    hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr,
                          nullptr, nullptr);
    VariantClear(&argument);
    if (FAILED(hr)) {
        std::fprintf(stderr, "fluxmere-viewer: camera %d refused %ls (0x%08lx)\n", number_, method,
                     static_cast<unsigned long>(hr));
    }
    return hr;
}

HRESULT CameraCell::CallWithoutArguments(const wchar_t* method) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = control_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS parameters = {nullptr, nullptr, 0, 0};
    return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                            nullptr, nullptr, nullptr);
}

}  // namespace fluxmere::tools
