// SSE2 colour conversion: the generic 16.16 arithmetic for sixteen pixels at a time. Each
// constant too wide for pmaddwd is split into a shifted term and a 16-bit factor, so every
// 32-bit sum equals the generic one; pack-with-saturation then clamps to 0..255 exactly like
// the clamp table (every sum lies inside the table's range).

#include <emmintrin.h>

#include <cstddef>
#include <cstring>

#include "decode/argument_checks.h"
#include "decode/colour_clamp.h"
#include "decode/x86/primitives_sse2.h"
#include "decode/x86/sse2_helpers.h"

namespace fluxmere::sse2 {
namespace {

using namespace detail;

// 76282 (y - 16) + 32768 from [y - 16, 2] pairs: 65536 (y - 16) is the pair shifted up by 16
// (the 2 leaves the lane), the rest one multiply-add, 10746 (y - 16) + 2 x 16384.
inline __m128i LumaTerm(__m128i pairs) {
    return _mm_add_epi32(_mm_slli_epi32(pairs, 16),
                         _mm_madd_epi16(pairs, Pair(76282 - 65536, 16384)));
}

struct ChromaTerms {
    __m128i red, green, blue;  // four chroma samples each
};

// From [u, v] pairs: 104593 v, 25689 u + 53279 v, 132184 u.
inline ChromaTerms Chroma(__m128i uv) {
    const __m128i u = _mm_srai_epi32(_mm_slli_epi32(uv, 16), 16);
    const __m128i v = _mm_srai_epi32(uv, 16);
    ChromaTerms t;
    t.red = _mm_add_epi32(_mm_slli_epi32(v, 17), _mm_madd_epi16(uv, Pair(0, 104593 - 131072)));
    t.green = _mm_add_epi32(_mm_slli_epi32(v, 16), _mm_madd_epi16(uv, Pair(25689, 53279 - 65536)));
    t.blue = _mm_add_epi32(_mm_slli_epi32(u, 17), _mm_madd_epi16(uv, Pair(132184 - 131072, 0)));
    return t;
}

// Eight pixels of one channel: (luma +/- chroma) >> 16, saturated to 16 bits.
inline __m128i Channel(__m128i lumaLo, __m128i lumaHi, __m128i chroma, bool subtract) {
    const __m128i lo = _mm_unpacklo_epi32(chroma, chroma);  // pixels 0..3 share chroma 0, 1
    const __m128i hi = _mm_unpackhi_epi32(chroma, chroma);
    const __m128i a = subtract ? _mm_sub_epi32(lumaLo, lo) : _mm_add_epi32(lumaLo, lo);
    const __m128i b = subtract ? _mm_sub_epi32(lumaHi, hi) : _mm_add_epi32(lumaHi, hi);
    return _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
}

// kRed: the byte of a pixel that holds red (0 for R, G, B order, 2 for B, G, R).
template <int kRed>
inline void ConvertPixel(int32_t y, int32_t cb, int32_t cr, uint8_t* out) {
    const int32_t u = cb - 128, v = cr - 128;
    const int32_t luma = kLumaScale * (y - 16) + 32768;
    out[kRed] = ClampColour((luma + kCrToRed * v) >> 16);
    out[1] = ClampColour((luma - kCbToGreen * u - kCrToGreen * v) >> 16);
    out[2 - kRed] = ClampColour((luma + kCbToBlue * u) >> 16);
}

// Sixteen pixels from 16 luma and 8 chroma samples into 48 bytes.
template <int kRed>
inline void Convert16(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lumaBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
    const __m128i y16 = _mm_set1_epi16(16), twos = _mm_set1_epi16(2), c128 = _mm_set1_epi16(128);
    const __m128i luma0 = _mm_sub_epi16(_mm_unpacklo_epi8(lumaBytes, zero), y16);  // pixels 0..7
    const __m128i luma1 = _mm_sub_epi16(_mm_unpackhi_epi8(lumaBytes, zero), y16);  // 8..15
    const __m128i u = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero), c128);
    const __m128i v = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero), c128);
    const ChromaTerms c0 = Chroma(_mm_unpacklo_epi16(u, v));  // chroma 0..3: pixels 0..7
    const ChromaTerms c1 = Chroma(_mm_unpackhi_epi16(u, v));  // chroma 4..7: pixels 8..15

    const __m128i l0 = LumaTerm(_mm_unpacklo_epi16(luma0, twos));
    const __m128i l1 = LumaTerm(_mm_unpackhi_epi16(luma0, twos));
    const __m128i l2 = LumaTerm(_mm_unpacklo_epi16(luma1, twos));
    const __m128i l3 = LumaTerm(_mm_unpackhi_epi16(luma1, twos));

    const __m128i red =
        _mm_packus_epi16(Channel(l0, l1, c0.red, false), Channel(l2, l3, c1.red, false));
    const __m128i green =
        _mm_packus_epi16(Channel(l0, l1, c0.green, true), Channel(l2, l3, c1.green, true));
    const __m128i blue =
        _mm_packus_epi16(Channel(l0, l1, c0.blue, false), Channel(l2, l3, c1.blue, false));
    // Pixels as little-endian words first | G << 8 | last << 16, written 4 bytes at a time 3
    // bytes apart (each write's spare byte is overwritten by the next pixel; the last writes 3).
    const __m128i first = kRed == 0 ? red : blue;
    const __m128i last = kRed == 0 ? blue : red;
    const __m128i redGreenLo = _mm_unpacklo_epi8(first, green);
    const __m128i redGreenHi = _mm_unpackhi_epi8(first, green);
    const __m128i blueLo = _mm_unpacklo_epi8(last, zero);
    const __m128i blueHi = _mm_unpackhi_epi8(last, zero);
    alignas(16) uint32_t pixels[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(pixels), _mm_unpacklo_epi16(redGreenLo, blueLo));
    _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 4), _mm_unpackhi_epi16(redGreenLo, blueLo));
    _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 8), _mm_unpacklo_epi16(redGreenHi, blueHi));
    _mm_store_si128(reinterpret_cast<__m128i*>(pixels + 12),
                    _mm_unpackhi_epi16(redGreenHi, blueHi));
    for (int i = 0; i < 15; ++i) {
        std::memcpy(out + 3 * i, pixels + i, 4);
    }
    std::memcpy(out + 45, pixels + 15, 3);
}

template <int kRed>
int32_t Convert(const uint8_t* const planes[3], const int32_t strides[3], uint8_t* destination,
                int32_t destinationStride, int32_t width, int32_t height) {
    const int32_t status = checks::YCbCr422ToRGB(planes, destination, width, height);
    if (status != StatusOk)
        return status;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* y = planes[0] + static_cast<ptrdiff_t>(row) * strides[0];
        const uint8_t* cb = planes[1] + static_cast<ptrdiff_t>(row) * strides[1];
        const uint8_t* cr = planes[2] + static_cast<ptrdiff_t>(row) * strides[2];
        uint8_t* out = destination + static_cast<ptrdiff_t>(row) * destinationStride;
        int32_t x = 0;
        for (; x + 16 <= width; x += 16) {
            Convert16<kRed>(y + x, cb + x / 2, cr + x / 2, out + 3 * x);
        }
        for (; x < width; ++x) {
            ConvertPixel<kRed>(y[x], cb[x / 2], cr[x / 2], out + 3 * x);
        }
    }
    return StatusOk;
}

}  // namespace

int32_t YCbCr422ToRGB(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height) {
    return Convert<0>(planes, strides, destination, destinationStride, width, height);
}

int32_t YCbCr422ToBGR(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height) {
    return Convert<2>(planes, strides, destination, destinationStride, width, height);
}

}  // namespace fluxmere::sse2
