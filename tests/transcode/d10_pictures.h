#pragma once
// 720 x 576 pictures in 4:2:2 at video levels for the D-10 encoder's tests: the device's test
// pattern drawn at that size, flat pictures, and noise, the hardest pictures to fit in a frame.

#include <cstdint>
#include <random>
#include <vector>

#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"
#include "transcode/picture_encoder.h"

namespace fluxmere::testing {

using transcode::kEncodeHeight;
using transcode::kEncodeWidth;

struct TestPicture {
    std::vector<uint8_t> y = std::vector<uint8_t>(size_t{kEncodeWidth} * kEncodeHeight);
    std::vector<uint8_t> cb = std::vector<uint8_t>(size_t{kEncodeWidth} / 2 * kEncodeHeight);
    std::vector<uint8_t> cr = std::vector<uint8_t>(size_t{kEncodeWidth} / 2 * kEncodeHeight);

    transcode::Picture422 View() const {
        return {y.data(), cb.data(), cr.data(), kEncodeWidth, kEncodeWidth / 2};
    }
};

inline TestPicture FlatPicture(uint8_t luma, uint8_t chroma) {
    TestPicture picture;
    picture.y.assign(picture.y.size(), luma);
    picture.cb.assign(picture.cb.size(), chroma);
    picture.cr.assign(picture.cr.size(), chroma);
    return picture;
}

// Every sample drawn from [low, high], or only low and high when `binary`.
inline TestPicture NoisePicture(uint32_t seed, uint8_t low, uint8_t high, bool binary) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(low, high);
    TestPicture picture;
    for (std::vector<uint8_t>* plane : {&picture.y, &picture.cb, &picture.cr}) {
        for (uint8_t& value : *plane) {
            value = static_cast<uint8_t>(binary ? (random() & 1 ? high : low) : sample(random));
        }
    }
    return picture;
}

// Frame `index` of the device's moving test pattern, drawn at 720 x 576 and converted as the
// device converts it.
inline TestPicture PatternPicture(uint32_t index) {
    std::vector<uint8_t> rgb(size_t{kEncodeWidth} * kEncodeHeight * 3);
    device::RenderTestPattern(kEncodeWidth, kEncodeHeight, index, rgb.data());
    device::StudioRangeConverter converter;
    const YCbCr422Picture converted =
        converter.Convert({rgb.data(), kEncodeWidth, kEncodeHeight, kEncodeWidth * 3});
    TestPicture picture;
    for (int row = 0; row < kEncodeHeight; ++row) {
        const size_t at = size_t{kEncodeWidth} * row;
        std::copy_n(converted.y + row * converted.lumaStride, kEncodeWidth, &picture.y[at]);
        std::copy_n(converted.cb + row * converted.chromaStride, kEncodeWidth / 2,
                    &picture.cb[at / 2]);
        std::copy_n(converted.cr + row * converted.chromaStride, kEncodeWidth / 2,
                    &picture.cr[at / 2]);
    }
    return picture;
}

}  // namespace fluxmere::testing
