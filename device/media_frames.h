#pragma once
// What the device streams: the stream description carried by DESCRIBE, and the combined frames
// (a "mjpa" video block and a "p16S" audio block) sent one per chunk on the media connection.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_options.h"
#include "device/studio_ycbcr.h"

namespace fluxmere::device {

// The decoded stream description: 8 leading bytes ("KELO" and the BE32 length of the stream
// header), then the stream header: a "vide"/"mjpa" track of the picture size first, then an
// "audi"/"p16S" track when the stream has sound.
std::vector<uint8_t> BuildStreamDescription(const DeviceOptions& options);

std::string Base64Encode(const uint8_t* data, size_t size);

// The SDP body of the DESCRIBE reply.
std::string BuildSdp(const DeviceOptions& options, const std::string& address);

// Sound of one picture: 48000 / fps stereo sample frames.
int SampleFramesPerPicture(const DeviceOptions& options);

// True when frame `index` is one of the hostile frames the options ask for.
bool IsHostileFrame(const DeviceOptions& options, uint32_t index);

// Builds combined frames. The buffers are made once and reused for every frame.
class FrameBuilder {
public:
    explicit FrameBuilder(const DeviceOptions& options);

    // The combined frame of frame `index` (chunk data, without the size line), hostile or not as
    // the options say. The reference stays valid until the next call.
    const std::vector<uint8_t>& Build(uint32_t index);
    // The healthy frame of `index`, whatever the options say about hostile frames.
    const std::vector<uint8_t>& BuildHealthy(uint32_t index);
    // The video payload of the last frame built (before any damage).
    const std::vector<uint8_t>& videoPayload() const { return payload_; }

private:
    void Assemble(uint32_t index, uint32_t minimumVideoSize);

    DeviceOptions options_;
    std::vector<uint8_t> rgb_;
    StudioRangeConverter converter_;
    std::vector<uint8_t> payload_;
    std::vector<uint8_t> audio_;
    std::vector<uint8_t> frame_;
};

// The frames of a short scripted run (a media fault, or the end of a session, within the first
// second), built before the device reports ready; empty for an open-ended stream. A sanitizer
// build on a loaded machine can take seconds to encode a large picture, and a gap that long
// between frames would read as the silence that ends a viewer's session.
std::vector<std::vector<uint8_t>> BuildScriptedFrames(const DeviceOptions& options);

}  // namespace fluxmere::device
