#include "player/win32/repaint_poster.h"

#include "player/win32/window_class.h"

namespace fluxmere {
namespace {

constexpr UINT kRepaintMessage = WM_APP + 1;
constexpr char kClassName[] = "FluxmereRepaintPoster";

}  // namespace

CRepaintPoster::CRepaintPoster(IRepaintTarget& target) : target_(target) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = &CRepaintPoster::WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kClassName;
    if (!EnsureWindowClass(windowClass))
        return;
    window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(),
                              nullptr);
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

CRepaintPoster::~CRepaintPoster() {
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

void CRepaintPoster::Request() {
    if (window_ == nullptr)
        return;
    if (pending_.exchange(true))
        return;  // the pending message will cover this one
    if (!PostMessageA(window_, kRepaintMessage, 0, 0))
        pending_.store(false);
}

LRESULT CALLBACK CRepaintPoster::WindowProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
    if (message == kRepaintMessage) {
        auto* poster = reinterpret_cast<CRepaintPoster*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (poster != nullptr) {
            // Cleared first: a request that comes in while the target repaints posts again.
            poster->pending_.store(false);
            poster->delivered_.fetch_add(1);
            poster->target_.RepaintNow();
        }
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace fluxmere
