#include "player/frame_handoff.h"

#include <algorithm>

#include "container/combined_frame.h"
#include "streaming/rtp_receiver.h"

namespace fluxmere {

namespace {

// Room for a block's length field and a media frame header with a parameter list.
constexpr size_t kBlockHeaderBytes = 4 + 4096;
// A chunk's size line (hex digits, CR LF) and the CR LF that ends the chunk before it.
constexpr size_t kChunkFramingBytes = 32;

// The hand-off lock for one scope (a semaphore of count one, so that no thread owns it).
class HandOffLock {
public:
    explicit HandOffLock(platform::LightweightSemaphore& lock) : lock_(lock) { lock_.Wait(); }
    ~HandOffLock() { lock_.Release(); }
    HandOffLock(const HandOffLock&) = delete;
    HandOffLock& operator=(const HandOffLock&) = delete;

private:
    platform::LightweightSemaphore& lock_;
};

}  // namespace

FrameHandOff::FrameHandOff(CAudioRing& audio) : audio_(audio) {
    valid_ = bufferA_.Reserve(kMinFrameBufferBytes) && bufferB_.Reserve(kMinFrameBufferBytes);
}

bool FrameHandOff::PrepareForStream(uint32_t version, size_t videoPayloadLimit) {
    const size_t frame =
        kBlockHeaderBytes + videoPayloadLimit + kBlockHeaderBytes + kAudioBufferBytes;
    const size_t bytes =
        std::max(kMinFrameBufferBytes, frame + kChunkFramingBytes + CRTPReceiver::kReadSize);
    HandOffLock hold(lock_);
    newestPayload_ = nullptr;
    newestPayloadSize_ = 0;
    videoHeader_.version = version;
    audioHeader_.version = version;
    const bool grown = bufferA_.Reserve(bytes) && bufferB_.Reserve(bytes);
    videoPayloadLimit_ = grown ? videoPayloadLimit : 0;
    return grown;
}

size_t FrameHandOff::BufferBytes() const {
    return std::min(bufferA_.capacity(), bufferB_.capacity());
}

uint8_t* FrameHandOff::Deliver(uint8_t* data, int32_t size) {
    if (data == nullptr || size <= 0)
        return nullptr;
    bool usable = false;
    {
        HandOffLock hold(lock_);
        CombinedFrameSpans spans;
        usable = SplitCombinedFrame(data, static_cast<size_t>(size), videoHeader_, audioHeader_,
                                    &spans) &&
                 spans.videoPayloadSize <= videoPayloadLimit_;
        if (usable) {
            newestPayload_ = spans.videoPayload;
            newestPayloadSize_ = spans.videoPayloadSize;
            newestCodec_ = videoHeader_.codecCode;
            audio_.QueueAudioBlock(audioHeader_, spans.audioPayload);
        }
    }
    if (!usable) {
        framesDropped_.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    framesDelivered_.fetch_add(1, std::memory_order_relaxed);
    return bufferA_.Contains(data) ? bufferB_.data() : bufferA_.data();
}

bool FrameHandOff::CopyNewestVideo(FourCC codec, IVideoPayloadSink& sink) {
    HandOffLock hold(lock_);
    return newestPayload_ != nullptr && newestCodec_ == codec &&
           sink.TakePayload(newestPayload_, newestPayloadSize_);
}

HandOffCounters FrameHandOff::Counters() const {
    HandOffCounters counters;
    counters.framesDelivered = framesDelivered_.load(std::memory_order_relaxed);
    counters.framesDropped = framesDropped_.load(std::memory_order_relaxed);
    return counters;
}

}  // namespace fluxmere
