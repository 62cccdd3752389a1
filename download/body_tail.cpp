#include "download/body_tail.h"

#include "streaming/chunk_framing.h"

namespace fluxmere {

bool ReadBodyTail(const uint8_t* bytes, size_t held, TailChunkSink sink, void* context) {
    size_t pos = LineBreakAt(bytes, held, 0) ? 2 : 0;
    for (;;) {
        size_t size = 0;
        // A size larger than anything held means the body was cut as well.
        if (!ReadStrictSizeLine(bytes, held, pos, held, &size, &pos)) return false;
        if (size == 0) return true;
        if (size > held - pos || !LineBreakAt(bytes, held, pos + size)) return false;
        sink(bytes + pos, static_cast<int32_t>(size), context);
        pos += size + 2;
    }
}

}  // namespace fluxmere
