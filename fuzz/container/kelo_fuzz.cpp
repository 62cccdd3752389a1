// Feeds arbitrary bytes to the stream header parser and to the combined frame check, as a hostile
// device would. The input is copied to a buffer of exactly its size, so any read past the
// available bytes is caught by the address sanitizer. The first byte picks the frame version.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "container/combined_frame.h"
#include "container/kelo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint32_t version = data[0] % 4;
    std::vector<uint8_t> bytes(data + 1, data + size);

    fluxmere::CKelo stream;
    if (stream.ParseHeader(bytes.data(), bytes.size()) && stream.bytesRead() > bytes.size()) {
        std::abort();
    }

    fluxmere::CKeloMediaFrame video(version), audio(version);
    fluxmere::CombinedFrameSpans spans;
    if (fluxmere::SplitCombinedFrame(bytes.data(), bytes.size(), video, audio, &spans)) {
        const uint8_t* end = bytes.data() + bytes.size();
        if (spans.videoPayload + spans.videoPayloadSize > end ||
            spans.audioPayload + spans.audioPayloadSize > end) {
            std::abort();
        }
    }
    return 0;
}
