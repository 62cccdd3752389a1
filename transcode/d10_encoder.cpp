#include "transcode/d10_encoder.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "transcode/mpeg2_bit_writer.h"
#include "transcode/mpeg2_intra_rows.h"

namespace fluxmere::transcode {

using mpeg2::BitWriter;
using mpeg2::DcPredictors;
using mpeg2::Macroblock;

namespace {

constexpr int kCodedHeight = 608;
constexpr int kColumns = kEncodeWidth / 16;       // macroblocks per row: 45
constexpr int kBlankRows = 2;                     // the 32 lines above the picture
constexpr int kPictureRows = kEncodeHeight / 16;  // 36
constexpr int kCoarsestCode = mpeg2::kCoarsestQuantiserCode;
constexpr int kNoCode = kCoarsestCode + 1;
constexpr int kFirstGuess = 8;
constexpr uint32_t kFrameRate = 25;

// Everything before the first slice.
constexpr size_t kSequenceHeaderBytes = 12;
constexpr size_t kSequenceExtensionBytes = 10;
constexpr size_t kDisplayExtensionBytes = 12;
constexpr size_t kGopBytes = 8;
constexpr size_t kPictureHeaderBytes = 8;
constexpr size_t kCodingExtensionBytes = 9;
constexpr size_t kTimeCodeOffset =
    kSequenceHeaderBytes + kSequenceExtensionBytes + kDisplayExtensionBytes + 4;
constexpr size_t kHeaderBytes = kSequenceHeaderBytes + kSequenceExtensionBytes +
                                kDisplayExtensionBytes + kGopBytes + kPictureHeaderBytes +
                                kCodingExtensionBytes;

// Rows try the finer scale in this order, spread over the picture.
constexpr int kRowStride = 11;
static_assert(kPictureRows % kRowStride != 0 && kRowStride < kPictureRows);

// Everything before the first slice; the GOP header's time code is left zero.
void BuildHeader(size_t frameBytes, uint8_t (&header)[kHeaderBytes]) {
    const uint32_t frameBits = static_cast<uint32_t>(frameBytes * 8);
    const uint32_t bitRate = frameBits * kFrameRate;
    BitWriter writer(header, sizeof header);
    // sequence header
    writer.Put(0x000001B3, 32);
    writer.Put(kEncodeWidth, 12);
    writer.Put(kCodedHeight, 12);
    writer.Put(2, 4);                             // 4:3
    writer.Put(3, 4);                             // 25 frames/s
    writer.Put(bitRate / 400, 18);                // units of 400 bit/s
    writer.Put(1, 1);                             // marker
    writer.Put((frameBits + 16383) / 16384, 10);  // vbv_buffer_size, units of 16 kibit
    writer.Put(0, 3);  // constrained_parameters_flag, no intra matrix, no non-intra matrix
    // sequence extension
    writer.Put(0x000001B5, 32);
    writer.Put(1, 4);
    writer.Put(0x85, 8);        // 4:2:2 profile, main level
    writer.Put(0, 1);           // progressive_sequence
    writer.Put(2, 2);           // 4:2:2
    writer.Put(0, 2 + 2 + 12);  // size and bit rate extensions
    writer.Put(1, 1);           // marker
    writer.Put(0, 8);           // vbv_buffer_size_extension
    writer.Put(1, 1);           // low_delay
    writer.Put(0, 2 + 5);       // frame rate extensions
    // sequence display extension
    writer.Put(0x000001B5, 32);
    writer.Put(2, 4);
    writer.Put(1, 3);  // PAL
    writer.Put(1, 1);  // colour description
    writer.Put(5, 8);  // primaries: BT.601, 625 lines
    writer.Put(1, 8);  // transfer: BT.709 (the same curve as BT.601)
    writer.Put(5, 8);  // matrix: BT.601, 625 lines
    writer.Put(kEncodeWidth, 14);
    writer.Put(1, 1);  // marker
    writer.Put(kCodedHeight, 14);
    writer.AlignWithZeros();
    // GOP header: the time code is written per frame
    writer.Put(0x000001B8, 32);
    writer.Put(0, 32);
    // picture header
    writer.Put(0x00000100, 32);
    writer.Put(0, 10);       // temporal_reference
    writer.Put(1, 3);        // I picture
    writer.Put(0xFFFF, 16);  // vbv_delay
    writer.Put(0, 1);        // extra_bit_picture
    writer.AlignWithZeros();
    // picture coding extension
    writer.Put(0x000001B5, 32);
    writer.Put(8, 4);
    writer.Put(0xFFFF, 16);  // f_codes: none
    writer.Put(2, 2);        // intra_dc_precision: 10 bits
    writer.Put(3, 2);        // frame picture
    writer.Put(1, 1);        // top_field_first
    writer.Put(0, 1);        // frame_pred_frame_dct: dct_type per macroblock
    writer.Put(0, 1);        // concealment_motion_vectors
    writer.Put(1, 1);        // q_scale_type: non-linear
    writer.Put(1, 1);        // intra_vlc_format
    writer.Put(1, 1);        // alternate_scan
    writer.Put(0, 1);        // repeat_first_field
    writer.Put(0, 1);        // chroma_420_type
    writer.Put(0, 1);        // progressive_frame
    writer.Put(0, 1);        // composite_display_flag
    writer.AlignWithZeros();
}

// The time code and flags of the GOP header (4 bytes) of frame `frameNumber`.
void WriteTimeCode(uint32_t frameNumber, uint8_t* out) {
    const uint32_t pictures = frameNumber % kFrameRate;
    const uint32_t seconds = frameNumber / kFrameRate % 60;
    const uint32_t minutes = frameNumber / (kFrameRate * 60) % 60;
    const uint32_t hours = frameNumber / (kFrameRate * 3600) % 24;
    BitWriter writer(out, 4);
    writer.Put(0, 1);  // drop_frame_flag
    writer.Put(hours, 5);
    writer.Put(minutes, 6);
    writer.Put(1, 1);  // marker
    writer.Put(seconds, 6);
    writer.Put(pictures, 6);
    writer.Put(1, 1);  // closed_gop
    writer.Put(0, 1);  // broken_link
    writer.AlignWithZeros();
}

}  // namespace

size_t D10FrameBytes(ImxRate rate) {
    switch (rate) {
        case ImxRate::Imx30:
            return 150000;
        case ImxRate::Imx40:
            return 200000;
        case ImxRate::Imx50:
            break;
    }
    return 250000;
}

struct D10Encoder::Work {
    explicit Work(size_t bytes);

    // Transforms the picture's rows and notes the bits of each that no quantiser changes.
    void Analyse(const Picture422& picture);
    // Picks each row's quantiser_scale_code so the rows fit in `budget` bytes; false when they do
    // not fit even at the coarsest code.
    bool ChooseCodes(size_t budget);
    void MeasureRows(int code);
    void WriteRows(BitWriter& writer);
    // Every row at one code; false when they did not fit.
    bool WriteRowsAt(int code, BitWriter& writer);
    // Writes the rows at their codes where they fit, else with their DC alone.
    void WriteRowsGuarded(BitWriter& writer, uint64_t capacityBits);

    size_t frameBytes;
    mpeg2::IntraRowCoder coder;
    Macroblock macroblocks[kPictureRows][kColumns];
    uint8_t header[kHeaderBytes];
    uint8_t blankSlices[kBlankRows * kColumns * 64];
    size_t blankSliceBytes = 0;
    uint8_t blackLuma[kEncodeWidth];
    uint8_t blackChroma[kEncodeWidth / 2];

    // Per picture: the fixed bits of each row; per code, the bytes of each row and of all.
    uint32_t fixedRowBits[kPictureRows];
    uint32_t rowBytes[kNoCode][kPictureRows];
    uint64_t totalBytes[kNoCode];
    bool measured[kNoCode];
    uint8_t rowCode[kPictureRows];

    int lastCode = kFirstGuess;
    uint32_t frameNumber = 0;
};

D10Encoder::Work::Work(size_t bytes) : frameBytes(bytes) {
    std::memset(blackLuma, 16, sizeof blackLuma);
    std::memset(blackChroma, 128, sizeof blackChroma);
    BuildHeader(frameBytes, header);

    // The blank rows are the same in every frame: written once, copied into each.
    Macroblock(&blank)[kColumns] = macroblocks[0];
    coder.Analyse({blackLuma, blackChroma, blackChroma, 0, 0}, blank, kColumns);
    BitWriter writer(blankSlices, sizeof blankSlices);
    for (int row = 0; row < kBlankRows; ++row) {
        coder.WriteSliceHeader(writer, row, 1);
        DcPredictors predictors;
        for (const Macroblock& macroblock : blank) {
            coder.WriteMacroblock(writer, macroblock, 0, predictors);
        }
        writer.AlignWithZeros();
    }
    blankSliceBytes = writer.ByteCount();
}

void D10Encoder::Work::Analyse(const Picture422& picture) {
    coder.TakeVariants();
    const bool usable = picture.y != nullptr && picture.cb != nullptr && picture.cr != nullptr &&
                        picture.yStride >= kEncodeWidth && picture.cStride >= kEncodeWidth / 2;
    for (int row = 0; row < kPictureRows; ++row) {
        const ptrdiff_t line = row * 16;
        const mpeg2::RowSource source =
            usable ? mpeg2::RowSource{picture.y + line * picture.yStride,
                                      picture.cb + line * picture.cStride,
                                      picture.cr + line * picture.cStride, picture.yStride,
                                      picture.cStride}
                   : mpeg2::RowSource{blackLuma, blackChroma, blackChroma, 0, 0};
        fixedRowBits[row] = coder.Analyse(source, macroblocks[row], kColumns);
    }
}

void D10Encoder::Work::MeasureRows(int code) {
    uint64_t total = 0;
    for (int row = 0; row < kPictureRows; ++row) {
        uint32_t bits = fixedRowBits[row];
        for (const Macroblock& macroblock : macroblocks[row]) {
            bits += coder.AcBits(macroblock, code);
        }
        rowBytes[code][row] = (bits + 7) / 8;  // each slice ends on a byte boundary
        total += rowBytes[code][row];
    }
    totalBytes[code] = total;
    measured[code] = true;
}

bool D10Encoder::Work::ChooseCodes(size_t budget) {
    std::fill(std::begin(measured), std::end(measured), false);
    int fits = kNoCode;  // the finest code known to fit
    int fails = 0;       // the coarsest code known not to fit (0: none)
    const auto probe = [&](int code) {
        if (!measured[code]) {
            MeasureRows(code);
        }
        if (totalBytes[code] <= budget) {
            fits = std::min(fits, code);
        } else {
            fails = std::max(fails, code);
        }
    };
    // Pictures follow each other closely: the last code, then its neighbour, usually settle it.
    const int guess = std::clamp(lastCode, 1, kCoarsestCode);
    probe(guess);
    if (fits == guess && guess > 1) {
        probe(guess - 1);
    } else if (fails == guess && guess < kCoarsestCode) {
        probe(guess + 1);
    }
    while (fits - fails > 1) {
        probe((fits + fails) / 2);
    }
    if (fits == kNoCode) {
        std::fill(std::begin(rowCode), std::end(rowCode), static_cast<uint8_t>(kCoarsestCode));
        lastCode = kCoarsestCode;
        return false;
    }
    std::fill(std::begin(rowCode), std::end(rowCode), static_cast<uint8_t>(fits));
    lastCode = fits;
    if (fails >= 1) {
        // Rows take the finer code while the frame still fits.
        uint64_t total = totalBytes[fits];
        for (int i = 0; i < kPictureRows; ++i) {
            const int row = i * kRowStride % kPictureRows;
            const uint64_t finer = total - rowBytes[fits][row] + rowBytes[fails][row];
            if (finer <= budget) {
                rowCode[row] = static_cast<uint8_t>(fails);
                total = finer;
            }
        }
    }
    return true;
}

void D10Encoder::Work::WriteRows(BitWriter& writer) {
    for (int row = 0; row < kPictureRows; ++row) {
        coder.WriteSliceHeader(writer, kBlankRows + row, rowCode[row]);
        DcPredictors predictors;
        for (const Macroblock& macroblock : macroblocks[row]) {
            coder.WriteMacroblock(writer, macroblock, rowCode[row], predictors);
        }
        writer.AlignWithZeros();
    }
}

bool D10Encoder::Work::WriteRowsAt(int code, BitWriter& writer) {
    std::fill(std::begin(rowCode), std::end(rowCode), static_cast<uint8_t>(code));
    WriteRows(writer);
    return !writer.overflowed();
}

void D10Encoder::Work::WriteRowsGuarded(BitWriter& writer, uint64_t capacityBits) {
    // What the rest of the picture takes at least: each macroblock with its DC alone, each slice
    // header and the bits that may end a slice. A frame of the minimum size holds all of it.
    uint64_t reserve = 0;
    for (int row = 0; row < kPictureRows; ++row) {
        reserve += mpeg2::kSliceHeaderBits + 7;
        for (const Macroblock& macroblock : macroblocks[row]) {
            reserve += macroblock.dcOnlyBits;
        }
    }
    for (int row = 0; row < kPictureRows; ++row) {
        coder.WriteSliceHeader(writer, kBlankRows + row, rowCode[row]);
        reserve -= mpeg2::kSliceHeaderBits;
        DcPredictors predictors;
        for (const Macroblock& macroblock : macroblocks[row]) {
            reserve -= macroblock.dcOnlyBits;
            const BitWriter::Position mark = writer.Save();
            const DcPredictors before = predictors;
            coder.WriteMacroblock(writer, macroblock, rowCode[row], predictors);
            if (writer.overflowed() || writer.BitCount() + reserve > capacityBits) {
                writer.Restore(mark);
                predictors = before;
                coder.WriteMacroblock(writer, macroblock, 0, predictors);
            }
        }
        writer.AlignWithZeros();
        reserve -= 7;
    }
}

D10Encoder::D10Encoder(ImxRate rate) : D10Encoder(D10FrameBytes(rate)) {}

D10Encoder::D10Encoder(size_t frameBytes)
    : frameBytes_(std::clamp(frameBytes, kMinimumD10FrameBytes, kMaximumD10FrameBytes)),
      work_(std::make_unique<Work>(frameBytes_)) {}

D10Encoder::~D10Encoder() = default;

void D10Encoder::Encode(const Picture422& picture, uint8_t* out) {
    Work& work = *work_;
    work.Analyse(picture);

    std::memcpy(out, work.header, kHeaderBytes);
    WriteTimeCode(work.frameNumber, out + kTimeCodeOffset);
    std::memcpy(out + kHeaderBytes, work.blankSlices, work.blankSliceBytes);
    const size_t start = kHeaderBytes + work.blankSliceBytes;
    const size_t budget = frameBytes_ - start;
    BitWriter writer(out + start, budget);
    // After a picture that fitted at the finest code the next one most likely does too: writing
    // it is then all there is to do.
    bool written = work.lastCode == 1 && work.WriteRowsAt(1, writer);
    if (!written && work.ChooseCodes(budget)) {
        writer = BitWriter(out + start, budget);
        work.WriteRows(writer);
        written = !writer.overflowed();
    }
    if (!written) {
        writer = BitWriter(out + start, budget);
        work.WriteRowsGuarded(writer, uint64_t{budget} * 8);
    }
    std::memset(out + start + writer.ByteCount(), 0, budget - writer.ByteCount());
    ++work.frameNumber;
}

}  // namespace fluxmere::transcode
