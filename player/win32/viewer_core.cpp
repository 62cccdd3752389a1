#include "player/win32/viewer_core.h"

#include "player/win32/window_class.h"

namespace fluxmere {
namespace {

constexpr char kWindowClass[] = "FluxmereViewerWindow";

// The mouse position of a button message: its low and high 16-bit halves, each unsigned.
void MousePosition(LPARAM lparam, int32_t* x, int32_t* y) {
    *x = static_cast<int32_t>(LOWORD(static_cast<DWORD>(lparam)));
    *y = static_cast<int32_t>(HIWORD(static_cast<DWORD>(lparam)));
}

}  // namespace

CViewerCore::CViewerCore(const SessionTiming& timing) : threadId_(GetCurrentThreadId()) {
    IPlayerHost& host = *this;
    IRepaintTarget& target = *this;
    session_ = std::make_unique<CPlayerSession>(audio_, &host, timing);
    painter_ = std::make_unique<CViewerPainter>();
    poster_ = std::make_unique<CRepaintPoster>(target);
}

CViewerCore::~CViewerCore() {
    DestroyChildWindow();
    // Joins the session's threads; until they have ended they may still post repaints, so the
    // poster goes last. The painter outlives the session, as the session may still be painted.
    session_.reset();
    painter_.reset();
    poster_.reset();
}

bool CViewerCore::IsValid() const {
    return session_->IsValid() && poster_->IsValid();
}

HWND CViewerCore::CreateChildWindow(HWND parent, const RECT& rect) {
    if (window_ != nullptr)
        return window_;
    WNDCLASSA windowClass = {};
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = &CViewerCore::WindowProc;
    windowClass.hInstance = ThisModule();
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!EnsureWindowClass(windowClass))
        return nullptr;
    window_ = CreateWindowExA(0, kWindowClass, "", kWindowStyle, rect.left, rect.top,
                              rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                              ThisModule(), this);
    return window_;
}

void CViewerCore::DestroyChildWindow() {
    if (window_ == nullptr)
        return;
    HWND window = window_;
    window_ = nullptr;
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

LRESULT CALLBACK CViewerCore::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* core = reinterpret_cast<CViewerCore*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (core == nullptr || core->window_ != window) {
        return DefWindowProcA(window, message, wparam, lparam);
    }
    return core->OnWindowMessage(message, wparam, lparam);
}

LRESULT CViewerCore::OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window_, &paint);
            RECT client;
            GetClientRect(window_, &client);
            Draw(dc, client);
            EndPaint(window_, &paint);
            return 0;
        }
        case WM_MOUSEACTIVATE:
            return MA_ACTIVATE;
        default: {
            LRESULT result = 0;
            if (HandleMouseMessage(message, wparam, lparam, &result))
                return result;
            return DefWindowProcA(window_, message, wparam, lparam);
        }
    }
}

void CViewerCore::Draw(HDC dc, const RECT& bounds) {
    session_->NotePaint(PlayerRect{bounds.left, bounds.top, bounds.right, bounds.bottom});
    ViewerScreen screen;
    screen.status = session_->Status();
    screen.downloadState = session_->DownloadStateValue();
    screen.downloadCodec = session_->DownloadCodecValue();
    screen.downloadBytes = session_->DownloadBytes();
    screen.cancelPressed = cancelPressed_;
    RenderedPicture picture;
    if (screen.status == static_cast<int32_t>(PlayerStatus::Playing) &&
        session_->RenderFrame(&picture)) {
        screen.picture = &picture;
        screen.targetChanged = session_->ConsumeRectangleChanged();
        ++picturesPainted_;
    }
    painter_->Draw(dc, bounds, screen);
}

bool CViewerCore::HandleMouseMessage(UINT message, WPARAM, LPARAM lparam, LRESULT* result) {
    int32_t x = 0, y = 0;
    switch (message) {
        case WM_LBUTTONUP:
            MousePosition(lparam, &x, &y);
            OnLButtonUp(x, y);
            break;
        case WM_LBUTTONDOWN:
            MousePosition(lparam, &x, &y);
            OnLButtonDown(x, y);
            break;
        case WM_RBUTTONUP:
            if (menuHandler_ != nullptr)
                menuHandler_(menuContext_, window_);
            break;
        default:
            return false;
    }
    *result = 0;
    return true;
}

void CViewerCore::OnLButtonDown(int32_t x, int32_t y) {
    cancelPressed_ = IsInsideCancelButton(session_->LastBounds(), x, y);
    InvalidateCancelButton();
}

void CViewerCore::OnLButtonUp(int32_t x, int32_t y) {
    if (!cancelPressed_)
        return;  // no press inside the button before this release
    cancelPressed_ = false;
    InvalidateCancelButton();
    if (IsInsideCancelButton(session_->LastBounds(), x, y))
        session_->CancelDownload();
}

void CViewerCore::InvalidateCancelButton() {
    const RECT button = CancelButtonRect(session_->LastBounds());
    InvalidateHere(&button);
}

void CViewerCore::Invalidate(const PlayerRect* rect) {
    if (GetCurrentThreadId() != threadId_) {
        poster_->Request();  // never wait for the control's thread
        return;
    }
    if (rect == nullptr) {
        InvalidateHere(nullptr);
        return;
    }
    const RECT area{rect->left, rect->top, rect->right, rect->bottom};
    InvalidateHere(&area);
}

void CViewerCore::RepaintNow() {
    if (DrawPictureNow())
        return;
    const PlayerRect bounds = session_->LastBounds();
    Invalidate(bounds.top == 0 && bounds.bottom == 0 ? nullptr : &bounds);
}

// A new picture while playing is drawn straight away: invalidating, then the paint message with
// BeginPaint and EndPaint (and a windowless container's own paint around it) takes several more
// round trips to the window system for each picture, which under Wine cost far more than the
// picture's decoding when a wall shows many cameras. Status screens and the download panel keep
// the container's paint cycle, and the first paint is always the container's.
bool CViewerCore::DrawPictureNow() {
    if (session_->Status() != static_cast<int32_t>(PlayerStatus::Playing))
        return false;
    const PlayerRect last = session_->LastBounds();
    if (last.right <= last.left || last.bottom <= last.top)
        return false;  // not painted yet
    if (window_ != nullptr) {
        if (!IsWindowVisible(window_))
            return false;
        HDC dc = GetDC(window_);
        if (dc == nullptr)
            return false;
        RECT client;
        GetClientRect(window_, &client);
        Draw(dc, client);
        ReleaseDC(window_, dc);
        return true;
    }
    if (container_ == nullptr)
        return false;
    RECT bounds;
    HDC dc = container_->GetDrawingDC(&bounds);
    if (dc == nullptr)
        return false;
    Draw(dc, bounds);
    container_->ReleaseDrawingDC(dc);
    return true;
}

void CViewerCore::InvalidateHere(const RECT* rect) {
    if (window_ != nullptr) {
        InvalidateRect(window_, rect, FALSE);
    } else if (container_ != nullptr) {
        container_->InvalidateInContainer(rect);
    }
}

}  // namespace fluxmere
