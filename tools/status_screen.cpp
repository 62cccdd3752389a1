#include "tools/status_screen.h"

#include <algorithm>
#include <cstring>

namespace fluxmere::tools {

namespace {

constexpr int kTextRows = 125;      // texts and the Cancel button end above this row
constexpr uint8_t kLightest = 180;  // the background's darkest channel is 203

}  // namespace

bool IsStatusScreen(const uint8_t* bgr, int width, int height, int stride) {
    if (bgr == nullptr || width <= 0 || height <= 0)
        return true;
    const int first = std::max(height / 2, std::min(kTextRows, height - 1));
    for (int y = first; y < height; ++y) {
        const uint8_t* row = bgr + static_cast<size_t>(y) * stride;
        if (row[0] < kLightest || row[1] < kLightest || row[2] < kLightest)
            return false;
        for (int x = 1; x < width; ++x) {
            if (std::memcmp(row, row + 3 * x, 3) != 0)
                return false;
        }
    }
    return true;
}

}  // namespace fluxmere::tools
