#pragma once
// RGB to the YCbCr a camera of this kind records: BT.601 studio range (Y 16..235, Cb and Cr
// 16..240) with 4:2:2 chroma, each chroma sample the average of two neighbouring pixels. The
// viewer converts back with the same range, so a picture sent this way shows with its original
// contrast.

#include <cstdint>
#include <vector>

#include "device/mjpa_encoder.h"

namespace fluxmere::device {

// One pixel's studio-range samples, rounded.
struct StudioSample {
    uint8_t y;
    uint8_t cb;
    uint8_t cr;
};
StudioSample StudioRangeFromRgb(uint8_t r, uint8_t g, uint8_t b);

// Converts packed RGB pictures into planar 4:2:2 planes it owns. The planes grow to the largest
// picture seen and are reused, so converting frame after frame of one size allocates nothing.
class StudioRangeConverter {
public:
    // The returned picture points into this converter and stays valid until the next call. An
    // empty picture (null planes) for null pixels or a size below 1 x 1.
    YCbCr422Picture Convert(const RgbPicture& rgb);

private:
    std::vector<uint8_t> y_;
    std::vector<uint8_t> cb_;
    std::vector<uint8_t> cr_;
};

}  // namespace fluxmere::device
