#include "transcode/picture_pipeline.h"

#include <cmath>
#include <cstring>
#include <new>

#include "decode/compressed_sample.h"
#include "decode/resize/resize.h"
#include "decode/rounded_width.h"

namespace fluxmere::transcode {
namespace {

constexpr int kChromaWidth = kEncodeWidth / 2;

std::unique_ptr<uint8_t[]> Bytes(size_t count, uint8_t fill) {
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[count]);
    if (bytes != nullptr) {
        std::memset(bytes.get(), fill, count);
    }
    return bytes;
}

}  // namespace

bool PicturePipeline::Configure(int width, int height) {
    if (width < 1 || height < 1 || width > 4096 || height > 4096) {
        return false;
    }
    width_ = width;
    height_ = height;
    stride_ = static_cast<int>(RoundedWidth(width));
    scaled_ = width != kEncodeWidth || height != kEncodeHeight;
    const size_t lumaBytes = size_t(stride_) * height;
    // Full-range black until the first picture is decoded.
    luma_ = Bytes(lumaBytes, 0);
    cb_ = Bytes(lumaBytes / 2, 128);
    cr_ = Bytes(lumaBytes / 2, 128);
    const size_t frameLuma = size_t{kEncodeWidth} * kEncodeHeight;
    frameY_ = Bytes(frameLuma, 16);
    frameCb_ = Bytes(frameLuma / 2, 128);
    frameCr_ = Bytes(frameLuma / 2, 128);
    if (!luma_ || !cb_ || !cr_ || !frameY_ || !frameCb_ || !frameCr_) {
        return false;
    }
    if (scaled_) {
        packed_ = Bytes(size_t(width) * height * 3, 0);
        scaledPacked_ = Bytes(frameLuma * 3, 0);
        if (ResizeWorkSize(width, kEncodeWidth, kEncodeHeight, &resizeWorkBytes_) != StatusOk) {
            return false;
        }
        resizeWork_ = Bytes(resizeWorkBytes_, 0);
        if (!packed_ || !scaledPacked_ || !resizeWork_) {
            return false;
        }
    }
    const PlaneCapacities capacities{static_cast<int32_t>(lumaBytes),
                                     static_cast<int32_t>(lumaBytes / 2),
                                     static_cast<int32_t>(lumaBytes / 2)};
    if (decoder_.Configure(width, height, stride_, coefficients_, capacities) != StatusOk) {
        return false;
    }
    for (int v = 0; v < 256; ++v) {
        lumaLevels_[v] = static_cast<uint8_t>(16 + std::lround(v * 219.0 / 255.0));
        chromaLevels_[v] = static_cast<uint8_t>(128 + std::lround((v - 128) * 224.0 / 255.0));
    }
    picture_.y = frameY_.get();
    picture_.cb = frameCb_.get();
    picture_.cr = frameCr_.get();
    picture_.yStride = kEncodeWidth;
    picture_.cStride = kChromaWidth;
    return true;
}

const Picture422& PicturePipeline::Convert(const uint8_t* payload, uint32_t size) {
    if (width_ == 0) {
        return picture_;
    }
    CCompressedSample sample;
    sample.data = const_cast<uint8_t*>(payload);  // the decoder only reads it
    sample.size = size > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int32_t>(size);
    uint8_t* planes[3] = {luma_.get(), cb_.get(), cr_.get()};
    decoder_.Decode(planes, &sample);
    if (scaled_) {
        ScaleToFrame();
    } else {
        CopyToFrame();
    }
    return picture_;
}

void PicturePipeline::CopyToFrame() {
    for (int y = 0; y < kEncodeHeight; ++y) {
        const uint8_t* luma = luma_.get() + size_t(y) * stride_;
        const uint8_t* cb = cb_.get() + size_t(y) * (stride_ / 2);
        const uint8_t* cr = cr_.get() + size_t(y) * (stride_ / 2);
        uint8_t* outY = frameY_.get() + size_t(y) * kEncodeWidth;
        uint8_t* outCb = frameCb_.get() + size_t(y) * kChromaWidth;
        uint8_t* outCr = frameCr_.get() + size_t(y) * kChromaWidth;
        for (int x = 0; x < kEncodeWidth; ++x) {
            outY[x] = lumaLevels_[luma[x]];
        }
        for (int x = 0; x < kChromaWidth; ++x) {
            outCb[x] = chromaLevels_[cb[x]];
            outCr[x] = chromaLevels_[cr[x]];
        }
    }
}

void PicturePipeline::ScaleToFrame() {
    // 4:2:2 to packed 4:4:4. A chroma sample sits between its two luma samples, so luma sample
    // 2i lies a quarter of the way from chroma i towards chroma i - 1, and 2i + 1 towards i + 1.
    const int chromaWidth = (width_ + 1) / 2;
    for (int y = 0; y < height_; ++y) {
        const uint8_t* luma = luma_.get() + size_t(y) * stride_;
        const uint8_t* chroma[2] = {cb_.get() + size_t(y) * (stride_ / 2),
                                    cr_.get() + size_t(y) * (stride_ / 2)};
        uint8_t* out = packed_.get() + size_t(y) * width_ * 3;
        for (int x = 0; x < width_; ++x) {
            const int i = x / 2;
            const int neighbour =
                x % 2 == 0 ? (i > 0 ? i - 1 : 0) : (i + 1 < chromaWidth ? i + 1 : chromaWidth - 1);
            out[3 * x] = luma[x];
            for (int c = 0; c < 2; ++c) {
                out[3 * x + 1 + c] =
                    static_cast<uint8_t>((3 * chroma[c][i] + chroma[c][neighbour] + 2) >> 2);
            }
        }
    }
    ResizeRGBWithWork(packed_.get(), width_, height_, width_ * 3, 0, 0, width_, height_,
                      scaledPacked_.get(), kEncodeWidth * 3, kEncodeWidth, kEncodeHeight,
                      double(kEncodeWidth) / width_, double(kEncodeHeight) / height_, CubicMode,
                      resizeWork_.get(), resizeWorkBytes_);
    // Back to 4:2:2: chroma sample i stands between pixels 2i and 2i + 1; the [1 3 3 1] filter
    // over pixels 2i - 1 .. 2i + 2 is centred there and uses every sample.
    for (int y = 0; y < kEncodeHeight; ++y) {
        const uint8_t* in = scaledPacked_.get() + size_t(y) * kEncodeWidth * 3;
        uint8_t* outY = frameY_.get() + size_t(y) * kEncodeWidth;
        uint8_t* outC[2] = {frameCb_.get() + size_t(y) * kChromaWidth,
                            frameCr_.get() + size_t(y) * kChromaWidth};
        for (int x = 0; x < kEncodeWidth; ++x) {
            outY[x] = lumaLevels_[in[3 * x]];
        }
        for (int i = 0; i < kChromaWidth; ++i) {
            const int left = 2 * i > 0 ? 2 * i - 1 : 0;
            const int right = 2 * i + 2 < kEncodeWidth ? 2 * i + 2 : kEncodeWidth - 1;
            for (int c = 1; c <= 2; ++c) {
                const int sum = in[3 * left + c] + 3 * in[3 * (2 * i) + c] +
                                3 * in[3 * (2 * i + 1) + c] + in[3 * right + c];
                outC[c - 1][i] = chromaLevels_[(sum + 4) >> 3];
            }
        }
    }
}

}  // namespace fluxmere::transcode
