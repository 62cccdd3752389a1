// Generic block primitives: zero fill, quantisation table, inverse DCT.

#include <cstddef>
#include <cstring>

#include "decode/argument_checks.h"
#include "decode/block_transform.h"
#include "decode/jpeg_tables.h"
#include "decode/primitives_generic.h"

namespace fluxmere::generic {
namespace {

// The transform's arithmetic is 32-bit two's complement with wrap-around; unsigned arithmetic
// gives exactly that without undefined overflow, and Sar is the arithmetic right shift.
inline int32_t Sar(uint32_t value, int shift) {
    return static_cast<int32_t>(value) >> shift;
}

// 16 x 16 -> 32-bit product; every constant below fits 16 bits, so compilers can use widening
// multiplies when they vectorise the lanes.
inline uint32_t Mul(int16_t x, int16_t constant) {
    return static_cast<uint32_t>(static_cast<int32_t>(x) * static_cast<int32_t>(constant));
}

// w x 5793 modulo 2^32 from the 16-bit halves of w (again for widening multiplies).
inline uint32_t Times5793(uint32_t w) {
    const uint16_t low = static_cast<uint16_t>(w);
    const uint16_t high = static_cast<uint16_t>(static_cast<uint16_t>(w >> 16) * 5793u);
    return (static_cast<uint32_t>(high) << 16) + static_cast<uint32_t>(low) * 5793u;
}

// The one-dimensional 8-point transform applied to eight independent lanes: input k of lane j
// is x[8k + j]; output k replaces it, rounded with kRound, shifted by kShift and truncated to 16
// bits. Written lane-wise so that compilers can vectorise it. Inputs from kInputs on are known to
// be zero in every lane and are not read: the same sums with those terms folded away.
template <int kShift, uint32_t kRound, bool kTransposeOut, int kInputs>
inline void Transform8Lanes(int16_t* x) {
    int16_t out[64];
    // Output k of lane j goes to out[8k + j], or to out[8j + k] when transposing.
    auto Index = [](int k, int j) { return kTransposeOut ? 8 * j + k : 8 * k + j; };
    auto Input = [x](int k, int j) { return k < kInputs ? x[8 * k + j] : static_cast<int16_t>(0); };
    for (int j = 0; j < 8; ++j) {
        const int16_t x0 = Input(0, j), x1 = Input(1, j), x2 = Input(2, j), x3 = Input(3, j);
        const int16_t x4 = Input(4, j), x5 = Input(5, j), x6 = Input(6, j), x7 = Input(7, j);
        // The definition's sums rearranged with constants split to 16 bits; modulo 2^32 every
        // term is the same: E0 = (x0 + x4) 32768, E2 = 42814 x2 + 17734 x6,
        // E3 = 17734 x2 - 42813 x6, P = 27246 x3 + 18205 x5, R = 27246 x5 - 18205 x3,
        // Q = 32139 x1 + 6393 x7, T = 6393 x1 - 32138 x7.
        const uint32_t e0 = (Mul(x0, 16384) + Mul(x4, 16384)) << 1;
        const uint32_t e1 = (Mul(x0, 16384) - Mul(x4, 16384)) << 1;
        const uint32_t e2 = (Mul(x2, 21407) + Mul(x6, 8867)) << 1;
        const uint32_t e3 = Mul(x2, 17734) - Mul(x6, 32767) - Mul(x6, 10046);
        const uint32_t p = Mul(x3, 27246) + Mul(x5, 18205);
        const uint32_t r = Mul(x5, 27246) - Mul(x3, 18205);
        const uint32_t q = Mul(x1, 32139) + Mul(x7, 6393);
        const uint32_t t = Mul(x1, 6393) - Mul(x7, 32138);
        const uint32_t u = Times5793(static_cast<uint32_t>(Sar(p + q + 2048u, 12)));
        const uint32_t v = Times5793(static_cast<uint32_t>(Sar(r + t + 2048u, 12)));
        const uint32_t a = q - p;
        const uint32_t b = t - r;

        out[Index(0, j)] = static_cast<int16_t>(Sar(e0 + e2 + u + kRound, kShift));
        out[Index(7, j)] = static_cast<int16_t>(Sar(e0 + e2 - u + kRound, kShift));
        out[Index(1, j)] = static_cast<int16_t>(Sar(e1 + e3 + a + b + kRound, kShift));
        out[Index(6, j)] = static_cast<int16_t>(Sar(e1 + e3 - a - b + kRound, kShift));
        out[Index(2, j)] = static_cast<int16_t>(Sar(e1 - e3 + a - b + kRound, kShift));
        out[Index(5, j)] = static_cast<int16_t>(Sar(e1 - e3 - a + b + kRound, kShift));
        out[Index(3, j)] = static_cast<int16_t>(Sar(e0 - e2 + v + kRound, kShift));
        out[Index(4, j)] = static_cast<int16_t>(Sar(e0 - e2 - v + kRound, kShift));
    }
    std::memcpy(x, out, sizeof out);
}

constexpr int kColumnShift = 12;
constexpr uint32_t kColumnRound = 2048;
constexpr int kRowShift = 21;
constexpr uint32_t kRowRound = 1048576;

// The passes by how many leading inputs may hold nonzero terms (1, 4 or 8), indexed 0, 1, 2.
using Pass = void (*)(int16_t*);
template <int kInputs>
void ColumnPass(int16_t* x) {
    Transform8Lanes<kColumnShift, kColumnRound, true, kInputs>(x);
}
template <int kInputs>
void RowPass(int16_t* x) {
    Transform8Lanes<kRowShift, kRowRound, true, kInputs>(x);
}
constexpr Pass kColumnPasses[3] = {ColumnPass<1>, ColumnPass<4>, ColumnPass<8>};
constexpr Pass kRowPasses[3] = {RowPass<1>, RowPass<4>, RowPass<8>};

// clamp(value + 128, 0, 255), computed as clamp(value, -128, 127) + 128 so that it stays in 16
// bits (and vectorises).
inline uint8_t LevelShift(int16_t value) {
    int16_t clamped = value < -128 ? static_cast<int16_t>(-128) : value;
    clamped = clamped > 127 ? static_cast<int16_t>(127) : clamped;
    return static_cast<uint8_t>(clamped + 128);
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
    const int32_t status = checks::InverseDctBlock(block, destination, stride, quant);
    if (status != StatusOk)
        return status;
    int16_t work[64];
    uint16_t largeQuantisers = 0;
    for (int n = 0; n < 64; ++n) {
        largeQuantisers = static_cast<uint16_t>(largeQuantisers | quant[n]);
    }
    if (largeQuantisers < 32768) {
        // Every quantiser fits a signed 16-bit value: a 16 x 16-bit product, saturated from its
        // 16-bit halves so that it vectorises to 16-bit lanes. The product fits 16 bits exactly
        // when its high half is the sign extension of its low half; otherwise its sign is the
        // high half's.
        for (int n = 0; n < 64; ++n) {
            const int32_t product = static_cast<int32_t>(block[n]) *
                                    static_cast<int32_t>(static_cast<int16_t>(quant[n]));
            const int16_t low = static_cast<int16_t>(product);
            const int16_t high = static_cast<int16_t>(product >> 16);
            const int16_t saturated = static_cast<int16_t>((high >> 15) ^ 0x7FFF);
            work[n] = high == (low >> 15) ? low : saturated;
        }
    } else {
        for (int n = 0; n < 64; ++n) {
            work[n] = DequantiseSaturated(block[n], quant[n]);
        }
    }
    // Which rows and which columns hold a nonzero term: most blocks carry only low frequencies,
    // and a transform whose upper inputs are all zero gives the same results with them left out.
    // Word 2r holds columns 0..3 of row r, word 2r + 1 columns 4..7.
    uint64_t words[16];
    std::memcpy(words, work, sizeof words);
    uint64_t leftColumns = 0, rightColumns = 0, rows1To3 = 0, rows4To7 = 0;
    for (int r = 0; r < 8; ++r) {
        leftColumns |= words[2 * r];
        rightColumns |= words[2 * r + 1];
    }
    for (int w = 2; w < 8; ++w) {
        rows1To3 |= words[w];
    }
    for (int w = 8; w < 16; ++w) {
        rows4To7 |= words[w];
    }
    int16_t left[4];
    std::memcpy(left, &leftColumns, sizeof left);
    const int rowExtent = rows4To7 != 0 ? 2 : rows1To3 != 0 ? 1 : 0;
    const int columnExtent = rightColumns != 0 ? 2 : (left[1] | left[2] | left[3]) != 0 ? 1 : 0;
    if (rowExtent == 0 && columnExtent == 0) {
        const uint8_t pixel = DcOnlyPixel(work[0]);
        for (int r = 0; r < 8; ++r) {
            std::memset(destination + static_cast<ptrdiff_t>(r) * stride, pixel, 8);
        }
        return StatusOk;
    }
    // Columns: the lanes are the columns, written out transposed so that the lanes of the row
    // pass are the rows; its outputs are written back in row order. A column without terms
    // stays zero through the column pass, so the row pass needs only as many inputs as columns
    // are used.
    kColumnPasses[rowExtent](work);
    kRowPasses[columnExtent](work);
    uint8_t pixels[64];
    for (int n = 0; n < 64; ++n) {
        pixels[n] = LevelShift(work[n]);
    }
    for (int r = 0; r < 8; ++r) {
        std::memcpy(destination + static_cast<ptrdiff_t>(r) * stride, pixels + 8 * r, 8);
    }
    return StatusOk;
}

void InverseDctPair(int16_t* blocks, uint8_t* first, uint8_t* second, int32_t stride,
                    const uint16_t* quant) {
    InverseDctBlock(blocks, first, stride, quant);
    InverseDctBlock(blocks + 64, second, stride, quant);
    std::memset(blocks, 0, 128 * sizeof(int16_t));
}

}  // namespace fluxmere::generic
