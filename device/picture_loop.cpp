#include "device/picture_loop.h"

#include "device/scan_encoder.h"
#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"

namespace fluxmere::device {
namespace {

class PictureLoop {
public:
    PictureLoop() {
        std::vector<uint8_t> rgb(size_t{kClipPictureWidth} * kClipPictureHeight * 3);
        StudioRangeConverter converter;
        for (uint32_t i = 0; i < kLoopPictures; ++i) {
            RenderTestPattern(kClipPictureWidth, kClipPictureHeight, i, rgb.data());
            const RgbPicture picture{rgb.data(), kClipPictureWidth, kClipPictureHeight,
                                     kClipPictureWidth * 3};
            EncodeScan(converter.Convert(picture), &payloads_[i]);
        }
    }
    const std::vector<uint8_t>& operator[](uint32_t index) const {
        return payloads_[index % kLoopPictures];
    }

private:
    std::vector<uint8_t> payloads_[kLoopPictures];
};

}  // namespace

const std::vector<uint8_t>& LoopPicture(uint32_t index) {
    static const PictureLoop loop;  // made by the first caller, on any thread
    return loop[index];
}

}  // namespace fluxmere::device
