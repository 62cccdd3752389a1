#pragma once
// 4:2:2 chroma (360 x 576) into the sampling a DV frame stores, through a half-band low-pass
// filter (-1 0 9 16 9 0 -1) / 32 centred on each sample kept, edges repeated.
//
// 4:1:1 keeps every second chroma sample of each line, co-sited with luma samples 0, 4, 8, ...
// 4:2:0 of 625/50 DV alternates the two components line by line within each field, co-sited
// with the luma lines: frame lines 4j and 4j + 1 (one from each field) carry Cr, lines 4j + 2
// and 4j + 3 carry Cb. The stored plane of 288 lines keeps them in frame order, so line 2j + f
// of the Cr plane is frame line 4j + f and line 2j + f of the Cb plane frame line 4j + 2 + f.
// Each component is filtered along the lines of its own field.

#include <cstddef>
#include <cstdint>

namespace fluxmere::transcode::dv {

constexpr int kChroma422Width = 360;
constexpr int kChromaLines = 576;
constexpr int kChroma411Width = 180;
constexpr int kChroma420Lines = 288;

// 360 x 576 samples at `source` (lines `stride` bytes apart) into 180 x 576 at `target`.
void ChromaTo411(const uint8_t* source, ptrdiff_t stride, uint8_t* target);

// 360 x 576 samples into 360 x 288: `isCr` picks the lines of Cr (4j + f) or of Cb (4j + 2 + f).
void ChromaTo420(const uint8_t* source, ptrdiff_t stride, bool isCr, uint8_t* target);

}  // namespace fluxmere::transcode::dv
