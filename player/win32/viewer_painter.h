#pragma once
// What the viewer control shows, drawn with GDI: the status screens on their grey gradient, the
// download panel with its Cancel button, and the live picture. Also the Cancel button's mouse
// handling, which shares the panel's geometry. Windows only.
//
// Every call runs on the control's own thread (the page's thread). The picture comes from the
// session's render path, which holds the hand-off lock only to copy the newest payload; the
// painter adds the offscreen bitmap and the blit to the bounds.

#ifdef _WIN32

#include <windows.h>

#include <cstdint>

#include "player/player_session.h"

namespace fluxmere {

// The background colour of band i of a status screen of height bands (palette-relative).
COLORREF StatusBandColour(int32_t i, int32_t height);

// The Cancel button relative to the paint's bounds: 100 x 20 pixels at (20, 100).
RECT CancelButtonRect(const PlayerRect& bounds);
// Whether (x, y) counts as inside the button; its right and bottom edges do.
bool IsInsideCancelButton(const PlayerRect& bounds, int32_t x, int32_t y);

class CViewerPainter {
public:
    // host: where the Cancel button asks for its repaints (the control). Both must outlive this.
    CViewerPainter(CPlayerSession& session, IPlayerHost& host);
    ~CViewerPainter();  // the memory context goes first, then its bitmap
    CViewerPainter(const CViewerPainter&) = delete;
    CViewerPainter& operator=(const CViewerPainter&) = delete;

    // Paints into dc within bounds (in dc's coordinates) for the session's status. Never asks
    // for a repaint itself.
    void Draw(HDC dc, const RECT& bounds);

    // The left button over the control, in the coordinates of the last paint's bounds. Work in
    // every status.
    void OnLButtonDown(int32_t x, int32_t y);
    void OnLButtonUp(int32_t x, int32_t y);
    bool CancelPressed() const { return cancelPressed_; }

    // The offscreen bitmap's size (0 x 0 before the first video paint), for tests.
    SIZE SurfaceSize() const { return surfaceSize_; }

private:
    void DrawBackground(HDC dc, const RECT& bounds);
    void DrawDownloadPanel(HDC dc, const RECT& bounds);
    void DrawVideo(HDC dc, const RECT& bounds);
    // Makes the bitmap and memory context on the first video paint and grows them when the
    // picture or the bounds outgrow them. False when GDI cannot make them.
    bool PrepareSurface(HDC dc, int32_t width, int32_t height);
    void InvalidateCancelButton();

    CPlayerSession& session_;
    IPlayerHost& host_;
    bool cancelPressed_ = false;
    HBITMAP offscreenBitmap_ = nullptr;
    HDC offscreenDC_ = nullptr;
    HGDIOBJ originalBitmap_ = nullptr;
    SIZE surfaceSize_ = {0, 0};
    BITMAPINFO bitmapHeader_ = {};
};

}  // namespace fluxmere

#endif  // _WIN32
