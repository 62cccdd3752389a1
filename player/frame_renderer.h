#pragma once
// The render path of a viewer: a Motion-JPEG payload in, the picture the control paints out.
// Decodes into planes, converts to colour and scales to the target size, leaving the picture in
// the row layout of a 24-bit device-independent bitmap. The session feeds it the newest frame's
// payload from the frame hand-off; the control's painter and the tool show what it renders.
//
// Threads: one caller at a time (the session serialises the painter and reconfiguration with its
// render lock). The sizes may be read from any thread.
//
// Sizes: pictures up to kMaxPictureWidth x kMaxPictureHeight, as source and as target. Buffers
// grow when a stream's size is learned and when the target changes, never per frame.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "decode/jpeg_decoder.h"
#include "player/player_buffer.h"
#include "player/video_payload_sink.h"

namespace fluxmere {

constexpr int32_t kMaxPictureWidth = 1920;
constexpr int32_t kMaxPictureHeight = 1088;
constexpr int32_t kDefaultTargetWidth = 320;
constexpr int32_t kDefaultTargetHeight = 240;

// The scaled picture: 3 bytes a pixel in B, G, R order, rows top-down, stride a multiple of 4
// (the row layout of a 24-bit device-independent bitmap).
struct RenderedPicture {
    const uint8_t* pixels = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
};

class FrameRenderer final : public IVideoPayloadSink {
public:
    // Buffers for a 352 x 288 stream and the default 320 x 240 target.
    FrameRenderer();
    FrameRenderer(const FrameRenderer&) = delete;
    FrameRenderer& operator=(const FrameRenderer&) = delete;

    // False when the buffers made at construction could not be allocated.
    bool IsValid() const { return valid_; }

    // The payload buffer a stream of width x height needs: a Motion-JPEG picture is never larger
    // than its raw 4:2:2 samples (2 bytes a pixel) unless it is garbage.
    static size_t PayloadBytesFor(int32_t width, int32_t height);

    // Sets up the payload buffer, planes and decoder for a source of width x height (within the
    // maximum, checked by the caller). False when the buffers cannot grow or the decoder refuses
    // the size; the source size is then left as it was.
    bool PrepareSource(int32_t width, int32_t height);
    // The target size (within the maximum). False, and no change, when the picture cannot grow.
    bool SetTarget(int32_t width, int32_t height);

    // The largest payload TakePayload accepts.
    size_t PayloadCapacity() const { return payload_.capacity(); }
    // Copies a payload in for the next Render. False (nothing copied) when it does not fit.
    bool TakePayload(const uint8_t* payload, size_t size) override;
    // Decodes the payload taken last, converts and scales it to the target size. False when no
    // source is prepared. The picture stays valid until the next Render or SetTarget.
    bool Render(RenderedPicture* picture);

    int32_t SourceWidth() const { return sourceWidth_.load(std::memory_order_acquire); }
    int32_t SourceHeight() const { return sourceHeight_.load(std::memory_order_acquire); }
    int32_t TargetWidth() const { return targetWidth_.load(std::memory_order_acquire); }
    int32_t TargetHeight() const { return targetHeight_.load(std::memory_order_acquire); }

private:
    static int32_t PictureStride(int32_t width) { return (width * 3 + 3) & ~3; }
    bool ReservePicture(int32_t width, int32_t height);

    bool valid_ = false;
    PlayerBuffer payload_;
    size_t payloadSize_ = 0;
    PlayerBuffer decoderWork_;
    PlayerBuffer planes_;
    PlayerBuffer rgb_;
    PlayerBuffer picture_;
    PlayerBuffer resizeWork_;
    CJPEGDecoder decoder_;
    std::atomic<int32_t> sourceWidth_{0};
    std::atomic<int32_t> sourceHeight_{0};
    std::atomic<int32_t> targetWidth_{kDefaultTargetWidth};
    std::atomic<int32_t> targetHeight_{kDefaultTargetHeight};
};

}  // namespace fluxmere
