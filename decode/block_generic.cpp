// Generic block primitives: zero fill, quantisation table, inverse DCT.

#include <cstddef>
#include <cstring>

#include "decode/jpeg_tables.h"
#include "decode/primitives_generic.h"

namespace fluxmere::generic {
namespace {

// The transform's arithmetic is 32-bit two's complement with wrap-around; unsigned arithmetic
// gives exactly that without undefined overflow, and Sar is the arithmetic right shift.
inline int32_t Sar(uint32_t value, int shift) {
    return static_cast<int32_t>(value) >> shift;
}

// One-dimensional 8-point transform of x[0], x[step], ... x[7 * step] into out (same layout),
// each output rounded with h, shifted by s and truncated to 16 bits.
template <int kShift, uint32_t kRound>
inline void Transform8(const int16_t* x, int step, int16_t* out) {
    const uint32_t x0 = static_cast<uint32_t>(x[0]), x1 = static_cast<uint32_t>(x[step]);
    const uint32_t x2 = static_cast<uint32_t>(x[2 * step]), x3 = static_cast<uint32_t>(x[3 * step]);
    const uint32_t x4 = static_cast<uint32_t>(x[4 * step]), x5 = static_cast<uint32_t>(x[5 * step]);
    const uint32_t x6 = static_cast<uint32_t>(x[6 * step]), x7 = static_cast<uint32_t>(x[7 * step]);

    const uint32_t e0 = (x0 + x4) * 32768u;
    const uint32_t e1 = (x0 - x4) * 32768u;
    const uint32_t e2 = 17734u * (x2 + x6) + 25080u * x2;
    const uint32_t e3 = 17734u * (x2 + x6) - 60547u * x6;
    const uint32_t p = 27246u * (x3 + x5) - 9041u * x5;
    const uint32_t r = 27246u * (x3 + x5) - 45451u * x3;
    const uint32_t q = 6393u * (x1 + x7) + 25746u * x1;
    const uint32_t t = 6393u * (x1 + x7) - 38531u * x7;
    const uint32_t u = static_cast<uint32_t>(Sar(p + q + 2048u, 12)) * 5793u;
    const uint32_t v = static_cast<uint32_t>(Sar(r + t + 2048u, 12)) * 5793u;
    const uint32_t a = q - p;
    const uint32_t b = t - r;

    out[0] = static_cast<int16_t>(Sar(e0 + e2 + u + kRound, kShift));
    out[7 * step] = static_cast<int16_t>(Sar(e0 + e2 - u + kRound, kShift));
    out[step] = static_cast<int16_t>(Sar(e1 + e3 + a + b + kRound, kShift));
    out[6 * step] = static_cast<int16_t>(Sar(e1 + e3 - a - b + kRound, kShift));
    out[2 * step] = static_cast<int16_t>(Sar(e1 - e3 + a - b + kRound, kShift));
    out[5 * step] = static_cast<int16_t>(Sar(e1 - e3 - a + b + kRound, kShift));
    out[3 * step] = static_cast<int16_t>(Sar(e0 - e2 + v + kRound, kShift));
    out[4 * step] = static_cast<int16_t>(Sar(e0 - e2 - v + kRound, kShift));
}

constexpr int kColumnShift = 12;
constexpr uint32_t kColumnRound = 2048;
constexpr int kRowShift = 21;
constexpr uint32_t kRowRound = 1048576;

inline uint8_t LevelShift(int32_t value) {
    value += 128;
    return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

inline int16_t SaturatedProduct(int16_t coefficient, uint16_t quantiser) {
    const int32_t product = static_cast<int32_t>(coefficient) * static_cast<int32_t>(quantiser);
    return static_cast<int16_t>(product < -32768 ? -32768 : (product > 32767 ? 32767 : product));
}

}  // namespace

int32_t ZeroFill16(int16_t* values, int32_t count) {
    if (values == nullptr) {
        return StatusNullPointer;
    }
    if (count < 1) {
        return StatusBadSize;
    }
    std::memset(values, 0, static_cast<size_t>(count) * sizeof(int16_t));
    return StatusOk;
}

int32_t BuildQuantTable(const uint8_t* zigzag, uint16_t* destination) {
    if (zigzag == nullptr || destination == nullptr) {
        return StatusNullPointer;
    }
    for (int k = 0; k < 64; ++k) {
        destination[jpeg::kZigzagToNatural[k]] = zigzag[k];
    }
    return StatusOk;
}

int32_t InverseDctBlock(const int16_t* block, uint8_t* destination, int32_t stride,
                        const uint16_t* quant) {
    if (block == nullptr || destination == nullptr) {
        return StatusNullPointer;
    }
    if (stride < 1) {
        return StatusBadStep;
    }
    if (quant == nullptr) {
        return StatusNullPointer;
    }
    int16_t work[64];
    for (int n = 0; n < 64; ++n) {
        work[n] = SaturatedProduct(block[n], quant[n]);
    }
    // Columns. A column whose AC terms are all zero transforms to 8 x its DC term (exactly what
    // the full transform gives), which skips most columns of typical blocks.
    for (int c = 0; c < 8; ++c) {
        int16_t* column = work + c;
        if ((column[8] | column[16] | column[24] | column[32] | column[40] | column[48] |
             column[56]) == 0) {
            const int16_t value = static_cast<int16_t>(static_cast<uint32_t>(column[0]) << 3);
            for (int r = 0; r < 8; ++r) {
                column[8 * r] = value;
            }
        } else {
            Transform8<kColumnShift, kColumnRound>(column, 8, column);
        }
    }
    // Rows, then level shift and store.
    for (int r = 0; r < 8; ++r) {
        int16_t* row = work + 8 * r;
        uint8_t* out = destination + static_cast<ptrdiff_t>(r) * stride;
        if ((row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) == 0) {
            const int32_t value = Sar(static_cast<uint32_t>(row[0]) * 32768u + kRowRound, kRowShift);
            const uint8_t pixel = LevelShift(static_cast<int16_t>(value));
            std::memset(out, pixel, 8);
        } else {
            Transform8<kRowShift, kRowRound>(row, 1, row);
            for (int c = 0; c < 8; ++c) {
                out[c] = LevelShift(row[c]);
            }
        }
    }
    return StatusOk;
}

}  // namespace fluxmere::generic
