#include "player/frame_renderer.h"

#include <algorithm>
#include <cstring>

#include "decode/resize/resize.h"
#include "decode/rounded_width.h"

namespace fluxmere {

namespace {

constexpr size_t kDecoderWorkBytes = 32768;
// The buffers made at construction, as the control always had them: they hold a 352 x 288
// stream and a 320 x 240 target.
constexpr size_t kInitialPlaneBytes = 216576;
constexpr size_t kInitialRgbBytes = 324864;

int32_t W16(int32_t width) { return static_cast<int32_t>(RoundedWidth(width)); }

// R, G, B pixels to the B, G, R order of a 24-bit device-independent bitmap.
void SwapRedAndBlue(uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* p = pixels + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x, p += 3) {
            const uint8_t red = p[0];
            p[0] = p[2];
            p[2] = red;
        }
    }
}

}  // namespace

FrameRenderer::FrameRenderer() {
    valid_ = payload_.Reserve(kMinFrameBufferBytes) && decoderWork_.Reserve(kDecoderWorkBytes) &&
             planes_.Reserve(kInitialPlaneBytes) && rgb_.Reserve(kInitialRgbBytes) &&
             ReservePicture(kDefaultTargetWidth, kDefaultTargetHeight);
}

size_t FrameRenderer::PayloadBytesFor(int32_t width, int32_t height) {
    return std::max(kMinFrameBufferBytes,
                    static_cast<size_t>(W16(width)) * static_cast<size_t>(height) * 2);
}

bool FrameRenderer::ReservePicture(int32_t width, int32_t height) {
    size_t workBytes = 0;
    return picture_.Reserve(static_cast<size_t>(PictureStride(width)) *
                            static_cast<size_t>(height)) &&
           ResizeWorkSize(kMaxPictureWidth, width, height, &workBytes) == StatusOk &&
           resizeWork_.Reserve(workBytes);
}

bool FrameRenderer::PrepareSource(int32_t width, int32_t height) {
    const int32_t w16 = W16(width);
    const size_t lumaBytes = static_cast<size_t>(w16) * static_cast<size_t>(height);
    const size_t chromaBytes = lumaBytes / 2;
    if (!payload_.Reserve(PayloadBytesFor(width, height)) ||
        !planes_.Reserve(lumaBytes + 2 * chromaBytes) || !rgb_.Reserve(lumaBytes * 3)) {
        return false;
    }
    PlaneCapacities capacities;
    capacities.luma = static_cast<int32_t>(lumaBytes);
    capacities.firstChroma = static_cast<int32_t>(chromaBytes);
    capacities.secondChroma = static_cast<int32_t>(chromaBytes);
    if (decoder_.Configure(width, height, w16, reinterpret_cast<int16_t*>(decoderWork_.data()),
                           capacities) != StatusOk) {
        return false;
    }
    sourceWidth_.store(width, std::memory_order_release);
    sourceHeight_.store(height, std::memory_order_release);
    return true;
}

bool FrameRenderer::SetTarget(int32_t width, int32_t height) {
    if (!ReservePicture(width, height)) return false;
    targetWidth_.store(width, std::memory_order_release);
    targetHeight_.store(height, std::memory_order_release);
    return true;
}

bool FrameRenderer::TakePayload(const uint8_t* payload, size_t size) {
    if (size > payload_.capacity()) return false;
    std::memcpy(payload_.data(), payload, size);
    payloadSize_ = size;
    return true;
}

bool FrameRenderer::Render(RenderedPicture* picture) {
    // The decoder may look past the payload's end: it reads zeros there.
    std::memset(payload_.data() + payloadSize_, 0, payload_.capacity() - payloadSize_);

    const int32_t sourceWidth = SourceWidth();
    const int32_t sourceHeight = SourceHeight();
    if (sourceWidth <= 0 || sourceHeight <= 0) return false;  // no stream prepared
    const int32_t targetWidth = TargetWidth();
    const int32_t targetHeight = TargetHeight();
    const int32_t w16 = W16(sourceWidth);
    uint8_t* luma = planes_.data();
    uint8_t* cb = luma + static_cast<size_t>(w16) * sourceHeight;
    uint8_t* cr = cb + static_cast<size_t>(w16 / 2) * sourceHeight;

    CCompressedSample sample;
    sample.data = payload_.data();
    sample.size = static_cast<int32_t>(payloadSize_);
    uint8_t* const decoded[3] = {luma, cb, cr};
    decoder_.Decode(decoded, &sample);

    // The planes go to the converter in their own order. Handing it Cr as Cb and Cb as Cr would
    // also put the bytes in B, G, R order, but through the wrong coefficients (blue would get
    // red's 1.596 instead of 2.017, and green would mix the two up): visibly wrong colours. The
    // bytes are put in B, G, R order after scaling instead, on the smaller picture.
    const uint8_t* const ordered[3] = {luma, cb, cr};
    const int32_t strides[3] = {w16, w16 / 2, w16 / 2};
    YCbCr422ToRGB(ordered, strides, rgb_.data(), 3 * w16, w16, sourceHeight);

    const int32_t stride = PictureStride(targetWidth);
    ResizeRGBWithWork(rgb_.data(), w16, sourceHeight, 3 * w16, 0, 0, sourceWidth, sourceHeight,
                      picture_.data(), stride, targetWidth, targetHeight,
                      static_cast<double>(targetWidth) / sourceWidth,
                      static_cast<double>(targetHeight) / sourceHeight, CubicMode,
                      resizeWork_.data(), resizeWork_.capacity());
    SwapRedAndBlue(picture_.data(), targetWidth, targetHeight, stride);
    picture->pixels = picture_.data();
    picture->width = targetWidth;
    picture->height = targetHeight;
    picture->stride = stride;
    return true;
}

}  // namespace fluxmere
