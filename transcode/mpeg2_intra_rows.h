#pragma once
// Rows of macroblocks of an MPEG-2 intra frame picture in 4:2:2, coded as the D-10 encoder codes
// them: 10-bit DC, the non-linear quantiser scale over the default intra matrix, the intra VLC
// table (intra_vlc_format 1), the alternate scan, and frame or field DCT chosen per macroblock.
// A row is transformed once; it can then be measured, in exact bits, at any quantiser scale, and
// written. Nothing here allocates.

#include <cstddef>
#include <cstdint>

#include "transcode/mpeg2_bit_writer.h"
#include "transcode/mpeg2_intra_kernels.h"

namespace fluxmere::transcode::mpeg2 {

constexpr int kBlocksPerMacroblock = 8;  // Y0 Y1 Y2 Y3 Cb0 Cr0 Cb1 Cr1
constexpr int kCoarsestQuantiserCode = 31;
constexpr int kSliceHeaderBits = 32 + 5 + 1;  // start code, quantiser_scale_code, extra_bit_slice

struct alignas(32) Macroblock {
    int16_t coefficients[kBlocksPerMacroblock][64];  // in scan order
    int16_t dc[kBlocksPerMacroblock];                // the 10-bit DC values
    bool fieldDct;
    uint16_t dcOnlyBits;  // the macroblock without AC: its header, DC codes and ends of block
};

// 16 lines of a 4:2:2 picture: luma at y, chroma at cb and cr; a stride of 0 repeats one line.
struct RowSource {
    const uint8_t* y;
    const uint8_t* cb;
    const uint8_t* cr;
    ptrdiff_t yStride;
    ptrdiff_t cStride;
};

// The DC predictors of luma, Cb and Cr, as every slice starts them.
struct DcPredictors {
    int value[3] = {512, 512, 512};
};

class IntraRowCoder {
public:
    IntraRowCoder();

    // Takes the processor variants in use (decode/dispatch.h); called before each picture.
    void TakeVariants();

    // Transforms `columns` macroblocks; returns the bits of their slice that do not depend on the
    // quantiser: the slice header, macroblock headers, DC codes and ends of block.
    uint32_t Analyse(const RowSource& source, Macroblock* row, int columns);

    // Bits of the AC coefficients of a macroblock at quantiser_scale_code `code` (1..31).
    uint32_t AcBits(const Macroblock& macroblock, int code) const;

    // The slice header of coded macroblock row `codedRow` (0 at the top).
    void WriteSliceHeader(BitWriter& writer, int codedRow, int code) const;

    // A macroblock at quantiser_scale_code `code`, or with its DC alone for code 0.
    void WriteMacroblock(BitWriter& writer, const Macroblock& macroblock, int code,
                         DcPredictors& predictors) const;

private:
    uint32_t BlockAcBits(const int16_t* coefficients, const BlockQuantiser& quantiser) const;
    void WriteBlock(BitWriter& writer, const int16_t* coefficients, const BlockQuantiser* quantiser,
                    int dcDifference, int component) const;

    BlockQuantiser quantisers_[kCoarsestQuantiserCode + 1];
    // Bits of the AC code of (run, level) by run and level 1..40; index 0 holds the escape's.
    uint8_t acBits_[64][kMaxTableLevel + 1];
    // The same codes for writing: code (sign bit clear) << 5 | length, 0 for an escape.
    uint32_t acCodes_[64][kMaxTableLevel + 1];
    ForwardDctPairFn* forwardDct_ = nullptr;
    QuantiseBlockFn* quantise_ = nullptr;
    PrefersFieldDctFn* prefersField_ = nullptr;
};

}  // namespace fluxmere::transcode::mpeg2
