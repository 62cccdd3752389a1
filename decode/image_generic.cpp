// Generic sample and pixel primitives: byte swap and colour conversion.

#include <cstddef>

#include "decode/argument_checks.h"
#include "decode/colour_clamp.h"
#include "decode/primitives_generic.h"

namespace fluxmere::generic {
namespace {

using namespace detail;

// kRed: the byte of a pixel that holds red (0 for R, G, B order, 2 for B, G, R); blue takes the
// other end.
template <int kRed>
inline void ConvertPixel(int32_t y, int32_t redTerm, int32_t greenTerm, int32_t blueTerm,
                         uint8_t* out) {
    const int32_t luma = kLumaScale * (y - 16) + 32768;
    // ">> 16" on these 32-bit values is the floor division by 65536.
    out[kRed] = ClampColour((luma + redTerm) >> 16);
    out[1] = ClampColour((luma - greenTerm) >> 16);
    out[2 - kRed] = ClampColour((luma + blueTerm) >> 16);
}

template <int kRed>
int32_t Convert(const uint8_t* const planes[3], const int32_t strides[3], uint8_t* destination,
                int32_t destinationStride, int32_t width, int32_t height) {
    const int32_t status = checks::YCbCr422ToRGB(planes, destination, width, height);
    if (status != StatusOk)
        return status;
    const int32_t pairs = width / 2;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* yRow = planes[0] + static_cast<ptrdiff_t>(row) * strides[0];
        const uint8_t* cbRow = planes[1] + static_cast<ptrdiff_t>(row) * strides[1];
        const uint8_t* crRow = planes[2] + static_cast<ptrdiff_t>(row) * strides[2];
        uint8_t* out = destination + static_cast<ptrdiff_t>(row) * destinationStride;
        for (int32_t i = 0; i < pairs; ++i) {
            const int32_t u = cbRow[i] - 128;
            const int32_t v = crRow[i] - 128;
            const int32_t red = kCrToRed * v;
            const int32_t green = kCbToGreen * u + kCrToGreen * v;
            const int32_t blue = kCbToBlue * u;
            ConvertPixel<kRed>(yRow[2 * i], red, green, blue, out);
            ConvertPixel<kRed>(yRow[2 * i + 1], red, green, blue, out + 3);
            out += 6;
        }
        if (width & 1) {
            const int32_t last = width - 1;
            const int32_t u = cbRow[last / 2] - 128;
            const int32_t v = crRow[last / 2] - 128;
            ConvertPixel<kRed>(yRow[last], kCrToRed * v, kCbToGreen * u + kCrToGreen * v,
                               kCbToBlue * u, out);
        }
    }
    return StatusOk;
}

}  // namespace

int32_t SwapBytes16(const uint16_t* source, uint16_t* destination, int32_t count) {
    if (source == nullptr || destination == nullptr) {
        return StatusNullPointer;
    }
    if (count < 1) {
        return StatusBadSize;
    }
    for (int32_t i = 0; i < count; ++i) {
        const uint16_t value = source[i];
        destination[i] = static_cast<uint16_t>(value << 8 | value >> 8);
    }
    return StatusOk;
}

int32_t YCbCr422ToRGB(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height) {
    return Convert<0>(planes, strides, destination, destinationStride, width, height);
}

int32_t YCbCr422ToBGR(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height) {
    return Convert<2>(planes, strides, destination, destinationStride, width, height);
}

}  // namespace fluxmere::generic
