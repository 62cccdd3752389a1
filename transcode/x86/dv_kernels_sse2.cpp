// SSE2 kernels of the DV encoder: the generic transform's arithmetic, exactly, one block at a
// time with a row in each register, and quantisation 8 positions at a time.

#include <emmintrin.h>

#include "transcode/dv_kernels.h"
#include "transcode/dv_tables.h"

namespace fluxmere::transcode::dv::sse2 {
namespace {

// Everything below is forced inline: the register arrays must stay in registers as far as a
// 32-bit build allows.

[[gnu::always_inline]] inline __m128i Pair(int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
}

// sum over k of M[u][k] * x_k for the interleaved pairs (x0, x1) and (x2, x3), rounded, shifted
// and packed back to 16 bits.
template <int kU, int kShift>
[[gnu::always_inline]] inline __m128i Output(__m128i x01Low, __m128i x01High, __m128i x23Low,
                                             __m128i x23High) {
    const __m128i m01 = Pair(kPassMatrix[kU][0], kPassMatrix[kU][1]);
    const __m128i m23 = Pair(kPassMatrix[kU][2], kPassMatrix[kU][3]);
    const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
    const __m128i low = _mm_add_epi32(
        _mm_add_epi32(_mm_madd_epi16(x01Low, m01), _mm_madd_epi16(x23Low, m23)), round);
    const __m128i high = _mm_add_epi32(
        _mm_add_epi32(_mm_madd_epi16(x01High, m01), _mm_madd_epi16(x23High, m23)), round);
    return _mm_packs_epi32(_mm_srai_epi32(low, kShift), _mm_srai_epi32(high, kShift));
}

// One pass down the columns: r[k] holds row k, and gets output row k.
template <int kShift>
[[gnu::always_inline]] inline void Pass(__m128i r[8]) {
    const __m128i e0 = _mm_add_epi16(r[0], r[7]), o0 = _mm_sub_epi16(r[0], r[7]);
    const __m128i e1 = _mm_add_epi16(r[1], r[6]), o1 = _mm_sub_epi16(r[1], r[6]);
    const __m128i e2 = _mm_add_epi16(r[2], r[5]), o2 = _mm_sub_epi16(r[2], r[5]);
    const __m128i e3 = _mm_add_epi16(r[3], r[4]), o3 = _mm_sub_epi16(r[3], r[4]);
    const __m128i e01l = _mm_unpacklo_epi16(e0, e1), e01h = _mm_unpackhi_epi16(e0, e1);
    const __m128i e23l = _mm_unpacklo_epi16(e2, e3), e23h = _mm_unpackhi_epi16(e2, e3);
    r[0] = Output<0, kShift>(e01l, e01h, e23l, e23h);
    r[2] = Output<2, kShift>(e01l, e01h, e23l, e23h);
    r[4] = Output<4, kShift>(e01l, e01h, e23l, e23h);
    r[6] = Output<6, kShift>(e01l, e01h, e23l, e23h);
    const __m128i o01l = _mm_unpacklo_epi16(o0, o1), o01h = _mm_unpackhi_epi16(o0, o1);
    const __m128i o23l = _mm_unpacklo_epi16(o2, o3), o23h = _mm_unpackhi_epi16(o2, o3);
    r[1] = Output<1, kShift>(o01l, o01h, o23l, o23h);
    r[3] = Output<3, kShift>(o01l, o01h, o23l, o23h);
    r[5] = Output<5, kShift>(o01l, o01h, o23l, o23h);
    r[7] = Output<7, kShift>(o01l, o01h, o23l, o23h);
}

[[gnu::always_inline]] inline void Transpose(__m128i r[8]) {
    const __m128i t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
    const __m128i u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
    const __m128i u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
    const __m128i u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
    r[0] = _mm_unpacklo_epi64(u0, u4);
    r[1] = _mm_unpackhi_epi64(u0, u4);
    r[2] = _mm_unpacklo_epi64(u1, u5);
    r[3] = _mm_unpackhi_epi64(u1, u5);
    r[4] = _mm_unpacklo_epi64(u2, u6);
    r[5] = _mm_unpackhi_epi64(u2, u6);
    r[6] = _mm_unpacklo_epi64(u3, u7);
    r[7] = _mm_unpackhi_epi64(u3, u7);
}

void TransformBlock(const BlockSamples& block, TransformedBlock* out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i r[8];
    for (int y = 0; y < 8; ++y) {
        const __m128i bytes =
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block.rows + y * block.stride));
        r[y] = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), _mm_set1_epi16(128));
    }
    Pass<kFirstPassShift>(r);
    Transpose(r);
    Pass<kSecondPassShift>(r);  // r[h]: coefficients (h, 0..7)

    // Into scan order through memory (SSE2 has no byte shuffle), then amplitudes and signs.
    alignas(16) int16_t coefficient[64], scan[64];
    for (int h = 0; h < 8; ++h) {
        _mm_store_si128(reinterpret_cast<__m128i*>(coefficient + 8 * h), r[h]);
    }
    for (int s = 0; s < 64; ++s) {
        scan[s] = coefficient[kScan.coefficient[s]];
    }
    uint64_t negative = 0;
    __m128i top = zero;
    for (int i = 0; i < 8; ++i) {
        const __m128i value = _mm_load_si128(reinterpret_cast<const __m128i*>(scan + 8 * i));
        const __m128i amplitude = _mm_max_epi16(value, _mm_sub_epi16(zero, value));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out->amplitude + 8 * i), amplitude);
        top = _mm_max_epi16(top, i == 0 ? _mm_insert_epi16(amplitude, 0, 0) : amplitude);
        negative |= static_cast<uint64_t>(
                        _mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(zero, value), zero)))
                    << (8 * i);
    }
    top = _mm_max_epi16(top, _mm_srli_si128(top, 8));
    top = _mm_max_epi16(top, _mm_srli_si128(top, 4));
    top = _mm_max_epi16(top, _mm_srli_si128(top, 2));
    out->negative = negative;
    out->dc = scan[0];
    out->largest = static_cast<uint16_t>(_mm_extract_epi16(top, 0));
}

}  // namespace

void ForwardTransform(const BlockSamples* blocks, int count, TransformedBlock* out) {
    for (int b = 0; b < count; ++b) {
        TransformBlock(blocks[b], out + b);
    }
}

uint64_t Quantise(const uint16_t* amplitude, const QuantiserSteps& steps, uint16_t* level) {
    const __m128i most = _mm_set1_epi16(255);
    uint64_t coded = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i kept[2];
        for (int j = 0; j < 2; ++j) {
            const int at = 16 * i + 8 * j;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(amplitude + at));
            const __m128i sum =
                _mm_add_epi16(a, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.add + at)));
            const __m128i value = _mm_mulhi_epu16(
                sum, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.scale + at)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(level + at), _mm_min_epi16(value, most));
            kept[j] = _mm_cmpgt_epi16(
                a, _mm_load_si128(reinterpret_cast<const __m128i*>(steps.below + at)));
        }
        coded |= static_cast<uint64_t>(
                     static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(kept[0], kept[1]))))
                 << (16 * i);
    }
    return coded;
}

}  // namespace fluxmere::transcode::dv::sse2
