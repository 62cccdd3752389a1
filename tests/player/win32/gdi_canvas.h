#pragma once
// A memory drawing context over a 32-bit top-down DIB section, so that tests read back exactly
// what GDI drew; and the status screens' background as they define it. Windows only.

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace fluxmere::testing {

// 0xRRGGBB of row i of a status screen's background of height rows, written out independently
// of the painter: from (235, 238, 240) at the edges to (203, 206, 208) in the middle.
inline uint32_t StatusBand(int i, int height) {
    const int m = (2 * i * 255 + height) / (2 * height);  // i x 255 / height, halves up
    const int d = m >= 128 ? (m - 128) / 4 : -((128 - m + 3) / 4);
    const int c = 32 - std::abs(d);
    return static_cast<uint32_t>(((235 - c) << 16) | ((238 - c) << 8) | (240 - c));
}

class GdiCanvas {
public:
    GdiCanvas(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc_ = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        bits_ = static_cast<uint32_t*>(bits);
        original_ = SelectObject(dc_, bitmap_);
    }
    ~GdiCanvas() {
        SelectObject(dc_, original_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    bool IsValid() const { return bits_ != nullptr; }
    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // 0xRRGGBB of a pixel.
    uint32_t Pixel(int x, int y) const {
        GdiFlush();
        return bits_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
    }
    void Fill(uint32_t rgb) {
        GdiFlush();
        for (int i = 0; i < width_ * height_; ++i)
            bits_[i] = rgb;
    }
    // Whether the rectangle [left, right) x [top, bottom) of both canvases holds the same pixels.
    bool SameArea(const GdiCanvas& other, const RECT& area) const {
        for (int y = area.top; y < area.bottom; ++y) {
            for (int x = area.left; x < area.right; ++x) {
                if (Pixel(x, y) != other.Pixel(x, y))
                    return false;
            }
        }
        return true;
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ original_ = nullptr;
    uint32_t* bits_ = nullptr;
};

}  // namespace fluxmere::testing
