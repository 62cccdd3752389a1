// The clip reader that `fluxmere convert` and the engine read a downloaded clip with, on any
// bytes, once whole and once cut into pieces whose sizes come from the input. Both readings must
// hand out the same units (stream header, then blocks of the same sizes and bytes) and end in the
// same state; every payload lies within its limit and the bytes handed out never exceed those fed.
// Input: one byte of piece size, then the clip.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "transcode/clip_reader.h"

namespace {

using fluxmere::CKelo;
using fluxmere::CKeloMediaFrame;
using fluxmere::transcode::ClipReader;
using fluxmere::transcode::ClipStatus;

class Recorder final : public fluxmere::transcode::IClipConsumer {
public:
    bool OnStreamHeader(const CKelo& stream) override {
        units.push_back(0xFFFFFFFFu);
        units.push_back(static_cast<uint32_t>(stream.tracks.size()));
        return true;
    }
    bool OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) override {
        if (size > ClipReader::kMaxPayload)
            std::abort();
        uint32_t hash = 2166136261u;
        for (uint32_t i = 0; i < size; ++i)
            hash = (hash ^ payload[i]) * 16777619u;
        units.push_back(size);
        units.push_back(hash);
        units.push_back(header.version);
        return true;
    }
    std::vector<uint32_t> units;
};

struct Reading {
    std::vector<uint32_t> units;
    ClipStatus status = ClipStatus::Ok;
    bool atBlockEnd = false;
    uint64_t bytesDone = 0;
};

Reading Read(const std::vector<uint8_t>& clip, size_t piece) {
    Recorder recorder;
    ClipReader reader(&recorder);
    Reading r;
    for (size_t at = 0; at < clip.size(); at += piece) {
        const size_t n = clip.size() - at < piece ? clip.size() - at : piece;
        std::vector<uint8_t> chunk(clip.begin() + at, clip.begin() + at + n);  // exact copy
        r.status = reader.Feed(chunk.data(), chunk.size());
        if (reader.bytesDone() > reader.bytesFed())
            std::abort();
        if (r.status != ClipStatus::Ok)
            break;
    }
    r.units = recorder.units;
    r.atBlockEnd = reader.AtBlockEnd();
    r.bytesDone = reader.bytesDone();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t piece = 1 + data[0] * 23u;  // 1 to 5866: split headers and payloads alike
    const std::vector<uint8_t> clip(data + 1, data + size);
    const Reading whole = Read(clip, clip.size());
    const Reading pieces = Read(clip, piece);
    if (whole.units != pieces.units || whole.status != pieces.status ||
        whole.atBlockEnd != pieces.atBlockEnd || whole.bytesDone != pieces.bytesDone) {
        std::abort();
    }
    return 0;
}
