#pragma once
// Pictures are decoded in MCUs 16 pixels wide, so a luma plane row holds the picture width
// rounded up to a multiple of 16 (W16) and a chroma plane row half that.

#include <cstdint>

namespace fluxmere {

constexpr int64_t RoundedWidth(int64_t width) {
    return (width + 15) / 16 * 16;
}

}  // namespace fluxmere
