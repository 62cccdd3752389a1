#pragma once
// Pictures of windows and controls for the Windows tools: what a window shows on the screen (its
// client area, or the whole window with frame and caption), what a control draws of itself, and
// a window saved in the format its file name gives (PNG or BMP).

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fluxmere::tools {

// B, G, R rows top-down, stride bytes apart.
struct BgrPicture {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    int stride = 0;
};

enum class WindowArea { Client, Whole };

// The window's area as it is on the screen.
bool CaptureWindow(HWND window, WindowArea area, BgrPicture* picture);

// What the control draws of itself at width x height, through its IViewObject, into a bitmap of
// our own: independent of the window's place on the screen and of windows in front of it.
bool DrawControl(IUnknown* control, int width, int height, BgrPicture* picture);

// CaptureWindow saved to path, in the format the name's ending gives. Empty on success, else what
// went wrong.
std::string SaveWindowPicture(HWND window, WindowArea area, const std::string& path);

}  // namespace fluxmere::tools
