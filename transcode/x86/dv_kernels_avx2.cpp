// AVX2 kernels of the DV encoder: the generic transform's arithmetic, exactly, on two blocks at
// once (one in each 128-bit half of the registers; no step crosses the halves), and
// quantisation 16 positions at a time.

#include <immintrin.h>

#include <utility>

#include "transcode/dv_kernels.h"
#include "transcode/dv_tables.h"

namespace fluxmere::transcode::dv::avx2 {
namespace {

// Everything below is forced inline: the register arrays must stay in registers, and a 32-bit
// build, short of registers, would otherwise pass them through memory.

// The vpshufb pattern that moves the words of coefficient row h (its coefficients (h, 0..7))
// to their places among scan positions 8i..8i+7, and zeroes the rest.
struct ZigzagShuffles {
    alignas(16) uint8_t pattern[8][8][16] = {};
    bool used[8][8] = {};
};

constexpr ZigzagShuffles MakeZigzagShuffles() {
    ZigzagShuffles z;
    for (int i = 0; i < 8; ++i) {
        for (int h = 0; h < 8; ++h) {
            for (int j = 0; j < 8; ++j) {
                const int coefficient = kScan.coefficient[8 * i + j];
                const bool here = coefficient / 8 == h;
                z.pattern[i][h][2 * j] = here ? static_cast<uint8_t>(2 * (coefficient % 8)) : 0x80;
                z.pattern[i][h][2 * j + 1] =
                    here ? static_cast<uint8_t>(2 * (coefficient % 8) + 1) : 0x80;
                z.used[i][h] = z.used[i][h] || here;
            }
        }
    }
    return z;
}

constexpr ZigzagShuffles kZigzag = MakeZigzagShuffles();

[[gnu::always_inline]] inline __m256i Pair(int16_t a, int16_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
}

// sum over k of M[u][k] * x_k for the interleaved pairs (x0, x1) and (x2, x3), rounded, shifted
// and packed back to 16 bits.
template <int kU, int kShift>
[[gnu::always_inline]] inline __m256i Output(__m256i x01Low, __m256i x01High, __m256i x23Low,
                                             __m256i x23High) {
    const __m256i m01 = Pair(kPassMatrix[kU][0], kPassMatrix[kU][1]);
    const __m256i m23 = Pair(kPassMatrix[kU][2], kPassMatrix[kU][3]);
    const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
    const __m256i low = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(x01Low, m01), _mm256_madd_epi16(x23Low, m23)), round);
    const __m256i high = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(x01High, m01), _mm256_madd_epi16(x23High, m23)), round);
    return _mm256_packs_epi32(_mm256_srai_epi32(low, kShift), _mm256_srai_epi32(high, kShift));
}

// One pass down the columns of both blocks: r[k] holds row k, and gets output row k.
template <int kShift>
[[gnu::always_inline]] inline void Pass(__m256i r[8]) {
    const __m256i e0 = _mm256_add_epi16(r[0], r[7]), o0 = _mm256_sub_epi16(r[0], r[7]);
    const __m256i e1 = _mm256_add_epi16(r[1], r[6]), o1 = _mm256_sub_epi16(r[1], r[6]);
    const __m256i e2 = _mm256_add_epi16(r[2], r[5]), o2 = _mm256_sub_epi16(r[2], r[5]);
    const __m256i e3 = _mm256_add_epi16(r[3], r[4]), o3 = _mm256_sub_epi16(r[3], r[4]);
    const __m256i e01l = _mm256_unpacklo_epi16(e0, e1), e01h = _mm256_unpackhi_epi16(e0, e1);
    const __m256i e23l = _mm256_unpacklo_epi16(e2, e3), e23h = _mm256_unpackhi_epi16(e2, e3);
    r[0] = Output<0, kShift>(e01l, e01h, e23l, e23h);
    r[2] = Output<2, kShift>(e01l, e01h, e23l, e23h);
    r[4] = Output<4, kShift>(e01l, e01h, e23l, e23h);
    r[6] = Output<6, kShift>(e01l, e01h, e23l, e23h);
    const __m256i o01l = _mm256_unpacklo_epi16(o0, o1), o01h = _mm256_unpackhi_epi16(o0, o1);
    const __m256i o23l = _mm256_unpacklo_epi16(o2, o3), o23h = _mm256_unpackhi_epi16(o2, o3);
    r[1] = Output<1, kShift>(o01l, o01h, o23l, o23h);
    r[3] = Output<3, kShift>(o01l, o01h, o23l, o23h);
    r[5] = Output<5, kShift>(o01l, o01h, o23l, o23h);
    r[7] = Output<7, kShift>(o01l, o01h, o23l, o23h);
}

// 8 x 8 words of each half transposed.
[[gnu::always_inline]] inline void Transpose(__m256i r[8]) {
    const __m256i t0 = _mm256_unpacklo_epi16(r[0], r[1]), t1 = _mm256_unpackhi_epi16(r[0], r[1]);
    const __m256i t2 = _mm256_unpacklo_epi16(r[2], r[3]), t3 = _mm256_unpackhi_epi16(r[2], r[3]);
    const __m256i t4 = _mm256_unpacklo_epi16(r[4], r[5]), t5 = _mm256_unpackhi_epi16(r[4], r[5]);
    const __m256i t6 = _mm256_unpacklo_epi16(r[6], r[7]), t7 = _mm256_unpackhi_epi16(r[6], r[7]);
    const __m256i u0 = _mm256_unpacklo_epi32(t0, t2), u1 = _mm256_unpackhi_epi32(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi32(t1, t3), u3 = _mm256_unpackhi_epi32(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi32(t4, t6), u5 = _mm256_unpackhi_epi32(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi32(t5, t7), u7 = _mm256_unpackhi_epi32(t5, t7);
    r[0] = _mm256_unpacklo_epi64(u0, u4);
    r[1] = _mm256_unpackhi_epi64(u0, u4);
    r[2] = _mm256_unpacklo_epi64(u1, u5);
    r[3] = _mm256_unpackhi_epi64(u1, u5);
    r[4] = _mm256_unpacklo_epi64(u2, u6);
    r[5] = _mm256_unpackhi_epi64(u2, u6);
    r[6] = _mm256_unpacklo_epi64(u3, u7);
    r[7] = _mm256_unpackhi_epi64(u3, u7);
}

template <int kI, int kH>
[[gnu::always_inline]] inline __m256i ZigzagPart(const __m256i g[8], __m256i gathered) {
    if constexpr (kZigzag.used[kI][kH]) {
        const __m256i pattern = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(kZigzag.pattern[kI][kH])));
        return _mm256_or_si256(gathered, _mm256_shuffle_epi8(g[kH], pattern));
    }
    return gathered;
}

// Scan positions 8i..8i+7 of both blocks, from the coefficient rows g[h] = (h, 0..7).
template <int kI, size_t... kH>
[[gnu::always_inline]] inline __m256i ScanVector(const __m256i g[8], std::index_sequence<kH...>) {
    __m256i gathered = _mm256_setzero_si256();
    ((gathered = ZigzagPart<kI, static_cast<int>(kH)>(g, gathered)), ...);
    return gathered;
}

template <size_t... kI>
[[gnu::always_inline]] inline void Zigzag(const __m256i g[8], __m256i s[8],
                                          std::index_sequence<kI...>) {
    ((s[kI] = ScanVector<static_cast<int>(kI)>(g, std::make_index_sequence<8>())), ...);
}

[[gnu::always_inline]] inline __m256i LoadRows(const BlockSamples& a, const BlockSamples& b,
                                               int y) {
    const __m128i rowA = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(a.rows + y * a.stride));
    const __m128i rowB = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b.rows + y * b.stride));
    const __m256i words = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_cvtepu8_epi16(rowA)),
                                                  _mm_cvtepu8_epi16(rowB), 1);
    return _mm256_sub_epi16(words, _mm256_set1_epi16(128));
}

// Largest word of each half, in word 0 of that half.
[[gnu::always_inline]] inline __m256i HalfMax(__m256i v) {
    v = _mm256_max_epi16(v, _mm256_srli_si256(v, 8));
    v = _mm256_max_epi16(v, _mm256_srli_si256(v, 4));
    return _mm256_max_epi16(v, _mm256_srli_si256(v, 2));
}

// Transforms blocks a and b (they may be the same) into outA and outB (outB may be null).
void TransformPair(const BlockSamples& a, const BlockSamples& b, TransformedBlock* outA,
                   TransformedBlock* outB) {
    __m256i r[8];
    for (int y = 0; y < 8; ++y) {
        r[y] = LoadRows(a, b, y);
    }
    Pass<kFirstPassShift>(r);
    Transpose(r);
    Pass<kSecondPassShift>(r);  // r[h]: coefficients (h, 0..7)
    __m256i s[8];
    Zigzag(r, s, std::make_index_sequence<8>());

    const __m256i zero = _mm256_setzero_si256();
    uint32_t negative[4], largest;
    __m256i top = zero;
    for (int i = 0; i < 8; i += 2) {
        const __m256i amplitude0 = _mm256_abs_epi16(s[i]);
        const __m256i amplitude1 = _mm256_abs_epi16(s[i + 1]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outA->amplitude + 8 * i),
                         _mm256_castsi256_si128(amplitude0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outA->amplitude + 8 * i + 8),
                         _mm256_castsi256_si128(amplitude1));
        if (outB != nullptr) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outB->amplitude + 8 * i),
                             _mm256_extracti128_si256(amplitude0, 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(outB->amplitude + 8 * i + 8),
                             _mm256_extracti128_si256(amplitude1, 1));
        }
        // Position 0 (the DC coefficient) takes no part in the largest AC amplitude.
        const __m256i ac0 = i == 0 ? _mm256_blend_epi16(amplitude0, zero, 1) : amplitude0;
        top = _mm256_max_epi16(top, _mm256_max_epi16(ac0, amplitude1));
        // Bits 0..15: positions 8i..8i+15 of block a; bits 16..31 those of block b.
        negative[i / 2] = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(
            _mm256_cmpgt_epi16(zero, s[i]), _mm256_cmpgt_epi16(zero, s[i + 1]))));
    }
    top = HalfMax(top);
    largest = static_cast<uint32_t>(_mm256_extract_epi16(top, 0)) |
              static_cast<uint32_t>(_mm256_extract_epi16(top, 8)) << 16;

    uint64_t negativeA = 0, negativeB = 0;
    for (int q = 0; q < 4; ++q) {
        negativeA |= static_cast<uint64_t>(negative[q] & 0xFFFF) << (16 * q);
        negativeB |= static_cast<uint64_t>(negative[q] >> 16) << (16 * q);
    }
    outA->negative = negativeA;
    outA->dc = static_cast<int16_t>(_mm256_extract_epi16(s[0], 0));
    outA->largest = static_cast<uint16_t>(largest);
    if (outB != nullptr) {
        outB->negative = negativeB;
        outB->dc = static_cast<int16_t>(_mm256_extract_epi16(s[0], 8));
        outB->largest = static_cast<uint16_t>(largest >> 16);
    }
}

}  // namespace

void ForwardTransform(const BlockSamples* blocks, int count, TransformedBlock* out) {
    int b = 0;
    for (; b + 1 < count; b += 2) {
        TransformPair(blocks[b], blocks[b + 1], out + b, out + b + 1);
    }
    if (b < count) {
        TransformPair(blocks[b], blocks[b], out + b, nullptr);
    }
}

uint64_t Quantise(const uint16_t* amplitude, const QuantiserSteps& steps, uint16_t* level) {
    const __m256i most = _mm256_set1_epi16(255);
    uint64_t coded = 0;
    for (int half = 0; half < 2; ++half) {
        __m256i kept[2];
        for (int i = 0; i < 2; ++i) {
            const int at = 32 * half + 16 * i;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(amplitude + at));
            const __m256i sum = _mm256_add_epi16(
                a, _mm256_load_si256(reinterpret_cast<const __m256i*>(steps.add + at)));
            const __m256i value = _mm256_mulhi_epu16(
                sum, _mm256_load_si256(reinterpret_cast<const __m256i*>(steps.scale + at)));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(level + at),
                                _mm256_min_epi16(value, most));
            kept[i] = _mm256_cmpgt_epi16(
                a, _mm256_load_si256(reinterpret_cast<const __m256i*>(steps.below + at)));
        }
        // packs interleaves the halves of its two sources; put the positions back in order.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(kept[0], kept[1]), 0xD8);
        coded |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(bytes)))
                 << (32 * half);
    }
    return coded;
}

}  // namespace fluxmere::transcode::dv::avx2
