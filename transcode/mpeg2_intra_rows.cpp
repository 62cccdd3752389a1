#include "transcode/mpeg2_intra_rows.h"

#include <algorithm>
#include <cstdlib>

#include "transcode/mpeg2_intra_tables.h"

namespace fluxmere::transcode::mpeg2 {

namespace {

constexpr int kMacroblockHeaderBits = 3;  // address increment 1, macroblock_type intra, dct_type

// The DC predictor of each block of a macroblock: 0 luma, 1 Cb, 2 Cr.
constexpr int kComponent[kBlocksPerMacroblock] = {0, 0, 0, 0, 1, 2, 1, 2};

int BitLength(uint32_t value) {
    return value == 0 ? 0 : 32 - __builtin_clz(value);
}

const Code& DcSizeCode(int component, int size) {
    return (component == 0 ? kLumaDcSize : kChromaDcSize)[size];
}

}  // namespace

IntraRowCoder::IntraRowCoder() {
    for (int code = 1; code <= kCoarsestQuantiserCode; ++code) {
        BlockQuantiser& quantiser = quantisers_[code];
        quantiser.bias[0] = 0;
        quantiser.reciprocal[0] = 0;  // the DC is coded apart
        const uint32_t scale = kNonLinearQuantiserScale[code];
        for (int i = 1; i < 64; ++i) {
            // level = 16 F / (W scale), F being coefficient / 8; a level rounds up from 5/8
            const uint32_t step = kDefaultIntraMatrix[kAlternateScan.raster[i]] * scale;
            quantiser.bias[i] = static_cast<uint16_t>((3 * step + 8) / 16);
            quantiser.reciprocal[i] = static_cast<uint16_t>(((1u << 19) + step / 2) / step);
        }
    }
    const RunLevelCodes& codes = IntraRunLevelCodes();
    for (int run = 0; run < 64; ++run) {
        acBits_[run][0] = kEscapeLength;
        acCodes_[run][0] = 0;
        for (int level = 1; level <= kMaxTableLevel; ++level) {
            const uint8_t length = codes.length[run][level];
            acBits_[run][level] = length != 0 ? length : kEscapeLength;
            acCodes_[run][level] = codes.value[run][level] << 5 | length;
        }
    }
    TakeVariants();
}

void IntraRowCoder::TakeVariants() {
    forwardDct_ = kForwardDctPairVariants.Active();
    quantise_ = kQuantiseBlockVariants.Active();
    prefersField_ = kPrefersFieldDctVariants.Active();
}

uint32_t IntraRowCoder::Analyse(const RowSource& source, Macroblock* row, int columns) {
    DcPredictors predictors;
    uint32_t bits = kSliceHeaderBits;
    for (int column = 0; column < columns; ++column) {
        Macroblock& macroblock = row[column];
        const uint8_t* y = source.y + column * 16;
        const uint8_t* cb = source.cb + column * 8;
        const uint8_t* cr = source.cr + column * 8;
        const bool field = prefersField_(y, source.yStride);
        // Frame DCT: blocks of 8 neighbouring lines; field DCT: the top field's 8 lines, then the
        // bottom field's. Chroma, 16 lines high in 4:2:2, follows the luma.
        const ptrdiff_t lumaStride = field ? 2 * source.yStride : source.yStride;
        const ptrdiff_t lumaSecond = field ? source.yStride : 8 * source.yStride;
        const ptrdiff_t chromaStride = field ? 2 * source.cStride : source.cStride;
        const ptrdiff_t chromaSecond = field ? source.cStride : 8 * source.cStride;
        forwardDct_(y, y + 8, lumaStride, macroblock.coefficients[0]);
        forwardDct_(y + lumaSecond, y + lumaSecond + 8, lumaStride, macroblock.coefficients[2]);
        forwardDct_(cb, cr, chromaStride, macroblock.coefficients[4]);
        forwardDct_(cb + chromaSecond, cr + chromaSecond, chromaStride, macroblock.coefficients[6]);
        macroblock.fieldDct = field;

        uint32_t macroblockBits = kMacroblockHeaderBits + kBlocksPerMacroblock * kEndOfBlock.length;
        for (int block = 0; block < kBlocksPerMacroblock; ++block) {
            // 64 (mean - 128) to the 10-bit DC, 4 mean, rounded
            const int dc = std::clamp((macroblock.coefficients[block][0] + 8192 + 8) >> 4, 0, 1023);
            macroblock.dc[block] = static_cast<int16_t>(dc);
            int& predictor = predictors.value[kComponent[block]];
            const int size = BitLength(static_cast<uint32_t>(std::abs(dc - predictor)));
            predictor = dc;
            macroblockBits += DcSizeCode(kComponent[block], size).length;
            macroblockBits += static_cast<uint32_t>(size);
        }
        macroblock.dcOnlyBits = static_cast<uint16_t>(macroblockBits);
        bits += macroblockBits;
    }
    return bits;
}

uint32_t IntraRowCoder::BlockAcBits(const int16_t* coefficients,
                                    const BlockQuantiser& quantiser) const {
    alignas(32) int16_t levels[64];
    uint64_t nonzero = quantise_(coefficients, quantiser, levels);
    uint32_t bits = 0;
    int last = 0;
    while (nonzero != 0) {
        const int position = __builtin_ctzll(nonzero);
        nonzero &= nonzero - 1;
        const int magnitude = std::abs(levels[position]);
        bits += acBits_[position - last - 1][magnitude <= kMaxTableLevel ? magnitude : 0];
        last = position;
    }
    return bits;
}

uint32_t IntraRowCoder::AcBits(const Macroblock& macroblock, int code) const {
    const BlockQuantiser& quantiser = quantisers_[code];
    uint32_t bits = 0;
    for (const int16_t* coefficients : macroblock.coefficients) {
        bits += BlockAcBits(coefficients, quantiser);
    }
    return bits;
}

void IntraRowCoder::WriteSliceHeader(BitWriter& writer, int codedRow, int code) const {
    writer.Put(0x00000101 + static_cast<uint32_t>(codedRow), 32);
    writer.Put(static_cast<uint32_t>(code), 5);
    writer.Put(0, 1);  // extra_bit_slice
}

void IntraRowCoder::WriteMacroblock(BitWriter& writer, const Macroblock& macroblock, int code,
                                    DcPredictors& predictors) const {
    const BlockQuantiser* quantiser = code > 0 ? &quantisers_[code] : nullptr;
    // address increment 1, macroblock_type intra, dct_type
    writer.Put(0x6 | static_cast<uint32_t>(macroblock.fieldDct), kMacroblockHeaderBits);
    for (int block = 0; block < kBlocksPerMacroblock; ++block) {
        const int component = kComponent[block];
        int& predictor = predictors.value[component];
        const int dc = macroblock.dc[block];
        WriteBlock(writer, macroblock.coefficients[block], quantiser, dc - predictor, component);
        predictor = dc;
    }
}

void IntraRowCoder::WriteBlock(BitWriter& writer, const int16_t* coefficients,
                               const BlockQuantiser* quantiser, int dcDifference,
                               int component) const {
    const int size = BitLength(static_cast<uint32_t>(std::abs(dcDifference)));
    const Code& sizeCode = DcSizeCode(component, size);
    writer.Put(sizeCode.value, sizeCode.length);
    if (size != 0) {
        // a negative difference is sent as difference + 2^size - 1
        const int sent = dcDifference < 0 ? dcDifference + (1 << size) - 1 : dcDifference;
        writer.Put(static_cast<uint32_t>(sent), size);
    }
    if (quantiser != nullptr) {
        alignas(32) int16_t levels[64];
        uint64_t nonzero = quantise_(coefficients, *quantiser, levels);
        int last = 0;
        while (nonzero != 0) {
            const int position = __builtin_ctzll(nonzero);
            nonzero &= nonzero - 1;
            const int run = position - last - 1;
            last = position;
            const int level = levels[position];
            const int magnitude = std::abs(level);
            const uint32_t code = magnitude <= kMaxTableLevel ? acCodes_[run][magnitude] : 0;
            if (code != 0) {
                writer.Put(code >> 5 | static_cast<uint32_t>(level < 0), code & 31);
            } else {
                writer.Put(kEscape.value << 18 | static_cast<uint32_t>(run) << 12 |
                               (static_cast<uint32_t>(level) & 0xFFF),
                           kEscapeLength);
            }
        }
    }
    writer.Put(kEndOfBlock.value, kEndOfBlock.length);
}

}  // namespace fluxmere::transcode::mpeg2
