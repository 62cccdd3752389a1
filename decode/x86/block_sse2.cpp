// SSE2 inverse DCT: the generic transform's exact arithmetic, eight lanes at a time. The 32-bit
// products come from pmaddwd on interleaved pairs, with every constant split so that both
// factors fit 16 bits; sums wrap modulo 2^32 exactly like the generic variant's.

#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstddef>

#include "decode/argument_checks.h"
#include "decode/block_transform.h"
#include "decode/x86/primitives_sse2.h"
#include "decode/x86/sse2_helpers.h"

namespace fluxmere::sse2 {
namespace {

// Every helper is forced inline: the register arrays they pass must stay in registers, and a
// 32-bit build, short of registers, otherwise calls the larger ones through memory.

// Low 32 bits of a 32 x 32-bit product in each lane.
[[gnu::always_inline]] inline __m128i MulLo32(__m128i a, __m128i b) {
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                              _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// The low 16 bits of each 32-bit lane of lo and hi (the results truncated to 16 bits), lane i
// of lo to 16-bit lane 2i and lane i of hi to lane 2i + 1: cheaper than packing them in order,
// and the order is followed through to the stores.
[[gnu::always_inline]] inline __m128i InterleaveLow16(__m128i lo, __m128i hi) {
    return _mm_or_si128(_mm_and_si128(lo, _mm_set1_epi32(0xFFFF)), _mm_slli_epi32(hi, 16));
}

// One half (four lanes) of the 1-D transform on interleaved input pairs.
template <int kShift>
[[gnu::always_inline]] inline void HalfTransform(__m128i p04, __m128i p26, __m128i p35, __m128i p17,
                                                 __m128i round, __m128i y[8]) {
    const __m128i e0 = _mm_slli_epi32(_mm_madd_epi16(p04, Pair(16384, 16384)), 1);
    const __m128i e1 = _mm_slli_epi32(_mm_madd_epi16(p04, Pair(16384, -16384)), 1);
    const __m128i e2 = _mm_slli_epi32(_mm_madd_epi16(p26, Pair(21407, 8867)), 1);
    const __m128i e3 = _mm_add_epi32(_mm_madd_epi16(p26, Pair(17734, -32768)),
                                     _mm_madd_epi16(p26, Pair(0, -10045)));
    const __m128i p = _mm_madd_epi16(p35, Pair(27246, 18205));
    const __m128i r = _mm_madd_epi16(p35, Pair(-18205, 27246));
    const __m128i q = _mm_madd_epi16(p17, Pair(32139, 6393));
    const __m128i t = _mm_madd_epi16(p17, Pair(6393, -32138));
    const __m128i c2048 = _mm_set1_epi32(2048);
    const __m128i c5793 = _mm_set1_epi32(5793);
    const __m128i u = MulLo32(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(p, q), c2048), 12), c5793);
    const __m128i v = MulLo32(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(r, t), c2048), 12), c5793);
    const __m128i a = _mm_sub_epi32(q, p);
    const __m128i b = _mm_sub_epi32(t, r);

    const __m128i e02 = _mm_add_epi32(_mm_add_epi32(e0, e2), round);
    const __m128i e0m2 = _mm_add_epi32(_mm_sub_epi32(e0, e2), round);
    const __m128i e13 = _mm_add_epi32(_mm_add_epi32(e1, e3), round);
    const __m128i e1m3 = _mm_add_epi32(_mm_sub_epi32(e1, e3), round);
    const __m128i apb = _mm_add_epi32(a, b);
    const __m128i amb = _mm_sub_epi32(a, b);
    y[0] = _mm_srai_epi32(_mm_add_epi32(e02, u), kShift);
    y[7] = _mm_srai_epi32(_mm_sub_epi32(e02, u), kShift);
    y[1] = _mm_srai_epi32(_mm_add_epi32(e13, apb), kShift);
    y[6] = _mm_srai_epi32(_mm_sub_epi32(e13, apb), kShift);
    y[2] = _mm_srai_epi32(_mm_add_epi32(e1m3, amb), kShift);
    y[5] = _mm_srai_epi32(_mm_sub_epi32(e1m3, amb), kShift);
    y[3] = _mm_srai_epi32(_mm_add_epi32(e0m2, v), kShift);
    y[4] = _mm_srai_epi32(_mm_sub_epi32(e0m2, v), kShift);
}

// The same when inputs 4..7 are zero, from the pairs [x0, x2] and [x1, x3]: the sums regrouped
// so that each output needs fewer products (17734 = 2 x 8867), equal modulo 2^32.
template <int kShift>
[[gnu::always_inline]] inline void HalfTransform4(__m128i p02, __m128i p13, __m128i round,
                                                  __m128i y[8]) {
    const __m128i e02 =
        _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p02, Pair(16384, 21407)), 1), round);
    const __m128i e0m2 =
        _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p02, Pair(16384, -21407)), 1), round);
    const __m128i e13 =
        _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p02, Pair(16384, 8867)), 1), round);
    const __m128i e1m3 =
        _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p02, Pair(16384, -8867)), 1), round);
    const __m128i pq = _mm_madd_epi16(p13, Pair(32139, 27246));
    const __m128i rt = _mm_madd_epi16(p13, Pair(6393, -18205));
    const __m128i a = _mm_madd_epi16(p13, Pair(32139, -27246));
    const __m128i b = _mm_madd_epi16(p13, Pair(6393, 18205));
    const __m128i c2048 = _mm_set1_epi32(2048);
    const __m128i u = MulLo32(_mm_srai_epi32(_mm_add_epi32(pq, c2048), 12), _mm_set1_epi32(5793));
    const __m128i v = MulLo32(_mm_srai_epi32(_mm_add_epi32(rt, c2048), 12), _mm_set1_epi32(5793));
    const __m128i apb = _mm_add_epi32(a, b);
    const __m128i amb = _mm_sub_epi32(a, b);
    y[0] = _mm_srai_epi32(_mm_add_epi32(e02, u), kShift);
    y[7] = _mm_srai_epi32(_mm_sub_epi32(e02, u), kShift);
    y[1] = _mm_srai_epi32(_mm_add_epi32(e13, apb), kShift);
    y[6] = _mm_srai_epi32(_mm_sub_epi32(e13, apb), kShift);
    y[2] = _mm_srai_epi32(_mm_add_epi32(e1m3, amb), kShift);
    y[5] = _mm_srai_epi32(_mm_sub_epi32(e1m3, amb), kShift);
    y[3] = _mm_srai_epi32(_mm_add_epi32(e0m2, v), kShift);
    y[4] = _mm_srai_epi32(_mm_sub_epi32(e0m2, v), kShift);
}

// One half of the transform of x[0..7]: lanes 0..3 (kHigh false) or 4..7, as 32-bit results.
// kFourInputs: x[4..7] are zero and are not read.
template <int kShift, bool kFourInputs, bool kHigh>
[[gnu::always_inline]] inline void TransformHalf(const __m128i x[8], __m128i round, __m128i y[8]) {
    const auto interleave = [](__m128i a, __m128i b) {
        return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
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
[[gnu::always_inline]] inline void Transform(__m128i x[8]) {
    const __m128i round = _mm_set1_epi32(kRound);
    __m128i lo[8], hi[8];
    TransformHalf<kShift, kFourInputs, false>(x, round, lo);
    TransformHalf<kShift, kFourInputs, true>(x, round, hi);
    for (int k = 0; k < 8; ++k) {
        x[k] = InterleaveLow16(lo[k], hi[k]);
    }
}

// The lanes a transform's results come in: lane j holds input lane kInterleaved[j].
constexpr int kInterleaved[8] = {0, 4, 1, 5, 2, 6, 3, 7};

// Transposes m in place, row j of the result going to m[order[j]].
[[gnu::always_inline]] inline void Transpose8x8(__m128i m[8], const int order[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(m[0], m[1]), a1 = _mm_unpackhi_epi16(m[0], m[1]);
    const __m128i a2 = _mm_unpacklo_epi16(m[2], m[3]), a3 = _mm_unpackhi_epi16(m[2], m[3]);
    const __m128i a4 = _mm_unpacklo_epi16(m[4], m[5]), a5 = _mm_unpackhi_epi16(m[4], m[5]);
    const __m128i a6 = _mm_unpacklo_epi16(m[6], m[7]), a7 = _mm_unpackhi_epi16(m[6], m[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    m[order[0]] = _mm_unpacklo_epi64(b0, b4);
    m[order[1]] = _mm_unpackhi_epi64(b0, b4);
    m[order[2]] = _mm_unpacklo_epi64(b1, b5);
    m[order[3]] = _mm_unpackhi_epi64(b1, b5);
    m[order[4]] = _mm_unpacklo_epi64(b2, b6);
    m[order[5]] = _mm_unpackhi_epi64(b2, b6);
    m[order[6]] = _mm_unpacklo_epi64(b3, b7);
    m[order[7]] = _mm_unpackhi_epi64(b3, b7);
}

// The columns pass, transposed: m[u] becomes column u (lanes: rows 0..7).
template <bool kFourInputs>
[[gnu::always_inline]] inline void ColumnsPass(__m128i m[8]) {
    Transform<12, 2048, kFourInputs>(m);
    Transpose8x8(m, kInterleaved);  // row j of the transpose is column kInterleaved[j]
}

// The same when columns 4..7 are zero (so are its outputs there: a transform of zeros rounds
// to 0): only lanes 0..3 are computed, and transposed straight into m[0..3], half the work.
template <bool kFourInputs>
[[gnu::always_inline]] inline void ColumnsPassOfLeftHalf(__m128i m[8]) {
    __m128i y[8];
    TransformHalf<12, kFourInputs, false>(m, _mm_set1_epi32(2048), y);
    // Rows 2j and 2j + 1 interleaved, columns 0..3.
    const __m128i q0 = InterleaveLow16(y[0], y[1]), q1 = InterleaveLow16(y[2], y[3]);
    const __m128i q2 = InterleaveLow16(y[4], y[5]), q3 = InterleaveLow16(y[6], y[7]);
    const __m128i b0 = _mm_unpacklo_epi32(q0, q1), b1 = _mm_unpackhi_epi32(q0, q1);
    const __m128i b2 = _mm_unpacklo_epi32(q2, q3), b3 = _mm_unpackhi_epi32(q2, q3);
    m[0] = _mm_unpacklo_epi64(b0, b2);
    m[1] = _mm_unpackhi_epi64(b0, b2);
    m[2] = _mm_unpacklo_epi64(b1, b3);
    m[3] = _mm_unpackhi_epi64(b1, b3);
}

// Columns x[0..7] (lane j: row kInterleaved[j]) to pixels: level shift and clamp, then an
// 8 x 8 byte transpose and the stores.
[[gnu::always_inline]] inline void StoreColumns(const __m128i x[8], uint8_t* destination,
                                                int32_t stride) {
    const __m128i bias = _mm_set1_epi16(128);
    __m128i q[4];
    for (int c = 0; c < 4; ++c) {
        q[c] = _mm_packus_epi16(_mm_adds_epi16(x[2 * c], bias), _mm_adds_epi16(x[2 * c + 1], bias));
    }
    const __m128i a0 = _mm_unpacklo_epi8(q[0], q[1]), a1 = _mm_unpackhi_epi8(q[0], q[1]);
    const __m128i a2 = _mm_unpacklo_epi8(q[2], q[3]), a3 = _mm_unpackhi_epi8(q[2], q[3]);
    const __m128i b0 = _mm_unpacklo_epi8(a0, a1), b1 = _mm_unpackhi_epi8(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi8(a2, a3), b3 = _mm_unpackhi_epi8(a2, a3);
    // Lanes 2j and 2j + 1, whole rows.
    const __m128i rows[4] = {_mm_unpacklo_epi32(b0, b2), _mm_unpackhi_epi32(b0, b2),
                             _mm_unpacklo_epi32(b1, b3), _mm_unpackhi_epi32(b1, b3)};
    for (int j = 0; j < 4; ++j) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(
                             destination + static_cast<ptrdiff_t>(kInterleaved[2 * j]) * stride),
                         rows[j]);
        _mm_storeh_pi(reinterpret_cast<__m64*>(
                          destination + static_cast<ptrdiff_t>(kInterleaved[2 * j + 1]) * stride),
                      _mm_castsi128_ps(rows[j]));
    }
}

// Both passes and the stores, with the shortcuts that zero rows (kRowsZero: rows 4..7) and
// zero columns (kColumnsZero: columns 4..7) of the dequantised block allow. The columns pass
// leaves the block transposed, so zero columns become zero inputs 4..7 of the rows pass.
template <bool kRowsZero, bool kColumnsZero>
[[gnu::always_inline]] inline void TransformAndStore(__m128i m[8], uint8_t* destination,
                                                     int32_t stride) {
    if (kColumnsZero) {
        ColumnsPassOfLeftHalf<kRowsZero>(m);
    } else {
        ColumnsPass<kRowsZero>(m);
    }
    Transform<21, 1048576, kColumnsZero>(m);
    StoreColumns(m, destination, stride);
}

// coefficient x quantiser saturated to 16 bits, for eight lanes (quantisers are unsigned).
[[gnu::always_inline]] inline __m128i Dequantise(__m128i c, __m128i q) {
    const __m128i low = _mm_mullo_epi16(c, q);
    // pmulhw reads q as signed; a quantiser of 32768 or more needs c added to the high half.
    const __m128i high =
        _mm_add_epi16(_mm_mulhi_epi16(c, q), _mm_and_si128(c, _mm_srai_epi16(q, 15)));
    return _mm_packs_epi32(_mm_unpacklo_epi16(low, high), _mm_unpackhi_epi16(low, high));
}

}  // namespace

int32_t InverseDctBlock(const int16_t* block, uint8_t* destination, int32_t stride,
                        const uint16_t* quant) {
    const int32_t status = checks::InverseDctBlock(block, destination, stride, quant);
    if (status != StatusOk)
        return status;
    __m128i rows[8];
    for (int r = 0; r < 8; ++r) {
        rows[r] = Dequantise(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r)),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + 8 * r)));
    }
    // A block with only its DC term gives one value everywhere (the generic variant's shortcut).
    __m128i acTerms = _mm_and_si128(rows[0], _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
    for (int r = 1; r < 8; ++r) {
        acTerms = _mm_or_si128(acTerms, rows[r]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(acTerms, _mm_setzero_si128())) == 0xFFFF) {
        const int16_t dc = static_cast<int16_t>(_mm_cvtsi128_si32(rows[0]));
        const __m128i pixel = _mm_set1_epi8(static_cast<char>(DcOnlyPixel(dc)));
        for (int r = 0; r < 8; ++r) {
            _mm_storel_epi64(
                reinterpret_cast<__m128i*>(destination + static_cast<ptrdiff_t>(r) * stride),
                pixel);
        }
        return StatusOk;
    }
    // Columns first: lanes are columns, vectors rows. Most blocks carry no terms in rows 4..7 or
    // columns 4..7: shorter passes then.
    const __m128i lowerRows =
        _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7]));
    const __m128i any = _mm_or_si128(acTerms, _mm_or_si128(lowerRows, rows[0]));
    const __m128i zero = _mm_setzero_si128();
    const bool rowsZero = _mm_movemask_epi8(_mm_cmpeq_epi32(lowerRows, zero)) == 0xFFFF;
    const bool columnsZero =
        _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_unpackhi_epi64(any, any), zero)) == 0xFFFF;
    if (rowsZero) {
        columnsZero ? TransformAndStore<true, true>(rows, destination, stride)
                    : TransformAndStore<true, false>(rows, destination, stride);
    } else {
        columnsZero ? TransformAndStore<false, true>(rows, destination, stride)
                    : TransformAndStore<false, false>(rows, destination, stride);
    }
    return StatusOk;
}

void InverseDctPair(int16_t* blocks, uint8_t* first, uint8_t* second, int32_t stride,
                    const uint16_t* quant) {
    InverseDctBlock(blocks, first, stride, quant);
    InverseDctBlock(blocks + 64, second, stride, quant);
    for (int i = 0; i < 16; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(blocks + 8 * i), _mm_setzero_si128());
    }
}

}  // namespace fluxmere::sse2
