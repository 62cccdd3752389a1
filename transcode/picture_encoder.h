#pragma once
// A picture encoder of the transcoding pipeline: one 720 x 576 picture in, one frame of a fixed
// number of bytes out (a DV DIF frame, or a D-10 MPEG-2 picture padded to its rate's size).
//
// The picture arrives as 4:2:2 planes at video levels (luma 16..235, chroma 16..240 around 128),
// already scaled to 720 x 576 by the caller. Each encoder derives the sampling it stores (4:1:1 or
// 4:2:0 for DV, 4:2:2 for D-10) itself, with a filter, never by dropping samples. Encoding
// allocates nothing: an encoder makes its working memory when it is constructed.
//
//   DvEncoder encoder(DvFlavour::Dvcpro25);          // see the encoder's own header
//   std::vector<uint8_t> frame(encoder.FrameBytes());
//   encoder.Encode(picture, frame.data());           // every byte of frame is written

#include <cstddef>
#include <cstdint>

namespace fluxmere::transcode {

constexpr int kEncodeWidth = 720;
constexpr int kEncodeHeight = 576;

// Borrowed planes: luma kEncodeWidth x kEncodeHeight, each chroma plane kEncodeWidth / 2 wide and
// kEncodeHeight high. Strides are in bytes and at least the plane's width.
struct Picture422 {
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    ptrdiff_t yStride = 0;
    ptrdiff_t cStride = 0;
};

class IPictureEncoder {
public:
    virtual ~IPictureEncoder() = default;

    // Bytes of every encoded frame: the same for every picture of one encoder.
    virtual size_t FrameBytes() const = 0;

    // Encodes one picture into out, which holds FrameBytes() bytes; every byte of out is written.
    virtual void Encode(const Picture422& picture, uint8_t* out) = 0;
};

}  // namespace fluxmere::transcode
