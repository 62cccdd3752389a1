#include "player/win32/viewer_painter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "player/player_status.h"

namespace fluxmere {
namespace {

// The design's offscreen bitmap; it grows beyond this only for larger pictures or bounds.
constexpr int32_t kSurfaceWidth = 720;
constexpr int32_t kSurfaceHeight = 608;

constexpr int32_t kLineStep = 20;  // panel lines: state, codec and size below "Downloading"

// A rendered picture's B, G, R rows into 32-bit pixels (B, G, R, 0) of rows surfaceStride bytes
// apart: eight pixels from three 64-bit words at a time (the copy is a good part of a paint's
// cost under Wine: fewer, wider loads and stores), the rest pixel by pixel. No byte past a row's
// pixels is read. Windows runs little-endian.
void CopyPictureTo32(const RenderedPicture& picture, uint8_t* surface, size_t surfaceStride) {
    constexpr uint64_t kPixel = 0xFFFFFFu;
    for (int32_t y = 0; y < picture.height; ++y) {
        const uint8_t* source = picture.pixels + static_cast<size_t>(y) * picture.stride;
        uint8_t* target = surface + static_cast<size_t>(y) * surfaceStride;
        int32_t x = 0;
        for (; x + 8 <= picture.width; x += 8, source += 24, target += 32) {
            uint64_t a, b, c;
            std::memcpy(&a, source, 8);
            std::memcpy(&b, source + 8, 8);
            std::memcpy(&c, source + 16, 8);
            const uint64_t pixels[4] = {
                (a & kPixel) | (((a >> 24) & kPixel) << 32),
                (a >> 48) | ((b & 0xFFu) << 16) | (((b >> 8) & kPixel) << 32),
                ((b >> 32) & kPixel) | (((b >> 56) | ((c & 0xFFFFu) << 8)) << 32),
                ((c >> 16) & kPixel) | ((c >> 40) << 32)};
            std::memcpy(target, pixels, sizeof pixels);
        }
        for (; x < picture.width; ++x, source += 3, target += 4) {
            const uint32_t pixel =
                source[0] | (source[1] << 8) | (static_cast<uint32_t>(source[2]) << 16);
            std::memcpy(target, &pixel, 4);
        }
    }
}

void DrawLine(HDC dc, const char* text, const RECT& bounds, int32_t line) {
    if (text == nullptr)
        return;
    RECT rect = bounds;
    rect.top += line * kLineStep;
    DrawTextA(dc, text, -1, &rect, 0);
}

}  // namespace

COLORREF StatusBandColour(int32_t i, int32_t height) {
    const int32_t m = MulDiv(i, 255, height);
    const int32_t d = (m - 128) >> 2;  // arithmetic: floor((m - 128) / 4)
    const int32_t c = 32 - std::abs(d);
    return PALETTERGB(235 - c, 238 - c, 240 - c);
}

RECT CancelButtonRect(const PlayerRect& bounds) {
    return RECT{bounds.left + 20, bounds.top + 100, bounds.left + 120, bounds.top + 120};
}

bool IsInsideCancelButton(const PlayerRect& bounds, int32_t x, int32_t y) {
    const RECT button = CancelButtonRect(bounds);
    return x >= button.left && x <= button.right && y >= button.top && y <= button.bottom;
}

CViewerPainter::~CViewerPainter() {
    if (offscreenDC_ != nullptr) {
        SelectObject(offscreenDC_, originalBitmap_);
        DeleteDC(offscreenDC_);
    }
    if (offscreenBitmap_ != nullptr)
        DeleteObject(offscreenBitmap_);
}

void CViewerPainter::Draw(HDC dc, const RECT& bounds, const ViewerScreen& screen) {
    if (screen.status == static_cast<int32_t>(PlayerStatus::Playing)) {
        DrawVideo(dc, bounds, screen);
        return;
    }
    DrawBackground(dc, bounds);
    if (screen.status == static_cast<int32_t>(PlayerStatus::Downloading)) {
        DrawDownloadPanel(dc, bounds, screen);
        return;
    }
    if (const char* text = StatusText(screen.status)) {
        RECT rect = bounds;
        DrawTextA(dc, text, -1, &rect, 0);
    }
}

void CViewerPainter::DrawBackground(HDC dc, const RECT& bounds) {
    const int32_t height = bounds.bottom - bounds.top;
    for (int32_t i = 0; i < height; ++i) {
        const RECT band{bounds.left, bounds.top + i, bounds.right, bounds.top + i + 1};
        HBRUSH brush = CreateSolidBrush(StatusBandColour(i, height));
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
}

void CViewerPainter::DrawDownloadPanel(HDC dc, const RECT& bounds, const ViewerScreen& screen) {
    DrawLine(dc, "Downloading", bounds, 0);

    const PlayerRect panel{bounds.left, bounds.top, bounds.right, bounds.bottom};
    RECT button = CancelButtonRect(panel);
    DrawFrameControl(dc, &button, DFC_BUTTON,
                     DFCS_BUTTONPUSH | (screen.cancelPressed ? DFCS_PUSHED : 0));
    DrawTextA(dc, "Cancel", -1, &button, 0);

    DrawLine(dc, DownloadStateText(screen.downloadState), bounds, 1);
    DrawLine(dc, CodecKindText(screen.downloadCodec), bounds, 2);
    char size[32];
    FormatDownloadSize(screen.downloadBytes, size, sizeof size);
    DrawLine(dc, size, bounds, 3);
}

void CViewerPainter::DrawVideo(HDC dc, const RECT& bounds, const ViewerScreen& screen) {
    if (screen.picture == nullptr)
        return;  // no frame, or not Motion-JPEG: keep the screen
    const RenderedPicture& picture = *screen.picture;

    const int32_t boundsWidth = bounds.right - bounds.left;
    const int32_t boundsHeight = bounds.bottom - bounds.top;
    // The bitmap covers the picture and the bounds (up to the largest picture), so that the blit
    // never reads outside it.
    const int32_t width = std::max(picture.width, std::min(boundsWidth, kMaxPictureWidth));
    const int32_t height = std::max(picture.height, std::min(boundsHeight, kMaxPictureHeight));
    if (!PrepareSurface(dc, width, height))
        return;

    GdiFlush();  // GDI is done with the bitmap's memory before it is written here
    // A new target size: what the old picture left outside the new one must not show.
    if (screen.targetChanged)
        Whiten();
    CopyPictureTo32(picture, surfaceBits_, static_cast<size_t>(surfaceSize_.cx) * 4);

    const LONG blitWidth = std::min<LONG>(boundsWidth, surfaceSize_.cx);
    const LONG blitHeight = std::min<LONG>(boundsHeight, surfaceSize_.cy);
    BitBlt(dc, bounds.left, bounds.top, blitWidth, blitHeight, offscreenDC_, 0, 0, SRCCOPY);
    // Bounds beyond the largest picture: the control is opaque, so the rest is the white
    // background, never what was there before.
    if (blitWidth < boundsWidth) {
        PatBlt(dc, bounds.left + blitWidth, bounds.top, boundsWidth - blitWidth, boundsHeight,
               WHITENESS);
    }
    if (blitHeight < boundsHeight) {
        PatBlt(dc, bounds.left, bounds.top + blitHeight, blitWidth, boundsHeight - blitHeight,
               WHITENESS);
    }
}

bool CViewerPainter::PrepareSurface(HDC dc, int32_t width, int32_t height) {
    if (offscreenDC_ != nullptr && width <= surfaceSize_.cx && height <= surfaceSize_.cy) {
        return true;
    }
    const SIZE size{std::max({width, kSurfaceWidth, static_cast<int32_t>(surfaceSize_.cx)}),
                    std::max({height, kSurfaceHeight, static_cast<int32_t>(surfaceSize_.cy)})};
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = size.cx;
    info.bmiHeader.biHeight = -size.cy;  // rows top-down, as the picture's
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr)
            DeleteObject(bitmap);
        return false;
    }
    if (offscreenDC_ == nullptr) {
        offscreenDC_ = CreateCompatibleDC(dc);
        if (offscreenDC_ == nullptr) {
            DeleteObject(bitmap);
            return false;
        }
        originalBitmap_ = SelectObject(offscreenDC_, bitmap);
    } else {
        SelectObject(offscreenDC_, bitmap);
        DeleteObject(offscreenBitmap_);
    }
    offscreenBitmap_ = bitmap;
    surfaceBits_ = static_cast<uint8_t*>(bits);
    surfaceSize_ = size;
    // A fresh bitmap holds nothing defined: start from white, as after a new target size.
    Whiten();
    return true;
}

void CViewerPainter::Whiten() {
    std::memset(surfaceBits_, 0xFF,
                static_cast<size_t>(surfaceSize_.cx) * static_cast<size_t>(surfaceSize_.cy) * 4);
}

}  // namespace fluxmere
