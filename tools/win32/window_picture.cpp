#include "tools/win32/window_picture.h"

#include <cerrno>
#include <cstring>

#include "tools/image_file.h"

namespace fluxmere::tools {

namespace {

// A 24-bit top-down DIB section selected into a memory DC; its rows are the picture's.
class PictureSurface {
public:
    PictureSurface(HDC compatible, int width, int height) : width_(width), height_(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        dc_ = CreateCompatibleDC(compatible);
        if (dc_ != nullptr)
            bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        if (bitmap_ != nullptr)
            old_ = SelectObject(dc_, bitmap_);
    }
    ~PictureSurface() {
        if (bitmap_ != nullptr) {
            SelectObject(dc_, old_);
            DeleteObject(bitmap_);
        }
        if (dc_ != nullptr)
            DeleteDC(dc_);
    }
    PictureSurface(const PictureSurface&) = delete;
    PictureSurface& operator=(const PictureSurface&) = delete;

    bool ready() const { return bitmap_ != nullptr && bits_ != nullptr; }
    HDC dc() const { return dc_; }

    void CopyTo(BgrPicture* picture) const {
        GdiFlush();
        picture->width = width_;
        picture->height = height_;
        picture->stride = (width_ * 3 + 3) & ~3;
        const auto* bytes = static_cast<const uint8_t*>(bits_);
        picture->pixels.assign(bytes, bytes + static_cast<size_t>(picture->stride) * height_);
    }

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    void* bits_ = nullptr;
};

}  // namespace

bool CaptureWindow(HWND window, WindowArea area, BgrPicture* picture) {
    RECT bounds;
    int left = 0, top = 0;
    if (area == WindowArea::Whole) {
        GetWindowRect(window, &bounds);
        left = bounds.left;
        top = bounds.top;
    } else {
        GetClientRect(window, &bounds);
    }
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (width <= 0 || height <= 0)
        return false;
    // The whole window is read from the screen, the client area from the window's own DC.
    const HWND source = area == WindowArea::Whole ? nullptr : window;
    HDC sourceDC = GetDC(source);
    PictureSurface surface(sourceDC, width, height);
    const bool copied =
        surface.ready() && BitBlt(surface.dc(), 0, 0, width, height, sourceDC, left, top, SRCCOPY);
    ReleaseDC(source, sourceDC);
    if (copied)
        surface.CopyTo(picture);
    return copied;
}

bool DrawControl(IUnknown* control, int width, int height, BgrPicture* picture) {
    IViewObject* view = nullptr;
    if (control == nullptr || width <= 0 || height <= 0 ||
        FAILED(control->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view))))
        return false;
    HDC screen = GetDC(nullptr);
    PictureSurface surface(screen, width, height);
    ReleaseDC(nullptr, screen);
    const RECTL bounds{0, 0, width, height};
    const bool drawn =
        surface.ready() && SUCCEEDED(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr,
                                                surface.dc(), &bounds, nullptr, nullptr, 0));
    view->Release();
    if (drawn)
        surface.CopyTo(picture);
    return drawn;
}

std::string SaveWindowPicture(HWND window, WindowArea area, const std::string& path) {
    if (ImageFormatOf(path) == ImageFormat::Unknown)
        return path + " names neither a PNG nor a BMP file";
    BgrPicture picture;
    if (!CaptureWindow(window, area, &picture))
        return "cannot take a picture of the window";
    if (!WriteImageFile(path, picture.pixels.data(), picture.width, picture.height, picture.stride))
        return "cannot write " + path + ": " + std::strerror(errno);
    return std::string();
}

}  // namespace fluxmere::tools
