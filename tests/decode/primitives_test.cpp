// Edge cases of the decoding primitives, table-driven where the cases share a shape.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "decode/jpeg_tables.h"
#include "decode/primitives.h"
#include "tests/decode/scan_writer.h"

namespace fluxmere {
namespace {

using testing::CodeBook;
using testing::ScanWriter;

// ---------------------------------------------------------------- processor selection

TEST(ProcessorVariant, SelectionRulesTakeTheFirstMatchingRow) {
    struct Case {
        const char* name;
        ProcessorInfo info;
        int32_t expected;
    };
    auto intel = [](uint32_t family) {
        ProcessorInfo info;
        info.hasCpuid = true;
        info.genuineIntel = true;
        info.family = family;
        return info;
    };
    auto with = [](ProcessorInfo info, bool sse, bool sse2, bool sse3, bool ssse3, bool lm) {
        info.sse = sse;
        info.sse2 = sse2;
        info.sse3 = sse3;
        info.ssse3 = ssse3;
        info.longMode = lm;
        return info;
    };
    ProcessorInfo other;
    other.hasCpuid = true;
    other.family = 15;
    const Case cases[] = {
        {"no cpuid, even with feature bits", with(ProcessorInfo{}, 1, 1, 1, 1, 1), 0},
        {"intel family 5 with ssse3", with(intel(5), 1, 1, 1, 1, 0), 0},
        {"intel family 7", intel(7), 1},
        {"intel family 6 sse only", with(intel(6), 1, 0, 0, 0, 0), 1},
        {"intel family 6 nothing", intel(6), 0},
        {"intel family 6 sse3 without sse2", with(intel(6), 1, 0, 1, 1, 0), 1},
        {"intel family 15 without sse2", with(intel(15), 0, 0, 1, 1, 1), 1},
        {"intel family 15 sse3, 32-bit", with(intel(15), 1, 1, 1, 1, 0), 3},
        {"intel family 15 sse3, long mode, ssse3", with(intel(15), 1, 1, 1, 1, 1), 4},
        {"intel family 15 sse2 only, long mode", with(intel(15), 1, 1, 0, 0, 1), 2},
        {"intel family 6 ssse3", with(intel(6), 1, 1, 1, 1, 1), 4},
        {"intel family 6 sse3", with(intel(6), 1, 1, 1, 0, 1), 3},
        {"other vendor family 15 sse3 32-bit", with(other, 1, 1, 1, 0, 0), 3},
        {"other vendor sse2", with(other, 1, 1, 0, 0, 1), 2},
        {"other vendor sse", with(other, 1, 0, 0, 0, 0), 1},
        {"other vendor nothing", other, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VariantForProcessor(c.info), c.expected) << c.name;
    }
}

TEST(ProcessorVariant, SelectStoresTheHostVariantAndReportsTheVendor) {
    const int32_t saved = variantIndex;
    const ProcessorInfo host = ReadProcessorInfo();
    const int32_t status = SelectProcessorVariant();
    EXPECT_EQ(variantIndex, VariantForProcessor(host));
    EXPECT_GE(variantIndex, 0);
    EXPECT_LT(variantIndex, kVariantCount);
    EXPECT_EQ(status, host.hasCpuid && host.genuineIntel ? StatusOk : StatusUnknownProcessor);
#if defined(__x86_64__)
    EXPECT_TRUE(host.hasCpuid);
    EXPECT_TRUE(host.sse2);  // every x86-64 processor has it
    EXPECT_GE(variantIndex, 2);
#endif
    variantIndex = saved;
}

// ---------------------------------------------------------------- swap, fill, quant

TEST(SwapBytes16, SwapsInOrderAndChecksArguments) {
    uint16_t value = 0x1234, out = 0xAAAA;
    EXPECT_EQ(SwapBytes16(&value, &out, 1), StatusOk);
    EXPECT_EQ(out, 0x3412);

    out = 0xAAAA;
    EXPECT_EQ(SwapBytes16(&value, &out, 0), StatusBadSize);
    EXPECT_EQ(SwapBytes16(&value, &out, -3), StatusBadSize);
    EXPECT_EQ(out, 0xAAAA);
    EXPECT_EQ(SwapBytes16(nullptr, &out, 0), StatusNullPointer);  // pointers are checked first
    EXPECT_EQ(SwapBytes16(&value, nullptr, 1), StatusNullPointer);

    uint16_t inPlace[3] = {0x0102, 0xA0B0, 0xFF00};
    EXPECT_EQ(SwapBytes16(inPlace, inPlace, 3), StatusOk);
    EXPECT_EQ(inPlace[0], 0x0201);
    EXPECT_EQ(inPlace[1], 0xB0A0);
    EXPECT_EQ(inPlace[2], 0x00FF);
}

TEST(ZeroFill16, FillsExactlyCountValues) {
    int16_t values[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(ZeroFill16(values, 0), StatusBadSize);
    EXPECT_EQ(ZeroFill16(nullptr, 0), StatusNullPointer);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(ZeroFill16(values + 1, 4), StatusOk);
    const int16_t expected[6] = {1, 0, 0, 0, 0, 6};
    EXPECT_EQ(0, std::memcmp(values, expected, sizeof values));
}

TEST(BuildQuantTable, PlacesZigzagEntriesAtTheirNaturalPositions) {
    uint8_t zigzag[64];
    for (int k = 0; k < 64; ++k) {
        zigzag[k] = static_cast<uint8_t>(200 + k / 2);
    }
    zigzag[2] = 7;  // zigzag 2 is row 1, column 0
    zigzag[63] = 255;
    uint16_t natural[64] = {};
    EXPECT_EQ(BuildQuantTable(nullptr, natural), StatusNullPointer);
    EXPECT_EQ(BuildQuantTable(zigzag, nullptr), StatusNullPointer);
    ASSERT_EQ(BuildQuantTable(zigzag, natural), StatusOk);
    EXPECT_EQ(natural[8], 7);
    EXPECT_EQ(natural[63], 255);
    EXPECT_EQ(natural[1], 200);   // zigzag 1
    EXPECT_EQ(natural[16], 201);  // zigzag 3
    EXPECT_EQ(natural[56], 217);  // zigzag 35
}

// ---------------------------------------------------------------- Huffman tables

struct alignas(8) TableStorage {
    uint8_t bytes[kHuffmanTableBytes];
};

TEST(HuffmanTable, SizeAndBuildChecks) {
    int32_t size = 0;
    EXPECT_EQ(HuffmanTableSize(nullptr), StatusNullPointer);
    EXPECT_EQ(HuffmanTableSize(&size), StatusOk);
    EXPECT_EQ(size, 1644);

    struct Case {
        const char* name;
        std::vector<uint8_t> bits;
        int32_t expected;
    };
    auto bits = [](std::initializer_list<std::pair<int, int>> counts) {
        std::vector<uint8_t> b(16, 0);
        for (auto c : counts) {
            b[c.first - 1] = static_cast<uint8_t>(c.second);
        }
        return b;
    };
    const Case cases[] = {
        {"no codes at all", bits({}), StatusOk},
        {"counts summing to 257", bits({{9, 255}, {10, 2}}), StatusBadHuffmanTable},
        {"counts summing to 256", bits({{9, 255}, {10, 1}}), StatusOk},
        {"255 codes of 8 bits", bits({{8, 255}}), StatusOk},
        {"three codes of one bit", bits({{1, 3}}), StatusBadHuffmanTable},
        {"two codes of one bit", bits({{1, 2}}), StatusOk},
        {"one-bit codes then an 8-bit code past the lookahead", bits({{1, 2}, {8, 1}}),
         StatusBadHuffmanTable},
        {"long codes past 16 bits are no error", bits({{1, 2}, {9, 3}}), StatusOk},
    };
    std::vector<uint8_t> values(256);
    for (int i = 0; i < 256; ++i) {
        values[i] = static_cast<uint8_t>(i);
    }
    for (const Case& c : cases) {
        TableStorage table;
        std::memset(table.bytes, 0x5A, sizeof table.bytes);
        const int32_t status = BuildHuffmanTable(c.bits.data(), values.data(), table.bytes);
        EXPECT_EQ(status, c.expected) << c.name;
        if (status != StatusOk) {
            EXPECT_EQ(table.bytes[0], 0x5A) << c.name << ": a refused table is not written";
        }
    }
    TableStorage table;
    const std::vector<uint8_t> none(16, 0);
    EXPECT_EQ(BuildHuffmanTable(nullptr, values.data(), table.bytes), StatusNullPointer);
    EXPECT_EQ(BuildHuffmanTable(none.data(), nullptr, table.bytes), StatusNullPointer);
    EXPECT_EQ(BuildHuffmanTable(none.data(), values.data(), nullptr), StatusNullPointer);
}

// ---------------------------------------------------------------- block decoding

struct StandardTables {
    TableStorage lumaDc, lumaAc, chromaDc, chromaAc;
    StandardTables() {
        EXPECT_EQ(BuildHuffmanTable(jpeg::kLumaDcBits, jpeg::kLumaDcValues, lumaDc.bytes), 0);
        EXPECT_EQ(BuildHuffmanTable(jpeg::kLumaAcBits, jpeg::kLumaAcValues, lumaAc.bytes), 0);
        EXPECT_EQ(BuildHuffmanTable(jpeg::kChromaDcBits, jpeg::kChromaDcValues, chromaDc.bytes), 0);
        EXPECT_EQ(BuildHuffmanTable(jpeg::kChromaAcBits, jpeg::kChromaAcValues, chromaAc.bytes), 0);
    }
};

// The bit reader state and output of a run of DecodeHuffmanBlock calls over one buffer.
struct BlockReader {
    std::vector<uint8_t> data;  // exactly the bytes the reader may see (ASan catches overreads)
    int32_t bitPosition = 0;
    int32_t marker = 0;
    uint32_t bitBuffer = 0;
    int32_t bitCount = 0;
    int16_t predictor = 0;
    int16_t block[64] = {};
    int32_t size;

    explicit BlockReader(std::vector<uint8_t> bytes)
        : data(std::move(bytes)), size(static_cast<int32_t>(data.size())) {}

    int32_t Next(const TableStorage& dc, const TableStorage& ac) {
        return DecodeHuffmanBlock(data.data(), size, &bitPosition, block, &predictor, &marker,
                                  &bitBuffer, &bitCount, dc.bytes, ac.bytes);
    }
};

TEST(DecodeHuffmanBlock, ArgumentChecksComeInTheStatedOrder) {
    StandardTables t;
    const uint8_t data[2] = {0, 0};
    int32_t position = 0, marker = 0, count = 0, badPosition = -8, badCount = -1, bigCount = 33;
    uint32_t buffer = 0;
    int16_t block[64], predictor = 0;
    const uint8_t* dc = t.lumaDc.bytes;
    const uint8_t* ac = t.lumaAc.bytes;
    struct Case {
        const char* name;
        int32_t status;
        int32_t expected;
    };
    const Case cases[] = {
        {"null data",
         DecodeHuffmanBlock(nullptr, 2, &badPosition, nullptr, nullptr, nullptr, nullptr, &badCount,
                            nullptr, nullptr),
         StatusNullPointer},
        {"null position",
         DecodeHuffmanBlock(data, 2, nullptr, block, &predictor, &marker, &buffer, &count, dc, ac),
         StatusNullPointer},
        {"negative position before null block",
         DecodeHuffmanBlock(data, 2, &badPosition, nullptr, &predictor, &marker, &buffer, &count,
                            dc, ac),
         StatusBadArgument},
        {"negative size",
         DecodeHuffmanBlock(data, -1, &position, block, &predictor, &marker, &buffer, &count, dc,
                            ac),
         StatusBadArgument},
        {"null predictor before negative count",
         DecodeHuffmanBlock(data, 2, &position, block, nullptr, &marker, &buffer, &badCount, dc,
                            ac),
         StatusNullPointer},
        {"null bit count",
         DecodeHuffmanBlock(data, 2, &position, block, &predictor, &marker, &buffer, nullptr, dc,
                            ac),
         StatusNullPointer},
        {"negative count before null table",
         DecodeHuffmanBlock(data, 2, &position, block, &predictor, &marker, &buffer, &badCount,
                            nullptr, ac),
         StatusBadArgument},
        {"count above 32",
         DecodeHuffmanBlock(data, 2, &position, block, &predictor, &marker, &buffer, &bigCount, dc,
                            ac),
         StatusBadArgument},
        {"null AC table",
         DecodeHuffmanBlock(data, 2, &position, block, &predictor, &marker, &buffer, &count, dc,
                            nullptr),
         StatusNullPointer},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.status, c.expected) << c.name;
    }
    EXPECT_EQ(position, 0);
}

TEST(DecodeHuffmanBlock, StuffedByteIsOneDataByte) {
    // DC table: every byte is one 8-bit code; only 0xFF means category 1. AC table: '0' is EOB.
    std::vector<uint8_t> dcBits(16, 0), dcValues(256, 0), acBits(16, 0);
    dcBits[7] = 255;
    dcBits[8] = 1;  // 255 codes of 8 bits (0x00..0xFE), then 0x1FE of 9 bits
    dcValues[254] = 0;
    acBits[0] = 1;
    const uint8_t acValues[1] = {0x00};
    // Make code 0xFF reachable: codes 0x00..0xFE are 8-bit; "11111111 0" is the 9-bit code.
    dcValues[255] = 1;
    TableStorage dc, ac;
    ASSERT_EQ(BuildHuffmanTable(dcBits.data(), dcValues.data(), dc.bytes), StatusOk);
    ASSERT_EQ(BuildHuffmanTable(acBits.data(), acValues, ac.bytes), StatusOk);

    // FF 00 -> 0xFF; then 0x40 = 0 1 000000: the 9th code bit 0, value bit 1 (+1), AC EOB '0'.
    BlockReader r({0xFF, 0x00, 0x40});
    EXPECT_EQ(r.Next(dc, ac), StatusOk);
    EXPECT_EQ(r.predictor, 1);
    EXPECT_EQ(r.block[0], 1);
    EXPECT_EQ(r.marker, kEndOfDataMarker);
    EXPECT_EQ(r.bitPosition, 3 * 8);  // both bytes of the stuffed pair count
    EXPECT_EQ(r.bitCount, 16 - 11);
}

TEST(DecodeHuffmanBlock, MarkersStopTheReader) {
    StandardTables t;
    {  // 0xFF 0xFF 0xD9: fill bytes skipped, marker D9 recorded, no bits read
        BlockReader r({0xFF, 0xFF, 0xD9});
        r.predictor = 9;
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
        EXPECT_EQ(r.marker, 0xD9);
        EXPECT_EQ(r.bitCount, 0);
        EXPECT_EQ(r.bitPosition, 0);
        EXPECT_EQ(r.predictor, 9);
    }
    {  // a marker where the block starts: all-zero block, predictor and position unchanged
        BlockReader r({0x12, 0x34, 0xFF, 0xD0, 0x55});
        r.bitPosition = 16;
        r.predictor = -7;
        std::fill(r.block, r.block + 64, int16_t{3});
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
        EXPECT_EQ(r.marker, 0xD0);
        EXPECT_EQ(r.bitPosition, 16);
        EXPECT_EQ(r.predictor, -7);
        for (int16_t c : r.block) {
            ASSERT_EQ(c, 0);
        }
        // Once a marker is recorded nothing more is read: the next block is all zero as well.
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
        EXPECT_EQ(r.block[0], 0);
    }
    {  // an 8-bit DC code (category 10) ends at the marker: its value bits are missing
        BlockReader r({0xFE, 0xFF, 0xD9});
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusNoData);
        EXPECT_EQ(r.marker, 0xD9);
    }
    {  // the same without a marker: the end of the data stops the reader the same way
        BlockReader r({0xFE});
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusNoData);
        EXPECT_EQ(r.marker, kEndOfDataMarker);
        EXPECT_EQ(r.bitPosition, 8);
    }
    {  // no data: the DC symbol is absent
        BlockReader r({0x00});
        r.size = 0;
        EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
        EXPECT_EQ(r.block[0], 0);
        EXPECT_EQ(r.marker, kEndOfDataMarker);
    }
}

TEST(DecodeHuffmanBlock, BadCodesAreReported) {
    StandardTables t;
    // Sixteen 1 bits are no luma DC code (its longest code is 111111110).
    BlockReader r({0xFF, 0x00, 0xFF, 0x00, 0x00});
    EXPECT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusBadCode);
    // An AC table with a single 2-bit code: '11' is not a code at any length.
    std::vector<uint8_t> acBits(16, 0);
    acBits[1] = 1;
    const uint8_t acValue[1] = {0x00};
    TableStorage ac;
    ASSERT_EQ(BuildHuffmanTable(acBits.data(), acValue, ac.bytes), StatusOk);
    ScanWriter w;
    w.PutSymbol(CodeBook::LumaDc(), 0);
    w.PutBits(0xFFFF, 16);
    w.PutBits(0xFF, 8);
    BlockReader bad(w.Finish());
    EXPECT_EQ(bad.Next(t.lumaDc, ac), StatusBadCode);
}

TEST(DecodeHuffmanBlock, PredictorAndRunsFollowTheCodedValues) {
    StandardTables t;
    const CodeBook dc = CodeBook::LumaDc(), ac = CodeBook::LumaAc();
    ScanWriter w;
    w.PutBlock(dc, ac, 5, {{0, -1}, {3, 300}});
    w.PutBlock(dc, ac, -3, {});
    w.PutBlock(dc, ac, 0, {{15, 1}, {15, 2}, {15, 3}, {15, 4}});  // the last run reaches 64
    // Three ZRLs reach k = 49; a run of 15 then lands past 63 and is stored at 63.
    w.PutSymbol(dc, 0);
    for (int i = 0; i < 3; ++i) {
        w.PutSymbol(ac, 0xF0);
    }
    w.PutSymbol(ac, 0xF1);
    w.PutValue(-1, 1);
    w.PutBlock(dc, ac, 0, {});
    BlockReader r(w.Finish());

    ASSERT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
    EXPECT_EQ(r.predictor, 5);
    EXPECT_EQ(r.block[0], 5);
    EXPECT_EQ(r.block[1], -1);   // zigzag 1
    EXPECT_EQ(r.block[2], 300);  // zigzag 5
    ASSERT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
    EXPECT_EQ(r.predictor, 2);
    EXPECT_EQ(r.block[0], 2);
    ASSERT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
    EXPECT_EQ(r.predictor, 2);  // category 0 keeps the predictor
    EXPECT_EQ(r.block[jpeg::kZigzagToNatural[16]], 1);
    EXPECT_EQ(r.block[63], 4);
    ASSERT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);
    EXPECT_EQ(r.block[63], -1);
    int nonzero = 0;
    for (int16_t c : r.block) {
        nonzero += c != 0;
    }
    EXPECT_EQ(nonzero, 2);                            // the DC predictor and position 63
    ASSERT_EQ(r.Next(t.lumaDc, t.lumaAc), StatusOk);  // the stream stays in step
    EXPECT_EQ(r.block[0], 2);
}

TEST(DecodeHuffmanBlock, RandomBlocksRoundTripThroughBothTableSets) {
    StandardTables t;
    std::mt19937 random(12345);
    const CodeBook books[2][2] = {{CodeBook::LumaDc(), CodeBook::LumaAc()},
                                  {CodeBook::ChromaDc(), CodeBook::ChromaAc()}};
    struct Expected {
        int16_t coefficients[64];
    };
    std::vector<Expected> expected;
    ScanWriter w;
    int predictor[2] = {0, 0};
    for (int b = 0; b < 400; ++b) {
        const int set = (b / 2) % 2;
        Expected e = {};
        const int maxCategory = b % 3 == 0 ? 11 : 5;
        const int limit = (1 << maxCategory) - 1;
        const int difference = static_cast<int>(random() % (2 * limit + 1)) - limit;
        predictor[set] = static_cast<int16_t>(predictor[set] + difference);
        e.coefficients[0] = static_cast<int16_t>(predictor[set]);
        std::vector<std::pair<int, int>> terms;
        int k = 1;
        while (k < 64 && random() % 8 != 0) {
            const int run = static_cast<int>(random() % (b % 5 == 0 ? 40 : 6));
            if (k + run > 63) {
                break;
            }
            int value = static_cast<int>(random() % 2047) - 1023;  // AC categories 1..10
            if (value == 0) {
                value = 1;
            }
            terms.push_back({run, value});
            k += run;
            e.coefficients[jpeg::kZigzagToNatural[k]] = static_cast<int16_t>(value);
            ++k;
        }
        w.PutBlock(books[set][0], books[set][1], difference, terms);
        expected.push_back(e);
    }
    BlockReader r(w.Finish());
    int16_t predictors[2] = {0, 0};
    for (size_t b = 0; b < expected.size(); ++b) {
        const int set = static_cast<int>(b / 2) % 2;
        r.predictor = predictors[set];
        const TableStorage& dc = set ? t.chromaDc : t.lumaDc;
        const TableStorage& ac = set ? t.chromaAc : t.lumaAc;
        ASSERT_EQ(r.Next(dc, ac), StatusOk) << "block " << b;
        predictors[set] = r.predictor;
        ASSERT_EQ(0, std::memcmp(r.block, expected[b].coefficients, sizeof r.block))
            << "block " << b;
    }
}

// ---------------------------------------------------------------- inverse DCT

TEST(InverseDctBlock, DcOnlyBlocksAndChecks) {
    uint16_t ones[64];
    std::fill(ones, ones + 64, uint16_t{1});
    int16_t block[64] = {};
    uint8_t pixels[8 * 12];
    struct Case {
        int16_t dc;
        uint16_t quant;
        uint8_t expected;
    };
    const Case cases[] = {{80, 1, 138},        {0, 1, 128},      {480, 1, 188},
                          {80, 6, 188},        {-1024, 1, 0},    {1016, 1, 255},
                          {32767, 65535, 128}, {-32768, 3, 128}, {4200, 1, 0}};
    for (const Case& c : cases) {
        uint16_t quant[64];
        std::fill(quant, quant + 64, c.quant);
        block[0] = c.dc;
        std::memset(pixels, 0x11, sizeof pixels);
        ASSERT_EQ(InverseDctBlock(block, pixels, 12, quant), StatusOk);
        for (int r = 0; r < 8; ++r) {
            for (int col = 0; col < 12; ++col) {
                ASSERT_EQ(pixels[r * 12 + col], col < 8 ? c.expected : 0x11)
                    << "dc " << c.dc << " quant " << c.quant << " at " << r << "," << col;
            }
        }
        EXPECT_EQ(block[0], c.dc);  // the caller's block is not changed
    }
    EXPECT_EQ(InverseDctBlock(block, pixels, 0, ones), StatusBadStep);
    EXPECT_EQ(InverseDctBlock(block, pixels, -8, nullptr), StatusBadStep);
    EXPECT_EQ(InverseDctBlock(nullptr, pixels, 0, ones), StatusNullPointer);
    EXPECT_EQ(InverseDctBlock(block, nullptr, 0, ones), StatusNullPointer);
    EXPECT_EQ(InverseDctBlock(block, pixels, 8, nullptr), StatusNullPointer);
}

// ---------------------------------------------------------------- colour conversion

TEST(YCbCr422ToRGB, ReferenceColoursAndOddWidths) {
    struct Case {
        uint8_t y, cb, cr;
        uint8_t r, g, b;
    };
    const Case cases[] = {{16, 128, 128, 0, 0, 0},  {235, 128, 128, 255, 255, 255},
                          {81, 90, 240, 254, 0, 0}, {100, 128, 128, 98, 98, 98},
                          {0, 0, 0, 0, 136, 0},     {255, 255, 255, 255, 125, 255}};
    for (const Case& c : cases) {
        const uint8_t y[1] = {c.y}, cb[1] = {c.cb}, cr[1] = {c.cr};
        const uint8_t* planes[3] = {y, cb, cr};
        const int32_t strides[3] = {1, 1, 1};
        uint8_t out[4] = {1, 2, 3, 77};
        ASSERT_EQ(YCbCr422ToRGB(planes, strides, out, 3, 1, 1), StatusOk);
        EXPECT_EQ(out[0], c.r) << int(c.y) << "," << int(c.cb) << "," << int(c.cr);
        EXPECT_EQ(out[1], c.g) << int(c.y) << "," << int(c.cb) << "," << int(c.cr);
        EXPECT_EQ(out[2], c.b) << int(c.y) << "," << int(c.cb) << "," << int(c.cr);
        EXPECT_EQ(out[3], 77);  // width 1: exactly one pixel
    }

    // Width 3, two rows with strides: pixels 0,1 share chroma 0, pixel 2 uses chroma 1.
    const uint8_t y[2 * 4] = {16, 235, 100, 9, 235, 16, 16, 9};
    const uint8_t cb[2 * 3] = {128, 128, 9, 128, 90, 9};
    const uint8_t cr[2 * 3] = {128, 128, 9, 128, 240, 9};
    const uint8_t* planes[3] = {y, cb, cr};
    const int32_t strides[3] = {4, 3, 3};
    uint8_t out[2 * 10];
    std::memset(out, 0xEE, sizeof out);
    ASSERT_EQ(YCbCr422ToRGB(planes, strides, out, 10, 3, 2), StatusOk);
    const uint8_t expected[2 * 10] = {0,   0,   0,   255, 255, 255, 98, 98, 98, 0xEE,
                                      255, 255, 255, 0,   0,   0,   0,  0,  0,  0xEE};
    EXPECT_EQ(0, std::memcmp(out, expected, 9));
    EXPECT_EQ(out[9], 0xEE);
    EXPECT_EQ(0, std::memcmp(out + 10, expected + 10, 6));
    EXPECT_EQ(out[19], 0xEE);
    // Row 2, pixel 2: Y 16 with Cb 90, Cr 240.
    uint8_t single[3];
    const uint8_t y16[1] = {16}, cb90[1] = {90}, cr240[1] = {240};
    const uint8_t* p3[3] = {y16, cb90, cr240};
    ASSERT_EQ(YCbCr422ToRGB(p3, strides, single, 3, 1, 1), StatusOk);
    EXPECT_EQ(0, std::memcmp(out + 16, single, 3));
}

TEST(YCbCr422ToRGB, ChecksInOrder) {
    const uint8_t sample[1] = {16};
    const uint8_t* planes[3] = {sample, sample, sample};
    const uint8_t* missing[3] = {sample, nullptr, sample};
    const int32_t strides[3] = {1, 1, 1};
    uint8_t out[3] = {7, 7, 7};
    EXPECT_EQ(YCbCr422ToRGB(nullptr, strides, out, 3, 0, 1), StatusNullPointer);
    EXPECT_EQ(YCbCr422ToRGB(planes, strides, nullptr, 3, 1, 1), StatusNullPointer);
    EXPECT_EQ(YCbCr422ToRGB(missing, strides, out, 3, 0, 1), StatusBadSize);
    EXPECT_EQ(YCbCr422ToRGB(planes, strides, out, 3, 1, 0), StatusBadSize);
    EXPECT_EQ(YCbCr422ToRGB(missing, strides, out, 3, 1, 1), StatusNullPointer);
    EXPECT_EQ(out[0], 7);
}

}  // namespace
}  // namespace fluxmere
