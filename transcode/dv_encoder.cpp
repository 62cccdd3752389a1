// The DV encoder: chroma resampling, then segment after segment the block transform and the
// segment coder, into a copy of the frame's fixed parts.

#include "transcode/dv_encoder.h"

#include <cstring>

#include "transcode/dv_chroma.h"
#include "transcode/dv_kernels.h"

namespace fluxmere::transcode {

using dv::BlockSamples;
using dv::ChromaSampling;
using dv::MacroblockPlace;

DvEncoder::DvEncoder(DvFlavour flavour)
    : flavour_(flavour),
      sampling_(flavour == DvFlavour::Dvcpro25 ? ChromaSampling::k411 : ChromaSampling::k420),
      template_(dv::kFrameBytes),
      cr_(size_t{dv::kChroma411Width} * dv::kChromaLines),
      cb_(cr_.size()),
      places_(size_t{dv::kSequenceCount} * dv::kSegmentsPerSequence * dv::kMacroblocksPerSegment),
      blackLuma_(kEncodeWidth, 16),
      blackChroma_(kEncodeWidth / 2, 128) {
    static_assert(dv::kChroma411Width * dv::kChromaLines ==
                  dv::kChroma422Width * dv::kChroma420Lines);
    dv::WriteFrameTemplate(sampling_, template_.data());
    size_t at = 0;
    for (int s = 0; s < dv::kSequenceCount; ++s) {
        for (int k = 0; k < dv::kSegmentsPerSequence; ++k) {
            for (int m = 0; m < dv::kMacroblocksPerSegment; ++m) {
                places_[at++] = dv::PlaceOf(sampling_, s, k, m);
            }
        }
    }
    std::memset(edgeChroma_, 0, sizeof edgeChroma_);
}

void DvEncoder::ResampleChroma(const Picture422& picture) {
    if (sampling_ == ChromaSampling::k411) {
        dv::ChromaTo411(picture.cr, picture.cStride, cr_.data());
        dv::ChromaTo411(picture.cb, picture.cStride, cb_.data());
    } else {
        dv::ChromaTo420(picture.cr, picture.cStride, true, cr_.data());
        dv::ChromaTo420(picture.cb, picture.cStride, false, cb_.data());
    }
}

void DvEncoder::CodeSegment(const Picture422& picture, int sequence, int segment, uint8_t* dif) {
    BlockSamples blocks[dv::kBlocksPerSegment];
    const MacroblockPlace* place =
        &places_[(size_t{static_cast<size_t>(sequence)} * dv::kSegmentsPerSequence + segment) *
                 dv::kMacroblocksPerSegment];
    for (int m = 0; m < dv::kMacroblocksPerSegment; ++m, ++place) {
        BlockSamples* b = blocks + m * dv::kBlocksPerMacroblock;
        const uint8_t* y = picture.y + place->y * picture.yStride + place->x;
        const ptrdiff_t ys = picture.yStride;
        if (sampling_ == ChromaSampling::k411 && !place->square) {
            for (int j = 0; j < 4; ++j) {
                b[j] = {y + 8 * j, ys};
            }
            const size_t c = size_t{static_cast<size_t>(place->y)} * dv::kChroma411Width +
                             static_cast<size_t>(place->x / 4);
            b[4] = {cr_.data() + c, dv::kChroma411Width};
            b[5] = {cb_.data() + c, dv::kChroma411Width};
            continue;
        }
        b[0] = {y, ys};
        b[1] = {y + 8, ys};
        b[2] = {y + 8 * ys, ys};
        b[3] = {y + 8 * ys + 8, ys};
        if (sampling_ == ChromaSampling::k420) {
            const size_t c = size_t{static_cast<size_t>(place->y / 2)} * dv::kChroma422Width +
                             static_cast<size_t>(place->x / 2);
            b[4] = {cr_.data() + c, dv::kChroma422Width};
            b[5] = {cb_.data() + c, dv::kChroma422Width};
            continue;
        }
        // 4:1:1 at the right edge: 4 chroma samples by 16 lines, the upper 8 lines as the left
        // half of the block and the lower 8 as its right half.
        const uint8_t* planes[2] = {cr_.data(), cb_.data()};
        for (int p = 0; p < 2; ++p) {
            const uint8_t* from = planes[p] +
                                  size_t{static_cast<size_t>(place->y)} * dv::kChroma411Width +
                                  static_cast<size_t>(place->x / 4);
            for (int line = 0; line < 8; ++line) {
                std::memcpy(edgeChroma_[p] + line * 8, from + line * dv::kChroma411Width, 4);
                std::memcpy(edgeChroma_[p] + line * 8 + 4, from + (line + 8) * dv::kChroma411Width,
                            4);
            }
            b[4 + p] = {edgeChroma_[p], 8};
        }
    }
    dv::ForwardTransform(blocks, dv::kBlocksPerSegment, transformed_);
    coder_.Code(transformed_, dif);
}

void DvEncoder::Encode(const Picture422& input, uint8_t* out) {
    Picture422 picture = input;
    if (picture.y == nullptr || picture.cb == nullptr || picture.cr == nullptr ||
        picture.yStride < kEncodeWidth || picture.cStride < kEncodeWidth / 2) {
        picture = {blackLuma_.data(), blackChroma_.data(), blackChroma_.data(), 0, 0};
    }
    ResampleChroma(picture);
    std::memcpy(out, template_.data(), dv::kFrameBytes);
    dv::WriteTimeCode(frameNumber_++, out);
    coder_.StartFrame();
    for (int s = 0; s < dv::kSequenceCount; ++s) {
        for (int k = 0; k < dv::kSegmentsPerSequence; ++k) {
            CodeSegment(picture, s, k, out + dv::SegmentOffset(s, k));
        }
    }
}

}  // namespace fluxmere::transcode
