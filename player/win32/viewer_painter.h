#pragma once
// What the viewer control shows, drawn with GDI: the status screens on their grey gradient, the
// download panel with its Cancel button, and the live picture. Windows only.
//
// The painter only draws what it is given: the control reads a ViewerScreen from its session
// at the start of each paint (the picture comes from the session's render path) and hands it
// over; the painter adds the offscreen bitmap and the blit to the bounds. Every call runs on the
// control's own thread (the page's thread).
//
// The offscreen bitmap is a 32-bit top-down DIB section: the picture's rows are written into its
// memory directly and blitted 1:1, which is the cheapest way to the screen (a window surface is
// 32-bit; a 24-bit bitmap would be converted on every paint).

#ifdef _WIN32

#include <windows.h>

#include <cstdint>

#include "player/frame_renderer.h"
#include "player/player_session.h"
#include "player/player_status.h"

namespace fluxmere {

// What one paint shows.
struct ViewerScreen {
    int32_t status = static_cast<int32_t>(PlayerStatus::NotConnected);  // a PlayerStatus value
    // The download panel's lines.
    int32_t downloadState = 0;
    int32_t downloadCodec = 0;
    int64_t downloadBytes = 0;
    bool cancelPressed = false;
    // Status Playing: the newest frame rendered at the target size; nullptr when there is none to
    // paint (the screen then keeps what it shows).
    const RenderedPicture* picture = nullptr;
    // The target size changed since the last picture: what the old one left must not show.
    bool targetChanged = false;
};

// The background colour of band i of a status screen of height bands (palette-relative).
COLORREF StatusBandColour(int32_t i, int32_t height);

// The Cancel button relative to the paint's bounds: 100 x 20 pixels at (20, 100).
RECT CancelButtonRect(const PlayerRect& bounds);
// Whether (x, y) counts as inside the button; its right and bottom edges do.
bool IsInsideCancelButton(const PlayerRect& bounds, int32_t x, int32_t y);

class CViewerPainter {
public:
    CViewerPainter() = default;
    ~CViewerPainter();  // the memory context goes first, then its bitmap
    CViewerPainter(const CViewerPainter&) = delete;
    CViewerPainter& operator=(const CViewerPainter&) = delete;

    // Paints screen into dc within bounds (in dc's coordinates). Never asks for a repaint.
    void Draw(HDC dc, const RECT& bounds, const ViewerScreen& screen);

    // The offscreen bitmap's size (0 x 0 before the first video paint), for tests.
    SIZE SurfaceSize() const { return surfaceSize_; }

private:
    void DrawBackground(HDC dc, const RECT& bounds);
    void DrawDownloadPanel(HDC dc, const RECT& bounds, const ViewerScreen& screen);
    void DrawVideo(HDC dc, const RECT& bounds, const ViewerScreen& screen);
    // Makes the bitmap and memory context on the first video paint and grows them when the
    // picture or the bounds outgrow them. False when GDI cannot make them.
    bool PrepareSurface(HDC dc, int32_t width, int32_t height);
    // Every pixel of the bitmap white.
    void Whiten();

    HBITMAP offscreenBitmap_ = nullptr;
    HDC offscreenDC_ = nullptr;
    HGDIOBJ originalBitmap_ = nullptr;
    uint8_t* surfaceBits_ = nullptr;  // the DIB section's rows, 4 bytes a pixel, top-down
    SIZE surfaceSize_ = {0, 0};
};

}  // namespace fluxmere

#endif  // _WIN32
