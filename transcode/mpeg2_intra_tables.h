#pragma once
// The code tables of MPEG-2 intra pictures as the D-10 encoder writes them: the DC size codes,
// the AC run/level codes of the intra table (intra_vlc_format 1), the alternate scan, the default
// intra quantiser matrix and the non-linear quantiser scale (q_scale_type 1).

#include <cstdint>

namespace fluxmere::transcode::mpeg2 {

// Raster position (row * 8 + column, row = vertical frequency) of each position of a scan.
struct ScanOrder {
    uint8_t raster[64];
};

// The alternate scan as the standard draws it: the scan position of each raster position.
inline constexpr uint8_t kAlternateScanPositions[64] = {
    0,  4,  6,  20, 22, 36, 38, 52,  //
    1,  5,  7,  21, 23, 37, 39, 53,  //
    2,  8,  19, 24, 34, 40, 50, 54,  //
    3,  9,  18, 25, 35, 41, 51, 55,  //
    10, 17, 26, 30, 42, 46, 56, 60,  //
    11, 16, 27, 31, 43, 47, 57, 61,  //
    12, 15, 28, 32, 44, 48, 58, 62,  //
    13, 14, 29, 33, 45, 49, 59, 63,
};

constexpr ScanOrder InvertScan(const uint8_t (&positions)[64]) {
    ScanOrder scan{};
    for (int raster = 0; raster < 64; ++raster) {
        scan.raster[positions[raster]] = static_cast<uint8_t>(raster);
    }
    return scan;
}

inline constexpr ScanOrder kAlternateScan = InvertScan(kAlternateScanPositions);

// The default intra quantiser matrix, in raster order.
extern const uint8_t kDefaultIntraMatrix[64];

// quantiser_scale of each quantiser_scale_code 1..31 with the non-linear scale (index 0 unused).
extern const uint8_t kNonLinearQuantiserScale[32];

// A code: its value in the low `length` bits, written most significant bit first.
struct Code {
    uint32_t value;
    uint8_t length;
};

// dct_dc_size_luminance and dct_dc_size_chrominance for sizes 0..11.
extern const Code kLumaDcSize[12];
extern const Code kChromaDcSize[12];

constexpr Code kEndOfBlock = {0x6, 4};     // in the intra table
constexpr Code kEscape = {0x1, 6};         // then 6 bits of run and 12 bits of signed level
constexpr int kEscapeLength = 6 + 6 + 12;  // bits of an escaped coefficient
constexpr int kMaxTableLevel = 40;         // no run/level code has a larger level

// The intra table's codes with their sign bit, by run (0..63) and absolute level (0..40): the
// code of a positive level, whose last bit is the sign (set it for a negative level), and its
// length; length 0 where the pair has no code of its own and is escaped.
struct RunLevelCodes {
    uint32_t value[64][kMaxTableLevel + 1];
    uint8_t length[64][kMaxTableLevel + 1];
};
const RunLevelCodes& IntraRunLevelCodes();

}  // namespace fluxmere::transcode::mpeg2
