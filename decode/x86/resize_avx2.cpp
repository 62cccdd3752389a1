// The generic resize kernels built for AVX2 (the wide-vector slot of variant 4). The compiler's
// vectoriser then works on eight floats at a time; without fused multiply-adds every value is
// the one the generic build computes.
//
// Enlarging, the cubic pass runs on hand-written kernels instead: a source row is widened into
// three planes (one per channel), and eight destination columns at a time take their four
// samples from one vector of eight consecutive source pixels by permutes, the weights kept in
// registers for all three planes. The vertical pass works on the planes as well and interleaves
// the channels only when it packs the bytes. Every value is computed with the operations of the
// generic kernels in their order, so the bytes are the same.

#include <immintrin.h>

#define FLUXMERE_RESIZE_KERNELS avx2
#define FLUXMERE_RESIZE_PLANAR_CUBIC 1
#include "decode/resize/resize_generic.cpp"

namespace fluxmere::resize::avx2 {
namespace {

constexpr int32_t kSpanPadding = 8;  // values after each widened plane

bool PlanarCubicFits(const CubicWork& w, int32_t width) {
    for (int32_t j = 0; j < width; j += 8) {
        const int32_t last = j + 7 < width ? j + 7 : width - 1;
        for (int32_t k = j + 1; k <= last; ++k) {
            const int32_t offset = w.colFirst[k] - w.colFirst[j];
            if (offset < 0 || offset > 4) {
                return false;
            }
        }
    }
    return true;
}

// The groups of eight columns: where each group's samples start in the widened planes, each
// column's offset from there, and the weights regrouped by tap. Columns past the width repeat
// the last one.
void MakeGroups(const CubicWork& w, int32_t width, int32_t spanFirst) {
    const int32_t groups = static_cast<int32_t>(RoundUpToEight(width) / 8);
    for (int32_t g = 0; g < groups; ++g) {
        const int32_t first = w.colFirst[8 * g];
        w.groupStart[g] = first - spanFirst;
        for (int32_t lane = 0; lane < 8; ++lane) {
            const int32_t j = 8 * g + lane < width ? 8 * g + lane : width - 1;
            w.groupOffsets[8 * g + lane] = w.colFirst[j] - first;
            for (int k = 0; k < 4; ++k) {
                w.groupWeights[32 * g + 8 * k + lane] = w.colWeights[4 * j + k];
            }
        }
    }
}

// Pixels 0..3 of a 16-byte load, one channel, as 32-bit lanes (bytes c, c + 3, c + 6, c + 9).
__m256i ChannelMask(int c) {
    return _mm256_setr_epi8(c, -1, -1, -1, c + 3, -1, -1, -1, c + 6, -1, -1, -1, c + 9, -1, -1, -1,
                            c, -1, -1, -1, c + 3, -1, -1, -1, c + 6, -1, -1, -1, c + 9, -1, -1, -1);
}

// A row of pixels (3 bytes each) into three planes of floats.
void WidenToPlanes(const uint8_t* in, int32_t pixels, float* const planes[3]) {
    const __m256i masks[3] = {ChannelMask(0), ChannelMask(1), ChannelMask(2)};
    int32_t x = 0;
    // Eight pixels from two 16-byte loads at bytes 0 and 12; the second reads up to byte 27.
    for (; 3 * x + 28 <= 3 * pixels; x += 8) {
        const uint8_t* p = in + 3 * static_cast<ptrdiff_t>(x);
        const __m256i bytes = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
        for (int c = 0; c < 3; ++c) {
            _mm256_storeu_ps(planes[c] + x,
                             _mm256_cvtepi32_ps(_mm256_shuffle_epi8(bytes, masks[c])));
        }
    }
    for (; x < pixels; ++x) {
        for (int c = 0; c < 3; ++c) {
            planes[c][x] = in[3 * static_cast<ptrdiff_t>(x) + c];
        }
    }
}

// One source row interpolated horizontally into three planes of RoundUpToEight(width) values:
// per value c0 p0 + c1 p1 + c2 p2 + c3 p3 in that order, as CubicRow computes it.
void PlanarRow(const uint8_t* in, const CubicWork& w, int32_t spanFirst, int32_t spanPixels,
               int32_t width, float* out) {
    const ptrdiff_t spanStride = spanPixels + kSpanPadding;
    float* const span[3] = {w.spanRow, w.spanRow + spanStride, w.spanRow + 2 * spanStride};
    WidenToPlanes(in + static_cast<ptrdiff_t>(spanFirst) * 3, spanPixels, span);
    const ptrdiff_t planeStride = static_cast<ptrdiff_t>(RoundUpToEight(width));
    const int32_t groups = static_cast<int32_t>(planeStride / 8);
    const __m256i one = _mm256_set1_epi32(1);
    for (int32_t g = 0; g < groups; ++g) {
        const __m256i at0 =
            _mm256_load_si256(reinterpret_cast<const __m256i*>(w.groupOffsets + 8 * g));
        const __m256i at1 = _mm256_add_epi32(at0, one);
        const __m256i at2 = _mm256_add_epi32(at1, one);
        const __m256i at3 = _mm256_add_epi32(at2, one);
        const float* weights = w.groupWeights + 32 * static_cast<ptrdiff_t>(g);
        const __m256 c0 = _mm256_load_ps(weights);
        const __m256 c1 = _mm256_load_ps(weights + 8);
        const __m256 c2 = _mm256_load_ps(weights + 16);
        const __m256 c3 = _mm256_load_ps(weights + 24);
        const ptrdiff_t start = w.groupStart[g];
        for (int c = 0; c < 3; ++c) {
            const __m256 window = _mm256_loadu_ps(span[c] + start);
            __m256 sum = _mm256_mul_ps(c0, _mm256_permutevar8x32_ps(window, at0));
            sum = _mm256_add_ps(sum, _mm256_mul_ps(c1, _mm256_permutevar8x32_ps(window, at1)));
            sum = _mm256_add_ps(sum, _mm256_mul_ps(c2, _mm256_permutevar8x32_ps(window, at2)));
            sum = _mm256_add_ps(sum, _mm256_mul_ps(c3, _mm256_permutevar8x32_ps(window, at3)));
            _mm256_store_ps(out + c * planeStride + 8 * g, sum);
        }
    }
}

// Eight values of one plane of the four rows, c0 r0 + c1 r1 + c2 r2 + c3 r3 + 0.5000001 as
// CubicColumn computes them, truncated to integers.
[[gnu::always_inline]] inline __m256i Vertical(const float* const h[4], ptrdiff_t at, __m256 c0,
                                               __m256 c1, __m256 c2, __m256 c3, __m256 half) {
    __m256 sum = _mm256_mul_ps(c0, _mm256_load_ps(h[0] + at));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c1, _mm256_load_ps(h[1] + at)));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c2, _mm256_load_ps(h[2] + at)));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c3, _mm256_load_ps(h[3] + at)));
    return _mm256_cvttps_epi32(_mm256_add_ps(sum, half));
}

// Bytes R0..3 G0..3 B0..3 B0..3 of each half (eight values of each plane, truncated) clamped to
// 0..255 by the saturating packs and interleaved into pixels R G B, written to out[0..23] (of
// which only the first `bytes` when fewer remain in the row).
[[gnu::always_inline]] inline void StorePixels(__m256i red, __m256i green, __m256i blue,
                                               __m256i order, uint8_t* out, ptrdiff_t bytes) {
    const __m256i packed =
        _mm256_packus_epi16(_mm256_packs_epi32(red, green), _mm256_packs_epi32(blue, blue));
    const __m256i pixels = _mm256_shuffle_epi8(packed, order);
    if (bytes >= 28) {
        // 12 bytes of each half; the 4 bytes after the second belong to the next group.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(pixels));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 12), _mm256_extracti128_si256(pixels, 1));
    } else {
        alignas(32) uint8_t last[32];
        _mm_store_si128(reinterpret_cast<__m128i*>(last), _mm256_castsi256_si128(pixels));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last + 12),
                         _mm256_extracti128_si256(pixels, 1));
        std::memcpy(out, last, static_cast<size_t>(bytes < 24 ? bytes : 24));
    }
}

struct RowWeights {
    __m256 c0, c1, c2, c3;
    explicit RowWeights(const float* c)
        : c0(_mm256_set1_ps(c[0])),
          c1(_mm256_set1_ps(c[1])),
          c2(_mm256_set1_ps(c[2])),
          c3(_mm256_set1_ps(c[3])) {}
};

// Eight values of one plane from its four rows r[0..3]: c0 r0 + c1 r1 + c2 r2 + c3 r3 +
// 0.5000001 as CubicColumn computes them, truncated to integers.
[[gnu::always_inline]] inline __m256i Vertical(const __m256 r[4], const RowWeights& c,
                                               __m256 half) {
    __m256 sum = _mm256_mul_ps(c.c0, r[0]);
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c.c1, r[1]));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c.c2, r[2]));
    sum = _mm256_add_ps(sum, _mm256_mul_ps(c.c3, r[3]));
    return _mm256_cvttps_epi32(_mm256_add_ps(sum, half));
}

// One destination row from four planar rows.
void PlanarColumn(float* const* rows, const float* weights, int32_t width, uint8_t* out) {
    const ptrdiff_t planeStride = static_cast<ptrdiff_t>(RoundUpToEight(width));
    const RowWeights c(weights);
    const __m256 half = _mm256_set1_ps(0.5000001f);
    const __m256i order = _mm256_setr_epi8(0, 4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1, 0,
                                           4, 8, 1, 5, 9, 2, 6, 10, 3, 7, 11, -1, -1, -1, -1);
    const ptrdiff_t bytes = static_cast<ptrdiff_t>(width) * 3;
    for (ptrdiff_t j = 0; j < width; j += 8) {
        __m256i values[3];
        for (int p = 0; p < 3; ++p) {
            __m256 r[4];
            for (int n = 0; n < 4; ++n) {
                r[n] = _mm256_load_ps(rows[n] + p * planeStride + j);
            }
            values[p] = Vertical(r, c, half);
        }
        StorePixels(values[0], values[1], values[2], order, out + 3 * j, bytes - 3 * j);
    }
}

void RunPlanarCubic(const Plan& plan, const CubicWork& w, int32_t spanFirst, int32_t spanPixels) {
    const int32_t width = plan.x.used;
    MakeGroups(w, width, spanFirst);
    // The window of the last group may reach past the span: keep those values defined.
    const ptrdiff_t spanStride = spanPixels + kSpanPadding;
    for (int c = 0; c < 3; ++c) {
        std::memset(w.spanRow + c * spanStride + spanPixels, 0, kSpanPadding * sizeof(float));
    }
    RowRing<float, 4> ring(w.rows);
    auto fill = [&](int32_t row, float* out) {
        PlanarRow(SourceRow(plan, row), w, spanFirst, spanPixels, width, out);
    };
    for (int32_t i = 0; i < plan.y.used; ++i) {
        float* h[4];
        ring.Get(w.rowFirst[i], h, fill);
        PlanarColumn(h, w.rowWeights + 4 * static_cast<ptrdiff_t>(i), width,
                     DestinationRow(plan, i));
    }
}

}  // namespace
}  // namespace fluxmere::resize::avx2
