// AVX2 block work of the encoder: the SSE2 arithmetic (the generic one, exactly) with one block
// in each 128-bit half of the registers. Every step of the transform works within the halves, so
// the two blocks never mix; the quantiser takes sixteen coefficients at a time.

#include <immintrin.h>

#include "transcode/x86/mpeg2_intra_kernels_x86.h"
#include "transcode/x86/mpeg2_transform_steps.h"

namespace fluxmere::transcode::mpeg2::avx2 {

namespace {

struct Ops {
    using V = __m256i;
    // Helpers are forced inline so that the register arrays stay in registers.
    [[gnu::always_inline]] static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
    [[gnu::always_inline]] static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
    [[gnu::always_inline]] static V Add32(V a, V b) { return _mm256_add_epi32(a, b); }
    [[gnu::always_inline]] static V Madd(V a, V b) { return _mm256_madd_epi16(a, b); }
    [[gnu::always_inline]] static V Set32(int value) { return _mm256_set1_epi32(value); }
    template <int kShift>
    [[gnu::always_inline]] static V Shift32(V a) {
        return _mm256_srai_epi32(a, kShift);
    }
    [[gnu::always_inline]] static V Pack32(V lo, V hi) { return _mm256_packs_epi32(lo, hi); }
    [[gnu::always_inline]] static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    [[gnu::always_inline]] static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    [[gnu::always_inline]] static V UnpackLo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    [[gnu::always_inline]] static V UnpackHi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    [[gnu::always_inline]] static V UnpackLo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
    [[gnu::always_inline]] static V UnpackHi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
    // a, b, a, b, ...: the second operand of vpmaddwd on pairs.
    [[gnu::always_inline]] static V Pair(int a, int b) {
        return _mm256_set1_epi32(static_cast<int32_t>(
            static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
    }
};

}  // namespace

void ForwardDctPair(const uint8_t* first, const uint8_t* second, ptrdiff_t stride, int16_t* out) {
    const __m256i offset = _mm256_set1_epi16(128);
    __m256i r[8];
    for (int k = 0; k < 8; ++k) {
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(first + k * stride));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(second + k * stride));
        r[k] = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_unpacklo_epi64(a, b)), offset);
    }
    x86::ForwardTransform<Ops>(r);
    // Into scan order with in-lane byte shuffles, both blocks at once.
    using x86::kScanGather;
    for (int j = 0; j < 8; ++j) {
        __m256i gathered = _mm256_setzero_si256();
        for (int k = 0; k < kScanGather.count[j]; ++k) {
            const __m256i mask = _mm256_broadcastsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(kScanGather.mask[j][k])));
            gathered =
                _mm256_or_si256(gathered, _mm256_shuffle_epi8(r[kScanGather.source[j][k]], mask));
        }
        _mm_store_si128(reinterpret_cast<__m128i*>(out + 8 * j), _mm256_castsi256_si128(gathered));
        _mm_store_si128(reinterpret_cast<__m128i*>(out + 64 + 8 * j),
                        _mm256_extracti128_si256(gathered, 1));
    }
}

uint64_t QuantiseBlock(const int16_t* coefficients, const BlockQuantiser& quantiser,
                       int16_t* levels) {
    const __m256i limit = _mm256_set1_epi16(2047);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t nonzero = 0;
    for (int k = 0; k < 64; k += 32) {
        __m256i level[2];
        for (int h = 0; h < 2; ++h) {
            const int at = k + 16 * h;
            const __m256i c =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(coefficients + at));
            const __m256i sign = _mm256_srai_epi16(c, 15);
            const __m256i biased = _mm256_add_epi16(
                _mm256_abs_epi16(c),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(quantiser.bias + at)));
            const __m256i scaled = _mm256_srli_epi16(
                _mm256_mulhi_epu16(biased, _mm256_load_si256(reinterpret_cast<const __m256i*>(
                                               quantiser.reciprocal + at))),
                2);
            const __m256i clamped = _mm256_min_epi16(scaled, limit);
            level[h] = _mm256_sub_epi16(_mm256_xor_si256(clamped, sign), sign);
            _mm256_store_si256(reinterpret_cast<__m256i*>(levels + at), level[h]);
        }
        // packs interleaves the halves; the permutation puts the 32 bytes back in order
        const __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packs_epi16(level[0], level[1]), 0xD8);
        const uint32_t zeros =
            static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(packed, zero)));
        nonzero |= static_cast<uint64_t>(~zeros) << k;
    }
    return nonzero;
}

}  // namespace fluxmere::transcode::mpeg2::avx2
