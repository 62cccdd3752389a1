#pragma once
// What the transcoding tests share: clips as the device records them, and an output kept in
// memory.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "container/kelo.h"
#include "device/device_options.h"
#include "device/media_frames.h"
#include "transcode/movie_sink.h"

namespace fluxmere::testing {

// A clip's stream header, then the live stream's combined frames (a video block and an audio
// block each), with real pictures of the moving test pattern.
struct TestClip {
    std::vector<uint8_t> bytes;
    std::vector<size_t> frameStarts;             // offset of each combined frame
    std::vector<std::vector<uint8_t>> payloads;  // the pictures' payloads
};

inline TestClip MakeClip(int frames, int width = 352, int height = 288) {
    device::DeviceOptions options;
    options.width = width;
    options.height = height;
    TestClip clip;
    const std::vector<uint8_t> description = device::BuildStreamDescription(options);
    clip.bytes.assign(description.begin() + kStreamDescriptionLead, description.end());
    device::FrameBuilder builder(options);
    for (int i = 0; i < frames; ++i) {
        const std::vector<uint8_t>& frame = builder.BuildHealthy(static_cast<uint32_t>(i));
        clip.frameStarts.push_back(clip.bytes.size());
        clip.bytes.insert(clip.bytes.end(), frame.begin(), frame.end());
        clip.payloads.push_back(builder.videoPayload());
    }
    return clip;
}

// The output collected in memory; Save writes it to a file for the readers.
class MemorySink final : public transcode::IMovieSink {
public:
    bool Append(const void* data, size_t size) override {
        const uint8_t* b = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), b, b + size);
        return true;
    }
    bool Overwrite(uint64_t offset, const void* data, size_t size) override {
        if (offset + size > bytes.size())
            return false;
        std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    std::string Save(const std::string& path) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    std::vector<uint8_t> bytes;
};

}  // namespace fluxmere::testing
