#include "container/combined_frame.h"

#include "container/kelo_writer.h"

namespace fluxmere {
namespace {

struct BlockSpan {
    size_t payloadOffset;
    uint32_t payloadSize;
    size_t end;
};

// Checks the block at `offset` against the chunk end. All sums are done in 64 bits so that a
// length near 4 GiB cannot wrap around on a 32-bit build.
bool ReadBlock(const uint8_t* chunk, size_t chunkSize, size_t offset, CKeloMediaFrame& header,
               BlockSpan* span) {
    if (chunkSize < 4 || offset > chunkSize - 4) {
        return false;
    }
    uint64_t headerLength = LoadBE32(chunk + offset);
    uint64_t headerStart = uint64_t{offset} + 4;
    if (headerStart + headerLength > chunkSize) {
        return false;
    }
    uint32_t payloadSize = 0;
    if (!header.ParseHeader(chunk + headerStart, static_cast<size_t>(headerLength), &payloadSize)) {
        return false;
    }
    uint64_t payloadOffset = headerStart + headerLength;
    uint64_t end = payloadOffset + payloadSize;
    if (end > chunkSize) {
        return false;
    }
    span->payloadOffset = static_cast<size_t>(payloadOffset);
    span->payloadSize = payloadSize;
    span->end = static_cast<size_t>(end);
    return true;
}

}  // namespace

bool SplitCombinedFrame(const uint8_t* chunk, size_t chunkSize, CKeloMediaFrame& video,
                        CKeloMediaFrame& audio, CombinedFrameSpans* spans) {
    if (chunk == nullptr) {
        return false;
    }
    BlockSpan v{};
    BlockSpan a{};
    if (!ReadBlock(chunk, chunkSize, 0, video, &v) ||
        !ReadBlock(chunk, chunkSize, v.end, audio, &a)) {
        return false;
    }
    if (spans != nullptr) {
        spans->videoPayload = chunk + v.payloadOffset;
        spans->videoPayloadSize = v.payloadSize;
        spans->audioBlock = chunk + v.end;
        spans->audioPayload = chunk + a.payloadOffset;
        spans->audioPayloadSize = a.payloadSize;
    }
    return true;
}

}  // namespace fluxmere
