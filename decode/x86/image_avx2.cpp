// AVX2 colour conversion: the SSE2 variant's arithmetic (the generic 16.16 sums, exactly) on
// 32 pixels at a time, 16 in each 128-bit half, and the packed R, G, B bytes put together with
// byte shuffles instead of one store per pixel.

#include <immintrin.h>

#include <cstddef>

#include "decode/argument_checks.h"
#include "decode/colour_clamp.h"
#include "decode/x86/primitives_avx2.h"

namespace fluxmere::avx2 {
namespace {

using namespace detail;

inline __m256i Pair(int16_t a, int16_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16 | static_cast<uint16_t>(a)));
}

// 76282 (y - 16) + 32768 from [y - 16, 2] pairs: 65536 (y - 16) is the pair shifted up by 16
// (the 2 leaves the lane), the rest one multiply-add, 10746 (y - 16) + 2 x 16384.
inline __m256i LumaTerm(__m256i pairs) {
    return _mm256_add_epi32(_mm256_slli_epi32(pairs, 16),
                            _mm256_madd_epi16(pairs, Pair(76282 - 65536, 16384)));
}

struct ChromaTerms {
    __m256i red, green, blue;
};

// From [u, v] pairs: 104593 v, 25689 u + 53279 v, 132184 u.
inline ChromaTerms Chroma(__m256i uv) {
    const __m256i u = _mm256_srai_epi32(_mm256_slli_epi32(uv, 16), 16);
    const __m256i v = _mm256_srai_epi32(uv, 16);
    ChromaTerms t;
    t.red =
        _mm256_add_epi32(_mm256_slli_epi32(v, 17), _mm256_madd_epi16(uv, Pair(0, 104593 - 131072)));
    t.green = _mm256_add_epi32(_mm256_slli_epi32(v, 16),
                               _mm256_madd_epi16(uv, Pair(25689, 53279 - 65536)));
    t.blue =
        _mm256_add_epi32(_mm256_slli_epi32(u, 17), _mm256_madd_epi16(uv, Pair(132184 - 131072, 0)));
    return t;
}

// One channel of eight pixels per half (lumaLo: pixels 0..3, lumaHi: 4..7) as the high 16 bits
// of their sums (every sum lies far inside 16 bits once divided by 65536), in the lane order
// 0, 4, 1, 5, 2, 6, 3, 7: the order the interleaving masks follow.
inline __m256i Channel(__m256i lumaLo, __m256i lumaHi, __m256i chroma, bool subtract) {
    const __m256i lo = _mm256_unpacklo_epi32(chroma, chroma);
    const __m256i hi = _mm256_unpackhi_epi32(chroma, chroma);
    const __m256i a = subtract ? _mm256_sub_epi32(lumaLo, lo) : _mm256_add_epi32(lumaLo, lo);
    const __m256i b = subtract ? _mm256_sub_epi32(lumaHi, hi) : _mm256_add_epi32(lumaHi, hi);
    return _mm256_blend_epi16(_mm256_srli_epi32(a, 16), b, 0xAA);
}

// Where Channel and the byte packing put pixel p (0..15) of a half.
constexpr int kPixelByte[16] = {0, 2, 4, 6, 1, 3, 5, 7, 8, 10, 12, 14, 9, 11, 13, 15};

// Shuffle masks that place pixel p of a channel at byte 3p + channel of the 48 packed bytes of
// 16 pixels, for each third of them (and zero elsewhere).
struct InterleaveMasks {
    __m256i mask[3][3];  // [third][channel]

    InterleaveMasks() {
        for (int third = 0; third < 3; ++third) {
            for (int channel = 0; channel < 3; ++channel) {
                alignas(32) int8_t bytes[32];
                for (int i = 0; i < 16; ++i) {
                    const int out = 16 * third + i;
                    bytes[i] = bytes[i + 16] =
                        static_cast<int8_t>(out % 3 == channel ? kPixelByte[out / 3] : 0x80);
                }
                mask[third][channel] = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes));
            }
        }
    }
};

// kRed: the byte of a pixel that holds red (0 for R, G, B order, 2 for B, G, R).
template <int kRed>
inline void ConvertPixel(int32_t y, int32_t cb, int32_t cr, uint8_t* out) {
    const int32_t u = cb - 128, v = cr - 128;
    const int32_t luma = kLumaScale * (y - 16) + 32768;
    out[kRed] = ClampColour((luma + kCrToRed * v) >> 16);
    out[1] = ClampColour((luma - kCbToGreen * u - kCrToGreen * v) >> 16);
    out[2 - kRed] = ClampColour((luma + kCbToBlue * u) >> 16);
}

// Thirty-two pixels from 32 luma and 16 chroma samples into 96 bytes.
template <int kRed>
inline void Convert32(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out,
                      const InterleaveMasks& masks) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lumaBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    const __m256i y16 = _mm256_set1_epi16(16), twos = _mm256_set1_epi16(2);
    const __m256i c128 = _mm256_set1_epi16(128);
    const __m256i luma0 = _mm256_sub_epi16(_mm256_unpacklo_epi8(lumaBytes, zero), y16);
    const __m256i luma1 = _mm256_sub_epi16(_mm256_unpackhi_epi8(lumaBytes, zero), y16);
    // Chroma samples 0..7 in the low half, 8..15 in the high one, as the pixels they serve.
    const __m256i u = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), c128);
    const __m256i v = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), c128);
    const ChromaTerms c0 = Chroma(_mm256_unpacklo_epi16(u, v));
    const ChromaTerms c1 = Chroma(_mm256_unpackhi_epi16(u, v));

    const __m256i l0 = LumaTerm(_mm256_unpacklo_epi16(luma0, twos));
    const __m256i l1 = LumaTerm(_mm256_unpackhi_epi16(luma0, twos));
    const __m256i l2 = LumaTerm(_mm256_unpacklo_epi16(luma1, twos));
    const __m256i l3 = LumaTerm(_mm256_unpackhi_epi16(luma1, twos));

    const __m256i red =
        _mm256_packus_epi16(Channel(l0, l1, c0.red, false), Channel(l2, l3, c1.red, false));
    const __m256i blue =
        _mm256_packus_epi16(Channel(l0, l1, c0.blue, false), Channel(l2, l3, c1.blue, false));
    const __m256i channels[3] = {
        kRed == 0 ? red : blue,
        _mm256_packus_epi16(Channel(l0, l1, c0.green, true), Channel(l2, l3, c1.green, true)),
        kRed == 0 ? blue : red};
    __m256i thirds[3];
    for (int third = 0; third < 3; ++third) {
        thirds[third] =
            _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(channels[0], masks.mask[third][0]),
                                            _mm256_shuffle_epi8(channels[1], masks.mask[third][1])),
                            _mm256_shuffle_epi8(channels[2], masks.mask[third][2]));
    }
    // Low halves: bytes 0..47 of the output, high halves: bytes 48..95.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permute2x128_si256(thirds[0], thirds[1], 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                        _mm256_permute2x128_si256(thirds[2], thirds[0], 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64),
                        _mm256_permute2x128_si256(thirds[1], thirds[2], 0x31));
}

template <int kRed>
int32_t Convert(const uint8_t* const planes[3], const int32_t strides[3], uint8_t* destination,
                int32_t destinationStride, int32_t width, int32_t height) {
    const int32_t status = checks::YCbCr422ToRGB(planes, destination, width, height);
    if (status != StatusOk)
        return status;
    static const InterleaveMasks masks;
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t* y = planes[0] + static_cast<ptrdiff_t>(row) * strides[0];
        const uint8_t* cb = planes[1] + static_cast<ptrdiff_t>(row) * strides[1];
        const uint8_t* cr = planes[2] + static_cast<ptrdiff_t>(row) * strides[2];
        uint8_t* out = destination + static_cast<ptrdiff_t>(row) * destinationStride;
        int32_t x = 0;
        for (; x + 32 <= width; x += 32) {
            Convert32<kRed>(y + x, cb + x / 2, cr + x / 2, out + 3 * x, masks);
        }
        if (x < width && width >= 32) {
            // The last pixels: once more 32 pixels, ending with the last pair of the row (its
            // first pixels are written again with the same values).
            x = (width - 32) & ~1;
            Convert32<kRed>(y + x, cb + x / 2, cr + x / 2, out + 3 * x, masks);
            x += 32;
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

}  // namespace fluxmere::avx2
