// AVX2 colour conversion: the generic 16.16 sums, exactly, for 32 pixels at a time, 16 in each
// 128-bit half, and the packed R, G, B bytes put together with byte shuffles instead of one
// store per pixel. Each 32-bit lane holds one pixel of every fourth (the luma bytes split by
// shifts and masks), so the pixels of a lane share their chroma sample with no spreading: lanes
// of pixels 4j and 4j + 1 take sample 2j, those of 4j + 2 and 4j + 3 sample 2j + 1.

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

// 76282 (y - 16) + 32768 for luma values y in 32-bit lanes.
inline __m256i LumaTerm(__m256i y) {
    return _mm256_add_epi32(_mm256_mullo_epi32(y, _mm256_set1_epi32(kLumaScale)),
                            _mm256_set1_epi32(32768 - 16 * kLumaScale));
}

struct ChromaTerms {
    __m256i red, green, blue;
};

// From [u, v] pairs (u in the low 16 bits of each lane): 104593 v, 25689 u + 53279 v, 132184 u.
// The factors too wide for a multiply-add are split into a power of two, taken from the pair by
// a mask or a shift, and a 16-bit rest.
inline ChromaTerms Chroma(__m256i uv) {
    const __m256i v65536 =
        _mm256_and_si256(uv, _mm256_set1_epi32(static_cast<int32_t>(0xFFFF0000)));
    ChromaTerms t;
    t.red = _mm256_add_epi32(_mm256_slli_epi32(v65536, 1),
                             _mm256_madd_epi16(uv, Pair(0, kCrToRed - 131072)));
    t.green = _mm256_add_epi32(v65536, _mm256_madd_epi16(uv, Pair(kCbToGreen, kCrToGreen - 65536)));
    t.blue = _mm256_add_epi32(_mm256_slli_epi32(uv, 17),
                              _mm256_madd_epi16(uv, Pair(kCbToBlue - 131072, 0)));
    return t;
}

// One channel of the 32 pixels as bytes: (luma[p] +/- chroma) >> 16, clamped to 0..255, for
// the four phases p (pixels 4j + p), in the byte order of kPixelByte.
inline __m256i Channel(const __m256i luma[4], __m256i evenChroma, __m256i oddChroma,
                       bool subtract) {
    const auto sum = [subtract](__m256i l, __m256i c) {
        return subtract ? _mm256_sub_epi32(l, c) : _mm256_add_epi32(l, c);
    };
    // The high 16 bits of two phases' sums side by side: every sum lies far inside 16 bits
    // once divided by 65536, and the saturating pack clamps like the clamp table.
    const __m256i pixels01 = _mm256_blend_epi16(_mm256_srli_epi32(sum(luma[0], evenChroma), 16),
                                                sum(luma[1], evenChroma), 0xAA);
    const __m256i pixels23 = _mm256_blend_epi16(_mm256_srli_epi32(sum(luma[2], oddChroma), 16),
                                                sum(luma[3], oddChroma), 0xAA);
    return _mm256_packus_epi16(pixels01, pixels23);
}

// Where Channel puts pixel p (0..15) of a half: pixels 4j, 4j + 1 at bytes 2j, 2j + 1, pixels
// 4j + 2, 4j + 3 at bytes 8 + 2j, 9 + 2j.
constexpr int kPixelByte[16] = {0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15};

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
    const __m256i lumaBytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    const __m256i luma[4] = {LumaTerm(_mm256_and_si256(lumaBytes, lowByte)),
                             LumaTerm(_mm256_and_si256(_mm256_srli_epi32(lumaBytes, 8), lowByte)),
                             LumaTerm(_mm256_and_si256(_mm256_srli_epi32(lumaBytes, 16), lowByte)),
                             LumaTerm(_mm256_srli_epi32(lumaBytes, 24))};
    // Chroma samples 0..7 in the low half, 8..15 in the high one; the pairs of even samples
    // and of odd ones.
    const __m256i c128 = _mm256_set1_epi16(128);
    const __m256i u = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), c128);
    const __m256i v = _mm256_sub_epi16(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), c128);
    const ChromaTerms even = Chroma(_mm256_blend_epi16(u, _mm256_slli_epi32(v, 16), 0xAA));
    const ChromaTerms odd = Chroma(_mm256_blend_epi16(_mm256_srli_epi32(u, 16), v, 0xAA));

    const __m256i red = Channel(luma, even.red, odd.red, false);
    const __m256i blue = Channel(luma, even.blue, odd.blue, false);
    const __m256i channels[3] = {kRed == 0 ? red : blue, Channel(luma, even.green, odd.green, true),
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
