// The portable kernels of the DV encoder, and the dispatch of their variants.

#include "transcode/dv_kernels.h"

#include "transcode/dv_tables.h"

namespace fluxmere::transcode::dv {
namespace generic {
namespace {

// One pass down the columns of `in` (8 rows of 8): out[u][x] = the 1-D transform of column x,
// rounded and shifted right by `shift`.
void Pass(const int16_t in[8][8], int16_t out[8][8], int shift) {
    const int32_t round = 1 << (shift - 1);
    for (int x = 0; x < 8; ++x) {
        int32_t even[4], odd[4];
        for (int k = 0; k < 4; ++k) {
            even[k] = in[k][x] + in[7 - k][x];
            odd[k] = in[k][x] - in[7 - k][x];
        }
        for (int u = 0; u < 8; ++u) {
            const int32_t* half = u % 2 == 0 ? even : odd;
            int32_t sum = 0;
            for (int k = 0; k < 4; ++k) {
                sum += kPassMatrix[u][k] * half[k];
            }
            out[u][x] = static_cast<int16_t>((sum + round) >> shift);
        }
    }
}

}  // namespace

void ForwardTransform(const BlockSamples* blocks, int count, TransformedBlock* out) {
    for (int b = 0; b < count; ++b) {
        int16_t samples[8][8], vertical[8][8], transposed[8][8], result[8][8];
        for (int y = 0; y < 8; ++y) {
            const uint8_t* row = blocks[b].rows + y * blocks[b].stride;
            for (int x = 0; x < 8; ++x) {
                samples[y][x] = static_cast<int16_t>(row[x] - 128);
            }
        }
        Pass(samples, vertical, kFirstPassShift);  // vertical[v][x]
        for (int v = 0; v < 8; ++v) {
            for (int x = 0; x < 8; ++x) {
                transposed[x][v] = vertical[v][x];
            }
        }
        Pass(transposed, result, kSecondPassShift);  // result[h][v]
        const int16_t* coefficient = &result[0][0];
        TransformedBlock& block = out[b];
        uint64_t negative = 0;
        int largest = 0;
        for (int scan = 0; scan < 64; ++scan) {
            const int value = coefficient[kScan.coefficient[scan]];
            const int amplitude = value < 0 ? -value : value;
            block.amplitude[scan] = static_cast<uint16_t>(amplitude);
            negative |= static_cast<uint64_t>(value < 0) << scan;
            if (scan > 0) {
                largest = amplitude > largest ? amplitude : largest;
            }
        }
        block.negative = negative;
        block.dc = coefficient[0];
        block.largest = static_cast<uint16_t>(largest);
    }
}

uint64_t Quantise(const uint16_t* amplitude, const QuantiserSteps& steps, uint16_t* level) {
    uint64_t coded = 0;
    for (int s = 0; s < 64; ++s) {
        const uint32_t value =
            (static_cast<uint32_t>(amplitude[s] + steps.add[s]) * steps.scale[s]) >> 16;
        level[s] = static_cast<uint16_t>(value < 255 ? value : 255);
        coded |= static_cast<uint64_t>(amplitude[s] > steps.below[s]) << s;
    }
    return coded;
}

}  // namespace generic

#if FLUXMERE_DV_X86_VARIANTS
// Index 1 only promises SSE; 2 and up have SSE2; the last slot is variant 4 with AVX2.
const PrimitiveVariants<ForwardTransformFn> kForwardTransformVariants = {
    {generic::ForwardTransform, generic::ForwardTransform, sse2::ForwardTransform,
     sse2::ForwardTransform, sse2::ForwardTransform, avx2::ForwardTransform}};
const PrimitiveVariants<QuantiseFn> kQuantiseVariants = {{generic::Quantise, generic::Quantise,
                                                          sse2::Quantise, sse2::Quantise,
                                                          sse2::Quantise, avx2::Quantise}};
#else
const PrimitiveVariants<ForwardTransformFn> kForwardTransformVariants = {
    {generic::ForwardTransform, generic::ForwardTransform, generic::ForwardTransform,
     generic::ForwardTransform, generic::ForwardTransform, generic::ForwardTransform}};
const PrimitiveVariants<QuantiseFn> kQuantiseVariants = {{generic::Quantise, generic::Quantise,
                                                          generic::Quantise, generic::Quantise,
                                                          generic::Quantise, generic::Quantise}};
#endif

void ForwardTransform(const BlockSamples* blocks, int count, TransformedBlock* out) {
    kForwardTransformVariants.Active()(blocks, count, out);
}

uint64_t Quantise(const uint16_t* amplitude, const QuantiserSteps& steps, uint16_t* level) {
    return kQuantiseVariants.Active()(amplitude, steps, level);
}

}  // namespace fluxmere::transcode::dv
