#pragma once
// A combined frame is the data of one media chunk: a video block followed by an audio block,
// each a BE32 header length L, a media frame header of L bytes and the payload:
//
//   [L1][video header, L1 bytes][P1 bytes][L2][audio header, L2 bytes][P2 bytes]
//
// SplitCombinedFrame checks that both blocks lie inside the chunk before anyone touches a payload,
// so that the viewer can drop a frame whose lengths point elsewhere.

#include <cstddef>
#include <cstdint>

#include "container/kelo.h"

namespace fluxmere {

struct CombinedFrameSpans {
    const uint8_t* videoPayload = nullptr;  // chunk + 4 + L1
    uint32_t videoPayloadSize = 0;          // P1
    const uint8_t* audioBlock = nullptr;    // chunk + 4 + L1 + P1 (its length field)
    const uint8_t* audioPayload = nullptr;  // chunk + 4 + L1 + P1 + 4 + L2
    uint32_t audioPayloadSize = 0;          // P2
};

// Parses the video block's header into `video` and the audio block's header into `audio` (each
// with the version its caller set) and fills `spans`. Returns false, leaving `spans` untouched,
// when the chunk is null, when a header does not fit its length L or the chunk, or when a payload
// runs past the chunk. Bytes after the audio payload are allowed and ignored.
bool SplitCombinedFrame(const uint8_t* chunk, size_t chunkSize, CKeloMediaFrame& video,
                        CKeloMediaFrame& audio, CombinedFrameSpans* spans);

}  // namespace fluxmere
