#pragma once
// The pictures of a clip on their way to a picture encoder: one "mjpa" payload is decoded into
// 4:2:2 planes, scaled to 720 x 576 with the cubic resize when the clip's pictures have another
// size, and brought from the full range of JPEG to video levels (luma 16..235, chroma 16..240).
//
// Scaling works on packed 4:4:4 pixels: the chroma of each line is first interpolated to every
// luma sample (linear, between the two chroma samples a luma sample lies between), the three
// planes are packed as the resize's 3-byte pixels, scaled, unpacked, and the chroma brought back
// to 4:2:2 with a [1 3 3 1] filter centred between each pair of pixels, so that no sample is
// simply dropped. Pictures of 720 x 576 go
// straight from the decoder to the level conversion. All memory is taken by Configure.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/jpeg_decoder.h"
#include "transcode/picture_encoder.h"

namespace fluxmere::transcode {

class PicturePipeline {
public:
    PicturePipeline() = default;
    PicturePipeline(const PicturePipeline&) = delete;
    PicturePipeline& operator=(const PicturePipeline&) = delete;

    // Prepares for pictures of width x height (1..4096 each). False when the size is refused or
    // memory is short.
    bool Configure(int width, int height);

    // Decodes one payload and returns the picture, valid until the next call. A payload that
    // ends early leaves the rest of the picture as the previous one had it (black at first).
    const Picture422& Convert(const uint8_t* payload, uint32_t size);

    // The decoded planes before scaling and level conversion (full range; luma W16 wide, chroma
    // W16 / 2), for tests.
    const uint8_t* decodedLuma() const { return luma_.get(); }
    const uint8_t* decodedCb() const { return cb_.get(); }
    int decodedStride() const { return stride_; }

private:
    void ScaleToFrame();
    void CopyToFrame();

    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;  // W16
    bool scaled_ = false;
    CJPEGDecoder decoder_;
    alignas(8) int16_t coefficients_[256] = {};
    std::unique_ptr<uint8_t[]> luma_, cb_, cr_;  // decoded planes
    std::unique_ptr<uint8_t[]> packed_;          // source as 3-byte pixels
    std::unique_ptr<uint8_t[]> scaledPacked_;    // 720 x 576 3-byte pixels
    std::unique_ptr<uint8_t[]> resizeWork_;
    size_t resizeWorkBytes_ = 0;
    std::unique_ptr<uint8_t[]> frameY_, frameCb_, frameCr_;  // 720 x 576 at video levels
    uint8_t lumaLevels_[256] = {};
    uint8_t chromaLevels_[256] = {};
    Picture422 picture_;
};

}  // namespace fluxmere::transcode
