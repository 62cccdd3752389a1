// The portable variant of the encoder's block work, and the definition the others match.

#include <cstdlib>

#include "transcode/mpeg2_intra_kernels.h"

namespace fluxmere::transcode::mpeg2 {

namespace {

// One 8-point transform of in[0], in[step], ... in[7 * step] into out[0], out[outStep], ...,
// rounded and shifted right by `shift`; the arithmetic the vector variants do with 16-bit
// butterflies and 32-bit products.
void Transform8(const int16_t* in, int step, int16_t* out, int outStep, int shift) {
    int s[4], d[4];
    for (int k = 0; k < 4; ++k) {
        s[k] = in[k * step] + in[(7 - k) * step];
        d[k] = in[k * step] - in[(7 - k) * step];
    }
    const int e0 = s[0] + s[3], e1 = s[1] + s[2], e2 = s[0] - s[3], e3 = s[1] - s[2];
    const int round = 1 << (shift - 1);
    using namespace dct;
    const int x[8] = {
        e0 * kA + e1 * kA, d[0] * kC1 + d[1] * kC3 + d[2] * kC5 + d[3] * kC7,
        e2 * kB + e3 * kC, d[0] * kC3 - d[1] * kC7 - d[2] * kC1 - d[3] * kC5,
        e0 * kA - e1 * kA, d[0] * kC5 - d[1] * kC1 + d[2] * kC7 + d[3] * kC3,
        e2 * kC - e3 * kB, d[0] * kC7 - d[1] * kC5 + d[2] * kC3 - d[3] * kC1,
    };
    for (int u = 0; u < 8; ++u) {
        out[u * outStep] = static_cast<int16_t>((x[u] + round) >> shift);
    }
}

void ForwardDct(const uint8_t* pixels, ptrdiff_t stride, int16_t* out) {
    int16_t samples[64], vertical[64], coefficients[64];
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            samples[row * 8 + column] = static_cast<int16_t>(pixels[row * stride + column] - 128);
        }
    }
    for (int column = 0; column < 8; ++column) {
        Transform8(samples + column, 8, vertical + column, 8, dct::kFirstShift);
    }
    for (int row = 0; row < 8; ++row) {
        Transform8(vertical + row * 8, 1, coefficients + row * 8, 1, dct::kSecondShift);
    }
    for (int i = 0; i < 64; ++i) {
        out[i] = coefficients[kAlternateScan.raster[i]];
    }
}

}  // namespace

namespace generic {

void ForwardDctPair(const uint8_t* first, const uint8_t* second, ptrdiff_t stride, int16_t* out) {
    ForwardDct(first, stride, out);
    ForwardDct(second, stride, out + 64);
}

uint64_t QuantiseBlock(const int16_t* coefficients, const BlockQuantiser& quantiser,
                       int16_t* levels) {
    uint64_t nonzero = 0;
    for (int i = 0; i < 64; ++i) {
        const int c = coefficients[i];
        const uint32_t magnitude = static_cast<uint32_t>(std::abs(c)) + quantiser.bias[i];
        uint32_t level = (magnitude * quantiser.reciprocal[i]) >> 18;
        level = level > 2047 ? 2047 : level;
        levels[i] =
            static_cast<int16_t>(c < 0 ? -static_cast<int>(level) : static_cast<int>(level));
        nonzero |= static_cast<uint64_t>(level != 0) << i;
    }
    return nonzero;
}

bool PrefersFieldDct(const uint8_t* luma, ptrdiff_t stride) {
    int frame = 0, field = 0;
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 16; ++x) {
            frame += std::abs(luma[y * stride + x] - luma[(y + 1) * stride + x]);
            if (y < 14) {
                field += std::abs(luma[y * stride + x] - luma[(y + 2) * stride + x]);
            }
        }
    }
    return field < frame;
}

}  // namespace generic

}  // namespace fluxmere::transcode::mpeg2
