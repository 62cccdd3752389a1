#pragma once
// The viewer control without its COM shell: the session with the system's wave output, the
// painter, the repaint poster, the control's own child window for windowed activation, and the
// message handlers that the window and a windowless container's forwarded messages share. It is
// what passes between the session and the painter: at each paint it tells the session, then
// reads from it what the painter draws; the Cancel button's clicks go to the session from here.
// Windows only.
//
// Threads: made, used and destroyed on the control's thread (the page's thread), which pumps
// messages. The session's worker threads reach it only through Invalidate, which posts.

#ifdef _WIN32

#include <windows.h>

#include <memory>

#include "player/player_session.h"
#include "player/win32/repaint_poster.h"
#include "player/win32/viewer_painter.h"
#include "player/win32/wave_out_audio.h"

namespace fluxmere {

// Where a control without its own window asks for repaints: the container's in-place site, or
// failing that the container's window. On the control's thread.
class IContainerSurface {
public:
    // rect in the container's coordinates; nullptr: the whole control.
    virtual void InvalidateInContainer(const RECT* rect) = 0;
    // A device context to draw the whole control at once, clipped to it, and the control's
    // bounds in its coordinates; nullptr when there is none now (nothing visible to draw on).
    // Every DC given is handed back to ReleaseDrawingDC.
    virtual HDC GetDrawingDC(RECT* bounds) = 0;
    virtual void ReleaseDrawingDC(HDC dc) = 0;

protected:
    ~IContainerSurface() = default;
};

class CViewerCore : private IPlayerHost, private IRepaintTarget {
public:
    // Window styles and class styles of the control's own window.
    static constexpr DWORD kWindowStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    static constexpr UINT kClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;

    explicit CViewerCore(const SessionTiming& timing = SessionTiming());
    ~CViewerCore();  // stops the session first; then the drawing objects go
    CViewerCore(const CViewerCore&) = delete;
    CViewerCore& operator=(const CViewerCore&) = delete;

    // False when buffers, the poster's window or the window class could not be made.
    bool IsValid() const;
    CPlayerSession& Session() { return *session_; }

    // Windowed activation: the control's own child window of parent at rect. Destroyed again by
    // DestroyWindow (the control keeps working without it).
    HWND CreateChildWindow(HWND parent, const RECT& rect);
    void DestroyChildWindow();
    HWND Window() const { return window_; }
    // Windowless activation: where repaints go while there is no window (nullptr: nowhere).
    void SetContainerSurface(IContainerSurface* surface) { container_ = surface; }

    // The paint, for the window's WM_PAINT and a container's IViewObject::Draw: bounds go to the
    // session first (NotePaint), then the painter draws what the session shows.
    void Draw(HDC dc, const RECT& bounds);
    // The message map shared by the window and a windowless container's forwarded messages:
    // the left button (Cancel) and the right button (context menu). True when handled.
    bool HandleMouseMessage(UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);
    // The left button was pressed inside the Cancel button and not yet released.
    bool CancelPressed() const { return cancelPressed_; }
    // Paints that drew the device's picture (not a status screen), since construction.
    int64_t PicturesPainted() const { return picturesPainted_; }

    // Called on the right button's release; the default shows nothing.
    void SetContextMenuHandler(void (*handler)(void* context, HWND owner), void* context) {
        menuHandler_ = handler;
        menuContext_ = context;
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam);

    // IPlayerHost: any thread. On the control's thread the repaint is asked for at once,
    // elsewhere it is posted.
    void Invalidate(const PlayerRect* rect) override;
    // IRepaintTarget: the posted repaint, on the control's thread.
    void RepaintNow() override;
    // Draws the newest picture at once into the window or the container's DC; false when it
    // cannot, and the repaint then goes through invalidation.
    bool DrawPictureNow();
    void InvalidateHere(const RECT* rect);
    // The Cancel button, in the coordinates of the last paint's bounds; it works in every status.
    void OnLButtonDown(int32_t x, int32_t y);
    void OnLButtonUp(int32_t x, int32_t y);
    void InvalidateCancelButton();

    const DWORD threadId_;
    CWaveOutAudioOutput audio_;
    std::unique_ptr<CPlayerSession> session_;
    std::unique_ptr<CViewerPainter> painter_;
    std::unique_ptr<CRepaintPoster> poster_;
    HWND window_ = nullptr;
    IContainerSurface* container_ = nullptr;
    bool cancelPressed_ = false;
    int64_t picturesPainted_ = 0;
    void (*menuHandler_)(void*, HWND) = nullptr;
    void* menuContext_ = nullptr;
};

}  // namespace fluxmere

#endif  // _WIN32
