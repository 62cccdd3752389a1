#pragma once
// D-10 (IMX) pictures: MPEG-2 4:2:2 profile at main level, intra only, 25 frames/s, every frame
// exactly 150 000, 200 000 or 250 000 bytes (IMX30, IMX40, IMX50: 30, 40 or 50 Mbit/s).
//
// Each frame is a stream of its own that any MPEG-2 decoder reads:
//   sequence header           720 x 608, aspect ratio 4:3 (code 2), 25 frames/s (code 3), the
//                             rate's bit_rate, vbv_buffer_size one frame, default quantiser
//                             matrices (none loaded)
//   sequence extension        4:2:2 profile at main level (0x85), progressive_sequence 0, chroma
//                             format 4:2:2, low_delay 1
//   sequence display ext.     video_format PAL; colour primaries 5, transfer characteristics 1,
//                             matrix coefficients 5 (BT.601 for 625 lines); display 720 x 608
//   GOP header                closed, time code = frames made by this encoder, from 00:00:00:00
//   picture header            I picture, temporal_reference 0, vbv_delay 0xFFFF
//   picture coding extension  frame picture, top_field_first 1, progressive_frame 0, frame or
//                             field DCT chosen per macroblock, intra_dc_precision 10 bits,
//                             q_scale_type 1 (non-linear), intra_vlc_format 1, alternate_scan 1
//   38 slices                 one per macroblock row, each with its own quantiser_scale_code
//   zero bytes                stuffing up to the frame's size (before the next start code)
//
// The 608 coded lines are the 32 lines that D-10 keeps for the vertical interval, black (Y 16,
// Cb and Cr 128), then the 576 lines of the picture: coded line 32 is the picture's first line,
// in the top field, which comes first in time. A container signals the picture as stored
// 720 x 608, displayed 720 x 576 from line 32, 4:3, interlaced, top field first.
//
// Rate control per picture: every block is transformed once; the encoder then counts exactly
// how many bytes the picture takes at a quantiser scale (starting from the last picture's),
// searches for the finest scale at which it fits, lets rows take the next finer scale while the
// frame still fits, writes it and pads it with zeros. A picture that does not fit even at the
// coarsest scale keeps only the DC of the macroblocks that no longer fit, so every frame has its
// size whatever the picture.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "transcode/picture_encoder.h"

namespace fluxmere::transcode {

enum class ImxRate { Imx30, Imx40, Imx50 };

// Bytes of every frame at a rate.
size_t D10FrameBytes(ImxRate rate);

// The smallest frame that holds any picture: the headers and the DC of every block.
constexpr size_t kMinimumD10FrameBytes = 40000;
constexpr size_t kMaximumD10FrameBytes = 250000;  // 50 Mbit/s, the most main level allows

class D10Encoder final : public IPictureEncoder {
public:
    explicit D10Encoder(ImxRate rate);
    // Frames of any size between the minimum and the maximum (clamped to them), signalled as
    // frameBytes * 8 * 25 bit/s.
    explicit D10Encoder(size_t frameBytes);
    ~D10Encoder() override;

    size_t FrameBytes() const override { return frameBytes_; }

    // A picture without planes, or with strides below the planes' widths, is encoded as black.
    void Encode(const Picture422& picture, uint8_t* out) override;

private:
    struct Work;

    size_t frameBytes_;
    std::unique_ptr<Work> work_;
};

}  // namespace fluxmere::transcode
