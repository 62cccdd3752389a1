#pragma once
// The processor-dispatched kernels of the DV encoder (variants as in decode/dispatch.h): the
// forward transform of blocks, 8 x 8 samples into weighted DCT coefficients, and their
// quantisation.
//
// Coefficient (h, v) of a block (h the horizontal, v the vertical frequency) is
// round(16 * W(h, v) * F(h, v)): F is the orthonormal 8 x 8 DCT of the samples
// minus 128 and W(h, v) = w(h) w(v) / 2 the DV weighting of the 8 x 8 mode. The weights factor by
// axis, so each pass of the separable transform applies its own. Coefficient 0 is 64 times the
// mean sample minus 128. Every variant computes exactly the same integers: each pass sums
// products of 16-bit values in 32 bits, then rounds to 16 bits (the first pass keeps 5 fraction
// bits).

#include <cstddef>
#include <cstdint>

#include "decode/dispatch.h"

namespace fluxmere::transcode::dv {

struct BlockSamples {
    const uint8_t* rows = nullptr;  // 8 rows of 8 samples
    ptrdiff_t stride = 0;
};

// A transformed block in scan order (the zigzag of the 8 x 8 mode, dv_tables.h).
struct TransformedBlock {
    uint16_t amplitude[64];  // |coefficient| at each scan position
    uint64_t negative;       // bit s: the coefficient at scan position s is negative
    int16_t dc;              // coefficient 0: 64 * (mean - 128)
    uint16_t largest;        // the largest amplitude of scan positions 1..63
};

// Transforms `count` blocks.
using ForwardTransformFn = void(const BlockSamples* blocks, int count, TransformedBlock* out);

void ForwardTransform(const BlockSamples* blocks, int count, TransformedBlock* out);

extern const PrimitiveVariants<ForwardTransformFn> kForwardTransformVariants;

// The steps of a quantiser by scan position. The level of amplitude a at position s is
// (a + add[s]) >> shift[s], shift 1..16, computed as ((a + add[s]) * scale[s]) >> 16 with
// scale[s] = 2^(16 - shift[s]); a + add[s] stays below 2^15. Positions whose amplitude is at
// most below[s] (0..0x7FFF) are not coded. Every variant gives the same levels and mask.
struct QuantiserSteps {
    alignas(32) uint16_t add[64];
    alignas(32) uint16_t scale[64];
    alignas(32) uint16_t below[64];
};

// Writes the level of every scan position, at most 255, to `level` and returns the positions
// coded, as bits (bit s for position s).
using QuantiseFn = uint64_t(const uint16_t* amplitude, const QuantiserSteps& steps,
                            uint16_t* level);

uint64_t Quantise(const uint16_t* amplitude, const QuantiserSteps& steps, uint16_t* level);

extern const PrimitiveVariants<QuantiseFn> kQuantiseVariants;

// The 1-D weighted transform of one pass: row u holds 2^14 * w(u) * c(u) * cos((2k + 1) u pi / 16)
// / 2 for k = 0..3 (c(0) = 1 / sqrt 2, else 1); the other half of each row mirrors it (even u)
// or mirrors it negated (odd u).
inline constexpr int16_t kPassMatrix[8][4] = {
    {5793, 5793, 5793, 5793},    {7880, 6681, 4464, 1567},   {6992, 2896, -2896, -6992},
    {6130, -1438, -7231, -4096}, {5069, -5069, -5069, 5069}, {3871, -6833, 1359, 5793},
    {2399, -5793, 5793, -2399},  {1152, -3281, 4911, -5793},
};
constexpr int kFirstPassShift = 9;    // keeps 5 fraction bits
constexpr int kSecondPassShift = 16;  // leaves 16 * W * F

namespace generic {
ForwardTransformFn ForwardTransform;
QuantiseFn Quantise;
}  // namespace generic
namespace sse2 {
ForwardTransformFn ForwardTransform;
QuantiseFn Quantise;
}  // namespace sse2
namespace avx2 {
ForwardTransformFn ForwardTransform;
QuantiseFn Quantise;
}  // namespace avx2

}  // namespace fluxmere::transcode::dv
