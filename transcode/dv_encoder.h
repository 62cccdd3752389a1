#pragma once
// The DV encoder of the transcoding pipeline: 720 x 576 pictures into 625/50 DV frames of
// 25 Mbit/s, 144 000 bytes each, in either flavour:
//
//   DvFlavour::Dvcpro25  DVCPRO (SMPTE 314M): 4:1:1, application IDs 001.
//   DvFlavour::Dv25      DV (IEC 61834, 625/50): 4:2:0, application IDs 000. Its chroma lines
//                        alternate Cr and Cb within each field (see dv_chroma.h); 4:1:1 would
//                        make decoders take the frame for DVCPRO, as 625/50 DV knows no 4:1:1.
//
// What every frame says about itself, for a container to signal the same:
//   - 625 lines, 50 fields: 25 frames per second, 720 x 576, interlaced, bottom field first
//     (the source control pack's first/second flag set), both fields of one frame;
//   - 4:3 display aspect ratio, full frame (pixel aspect 16:15 at 720 wide);
//   - video, audio and subcode flagged valid in the DIF header; video source: colour, 25 Mbit/s;
//     copy free;
//   - audio blocks present: two channels of 16-bit 48 kHz, locked, 1920 samples a frame, every
//     sample 0 (the sound travels in the container's own tracks);
//   - subcode time code counting the frames this encoder made, from 00:00:00:00; no dates.
//
// Every block is transformed in the 8 x 8 DCT mode: the pictures come from a recorder's frames,
// and the 2-4-8 mode only gains where the two fields of a frame differ by motion.
//
// Chroma goes from 4:2:2 to the stored sampling through a half-band filter. Each video segment
// (five macroblocks) gets the finest quantisation that fits its 2680 bits of codes; see
// dv_segment_coder.h. The block transform follows the processor variant that
// SelectProcessorVariant chose for the process (decode/dispatch.h).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transcode/dv_frame_layout.h"
#include "transcode/dv_segment_coder.h"
#include "transcode/dv_kernels.h"
#include "transcode/picture_encoder.h"

namespace fluxmere::transcode {

enum class DvFlavour { Dv25, Dvcpro25 };

constexpr size_t kDvFrameBytes = dv::kFrameBytes;  // 144 000

class DvEncoder final : public IPictureEncoder {
public:
    explicit DvEncoder(DvFlavour flavour);

    size_t FrameBytes() const override { return kDvFrameBytes; }

    // A picture with a missing plane or a stride below its width is coded as black.
    void Encode(const Picture422& picture, uint8_t* out) override;

    DvFlavour flavour() const { return flavour_; }

private:
    void ResampleChroma(const Picture422& picture);
    void CodeSegment(const Picture422& picture, int sequence, int segment, uint8_t* dif);

    DvFlavour flavour_;
    dv::ChromaSampling sampling_;
    uint32_t frameNumber_ = 0;
    std::vector<uint8_t> template_;            // the frame's fixed parts
    std::vector<uint8_t> cr_, cb_;             // chroma in the stored sampling
    std::vector<dv::MacroblockPlace> places_;  // by sequence, segment, macroblock
    std::vector<uint8_t> blackLuma_, blackChroma_;
    dv::SegmentCoder coder_;
    alignas(16) uint8_t edgeChroma_[2][64];  // 4:1:1 right-edge blocks
    dv::TransformedBlock transformed_[dv::kBlocksPerSegment];
};

}  // namespace fluxmere::transcode
