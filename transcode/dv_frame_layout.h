#pragma once
// Where everything is in a 625/50 DV frame of 25 Mbit/s: twelve DIF sequences of 150 DIF blocks
// (header, two subcode, three VAUX, then nine audio blocks each followed by fifteen video
// blocks), and which macroblocks of the picture each video segment of five blocks carries.

#include <cstddef>
#include <cstdint>

namespace fluxmere::transcode::dv {

constexpr int kSequenceCount = 12;
constexpr int kDifBlocksPerSequence = 150;
constexpr int kSegmentsPerSequence = 27;
constexpr size_t kFrameBytes = size_t{kSequenceCount} * kDifBlocksPerSequence * 80;

// Chroma as a frame stores it: 4:2:0 for IEC 61834 DV, 4:1:1 for DVCPRO.
enum class ChromaSampling { k420, k411 };

// A macroblock's luma at (x, y): 16 x 16 at 4:2:0; 32 x 8 at 4:1:1, but for the last column
// (x = 704), whose macroblocks are 16 x 16.
struct MacroblockPlace {
    int x = 0;
    int y = 0;
    bool square = false;  // 16 x 16 at 4:1:1
};

// Macroblock m (0..4) of video segment `segment` (0..26) of DIF sequence `sequence`: segments
// gather one macroblock from each of five superblocks spread over the picture, the same place
// in each.
MacroblockPlace PlaceOf(ChromaSampling sampling, int sequence, int segment, int m);

// Byte offset of the first of the five video DIF blocks of a segment.
size_t SegmentOffset(int sequence, int segment);

// Writes the parts of a frame that do not depend on the picture: every DIF block's ID, the
// header, subcode and VAUX blocks, and audio blocks that carry silence; the video blocks get
// their IDs only.
void WriteFrameTemplate(ChromaSampling sampling, uint8_t* frame);

// Puts the time code of frame `frameNumber` (25 frames a second, from 00:00:00:00, past 24 hours
// round again) into every subcode sync block of a frame.
void WriteTimeCode(uint32_t frameNumber, uint8_t* frame);

}  // namespace fluxmere::transcode::dv
