#pragma once
// The portable rules of fluxmere-viewer's camera wall: which cameras (the list file), where each
// one goes (a square grid chosen from the count, cells that share the window's client area, a
// strip for each camera's address and state under its picture), and what a snapshot of one is
// called.

#include <ctime>
#include <string>
#include <vector>

namespace fluxmere::tools {

constexpr int kMaxWallCameras = 16;
// Height of the strip under each picture, in pixels.
constexpr int kWallStripHeight = 20;

// One URL a line; blank lines and lines whose first character other than a blank is '#' are
// left out, and so is a " #" comment after a URL. Blanks around a URL (and a CR before the line
// end) do not count.
std::vector<std::string> ReadUrlList(const std::string& text);

// Cells a side: 1 for one camera, 2 for up to 4, 3 for up to 9, 4 for up to 16.
int WallSide(int cameras);

struct WallRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// Cell index of a side x side grid over width x height: the cells share the area to the pixel
// (row by row, left to right).
WallRect WallCell(int index, int side, int width, int height);
// The cell that holds point (x, y), or -1 outside the area.
int WallCellAt(int x, int y, int side, int width, int height);
// A cell's picture (all of it but the strip, at least 1 x 1) and its strip.
WallRect WallPicture(const WallRect& cell);
WallRect WallStrip(const WallRect& cell);

// "127.0.0.5_live_20250301-140502.png": the camera's address and path (with every character
// other than letters, digits, '.' and '-' made '_'), then the local time.
std::string SnapshotName(const std::string& url, const std::tm& localTime);

}  // namespace fluxmere::tools
