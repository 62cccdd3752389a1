#include "tools/camera_wall.h"

#include <algorithm>
#include <cstdio>

namespace fluxmere::tools {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

}  // namespace

std::vector<std::string> ReadUrlList(const std::string& text) {
    std::vector<std::string> urls;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        for (size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1)) {
            if (at == 0 || IsBlank(line[at - 1])) {
                line.resize(at);
                break;
            }
        }
        line = Trimmed(line);
        if (!line.empty())
            urls.push_back(line);
        start = end + 1;
    }
    return urls;
}

int WallSide(int cameras) {
    int side = 1;
    while (side * side < cameras)
        ++side;
    return side;
}

WallRect WallCell(int index, int side, int width, int height) {
    const int column = index % side;
    const int row = index / side;
    WallRect cell;
    cell.left = width * column / side;
    cell.right = width * (column + 1) / side;
    cell.top = height * row / side;
    cell.bottom = height * (row + 1) / side;
    return cell;
}

int WallCellAt(int x, int y, int side, int width, int height) {
    for (int index = 0; index < side * side; ++index) {
        const WallRect cell = WallCell(index, side, width, height);
        if (x >= cell.left && x < cell.right && y >= cell.top && y < cell.bottom)
            return index;
    }
    return -1;
}

WallRect WallPicture(const WallRect& cell) {
    WallRect picture = cell;
    picture.bottom = std::max(cell.top + 1, cell.bottom - kWallStripHeight);
    picture.right = std::max(cell.left + 1, cell.right);
    return picture;
}

WallRect WallStrip(const WallRect& cell) {
    WallRect strip = cell;
    strip.top = WallPicture(cell).bottom;
    return strip;
}

std::string SnapshotName(const std::string& url, const std::tm& localTime) {
    std::string camera = url.compare(0, 7, "rtsp://") == 0 ? url.substr(7) : url;
    while (!camera.empty() && camera.back() == '/')
        camera.pop_back();
    for (char& c : camera) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-';
        if (!kept)
            c = '_';
    }
    char time[32];
    std::snprintf(time, sizeof time, "_%04d%02d%02d-%02d%02d%02d", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                  localTime.tm_sec);
    return camera + time + ".png";
}

}  // namespace fluxmere::tools
