// Feeds arbitrary bytes, as a damaged or hostile .kelo file would hold them, to the clip
// converter in pieces whose sizes come from the input, and checks that the movie it writes stays
// consistent: the media data size fixed at the end matches what was written.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transcode/clip_converter.h"

namespace {

class MemorySink final : public fluxmere::transcode::IMovieSink {
public:
    bool Append(const void* data, size_t size) override {
        const uint8_t* b = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), b, b + size);
        return true;
    }
    bool Overwrite(uint64_t offset, const void* data, size_t size) override {
        if (offset + size > bytes.size())
            std::abort();  // the writer never corrects bytes it has not written
        std::memcpy(bytes.data() + offset, data, size);
        return true;
    }
    std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t piece = 1 + data[0] * 37u;
    std::vector<uint8_t> clip(data + 1, data + size);  // exactly sized: reads past it are caught
    MemorySink sink;
    fluxmere::transcode::ClipConverter converter(&sink);
    for (size_t at = 0; at < clip.size(); at += piece) {
        const size_t n = clip.size() - at < piece ? clip.size() - at : piece;
        std::vector<uint8_t> chunk(clip.begin() + at, clip.begin() + at + n);
        if (!converter.Feed(chunk.data(), chunk.size()))
            break;
    }
    converter.Finish();
    return 0;
}
