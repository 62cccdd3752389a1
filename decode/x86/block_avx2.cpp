// AVX2 inverse DCT of two blocks at once: the SSE2 transform's arithmetic (the generic one,
// exactly) with one block in each 128-bit half of the registers. Every step works within the
// halves, so the two blocks never mix; the 32-bit products by 5793 use vpmulld.

#include <immintrin.h>

#include <cstddef>

#include "decode/x86/primitives_avx2.h"

namespace fluxmere::avx2 {
namespace {

// Every helper is forced inline: the register arrays they pass must stay in registers, and a
// 32-bit build, short of registers, otherwise calls the larger ones through memory.

[[gnu::always_inline]] inline __m256i Pair(int16_t a, int16_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
}

// Low 32 bits of a 32 x 32-bit product in each lane.
[[gnu::always_inline]] inline __m256i MulLo32(__m256i a, __m256i b) {
    return _mm256_mullo_epi32(a, b);
}

// The low 16 bits of each 32-bit lane of lo and hi (the results truncated to 16 bits), lane i
// of lo to 16-bit lane 2i and lane i of hi to lane 2i + 1 of each half: cheaper than packing
// them in order, and the order is followed through to the stores.
[[gnu::always_inline]] inline __m256i InterleaveLow16(__m256i lo, __m256i hi) {
    return _mm256_blend_epi16(lo, _mm256_slli_epi32(hi, 16), 0xAA);
}

template <int kShift>
[[gnu::always_inline]] inline void HalfTransform(__m256i p04, __m256i p26, __m256i p35, __m256i p17,
                                                 __m256i round, __m256i y[8]) {
    const __m256i e0 = _mm256_slli_epi32(_mm256_madd_epi16(p04, Pair(16384, 16384)), 1);
    const __m256i e1 = _mm256_slli_epi32(_mm256_madd_epi16(p04, Pair(16384, -16384)), 1);
    const __m256i e2 = _mm256_slli_epi32(_mm256_madd_epi16(p26, Pair(21407, 8867)), 1);
    const __m256i e3 = _mm256_add_epi32(_mm256_madd_epi16(p26, Pair(17734, -32768)),
                                        _mm256_madd_epi16(p26, Pair(0, -10045)));
    const __m256i p = _mm256_madd_epi16(p35, Pair(27246, 18205));
    const __m256i r = _mm256_madd_epi16(p35, Pair(-18205, 27246));
    const __m256i q = _mm256_madd_epi16(p17, Pair(32139, 6393));
    const __m256i t = _mm256_madd_epi16(p17, Pair(6393, -32138));
    const __m256i c2048 = _mm256_set1_epi32(2048);
    const __m256i c5793 = _mm256_set1_epi32(5793);
    const __m256i u = _mm256_mullo_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(p, q), c2048), 12), c5793);
    const __m256i v = _mm256_mullo_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(r, t), c2048), 12), c5793);
    const __m256i a = _mm256_sub_epi32(q, p);
    const __m256i b = _mm256_sub_epi32(t, r);

    const __m256i e02 = _mm256_add_epi32(_mm256_add_epi32(e0, e2), round);
    const __m256i e0m2 = _mm256_add_epi32(_mm256_sub_epi32(e0, e2), round);
    const __m256i e13 = _mm256_add_epi32(_mm256_add_epi32(e1, e3), round);
    const __m256i e1m3 = _mm256_add_epi32(_mm256_sub_epi32(e1, e3), round);
    const __m256i apb = _mm256_add_epi32(a, b);
    const __m256i amb = _mm256_sub_epi32(a, b);
    y[0] = _mm256_srai_epi32(_mm256_add_epi32(e02, u), kShift);
    y[7] = _mm256_srai_epi32(_mm256_sub_epi32(e02, u), kShift);
    y[1] = _mm256_srai_epi32(_mm256_add_epi32(e13, apb), kShift);
    y[6] = _mm256_srai_epi32(_mm256_sub_epi32(e13, apb), kShift);
    y[2] = _mm256_srai_epi32(_mm256_add_epi32(e1m3, amb), kShift);
    y[5] = _mm256_srai_epi32(_mm256_sub_epi32(e1m3, amb), kShift);
    y[3] = _mm256_srai_epi32(_mm256_add_epi32(e0m2, v), kShift);
    y[4] = _mm256_srai_epi32(_mm256_sub_epi32(e0m2, v), kShift);
}

// The same when inputs 4..7 are zero, from the pairs [x0, x2] and [x1, x3]: the sums regrouped
// so that each output needs fewer products (17734 = 2 x 8867), equal modulo 2^32.
template <int kShift>
[[gnu::always_inline]] inline void HalfTransform4(__m256i p02, __m256i p13, __m256i round,
                                                  __m256i y[8]) {
    const __m256i e02 =
        _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p02, Pair(16384, 21407)), 1), round);
    const __m256i e0m2 =
        _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p02, Pair(16384, -21407)), 1), round);
    const __m256i e13 =
        _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p02, Pair(16384, 8867)), 1), round);
    const __m256i e1m3 =
        _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p02, Pair(16384, -8867)), 1), round);
    const __m256i pq = _mm256_madd_epi16(p13, Pair(32139, 27246));
    const __m256i rt = _mm256_madd_epi16(p13, Pair(6393, -18205));
    const __m256i a = _mm256_madd_epi16(p13, Pair(32139, -27246));
    const __m256i b = _mm256_madd_epi16(p13, Pair(6393, 18205));
    const __m256i c2048 = _mm256_set1_epi32(2048);
    const __m256i u =
        MulLo32(_mm256_srai_epi32(_mm256_add_epi32(pq, c2048), 12), _mm256_set1_epi32(5793));
    const __m256i v =
        MulLo32(_mm256_srai_epi32(_mm256_add_epi32(rt, c2048), 12), _mm256_set1_epi32(5793));
    const __m256i apb = _mm256_add_epi32(a, b);
    const __m256i amb = _mm256_sub_epi32(a, b);
    y[0] = _mm256_srai_epi32(_mm256_add_epi32(e02, u), kShift);
    y[7] = _mm256_srai_epi32(_mm256_sub_epi32(e02, u), kShift);
    y[1] = _mm256_srai_epi32(_mm256_add_epi32(e13, apb), kShift);
    y[6] = _mm256_srai_epi32(_mm256_sub_epi32(e13, apb), kShift);
    y[2] = _mm256_srai_epi32(_mm256_add_epi32(e1m3, amb), kShift);
    y[5] = _mm256_srai_epi32(_mm256_sub_epi32(e1m3, amb), kShift);
    y[3] = _mm256_srai_epi32(_mm256_add_epi32(e0m2, v), kShift);
    y[4] = _mm256_srai_epi32(_mm256_sub_epi32(e0m2, v), kShift);
}

// One half of the transform of x[0..7]: lanes 0..3 (kHigh false) or 4..7 of each block, as
// 32-bit results. kFourInputs: x[4..7] are zero and are not read.
template <int kShift, bool kFourInputs, bool kHigh>
[[gnu::always_inline]] inline void TransformHalf(const __m256i x[8], __m256i round, __m256i y[8]) {
    const auto interleave = [](__m256i a, __m256i b) {
        return kHigh ? _mm256_unpackhi_epi16(a, b) : _mm256_unpacklo_epi16(a, b);
    };
    if (kFourInputs) {
        HalfTransform4<kShift>(interleave(x[0], x[2]), interleave(x[1], x[3]), round, y);
    } else {
        HalfTransform<kShift>(interleave(x[0], x[4]), interleave(x[2], x[6]),
                              interleave(x[3], x[5]), interleave(x[1], x[7]), round, y);
    }
}

// The transform of x[0..7] (eight lanes each), results truncated to 16 bits back into x, with
// the lanes in the order of kInterleaved (InterleaveLow16).
template <int kShift, int kRound, bool kFourInputs>
[[gnu::always_inline]] inline void Transform(__m256i x[8]) {
    const __m256i round = _mm256_set1_epi32(kRound);
    __m256i lo[8], hi[8];
    TransformHalf<kShift, kFourInputs, false>(x, round, lo);
    TransformHalf<kShift, kFourInputs, true>(x, round, hi);
    for (int k = 0; k < 8; ++k) {
        x[k] = InterleaveLow16(lo[k], hi[k]);
    }
}

// The lanes a transform's results come in: lane j holds input lane kInterleaved[j].
constexpr int kInterleaved[8] = {0, 4, 1, 5, 2, 6, 3, 7};

// Transposes m in place, row j of the result going to m[order[j]].
[[gnu::always_inline]] inline void Transpose8x8(__m256i m[8], const int order[8]) {
    const __m256i a0 = _mm256_unpacklo_epi16(m[0], m[1]), a1 = _mm256_unpackhi_epi16(m[0], m[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(m[2], m[3]), a3 = _mm256_unpackhi_epi16(m[2], m[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(m[4], m[5]), a5 = _mm256_unpackhi_epi16(m[4], m[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(m[6], m[7]), a7 = _mm256_unpackhi_epi16(m[6], m[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    m[order[0]] = _mm256_unpacklo_epi64(b0, b4);
    m[order[1]] = _mm256_unpackhi_epi64(b0, b4);
    m[order[2]] = _mm256_unpacklo_epi64(b1, b5);
    m[order[3]] = _mm256_unpackhi_epi64(b1, b5);
    m[order[4]] = _mm256_unpacklo_epi64(b2, b6);
    m[order[5]] = _mm256_unpackhi_epi64(b2, b6);
    m[order[6]] = _mm256_unpacklo_epi64(b3, b7);
    m[order[7]] = _mm256_unpackhi_epi64(b3, b7);
}

// The columns pass of the whole block, transposed: m[u] becomes column u (lanes: rows 0..7).
template <bool kFourInputs>
[[gnu::always_inline]] inline void ColumnsPass(__m256i m[8]) {
    Transform<12, 2048, kFourInputs>(m);
    Transpose8x8(m, kInterleaved);  // row j of the transpose is column kInterleaved[j]
}

// The same when columns 4..7 are zero (so are its outputs there: a transform of zeros rounds
// to 0): only lanes 0..3 are computed, and transposed straight into m[0..3], half the work.
template <bool kFourInputs>
[[gnu::always_inline]] inline void ColumnsPassOfLeftHalf(__m256i m[8]) {
    __m256i y[8];
    TransformHalf<12, kFourInputs, false>(m, _mm256_set1_epi32(2048), y);
    // Rows 2j and 2j + 1 interleaved, columns 0..3.
    const __m256i q0 = InterleaveLow16(y[0], y[1]), q1 = InterleaveLow16(y[2], y[3]);
    const __m256i q2 = InterleaveLow16(y[4], y[5]), q3 = InterleaveLow16(y[6], y[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(q0, q1), b1 = _mm256_unpackhi_epi32(q0, q1);
    const __m256i b2 = _mm256_unpacklo_epi32(q2, q3), b3 = _mm256_unpackhi_epi32(q2, q3);
    m[0] = _mm256_unpacklo_epi64(b0, b2);
    m[1] = _mm256_unpackhi_epi64(b0, b2);
    m[2] = _mm256_unpacklo_epi64(b1, b3);
    m[3] = _mm256_unpackhi_epi64(b1, b3);
}

// Columns x[0..7] of both blocks (lane j: row kInterleaved[j]) to pixels: level shift and
// clamp, then an 8 x 8 byte transpose and the stores.
[[gnu::always_inline]] inline void StoreColumns(const __m256i x[8], uint8_t* first, uint8_t* second,
                                                int32_t stride) {
    const __m256i bias = _mm256_set1_epi16(128);
    __m256i q[4];
    for (int c = 0; c < 4; ++c) {
        q[c] = _mm256_packus_epi16(_mm256_adds_epi16(x[2 * c], bias),
                                   _mm256_adds_epi16(x[2 * c + 1], bias));
    }
    const __m256i a0 = _mm256_unpacklo_epi8(q[0], q[1]), a1 = _mm256_unpackhi_epi8(q[0], q[1]);
    const __m256i a2 = _mm256_unpacklo_epi8(q[2], q[3]), a3 = _mm256_unpackhi_epi8(q[2], q[3]);
    const __m256i b0 = _mm256_unpacklo_epi8(a0, a1), b1 = _mm256_unpackhi_epi8(a0, a1);
    const __m256i b2 = _mm256_unpacklo_epi8(a2, a3), b3 = _mm256_unpackhi_epi8(a2, a3);
    // Lanes 2j and 2j + 1, whole rows, in each half.
    const __m256i rows[4] = {_mm256_unpacklo_epi32(b0, b2), _mm256_unpackhi_epi32(b0, b2),
                             _mm256_unpacklo_epi32(b1, b3), _mm256_unpackhi_epi32(b1, b3)};
    for (int j = 0; j < 4; ++j) {
        const __m128i a = _mm256_castsi256_si128(rows[j]);
        const __m128i b = _mm256_extracti128_si256(rows[j], 1);
        const ptrdiff_t upper = static_cast<ptrdiff_t>(kInterleaved[2 * j]) * stride;
        const ptrdiff_t lower = static_cast<ptrdiff_t>(kInterleaved[2 * j + 1]) * stride;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(first + upper), a);
        _mm_storeh_pi(reinterpret_cast<__m64*>(first + lower), _mm_castsi128_ps(a));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(second + upper), b);
        _mm_storeh_pi(reinterpret_cast<__m64*>(second + lower), _mm_castsi128_ps(b));
    }
}

[[gnu::always_inline]] inline __m256i Dequantise(__m256i c, __m256i q) {
    const __m256i low = _mm256_mullo_epi16(c, q);
    const __m256i high =
        _mm256_add_epi16(_mm256_mulhi_epi16(c, q), _mm256_and_si256(c, _mm256_srai_epi16(q, 15)));
    return _mm256_packs_epi32(_mm256_unpacklo_epi16(low, high), _mm256_unpackhi_epi16(low, high));
}

// The whole transform of dequantised rows m, with the shortcuts that zero rows (kRowsZero:
// rows 4..7) and zero columns (kColumnsZero: columns 4..7) allow. The columns pass leaves the
// block transposed, so zero columns become zero inputs 4..7 of the rows pass.
template <bool kRowsZero, bool kColumnsZero>
[[gnu::always_inline]] inline void TransformAndStore(__m256i m[8], uint8_t* first, uint8_t* second,
                                                     int32_t stride) {
    if (kColumnsZero) {
        ColumnsPassOfLeftHalf<kRowsZero>(m);
    } else {
        ColumnsPass<kRowsZero>(m);
    }
    Transform<21, 1048576, kColumnsZero>(m);
    StoreColumns(m, first, second, stride);
}

// Rows first..first+count-1 of both blocks into m, one block in each half, dequantised as they
// are loaded (which keeps few registers live: a 32-bit build has eight); the coefficients are
// cleared once read.
[[gnu::always_inline]] inline void LoadRows(int16_t* blocks, const uint16_t* quant, int first,
                                            int count, __m256i m[8]) {
    const __m128i zero = _mm_setzero_si128();
    for (int r = first; r < first + count; ++r) {
        __m128i* firstRow = reinterpret_cast<__m128i*>(blocks + 8 * r);
        __m128i* secondRow = reinterpret_cast<__m128i*>(blocks + 64 + 8 * r);
        const __m256i c = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(firstRow)),
                                                  _mm_loadu_si128(secondRow), 1);
        _mm_storeu_si128(firstRow, zero);
        _mm_storeu_si128(secondRow, zero);
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r));
        m[r] = Dequantise(c, _mm256_broadcastsi128_si256(q));
    }
}

}  // namespace

void InverseDctPair(int16_t* blocks, uint8_t* first, uint8_t* second, int32_t stride,
                    const uint16_t* quant) {
    // Most blocks carry no terms in rows 4..7 or columns 4..7 (of either block): shorter passes.
    // Rows 4..7 are tested before they are loaded (a zero coefficient dequantises to zero), and
    // left as they are when they are all zero.
    const auto rowPair = [blocks](int at) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks + at));
    };
    const __m256i lowerRows = _mm256_or_si256(_mm256_or_si256(rowPair(32), rowPair(48)),
                                              _mm256_or_si256(rowPair(96), rowPair(112)));
    const bool rowsZero = _mm256_testz_si256(lowerRows, lowerRows) != 0;
    __m256i m[8];
    LoadRows(blocks, quant, 0, 4, m);
    __m256i any = _mm256_or_si256(_mm256_or_si256(m[0], m[1]), _mm256_or_si256(m[2], m[3]));
    if (!rowsZero) {
        LoadRows(blocks, quant, 4, 4, m);
        any = _mm256_or_si256(
            any, _mm256_or_si256(_mm256_or_si256(m[4], m[5]), _mm256_or_si256(m[6], m[7])));
    }
    const bool columnsZero = _mm256_testz_si256(any, _mm256_set_epi64x(-1, 0, -1, 0)) != 0;
    if (rowsZero) {
        columnsZero ? TransformAndStore<true, true>(m, first, second, stride)
                    : TransformAndStore<true, false>(m, first, second, stride);
    } else {
        columnsZero ? TransformAndStore<false, true>(m, first, second, stride)
                    : TransformAndStore<false, false>(m, first, second, stride);
    }
}

}  // namespace fluxmere::avx2
