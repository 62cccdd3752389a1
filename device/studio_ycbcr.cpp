#include "device/studio_ycbcr.h"

namespace fluxmere::device {
namespace {

// BT.601 studio-range coefficients for 8-bit R, G, B, in 16.16 fixed point: the usual
// 65.481, 128.553, 24.966 (luma) and 112.0, -37.797, -74.203, -93.786, -18.214 (chroma), each
// divided by 255. The chroma rows sum to zero, so grey stays at 128.
constexpr int32_t kRedToY = 16829;
constexpr int32_t kGreenToY = 33039;
constexpr int32_t kBlueToY = 6416;
constexpr int32_t kRedToCb = -9714;
constexpr int32_t kGreenToCb = -19070;
constexpr int32_t kBlueToCb = 28784;
constexpr int32_t kRedToCr = 28784;
constexpr int32_t kGreenToCr = -24103;
constexpr int32_t kBlueToCr = -4681;

// The offset and rounding terms keep every sum positive (16 << 16 at least), so the shifts
// below never see a negative value.
uint8_t Luma(int32_t r, int32_t g, int32_t b) {
    return static_cast<uint8_t>(
        ((16 << 16) + (1 << 15) + kRedToY * r + kGreenToY * g + kBlueToY * b) >> 16);
}

// Chroma of R, G, B summed over one pixel (shift 16) or two (shift 17): the average, rounded
// once.
uint8_t Chroma(int32_t r, int32_t g, int32_t b, int32_t toR, int32_t toG, int32_t toB, int shift) {
    const int32_t half = 1 << (shift - 1);
    return static_cast<uint8_t>(((128 << shift) + half + toR * r + toG * g + toB * b) >> shift);
}

}  // namespace

StudioSample StudioRangeFromRgb(uint8_t r, uint8_t g, uint8_t b) {
    return StudioSample{Luma(r, g, b), Chroma(r, g, b, kRedToCb, kGreenToCb, kBlueToCb, 16),
                        Chroma(r, g, b, kRedToCr, kGreenToCr, kBlueToCr, 16)};
}

YCbCr422Picture StudioRangeConverter::Convert(const RgbPicture& rgb) {
    YCbCr422Picture out;
    if (rgb.pixels == nullptr || rgb.width < 1 || rgb.height < 1 || rgb.stride < rgb.width * 3) {
        return out;
    }
    const int chromaWidth = (rgb.width + 1) / 2;
    const size_t lumaSize = static_cast<size_t>(rgb.width) * rgb.height;
    const size_t chromaSize = static_cast<size_t>(chromaWidth) * rgb.height;
    if (y_.size() < lumaSize) {
        y_.resize(lumaSize);
    }
    if (cb_.size() < chromaSize) {
        cb_.resize(chromaSize);
        cr_.resize(chromaSize);
    }
    const int pairs = rgb.width / 2;
    for (int row = 0; row < rgb.height; ++row) {
        const uint8_t* in = rgb.pixels + static_cast<size_t>(row) * rgb.stride;
        uint8_t* y = y_.data() + static_cast<size_t>(row) * rgb.width;
        uint8_t* cb = cb_.data() + static_cast<size_t>(row) * chromaWidth;
        uint8_t* cr = cr_.data() + static_cast<size_t>(row) * chromaWidth;
        for (int i = 0; i < pairs; ++i, in += 6) {
            y[2 * i] = Luma(in[0], in[1], in[2]);
            y[2 * i + 1] = Luma(in[3], in[4], in[5]);
            const int32_t r = in[0] + in[3], g = in[1] + in[4], b = in[2] + in[5];
            // Sums of two pixels: one more bit of shift makes the average.
            cb[i] = Chroma(r, g, b, kRedToCb, kGreenToCb, kBlueToCb, 17);
            cr[i] = Chroma(r, g, b, kRedToCr, kGreenToCr, kBlueToCr, 17);
        }
        if (rgb.width & 1) {  // the last column has no neighbour: its own chroma
            const StudioSample s = StudioRangeFromRgb(in[0], in[1], in[2]);
            y[rgb.width - 1] = s.y;
            cb[pairs] = s.cb;
            cr[pairs] = s.cr;
        }
    }
    out.y = y_.data();
    out.cb = cb_.data();
    out.cr = cr_.data();
    out.width = rgb.width;
    out.height = rgb.height;
    out.lumaStride = rgb.width;
    out.chromaStride = chromaWidth;
    return out;
}

}  // namespace fluxmere::device
