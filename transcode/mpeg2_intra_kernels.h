#pragma once
// The per-block work of the D-10 encoder, in processor variants (see decode/dispatch.h): the
// forward transform of pixel blocks, the quantisation of a block, and the frame/field choice of a
// macroblock. Every variant gives exactly the generic variant's results.

#include <cstddef>
#include <cstdint>

#include "decode/dispatch.h"
#include "transcode/mpeg2_intra_tables.h"

namespace fluxmere::transcode::mpeg2 {

// Forward DCT of two 8x8 pixel blocks: 8 rows of 8 pixels at first and at second, rows `stride`
// bytes apart (a stride of 0 repeats one row). Coefficients of the first block go to out[0..63],
// of the second to out[64..127] (32-byte aligned), in the order of the alternate scan; each is
// 8 times the orthonormal DCT of (pixel - 128), so the DC coefficient is 64 times (mean - 128).
// Fixed point: a vertical pass with 14-bit constants rounded to 1/16, then a horizontal one
// rounded to 1/8.
namespace dct {
constexpr int kA = 5793;   // 16384 / sqrt(8): X0 and X4
constexpr int kB = 7568;   // 8192 cos(pi / 8)
constexpr int kC = 3135;   // 8192 cos(3 pi / 8)
constexpr int kC1 = 8035;  // 8192 cos(k pi / 16) for the odd outputs
constexpr int kC3 = 6811;
constexpr int kC5 = 4551;
constexpr int kC7 = 1598;
constexpr int kFirstShift = 10;   // to 1/16 after the vertical pass
constexpr int kSecondShift = 15;  // to 1/8 after the horizontal pass
}  // namespace dct
using ForwardDctPairFn = void(const uint8_t* first, const uint8_t* second, ptrdiff_t stride,
                              int16_t* out);
extern const PrimitiveVariants<ForwardDctPairFn> kForwardDctPairVariants;

// How one quantiser turns the coefficients of a block into levels, per scan position:
// level = sign(c) * min(2047, ((|c| + bias) * reciprocal) >> 18), for |c| <= 16384 and
// bias <= 32767. A reciprocal of 0 gives level 0 (the DC position, which is coded apart).
struct alignas(32) BlockQuantiser {
    uint16_t bias[64];
    uint16_t reciprocal[64];
};

// Levels of the 64 coefficients (both arrays 32-byte aligned); returns the positions whose level
// is not zero, bit i for scan position i.
using QuantiseBlockFn = uint64_t(const int16_t* coefficients, const BlockQuantiser& quantiser,
                                 int16_t* levels);
extern const PrimitiveVariants<QuantiseBlockFn> kQuantiseBlockVariants;

// Whether the 16x16 luma of a macroblock is better transformed as two fields: the differences of
// neighbouring lines within each field (sum of absolute differences of lines y and y + 2) are
// smaller than those of neighbouring lines of the frame (lines y and y + 1).
using PrefersFieldDctFn = bool(const uint8_t* luma, ptrdiff_t stride);
extern const PrimitiveVariants<PrefersFieldDctFn> kPrefersFieldDctVariants;

// The alternate scan over a block held transposed (column * 8 + row), as the vector variants hold
// it after their last pass.
constexpr ScanOrder TransposeScan(const ScanOrder& scan) {
    ScanOrder transposed{};
    for (int i = 0; i < 64; ++i) {
        transposed.raster[i] = static_cast<uint8_t>((scan.raster[i] & 7) * 8 + scan.raster[i] / 8);
    }
    return transposed;
}
inline constexpr ScanOrder kTransposedAlternateScan = TransposeScan(kAlternateScan);

namespace generic {
ForwardDctPairFn ForwardDctPair;
QuantiseBlockFn QuantiseBlock;
PrefersFieldDctFn PrefersFieldDct;
}  // namespace generic

}  // namespace fluxmere::transcode::mpeg2
