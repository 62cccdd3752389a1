// SSE2 block work of the encoder: the generic arithmetic, eight lines (or coefficients) at a time.
// The transform's butterflies run on 16-bit lanes, its products and roundings on 32-bit ones
// (pmaddwd of interleaved pairs), exactly as the generic code computes them.

#include <emmintrin.h>

#include "transcode/x86/mpeg2_intra_kernels_x86.h"
#include "transcode/x86/mpeg2_transform_steps.h"

namespace fluxmere::transcode::mpeg2::sse2 {

namespace {

struct Ops {
    using V = __m128i;
    // Helpers are forced inline so that the register arrays stay in registers.
    [[gnu::always_inline]] static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
    [[gnu::always_inline]] static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    [[gnu::always_inline]] static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
    [[gnu::always_inline]] static V Madd(V a, V b) { return _mm_madd_epi16(a, b); }
    [[gnu::always_inline]] static V Set32(int value) { return _mm_set1_epi32(value); }
    template <int kShift>
    [[gnu::always_inline]] static V Shift32(V a) {
        return _mm_srai_epi32(a, kShift);
    }
    [[gnu::always_inline]] static V Pack32(V lo, V hi) { return _mm_packs_epi32(lo, hi); }
    [[gnu::always_inline]] static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    [[gnu::always_inline]] static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    [[gnu::always_inline]] static V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    [[gnu::always_inline]] static V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    [[gnu::always_inline]] static V UnpackLo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
    [[gnu::always_inline]] static V UnpackHi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
    // a, b, a, b, ...: the second operand of pmaddwd on pairs.
    [[gnu::always_inline]] static V Pair(int a, int b) {
        return _mm_set1_epi32(static_cast<int32_t>(
            static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
    }
};

void ForwardDct(const uint8_t* pixels, ptrdiff_t stride, int16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i offset = _mm_set1_epi16(128);
    __m128i r[8];
    for (int k = 0; k < 8; ++k) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixels + k * stride));
        r[k] = _mm_sub_epi16(_mm_unpacklo_epi8(row, zero), offset);
    }
    x86::ForwardTransform<Ops>(r);
    alignas(16) int16_t transposed[64];
    for (int k = 0; k < 8; ++k) {
        _mm_store_si128(reinterpret_cast<__m128i*>(transposed + 8 * k), r[k]);
    }
    for (int i = 0; i < 64; ++i) {
        out[i] = transposed[kTransposedAlternateScan.raster[i]];
    }
}

}  // namespace

void ForwardDctPair(const uint8_t* first, const uint8_t* second, ptrdiff_t stride, int16_t* out) {
    ForwardDct(first, stride, out);
    ForwardDct(second, stride, out + 64);
}

uint64_t QuantiseBlock(const int16_t* coefficients, const BlockQuantiser& quantiser,
                       int16_t* levels) {
    const __m128i limit = _mm_set1_epi16(2047);
    const __m128i zero = _mm_setzero_si128();
    uint64_t nonzero = 0;
    for (int k = 0; k < 64; k += 16) {
        __m128i level[2];
        for (int h = 0; h < 2; ++h) {
            const int at = k + 8 * h;
            const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(coefficients + at));
            const __m128i sign = _mm_srai_epi16(c, 15);
            const __m128i magnitude = _mm_sub_epi16(_mm_xor_si128(c, sign), sign);
            const __m128i biased = _mm_add_epi16(
                magnitude, _mm_load_si128(reinterpret_cast<const __m128i*>(quantiser.bias + at)));
            const __m128i scaled = _mm_srli_epi16(
                _mm_mulhi_epu16(biased, _mm_load_si128(reinterpret_cast<const __m128i*>(
                                            quantiser.reciprocal + at))),
                2);
            const __m128i clamped = _mm_min_epi16(scaled, limit);
            level[h] = _mm_sub_epi16(_mm_xor_si128(clamped, sign), sign);
            _mm_store_si128(reinterpret_cast<__m128i*>(levels + at), level[h]);
        }
        const __m128i zeros = _mm_cmpeq_epi8(_mm_packs_epi16(level[0], level[1]), zero);
        nonzero |= static_cast<uint64_t>(~_mm_movemask_epi8(zeros) & 0xFFFF) << k;
    }
    return nonzero;
}

bool PrefersFieldDct(const uint8_t* luma, ptrdiff_t stride) {
    __m128i rows[16];
    for (int y = 0; y < 16; ++y) {
        rows[y] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + y * stride));
    }
    __m128i frame = _mm_setzero_si128(), field = _mm_setzero_si128();
    for (int y = 0; y < 15; ++y) {
        frame = _mm_add_epi64(frame, _mm_sad_epu8(rows[y], rows[y + 1]));
    }
    for (int y = 0; y < 14; ++y) {
        field = _mm_add_epi64(field, _mm_sad_epu8(rows[y], rows[y + 2]));
    }
    // frame - field over both halves: fields are preferred when it is positive
    const __m128i difference = _mm_sub_epi64(frame, field);
    const __m128i total = _mm_add_epi64(difference, _mm_unpackhi_epi64(difference, difference));
    return _mm_cvtsi128_si32(total) > 0;
}

}  // namespace fluxmere::transcode::mpeg2::sse2
