#include "tests/control/test_container.h"

namespace fluxmere::testing {

TestContainer::TestContainer(int width, int height, const RECT& position, bool allowWindowless)
    : position_(position), allowWindowless_(allowWindowless) {
    static const ATOM atom = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = &TestContainer::WindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FluxmereTestContainer";
        return RegisterClassA(&windowClass);
    }();
    (void)atom;
    RECT outer{0, 0, width, height};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    window_ = CreateWindowExA(0, "FluxmereTestContainer", "container",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                              outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                              GetModuleHandleA(nullptr), this);
}

TestContainer::~TestContainer() {
    Unembed();
    DestroyWindow(window_);
}

HRESULT TestContainer::Embed(IUnknown* control, LONG verb) {
    control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object_));
    control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view_));
    control->QueryInterface(IID_IOleInPlaceObjectWindowless, reinterpret_cast<void**>(&inPlace_));
    if (object_ == nullptr)
        return E_NOINTERFACE;
    object_->SetClientSite(this);
    return object_->DoVerb(verb, nullptr, this, 0, window_, &position_);
}

void TestContainer::Unembed() {
    if (inPlace_ != nullptr) {
        inPlace_->InPlaceDeactivate();
        inPlace_->Release();
        inPlace_ = nullptr;
    }
    if (view_ != nullptr) {
        view_->Release();
        view_ = nullptr;
    }
    if (object_ != nullptr) {
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
        object_->Release();
        object_ = nullptr;
    }
    windowless_ = false;
}

STDMETHODIMP TestContainer::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite ||
               iid == IID_IOleInPlaceSiteEx || iid == IID_IOleInPlaceSiteWindowless) {
        *object = static_cast<IOleInPlaceSiteWindowless*>(this);
    } else {
        return E_NOINTERFACE;
    }
    return S_OK;
}

STDMETHODIMP TestContainer::GetContainer(IOleContainer** container) {
    if (container != nullptr)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP TestContainer::GetWindow(HWND* window) {
    *window = window_;
    return S_OK;
}

STDMETHODIMP TestContainer::GetWindowContext(IOleInPlaceFrame** frame,
                                             IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    *frame = nullptr;
    *document = nullptr;
    *position = position_;
    *clip = position_;
    if (info != nullptr) {
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
    }
    return S_OK;
}

STDMETHODIMP TestContainer::OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) {
    if (noRedraw != nullptr)
        *noRedraw = FALSE;
    windowless_ = (flags & ACTIVATE_WINDOWLESS) != 0;
    return S_OK;
}

STDMETHODIMP TestContainer::InvalidateRect(LPCRECT rect, BOOL erase) {
    ++invalidations_;
    ::InvalidateRect(window_, rect != nullptr ? rect : &position_, erase);
    return S_OK;
}

LRESULT CALLBACK TestContainer::WindowProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrA(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<TestContainer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr || self->window_ != window)
        return DefWindowProcA(window, message, wparam, lparam);
    return self->OnMessage(message, wparam, lparam);
}

LRESULT TestContainer::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            HBRUSH background = CreateSolidBrush(kBackground);
            RECT client;
            GetClientRect(window_, &client);
            // Around the control only: it is opaque and draws its whole position itself.
            HRGN around = CreateRectRgnIndirect(&client);
            HRGN control = CreateRectRgnIndirect(&position_);
            if (windowless_)
                CombineRgn(around, around, control, RGN_DIFF);
            FillRgn(dc, around, background);
            DeleteObject(control);
            DeleteObject(around);
            DeleteObject(background);
            if (windowless_ && view_ != nullptr) {
                const RECTL bounds{position_.left, position_.top, position_.right,
                                   position_.bottom};
                view_->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                            nullptr, 0);
            }
            EndPaint(window_, &paint);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            if (windowless_ && inPlace_ != nullptr) {
                LRESULT result = 0;
                if (inPlace_->OnWindowMessage(message, wparam, lparam, &result) == S_OK) {
                    return result;
                }
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window_, message, wparam, lparam);
}

}  // namespace fluxmere::testing
