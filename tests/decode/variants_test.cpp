// Exactness of the processor variants: every variant of every primitive must give exactly what
// variant 0 gives (outputs, statuses, untouched guard bytes) on random and extreme inputs. The
// generic variant itself is held against plain transcriptions of the definitions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "decode/bitmap_colour.h"
#include "decode/block_transform.h"
#include "decode/jpeg_tables.h"
#include "decode/primitives.h"
#include "tests/decode/scan_writer.h"

namespace fluxmere {
namespace {

constexpr int kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

// A byte buffer with guard zones on both sides, filled with a pattern.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : bytes_(size + 2 * kGuard, kGuardByte), size_(size) {}
    uint8_t* data() { return bytes_.data() + kGuard; }
    size_t size() const { return size_; }
    const std::vector<uint8_t>& all() const { return bytes_; }
    void Randomize(std::mt19937& random) {
        for (size_t i = 0; i < size_; ++i) {
            data()[i] = static_cast<uint8_t>(random());
        }
    }

private:
    std::vector<uint8_t> bytes_;
    size_t size_;
};

// Every table slot but the generic one that this processor can run (the last slot is variant 4
// with AVX2).
template <typename Body>
void ForEachOtherVariant(Body body) {
    for (int v = 1; v < kImplementationCount; ++v) {
        if (!SlotRunsHere(v)) {
            continue;
        }
        SCOPED_TRACE(::testing::Message() << "slot " << v);
        body(v);
    }
}

TEST(Variants, DispatchFollowsVariantIndex) {
    const int32_t saved = variantIndex;
    for (int32_t index : {0, 1, 2, 3, 4}) {
        variantIndex = index;
        EXPECT_EQ(ActiveVariant(), index);
        uint16_t value = 0xABCD, out = 0;
        EXPECT_EQ(SwapBytes16(&value, &out, 1), StatusOk);
        EXPECT_EQ(out, 0xCDAB);
    }
    for (int32_t index : {-1, 5, 1 << 30}) {
        variantIndex = index;
        EXPECT_EQ(ActiveVariant(), 0);
    }
    variantIndex = saved;
}

TEST(Variants, SwapAndZeroFillMatch) {
    std::mt19937 random(1);
    for (int count : {-1, 0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 33, 64, 255, 1000}) {
        for (int offset : {0, 1}) {  // 2-byte aligned and odd-element starts
            GuardedBuffer source((1000 + 2) * 2);
            source.Randomize(random);
            const uint16_t* in = reinterpret_cast<const uint16_t*>(source.data()) + offset;
            ForEachOtherVariant([&](int v) {
                GuardedBuffer a(1002 * 2), b(1002 * 2);
                uint16_t* outA = reinterpret_cast<uint16_t*>(a.data()) + offset;
                uint16_t* outB = reinterpret_cast<uint16_t*>(b.data()) + offset;
                EXPECT_EQ(kSwapBytes16Variants.variant[v](in, outB, count),
                          kSwapBytes16Variants.variant[0](in, outA, count));
                EXPECT_EQ(a.all(), b.all()) << "swap count " << count;
                // In place.
                GuardedBuffer c = source, d = source;
                uint16_t* inPlaceC = reinterpret_cast<uint16_t*>(c.data()) + offset;
                uint16_t* inPlaceD = reinterpret_cast<uint16_t*>(d.data()) + offset;
                EXPECT_EQ(kSwapBytes16Variants.variant[v](inPlaceD, inPlaceD, count),
                          kSwapBytes16Variants.variant[0](inPlaceC, inPlaceC, count));
                EXPECT_EQ(c.all(), d.all()) << "in-place swap count " << count;
                // Zero fill.
                GuardedBuffer e = source, f = source;
                EXPECT_EQ(kZeroFill16Variants.variant[v](
                              reinterpret_cast<int16_t*>(f.data()) + offset, count),
                          kZeroFill16Variants.variant[0](
                              reinterpret_cast<int16_t*>(e.data()) + offset, count));
                EXPECT_EQ(e.all(), f.all()) << "zero fill count " << count;
            });
        }
    }
    ForEachOtherVariant([](int v) {
        uint16_t x = 1;
        EXPECT_EQ(kSwapBytes16Variants.variant[v](nullptr, &x, 1), StatusNullPointer);
        EXPECT_EQ(kSwapBytes16Variants.variant[v](&x, nullptr, 0), StatusNullPointer);
        EXPECT_EQ(kZeroFill16Variants.variant[v](nullptr, 1), StatusNullPointer);
    });
}

TEST(Variants, TableBuildersMatch) {
    std::mt19937 random(2);
    struct Source {
        std::vector<uint8_t> bits, values;
    };
    std::vector<Source> sources = {
        {{jpeg::kLumaDcBits, jpeg::kLumaDcBits + 16},
         {jpeg::kLumaDcValues, jpeg::kLumaDcValues + 12}},
        {{jpeg::kLumaAcBits, jpeg::kLumaAcBits + 16},
         {jpeg::kLumaAcValues, jpeg::kLumaAcValues + 162}},
        {{jpeg::kChromaAcBits, jpeg::kChromaAcBits + 16},
         {jpeg::kChromaAcValues, jpeg::kChromaAcValues + 162}},
    };
    for (int i = 0; i < 200; ++i) {  // random BITS, valid or not
        Source s;
        s.bits.resize(16);
        for (auto& b : s.bits) {
            b = static_cast<uint8_t>(random() % (i % 2 ? 4 : 40));
        }
        s.values.resize(256);
        for (auto& v : s.values) {
            v = static_cast<uint8_t>(random());
        }
        sources.push_back(s);
    }
    ForEachOtherVariant([&](int v) {
        for (const Source& s : sources) {
            std::vector<uint8_t> values = s.values;
            values.resize(256, 0);
            alignas(8) uint8_t a[kHuffmanTableBytes], b[kHuffmanTableBytes];
            std::memset(a, 0x3C, sizeof a);
            std::memset(b, 0x3C, sizeof b);
            EXPECT_EQ(kBuildHuffmanTableVariants.variant[v](s.bits.data(), values.data(), b),
                      kBuildHuffmanTableVariants.variant[0](s.bits.data(), values.data(), a));
            EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
        }
        uint8_t zigzag[64];
        for (auto& z : zigzag) {
            z = static_cast<uint8_t>(random());
        }
        uint16_t qa[64], qb[64];
        EXPECT_EQ(kBuildQuantTableVariants.variant[v](zigzag, qb),
                  kBuildQuantTableVariants.variant[0](zigzag, qa));
        EXPECT_EQ(0, std::memcmp(qa, qb, sizeof qa));
        int32_t sa = 0, sb = 0;
        EXPECT_EQ(kHuffmanTableSizeVariants.variant[v](&sb),
                  kHuffmanTableSizeVariants.variant[0](&sa));
        EXPECT_EQ(sa, sb);
    });
}

// ---------------------------------------------------------------- Huffman block decoding

struct ReaderState {
    int32_t bitPosition = 0, marker = 0, bitCount = 0;
    uint32_t bitBuffer = 0;
    int16_t predictor = 0;
    int16_t block[64] = {};
    bool operator==(const ReaderState& o) const {
        return bitPosition == o.bitPosition && marker == o.marker && bitCount == o.bitCount &&
               bitBuffer == o.bitBuffer && predictor == o.predictor &&
               std::memcmp(block, o.block, sizeof block) == 0;
    }
};

TEST(Variants, HuffmanBlockDecodingMatches) {
    alignas(8) uint8_t tables[4][kHuffmanTableBytes];
    ASSERT_EQ(BuildHuffmanTable(jpeg::kLumaDcBits, jpeg::kLumaDcValues, tables[0]), 0);
    ASSERT_EQ(BuildHuffmanTable(jpeg::kLumaAcBits, jpeg::kLumaAcValues, tables[1]), 0);
    ASSERT_EQ(BuildHuffmanTable(jpeg::kChromaDcBits, jpeg::kChromaDcValues, tables[2]), 0);
    ASSERT_EQ(BuildHuffmanTable(jpeg::kChromaAcBits, jpeg::kChromaAcValues, tables[3]), 0);
    std::mt19937 random(3);
    std::vector<std::vector<uint8_t>> streams;
    for (int s = 0; s < 60; ++s) {
        std::vector<uint8_t> bytes;
        if (s % 2 == 0) {  // valid blocks, then perhaps garbage
            testing::ScanWriter w;
            const auto dc = testing::CodeBook::LumaDc(), ac = testing::CodeBook::LumaAc();
            for (int b = 0; b < 20; ++b) {
                std::vector<std::pair<int, int>> terms;
                for (int k = 1; k < 64 && random() % 5;) {
                    const int run = static_cast<int>(random() % 20);
                    if (k + run > 63) {
                        break;
                    }
                    terms.push_back({run, (static_cast<int>(random() % 2047) - 1023) | 1});
                    k += run + 1;
                }
                w.PutBlock(dc, ac, static_cast<int>(random() % 4095) - 2047, terms);
            }
            bytes = w.Finish();
            if (s % 4 == 0) {
                bytes.resize(random() % (bytes.size() + 1));
            }
        } else {
            bytes.resize(random() % 200);
            for (auto& b : bytes) {
                b = random() % 6 == 0 ? 0xFF : static_cast<uint8_t>(random());
            }
        }
        streams.push_back(bytes);
    }
    ForEachOtherVariant([&](int v) {
        for (const auto& stream : streams) {
            std::vector<uint8_t> bytes = stream;
            bytes.push_back(0);  // never empty; the size below excludes it
            ReaderState a, b;
            for (int block = 0; block < 40; ++block) {
                const uint8_t* dc = tables[(block / 2) % 2 * 2];
                const uint8_t* ac = tables[(block / 2) % 2 * 2 + 1];
                const int32_t size = static_cast<int32_t>(stream.size());
                const int32_t ra = kDecodeHuffmanBlockVariants.variant[0](
                    bytes.data(), size, &a.bitPosition, a.block, &a.predictor, &a.marker,
                    &a.bitBuffer, &a.bitCount, dc, ac);
                const int32_t rb = kDecodeHuffmanBlockVariants.variant[v](
                    bytes.data(), size, &b.bitPosition, b.block, &b.predictor, &b.marker,
                    &b.bitBuffer, &b.bitCount, dc, ac);
                ASSERT_EQ(ra, rb);
                ASSERT_TRUE(a == b) << "block " << block;
                if (ra != StatusOk) {
                    break;
                }
            }
        }
    });
}

// ---------------------------------------------------------------- inverse DCT

// The transform exactly as defined, in 64-bit arithmetic wrapped to 32 bits at every shift.
int32_t Wrap(int64_t v) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

void ReferencePass(int16_t* x, int step, int s, int64_t h) {
    const int64_t x0 = x[0], x1 = x[step], x2 = x[2 * step], x3 = x[3 * step], x4 = x[4 * step],
                  x5 = x[5 * step], x6 = x[6 * step], x7 = x[7 * step];
    const int64_t e0 = (x0 + x4) * 32768, e1 = (x0 - x4) * 32768;
    const int64_t e2 = 17734 * (x2 + x6) + 25080 * x2, e3 = 17734 * (x2 + x6) - 60547 * x6;
    const int64_t p = 27246 * (x3 + x5) - 9041 * x5, r = 27246 * (x3 + x5) - 45451 * x3;
    const int64_t q = 6393 * (x1 + x7) + 25746 * x1, t = 6393 * (x1 + x7) - 38531 * x7;
    const int64_t u = static_cast<int64_t>(Wrap(p + q + 2048) >> 12) * 5793;
    const int64_t v = static_cast<int64_t>(Wrap(r + t + 2048) >> 12) * 5793;
    const int64_t a = q - p, b = t - r;
    const int64_t y[8] = {e0 + e2 + u, e1 + e3 + a + b, e1 - e3 + a - b, e0 - e2 + v,
                          e0 - e2 - v, e1 - e3 - a + b, e1 + e3 - a - b, e0 + e2 - u};
    for (int k = 0; k < 8; ++k) {
        x[k * step] = static_cast<int16_t>(Wrap(y[k] + h) >> s);
    }
}

void ReferenceIdct(const int16_t* block, uint8_t* out, int stride, const uint16_t* quant) {
    int16_t d[64];
    for (int n = 0; n < 64; ++n) {
        const int32_t product = block[n] * quant[n];
        d[n] = static_cast<int16_t>(product < -32768 ? -32768 : product > 32767 ? 32767 : product);
    }
    for (int c = 0; c < 8; ++c) {
        ReferencePass(d + c, 8, 12, 2048);
    }
    for (int r = 0; r < 8; ++r) {
        ReferencePass(d + 8 * r, 1, 21, 1048576);
    }
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const int v = d[8 * r + c] + 128;
            out[r * stride + c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
    }
}

TEST(Variants, InverseDctMatchesTheDefinitionAndAcrossVariants) {
    std::mt19937 random(4);
    const int16_t extremes[] = {-32768, -32767, -4096, -1, 0, 1, 255, 4095, 32767};
    int16_t previous[64] = {};
    for (int round = 0; round < 3500; ++round) {
        int16_t block[64] = {};
        uint16_t quant[64];
        const int kind = round % 7;
        // Kind 6 keeps a random set of rows and of columns, so that every shortcut for zero rows
        // and zero columns is taken with large and extreme values around it.
        const unsigned liveRows = random() & 0xFF, liveColumns = random() & 0xFF;
        for (int n = 0; n < 64; ++n) {
            switch (kind) {
                case 0:  // sparse, typical of decoded pictures
                    block[n] = random() % 6 == 0 ? static_cast<int16_t>(random() % 201) - 100 : 0;
                    break;
                case 1:  // DC only or one column/row of terms
                    block[n] = (n == 0 || (round % 2 ? n % 8 == 0 : n < 8))
                                   ? static_cast<int16_t>(random() % 4001) - 2000
                                   : 0;
                    break;
                case 4:  // only low frequencies (top left 4 x 4), extremes included
                    block[n] =
                        (n % 8 < 4 && n < 32)
                            ? (random() % 3 == 0 ? extremes[random() % 9]
                                                 : static_cast<int16_t>(random() % 2001) - 1000)
                            : 0;
                    break;
                case 3:  // DC only, any value
                    block[n] = n == 0 ? extremes[random() % 9] : 0;
                    if (n == 0 && round % 4 == 3) {
                        block[n] = static_cast<int16_t>(random());
                    }
                    break;
                case 2:  // extremes everywhere
                    block[n] = extremes[random() % (sizeof extremes / sizeof extremes[0])];
                    break;
                case 6:  // live rows and columns only
                    block[n] =
                        (liveRows >> (n / 8) & 1) && (liveColumns >> (n % 8) & 1)
                            ? (random() % 4 == 0 ? extremes[random() % 9]
                                                 : static_cast<int16_t>(random() % 4001) - 2000)
                            : 0;
                    break;
                default:  // dense random
                    block[n] = static_cast<int16_t>(random());
                    break;
            }
            quant[n] = kind == 2 ? static_cast<uint16_t>(random())
                                 : static_cast<uint16_t>(1 + random() % (kind == 5 ? 4 : 64));
            if (kind == 6 && round % 2)
                quant[n] = static_cast<uint16_t>(random());
        }
        const int stride = 8 + static_cast<int>(random() % 9);
        GuardedBuffer expected(8 * 16), generic(8 * 16);
        ReferenceIdct(block, expected.data(), stride, quant);
        const int16_t before = block[0];
        ASSERT_EQ(kInverseDctBlockVariants.variant[0](block, generic.data(), stride, quant),
                  StatusOk);
        ASSERT_EQ(expected.all(), generic.all()) << "round " << round;
        ASSERT_EQ(block[0], before);
        ForEachOtherVariant([&](int v) {
            GuardedBuffer other(8 * 16);
            ASSERT_EQ(kInverseDctBlockVariants.variant[v](block, other.data(), stride, quant),
                      StatusOk);
            ASSERT_EQ(generic.all(), other.all()) << "round " << round;
        });
        // The two-block transform of the decoder's fast path, on this block after the one of
        // the round before (with this round's quantisers): the same as one block at a time,
        // and the coefficients are left zero.
        GuardedBuffer firstAlone(8 * 16);
        kInverseDctBlockVariants.variant[0](previous, firstAlone.data(), stride, quant);
        for (int v = 0; v < kImplementationCount; ++v) {
            if (!SlotRunsHere(v))
                continue;
            int16_t pair[128];
            std::memcpy(pair, previous, sizeof previous);
            std::memcpy(pair + 64, block, sizeof block);
            GuardedBuffer first(8 * 16), second(8 * 16);
            kInverseDctPairVariants.variant[v](pair, first.data(), second.data(), stride, quant);
            ASSERT_EQ(firstAlone.all(), first.all()) << "round " << round << " slot " << v;
            ASSERT_EQ(generic.all(), second.all()) << "round " << round << " slot " << v;
            ASSERT_EQ(std::count(pair, pair + 128, 0), 128) << "round " << round << " slot " << v;
        }
        std::memcpy(previous, block, sizeof block);
    }
    ForEachOtherVariant([](int v) {
        int16_t block[64] = {};
        uint16_t quant[64] = {};
        uint8_t out[64];
        EXPECT_EQ(kInverseDctBlockVariants.variant[v](nullptr, out, 0, nullptr), StatusNullPointer);
        EXPECT_EQ(kInverseDctBlockVariants.variant[v](block, out, 0, nullptr), StatusBadStep);
        EXPECT_EQ(kInverseDctBlockVariants.variant[v](block, out, 8, nullptr), StatusNullPointer);
        EXPECT_EQ(kInverseDctBlockVariants.variant[v](block, nullptr, 8, quant), StatusNullPointer);
    });
}

// ---------------------------------------------------------------- colour conversion

void ReferencePixel(int y, int cb, int cr, uint8_t* out) {
    auto floorDiv = [](int64_t a) {
        return static_cast<int>(a >= 0 ? a / 65536 : -((-a + 65535) / 65536));
    };
    auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    const int64_t u = cb - 128, v = cr - 128, l = 76282LL * (y - 16);
    out[0] = clamp(floorDiv(l + 104593 * v + 32768));
    out[1] = clamp(floorDiv(l - 25689 * u - 53279 * v + 32768));
    out[2] = clamp(floorDiv(l + 132184 * u + 32768));
}

TEST(Variants, ColourConversionMatchesTheDefinitionAndAcrossVariants) {
    // Every luma value against chroma pairs covering the range, through every variant.
    std::vector<uint8_t> luma(256), cb(128), cr(128), out(256 * 3);
    for (int i = 0; i < 256; ++i) {
        luma[i] = static_cast<uint8_t>(i);
    }
    for (int u = 0; u < 256; u += 3) {
        for (int v = 0; v < 256; v += 3) {
            const int cbValue = u == 255 ? 255 : u, crValue = v;
            std::fill(cb.begin(), cb.end(), static_cast<uint8_t>(cbValue));
            std::fill(cr.begin(), cr.end(), static_cast<uint8_t>(crValue));
            const uint8_t* planes[3] = {luma.data(), cb.data(), cr.data()};
            const int32_t strides[3] = {256, 128, 128};
            for (int variant = 0; variant < kImplementationCount; ++variant) {
                if (!SlotRunsHere(variant))
                    continue;
                ASSERT_EQ(kYCbCr422ToRGBVariants.variant[variant](planes, strides, out.data(), 768,
                                                                  256, 1),
                          StatusOk);
                for (int y = 0; y < 256; ++y) {
                    uint8_t expected[3];
                    ReferencePixel(y, cbValue, crValue, expected);
                    ASSERT_EQ(0, std::memcmp(expected, out.data() + 3 * y, 3))
                        << y << "," << cbValue << "," << crValue << " variant " << variant;
                }
            }
        }
    }

    // Variants on random pictures of every small width, with strides and guards.
    std::mt19937 random(5);
    for (int width = 1; width <= 70; ++width) {
        const int height = 1 + width % 4;
        const int lumaStride = width + static_cast<int>(random() % 5);
        const int chromaStride = (width + 1) / 2 + static_cast<int>(random() % 3);
        const int outStride = width * 3 + static_cast<int>(random() % 7);
        GuardedBuffer y(static_cast<size_t>(lumaStride) * height);
        GuardedBuffer u(static_cast<size_t>(chromaStride) * height);
        GuardedBuffer v(static_cast<size_t>(chromaStride) * height);
        y.Randomize(random);
        u.Randomize(random);
        v.Randomize(random);
        const uint8_t* planes[3] = {y.data(), u.data(), v.data()};
        const int32_t strides[3] = {lumaStride, chromaStride, chromaStride};
        GuardedBuffer a(static_cast<size_t>(outStride) * height);
        ASSERT_EQ(
            kYCbCr422ToRGBVariants.variant[0](planes, strides, a.data(), outStride, width, height),
            StatusOk);
        ForEachOtherVariant([&](int variant) {
            GuardedBuffer b(static_cast<size_t>(outStride) * height);
            ASSERT_EQ(kYCbCr422ToRGBVariants.variant[variant](planes, strides, b.data(), outStride,
                                                              width, height),
                      StatusOk);
            ASSERT_EQ(a.all(), b.all()) << "width " << width;
        });
        // The bitmap-order conversion: the same pixels with red and blue trading places, in
        // every slot (the generic one included), and nothing written beyond them.
        std::vector<uint8_t> swapped = a.all();
        for (int row = 0; row < height; ++row) {
            uint8_t* p = swapped.data() + kGuard + static_cast<size_t>(row) * outStride;
            for (int x = 0; x < width; ++x)
                std::swap(p[3 * x], p[3 * x + 2]);
        }
        for (int variant = 0; variant < kImplementationCount; ++variant) {
            if (!SlotRunsHere(variant))
                continue;
            GuardedBuffer b(static_cast<size_t>(outStride) * height);
            ASSERT_EQ(kYCbCr422ToBGRVariants.variant[variant](planes, strides, b.data(), outStride,
                                                              width, height),
                      StatusOk);
            ASSERT_EQ(swapped, b.all()) << "slot " << variant << ", width " << width;
        }
    }
    for (int variant = 0; variant < kImplementationCount; ++variant) {
        if (!SlotRunsHere(variant))
            continue;
        const uint8_t s[1] = {0};
        const uint8_t* planes[3] = {s, nullptr, s};
        const int32_t strides[3] = {1, 1, 1};
        uint8_t out[3];
        EXPECT_EQ(kYCbCr422ToBGRVariants.variant[variant](nullptr, strides, out, 3, 0, 0),
                  StatusNullPointer);
        EXPECT_EQ(kYCbCr422ToBGRVariants.variant[variant](planes, strides, out, 3, 1, 0),
                  StatusBadSize);
        EXPECT_EQ(kYCbCr422ToBGRVariants.variant[variant](planes, strides, out, 3, 1, 1),
                  StatusNullPointer);
    }
    ForEachOtherVariant([](int variant) {
        const uint8_t s[1] = {0};
        const uint8_t* planes[3] = {s, nullptr, s};
        const int32_t strides[3] = {1, 1, 1};
        uint8_t out[3];
        EXPECT_EQ(kYCbCr422ToRGBVariants.variant[variant](nullptr, strides, out, 3, 0, 0),
                  StatusNullPointer);
        EXPECT_EQ(kYCbCr422ToRGBVariants.variant[variant](planes, strides, out, 3, 1, 0),
                  StatusBadSize);
        EXPECT_EQ(kYCbCr422ToRGBVariants.variant[variant](planes, strides, out, 3, 1, 1),
                  StatusNullPointer);
    });
}

}  // namespace
}  // namespace fluxmere
