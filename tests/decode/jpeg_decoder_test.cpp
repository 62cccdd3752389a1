// The Motion-JPEG decoder: picture geometry, markers and errors, refusals, and a bounded random
// run over hostile payloads (run under ASan: every buffer is exactly as large as promised).

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decode/jpeg_decoder.h"
#include "tests/decode/decode_paths.h"
#include "tests/decode/scan_writer.h"

namespace fluxmere {
namespace {

using testing::CodeBook;
using testing::ScanWriter;

// Planes of exactly the bytes a picture needs, pre-filled so untouched samples show.
struct Planes {
    std::vector<uint8_t> luma, cb, cr;
    uint8_t* pointers[3];
    int32_t w16, rowStep;

    Planes(int32_t width, int32_t height, uint8_t fill = 0x33) {
        w16 = static_cast<int32_t>(RoundedWidth(width));
        rowStep = w16;
        // Whole rows for every picture line, so tests can look at the lines left alone.
        luma.assign(static_cast<size_t>(w16) * height, fill);
        cb.assign(static_cast<size_t>(w16 / 2) * height, fill);
        cr.assign(static_cast<size_t>(w16 / 2) * height, fill);
        pointers[0] = luma.data();
        pointers[1] = cb.data();
        pointers[2] = cr.data();
    }
    PlaneCapacities capacities() const {
        return {static_cast<int32_t>(luma.size()), static_cast<int32_t>(cb.size()),
                static_cast<int32_t>(cr.size())};
    }
    void Fill(uint8_t value) {
        std::fill(luma.begin(), luma.end(), value);
        std::fill(cb.begin(), cb.end(), value);
        std::fill(cr.begin(), cr.end(), value);
    }
};

struct alignas(8) WorkArea {
    int16_t values[256];
};

struct Fixture {
    CJPEGDecoder decoder;
    WorkArea work;
    Planes planes;
    std::unique_ptr<uint8_t[]> payload;  // exactly sized: ASan sees any read past it

    Fixture(int32_t width, int32_t height)
        : planes(width == 0 ? 320 : width, height == 0 ? 240 : height) {
        EXPECT_EQ(
            decoder.Configure(width, height, planes.rowStep, work.values, planes.capacities()),
            StatusOk);
    }

    void Decode(const std::vector<uint8_t>& bytes) {
        payload.reset(new uint8_t[bytes.size()]);  // no spare byte: a read past the end is seen
        if (!bytes.empty()) {
            std::memcpy(payload.get(), bytes.data(), bytes.size());
        }
        CCompressedSample sample;
        sample.data = payload.get();
        sample.size = static_cast<int32_t>(bytes.size());
        decoder.Decode(planes.pointers, &sample);
    }
};

// Counts samples of a plane region (columns x lines, stride) that equal value.
bool RegionIs(const std::vector<uint8_t>& plane, int32_t stride, int32_t column, int32_t line,
              int32_t columns, int32_t lines, uint8_t value) {
    for (int32_t r = line; r < line + lines; ++r) {
        for (int32_t c = column; c < column + columns; ++c) {
            if (plane[static_cast<size_t>(r) * stride + c] != value) {
                return false;
            }
        }
    }
    return true;
}

// One MCU of exactly 32 bits: luma DC +80 (pixels 188), luma DC +1 (predictor 81, pixels 189),
// both chroma blocks DC 0 (pixels 128), all AC zero.
std::vector<uint8_t> FirstMcuOnly() {
    ScanWriter w;
    const CodeBook lumaDc = CodeBook::LumaDc(), lumaAc = CodeBook::LumaAc();
    const CodeBook chromaDc = CodeBook::ChromaDc(), chromaAc = CodeBook::ChromaAc();
    w.PutBlock(lumaDc, lumaAc, 80, {});
    w.PutBlock(lumaDc, lumaAc, 1, {});
    w.PutBlock(chromaDc, chromaAc, 0, {});
    w.PutBlock(chromaDc, chromaAc, 0, {});
    std::vector<uint8_t> bytes = w.Finish();
    EXPECT_EQ(bytes.size(), 4u);
    return bytes;
}

// A payload of random blocks for every MCU of a picture.
std::vector<uint8_t> RandomPicture(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 random(seed);
    const CodeBook lumaDc = CodeBook::LumaDc(), lumaAc = CodeBook::LumaAc();
    const CodeBook chromaDc = CodeBook::ChromaDc(), chromaAc = CodeBook::ChromaAc();
    ScanWriter w;
    const int32_t mcus = static_cast<int32_t>(RoundedWidth(width) / 16) * (height / 8);
    for (int32_t m = 0; m < mcus * 4; ++m) {
        std::vector<std::pair<int, int>> terms;
        for (int k = 1; k < 64 && random() % 4 != 0;) {
            const int run = static_cast<int>(random() % 4);
            if (k + run > 63) {
                break;
            }
            terms.push_back({run, (static_cast<int>(random() % 61) - 30) | 1});
            k += run + 1;
        }
        const bool luma = m % 4 < 2;
        w.PutBlock(luma ? lumaDc : chromaDc, luma ? lumaAc : chromaAc,
                   static_cast<int>(random() % 41) - 20, terms);
    }
    return w.Finish();
}

TEST(JpegDecoder, PictureGeometry) {
    struct Case {
        int32_t width, height;
        int32_t expectedWidth, expectedHeight, w16, decodedLines;
    };
    const Case cases[] = {
        {0, 0, 320, 240, 320, 240},     // the default picture: 20 MCUs x 30 MCU rows
        {100, 100, 100, 100, 112, 96},  // 7 MCUs per row; the last 4 lines are not written
        {48, 7, 48, 7, 48, 0},          // below 8 lines nothing is decoded
        {16, 8, 16, 8, 16, 8},
    };
    for (const Case& c : cases) {
        Fixture f(c.width, c.height);
        EXPECT_EQ(f.decoder.width(), c.expectedWidth);
        EXPECT_EQ(f.decoder.height(), c.expectedHeight);
        ASSERT_EQ(f.planes.w16, c.w16);
        f.Decode({0xFF, 0xD9});  // a marker at once: every block is all zero
        const int32_t lines = c.expectedHeight;
        EXPECT_TRUE(RegionIs(f.planes.luma, c.w16, 0, 0, c.w16, c.decodedLines, 128)) << c.width;
        EXPECT_TRUE(
            RegionIs(f.planes.luma, c.w16, 0, c.decodedLines, c.w16, lines - c.decodedLines, 0x33))
            << c.width;
        for (const auto* chroma : {&f.planes.cb, &f.planes.cr}) {
            EXPECT_TRUE(RegionIs(*chroma, c.w16 / 2, 0, 0, c.w16 / 2, c.decodedLines, 128));
            EXPECT_TRUE(RegionIs(*chroma, c.w16 / 2, 0, c.decodedLines, c.w16 / 2,
                                 lines - c.decodedLines, 0x33));
        }
    }
}

TEST(JpegDecoder, DcDifferencesAndTheEndOfThePayload) {
    const std::vector<uint8_t> mcu = FirstMcuOnly();
    std::vector<uint8_t> withMarker = mcu;
    withMarker.insert(withMarker.end(), {0xFF, 0xD9});
    for (const auto& bytes : {mcu, withMarker}) {  // the end of the data acts like the marker
        Fixture f(64, 16);
        f.Decode(bytes);
        const int32_t s = f.planes.w16;
        EXPECT_TRUE(RegionIs(f.planes.luma, s, 0, 0, 8, 8, 188));
        EXPECT_TRUE(RegionIs(f.planes.luma, s, 8, 0, 8, 8, 189));
        EXPECT_TRUE(RegionIs(f.planes.luma, s, 16, 0, s - 16, 8, 128));
        EXPECT_TRUE(RegionIs(f.planes.luma, s, 0, 8, s, 8, 128));
        EXPECT_TRUE(RegionIs(f.planes.cb, s / 2, 0, 0, s / 2, 16, 128));
        EXPECT_TRUE(RegionIs(f.planes.cr, s / 2, 0, 0, s / 2, 16, 128));
    }
}

TEST(JpegDecoder, CorruptCodeKeepsTheEarlierMcusAndLeavesTheRest) {
    std::vector<uint8_t> bytes = FirstMcuOnly();
    bytes.insert(bytes.end(), {0xFF, 0x00, 0xFF, 0x00, 0x00});  // sixteen 1 bits: no DC code
    Fixture f(48, 16);
    f.Decode(bytes);
    const int32_t s = f.planes.w16;
    EXPECT_TRUE(RegionIs(f.planes.luma, s, 0, 0, 8, 8, 188));
    EXPECT_TRUE(RegionIs(f.planes.luma, s, 16, 0, s - 16, 16, 0x33));
    EXPECT_TRUE(RegionIs(f.planes.luma, s, 0, 8, 16, 8, 0x33));
    EXPECT_TRUE(RegionIs(f.planes.cb, s / 2, 0, 0, 8, 8, 128));
    EXPECT_TRUE(RegionIs(f.planes.cb, s / 2, 8, 0, s / 2 - 8, 16, 0x33));
}

TEST(JpegDecoder, DecodesArePredictorIndependentAndRepeatable) {
    const std::vector<uint8_t> bytes = RandomPicture(80, 24, 7);
    Fixture f(80, 24);
    f.Decode(bytes);
    const Planes first = f.planes;
    f.planes.Fill(0x99);
    f.Decode(bytes);
    EXPECT_EQ(f.planes.luma, first.luma);
    EXPECT_EQ(f.planes.cb, first.cb);
    EXPECT_EQ(f.planes.cr, first.cr);
    EXPECT_FALSE(RegionIs(f.planes.luma, f.planes.w16, 0, 0, 80, 24, 128));
}

TEST(JpegDecoder, RefusesPicturesItCannotHoldAndDecodesNothingThen) {
    WorkArea work;
    Planes planes(64, 16);
    const PlaneCapacities fits = planes.capacities();
    struct Case {
        const char* name;
        int32_t width, height, rowStep;
        PlaneCapacities capacities;
        int32_t expected;
    };
    const Case cases[] = {
        {"fits", 64, 16, 64, fits, StatusOk},
        {"the default 320 x 240 is larger", 0, 0, 320, fits, StatusBadSize},
        {"one luma byte short",
         64,
         16,
         64,
         {fits.luma - 1, fits.firstChroma, fits.secondChroma},
         StatusBadSize},
        {"one chroma byte short",
         64,
         16,
         64,
         {fits.luma, fits.firstChroma, fits.secondChroma - 1},
         StatusBadSize},
        {"rows narrower than W16", 60, 16, 48, fits, StatusBadStep},
        {"negative width", -16, 16, 64, fits, StatusBadSize},
        {"negative height", 64, -8, 64, fits, StatusBadSize},
        {"huge width", 0x7FFFFFFF, 8, 0x7FFFFFFF, fits, StatusBadStep},
        {"huge step", 16, 16, 0x7FFFFFFF, fits, StatusBadSize},
    };
    for (const Case& c : cases) {
        CJPEGDecoder decoder;
        EXPECT_EQ(decoder.Configure(c.width, c.height, c.rowStep, work.values, c.capacities),
                  c.expected)
            << c.name;
        planes.Fill(0x33);
        std::vector<uint8_t> marker = {0xFF, 0xD9};
        CCompressedSample sample;
        sample.data = marker.data();
        sample.size = 2;
        decoder.Decode(planes.pointers, &sample);
        const bool written = planes.luma[0] == 128;
        EXPECT_EQ(written, c.expected == StatusOk) << c.name;
    }

    // Not configured, no work area, null planes or sample: nothing happens.
    std::vector<uint8_t> marker = {0xFF, 0xD9};
    CCompressedSample sample;
    sample.data = marker.data();
    sample.size = 2;
    planes.Fill(0x33);
    CJPEGDecoder fresh;
    fresh.Decode(planes.pointers, &sample);
    CJPEGDecoder noWork;
    EXPECT_EQ(noWork.Configure(64, 16, 64, nullptr, fits), StatusOk);
    noWork.Decode(planes.pointers, &sample);
    noWork.Decode(nullptr, &sample);
    noWork.Decode(planes.pointers, nullptr);
    EXPECT_TRUE(RegionIs(planes.luma, 64, 0, 0, 64, 16, 0x33));

    // A refused Configure followed by a good one decodes again.
    CJPEGDecoder decoder;
    EXPECT_EQ(decoder.Configure(0, 0, 320, work.values, fits), StatusBadSize);
    EXPECT_EQ(decoder.Configure(64, 16, 64, work.values, fits), StatusOk);
    decoder.Decode(planes.pointers, &sample);
    EXPECT_TRUE(RegionIs(planes.luma, 64, 0, 0, 64, 16, 128));
}

// Random bytes, truncations and bit flips of valid payloads: the decoder must stay inside the
// payload and the planes whatever it meets (checked by ASan/UBSan on exactly sized buffers),
// leave the lines below its last whole MCU row alone, and carry nothing over: the valid payload
// decoded after each damaged one gives the same planes as at first.
TEST(JpegDecoder, BoundedRandomPayloadsStayInBounds) {
    std::mt19937 random(2026);
    const int32_t sizes[][2] = {{16, 8}, {100, 20}, {48, 16}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1]);
        Fixture f(size[0], size[1]);
        const std::vector<uint8_t> valid = RandomPicture(size[0], size[1], random());
        f.Decode(valid);
        ASSERT_EQ(f.decoder.LastDecodeStatus(), StatusOk);
        const Planes first = f.planes;
        const int32_t decodedLines = size[1] / 8 * 8;
        for (int round = 0; round < 150 && !HasFailure(); ++round) {
            std::vector<uint8_t> bytes;
            switch (round % 3) {
                case 0:  // random bytes, rich in 0xFF and 0x00
                    bytes.resize(random() % 300);
                    for (auto& b : bytes) {
                        const uint32_t pick = random() % 8;
                        b = pick == 0 ? 0xFF : pick == 1 ? 0x00 : static_cast<uint8_t>(random());
                    }
                    break;
                case 1:  // a truncated valid payload
                    bytes.assign(valid.begin(), valid.begin() + random() % (valid.size() + 1));
                    break;
                default:  // a valid payload with flipped bits
                    bytes = valid;
                    for (int flips = 1 + random() % 4; flips > 0; --flips) {
                        bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << random() % 8);
                    }
                    break;
            }
            f.Decode(bytes);
            const int32_t w16 = f.planes.w16;
            EXPECT_TRUE(
                RegionIs(f.planes.luma, w16, 0, decodedLines, w16, size[1] - decodedLines, 0x33))
                << "round " << round;
            EXPECT_TRUE(RegionIs(f.planes.cb, w16 / 2, 0, decodedLines, w16 / 2,
                                 size[1] - decodedLines, 0x33))
                << "round " << round;
            f.Decode(valid);
            EXPECT_EQ(f.decoder.LastDecodeStatus(), StatusOk) << "round " << round;
            EXPECT_TRUE(f.planes.luma == first.luma && f.planes.cb == first.cb &&
                        f.planes.cr == first.cr)
                << "round " << round;
        }
    }
}

// The fast path hands every unusual input to the primitives: both paths must leave the same
// planes and report the same status, on intact, damaged and random payloads of many shapes.
TEST(JpegDecoder, FastPathMatchesThePrimitives) {
    std::mt19937 random(18);
    const int32_t sizes[][2] = {{16, 8}, {100, 20}, {48, 16}, {352, 32}, {8, 100}};
    int failures = 0, successes = 0;
    for (int round = 0; round < 600; ++round) {
        const auto& size = sizes[round % 5];
        const int32_t mcus = static_cast<int32_t>(RoundedWidth(size[0]) / 16) * (size[1] / 8);
        std::vector<uint8_t> bytes;
        if (round % 10 == 9) {
            bytes.resize(random() % 600);
            for (auto& b : bytes) {
                const uint32_t pick = random() % 8;
                b = pick == 0 ? 0xFF : pick == 1 ? 0x00 : static_cast<uint8_t>(random());
            }
        } else {
            // Sometimes fewer MCUs than the picture holds, so that the data runs out.
            bytes = testing::RandomScan(random, round % 7 == 0 ? mcus / 2 + 1 : mcus);
            testing::Damage(random, &bytes);
        }
        int32_t status = 0;
        ASSERT_TRUE(testing::BothPathsAgree(size[0], size[1], bytes.data(),
                                            static_cast<int32_t>(bytes.size()), &status))
            << "round " << round;
        ++(status == StatusOk ? successes : failures);
    }
    // Both outcomes were exercised.
    EXPECT_GT(successes, 100);
    EXPECT_GT(failures, 20);
}

}  // namespace
}  // namespace fluxmere
