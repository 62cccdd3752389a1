#pragma once
// Where the painting side of a frame hand-off copies the newest picture's compressed payload
// (FrameHandOff::CopyNewestVideo). The render path is one (FrameRenderer); a test may be another.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

class IVideoPayloadSink {
public:
    // Copies size bytes from payload. False (nothing taken) when they do not fit. Runs while the
    // hand-off lock holds the receiver back: copy and return, nothing more.
    virtual bool TakePayload(const uint8_t* payload, size_t size) = 0;

protected:
    ~IVideoPayloadSink() = default;
};

}  // namespace fluxmere
