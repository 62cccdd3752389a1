#pragma once
// 720 x 576 pictures for the DV encoder's tests: the device's recorded pictures as the engine
// gets them (decoded by our decoder, scaled up, kept at the video levels the device records),
// and synthetic hard cases.

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "decode/jpeg_decoder.h"
#include "transcode/picture_encoder.h"

namespace fluxmere::testing {

struct Planes422 {
    std::vector<uint8_t> y, cb, cr;  // 720 x 576, chroma 360 x 576

    Planes422()
        : y(size_t{transcode::kEncodeWidth} * transcode::kEncodeHeight),
          cb(y.size() / 2),
          cr(y.size() / 2) {}

    transcode::Picture422 Picture() const {
        return {y.data(), cb.data(), cr.data(), transcode::kEncodeWidth,
                transcode::kEncodeWidth / 2};
    }
};

// Bilinear scale of one plane to width x height (sample centres aligned).
inline void ScalePlane(const uint8_t* from, int fromWidth, int fromHeight, uint8_t* to, int width,
                       int height) {
    for (int y = 0; y < height; ++y) {
        const double sy = std::clamp((y + 0.5) * fromHeight / height - 0.5, 0.0, fromHeight - 1.0);
        const int y0 = static_cast<int>(sy), y1 = std::min(y0 + 1, fromHeight - 1);
        for (int x = 0; x < width; ++x) {
            const double sx = std::clamp((x + 0.5) * fromWidth / width - 0.5, 0.0, fromWidth - 1.0);
            const int x0 = static_cast<int>(sx), x1 = std::min(x0 + 1, fromWidth - 1);
            const double fx = sx - x0, fy = sy - y0;
            const double top =
                from[y0 * fromWidth + x0] * (1 - fx) + from[y0 * fromWidth + x1] * fx;
            const double bottom =
                from[y1 * fromWidth + x0] * (1 - fx) + from[y1 * fromWidth + x1] * fx;
            to[y * width + x] = static_cast<uint8_t>(top * (1 - fy) + bottom * fy + 0.5);
        }
    }
}

// A "mjpa" payload of width x height, decoded and scaled to 720 x 576.
inline Planes422 ScaledPicture(const std::vector<uint8_t>& payload, int width, int height) {
    struct alignas(8) WorkArea {
        int16_t values[256];
    } work;
    std::vector<uint8_t> y(size_t(width) * height), cb(y.size() / 2), cr(y.size() / 2);
    uint8_t* planes[3] = {y.data(), cb.data(), cr.data()};
    PlaneCapacities capacities{static_cast<int32_t>(y.size()), static_cast<int32_t>(cb.size()),
                               static_cast<int32_t>(cr.size())};
    CJPEGDecoder decoder;
    decoder.Configure(width, height, width, work.values, capacities);
    std::vector<uint8_t> data(payload);
    CCompressedSample sample;
    sample.data = data.data();
    sample.size = static_cast<int32_t>(data.size());
    decoder.Decode(planes, &sample);
    Planes422 p;
    const int w = transcode::kEncodeWidth, h = transcode::kEncodeHeight;
    ScalePlane(y.data(), width, height, p.y.data(), w, h);
    ScalePlane(cb.data(), width / 2, height, p.cb.data(), w / 2, h);
    ScalePlane(cr.data(), width / 2, height, p.cr.data(), w / 2, h);
    return p;
}

// Every sample random over the whole 0..255 range, chroma too: nothing fits without dropping.
inline Planes422 NoisePicture(uint32_t seed) {
    Planes422 p;
    std::mt19937 random(seed);
    for (auto* plane : {&p.y, &p.cb, &p.cr}) {
        for (uint8_t& v : *plane) {
            v = static_cast<uint8_t>(random());
        }
    }
    return p;
}

// Sharp edges at full range: 0/255 stripes 8 samples wide on the left half, a one-sample
// checkerboard on the right, saturated chroma bars: the largest amplitudes a block can have.
inline Planes422 EdgePicture() {
    Planes422 p;
    const int w = transcode::kEncodeWidth, h = transcode::kEncodeHeight;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool on = x < w / 2 ? (x / 8) % 2 != 0 : (x + y) % 2 != 0;
            p.y[y * w + x] = on ? 255 : 0;
        }
        for (int x = 0; x < w / 2; ++x) {
            p.cb[y * (w / 2) + x] = (x / 4) % 2 != 0 ? 255 : 0;
            p.cr[y * (w / 2) + x] = (y / 8) % 2 != 0 ? 255 : 0;
        }
    }
    return p;
}

}  // namespace fluxmere::testing
