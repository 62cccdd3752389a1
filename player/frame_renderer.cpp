#include "player/frame_renderer.h"

#include <algorithm>
#include <cstring>

#include "decode/bitmap_colour.h"
#include "decode/resize/resize.h"
#include "decode/rounded_width.h"

namespace fluxmere {

namespace {

constexpr size_t kDecoderWorkBytes = 32768;
// The buffers made at construction, as the control always had them: they hold a 352 x 288
// stream and a 320 x 240 target.
constexpr size_t kInitialPlaneBytes = 216576;
constexpr size_t kInitialRgbBytes = 324864;

int32_t W16(int32_t width) {
    return static_cast<int32_t>(RoundedWidth(width));
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
    if (!ReservePicture(width, height))
        return false;
    targetWidth_.store(width, std::memory_order_release);
    targetHeight_.store(height, std::memory_order_release);
    return true;
}

bool FrameRenderer::TakePayload(const uint8_t* payload, size_t size) {
    if (size > payload_.capacity())
        return false;
    std::memcpy(payload_.data(), payload, size);
    payloadSize_ = size;
    return true;
}

bool FrameRenderer::Render(RenderedPicture* picture) {
    // No zero fill behind the payload: the decoder reads only the payload's own bytes.
    const int32_t sourceWidth = SourceWidth();
    const int32_t sourceHeight = SourceHeight();
    if (sourceWidth <= 0 || sourceHeight <= 0)
        return false;  // no stream prepared
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

    // The converter writes the bitmap's B, G, R order itself. (Handing the R, G, B converter Cr as
    // Cb and Cb as Cr would not do: blue would get red's 1.596 instead of 2.017, and green would
    // mix the two up.) The resize treats the three bytes of a pixel alike, so the order carries
    // through it.
    const uint8_t* const ordered[3] = {luma, cb, cr};
    const int32_t strides[3] = {w16, w16 / 2, w16 / 2};
    const int32_t stride = PictureStride(targetWidth);
    if (targetWidth == sourceWidth && targetHeight == sourceHeight) {
        // The cubic scale by 1 would be an exact copy of the picture: convert straight into it.
        YCbCr422ToBGR(ordered, strides, picture_.data(), stride, sourceWidth, sourceHeight);
    } else {
        YCbCr422ToBGR(ordered, strides, rgb_.data(), 3 * w16, w16, sourceHeight);
        ResizeRGBWithWork(rgb_.data(), w16, sourceHeight, 3 * w16, 0, 0, sourceWidth, sourceHeight,
                          picture_.data(), stride, targetWidth, targetHeight,
                          static_cast<double>(targetWidth) / sourceWidth,
                          static_cast<double>(targetHeight) / sourceHeight, CubicMode,
                          resizeWork_.data(), resizeWork_.capacity());
    }
    picture->pixels = picture_.data();
    picture->width = targetWidth;
    picture->height = targetHeight;
    picture->stride = stride;
    return true;
}

}  // namespace fluxmere
