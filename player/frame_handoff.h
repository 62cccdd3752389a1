#pragma once
// The frame hand-off of one viewer: how combined frames (one media chunk each: a video block,
// then an audio block, container/combined_frame.h) pass from the thread that receives them to the
// thread that paints them, with no allocation and no copy on the receiving side.
//
// It owns the two receive buffers the receiver fills by turns, the newest frame (its video
// payload and codec, recorded once when the frame is delivered: the painter never parses a
// frame), the hand-off lock and the counters. Each delivered frame's audio block goes to the sound
// ring on delivery.
//
// Threads and contract:
// - PrepareForStream: the thread that sets up a stream (the session thread), while nothing
//   delivers. It forgets the newest frame, which belongs to the last stream.
// - FirstBuffer, BufferBytes, Deliver: the receiver thread. The receive loop starts reading into
//   FirstBuffer; Deliver, called once per chunk, returns the buffer to read into next, which is
//   never the one holding the newest frame. So that frame stays put until the next delivered frame
//   has replaced it.
// - CopyNewestVideo: the painting thread (one at a time). It copies the payload out; decoding
//   and drawing happen after the lock is released.
// - Counters: any thread.
// The hand-off lock is held for one frame's checks and audio hand-off on the receiving side and
// for one payload copy on the painting side. No other lock is taken under it: a caller that
// changes a viewer's status (under the registry lock) does so after Deliver has returned.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "container/kelo.h"
#include "platform/lightweight_semaphore.h"
#include "player/audio_output.h"
#include "player/player_buffer.h"
#include "player/video_payload_sink.h"

namespace fluxmere {

struct HandOffCounters {
    int64_t framesDelivered = 0;  // combined frames that became the newest frame
    int64_t framesDropped = 0;    // combined frames refused by Deliver's checks
};

class FrameHandOff {
public:
    // audio must outlive the hand-off. Buffers for a 352 x 288 stream; video payloads up to
    // kMinFrameBufferBytes.
    explicit FrameHandOff(CAudioRing& audio);
    FrameHandOff(const FrameHandOff&) = delete;
    FrameHandOff& operator=(const FrameHandOff&) = delete;

    // False when the buffers made at construction could not be allocated.
    bool IsValid() const { return valid_; }

    // A new stream: frame headers of version, video payloads up to videoPayloadLimit bytes (what
    // the painting side can take). The receive buffers grow to hold the largest such frame with
    // the largest audio block, its chunk framing and one read of the receiver beyond it. False
    // when they cannot grow; every frame is then dropped until the next successful call.
    bool PrepareForStream(uint32_t version, size_t videoPayloadLimit);

    // Where the receive loop starts, and what each of the two receive buffers holds.
    uint8_t* FirstBuffer() const { return bufferA_.data(); }
    size_t BufferBytes() const;

    // One chunk of size bytes at data, inside a receive buffer: checks that both blocks lie inside
    // the chunk and that the video payload is within the limit, makes it the newest frame and
    // queues its audio block. Returns the receive buffer to read into next (the other one than
    // data's), or nullptr when the frame is dropped: then nothing changes but the drop counter.
    uint8_t* Deliver(uint8_t* data, int32_t size);

    // Hands the newest frame's video payload to sink when its codec is codec. False when there is
    // no frame, its codec differs, or sink refuses it. Under the hand-off lock.
    bool CopyNewestVideo(FourCC codec, IVideoPayloadSink& sink);

    HandOffCounters Counters() const;

private:
    CAudioRing& audio_;
    bool valid_ = false;
    // Count one; taken twice a picture, so the uncontended take and release never enter the
    // kernel. Room for far more sleepers than the three threads that take it.
    platform::LightweightSemaphore lock_{1, 64};
    PlayerBuffer bufferA_;
    PlayerBuffer bufferB_;

    // Guarded by lock_.
    size_t videoPayloadLimit_ = kMinFrameBufferBytes;
    CKeloMediaFrame videoHeader_;
    CKeloMediaFrame audioHeader_;
    const uint8_t* newestPayload_ = nullptr;  // nullptr: no frame
    uint32_t newestPayloadSize_ = 0;
    FourCC newestCodec_{};

    std::atomic<int64_t> framesDelivered_{0};
    std::atomic<int64_t> framesDropped_{0};
};

}  // namespace fluxmere
