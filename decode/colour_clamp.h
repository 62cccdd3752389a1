#pragma once
// Clamp table of the colour conversion: index -382..629 (offset kClampOffset) -> 0..255.

#include <cstdint>

namespace fluxmere::detail {

constexpr int kClampLow = -382;
constexpr int kClampHigh = 629;

struct ClampTable {
    uint8_t entries[kClampHigh - kClampLow + 1];

    constexpr ClampTable() : entries() {
        for (int i = kClampLow; i <= kClampHigh; ++i) {
            entries[i - kClampLow] = static_cast<uint8_t>(i < 0 ? 0 : (i > 255 ? 255 : i));
        }
    }
};

inline constexpr ClampTable kClamp{};

// value must lie in kClampLow..kClampHigh (every conversion result does). Internal linkage: the
// files built for wider instruction sets include this too, and the linker must never pick their
// copy for the generic code.
static inline uint8_t ClampColour(int32_t value) {
    return kClamp.entries[value - kClampLow];
}

// BT.601 studio-range coefficients in 16.16 fixed point.
constexpr int32_t kLumaScale = 76282;
constexpr int32_t kCrToRed = 104593;
constexpr int32_t kCbToGreen = 25689;
constexpr int32_t kCrToGreen = 53279;
constexpr int32_t kCbToBlue = 132184;

}  // namespace fluxmere::detail
