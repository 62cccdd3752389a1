#include "download/body_tail.h"

#include "streaming/chunk_framing.h"

namespace fluxmere {

bool ReadBodyTail(const uint8_t* bytes, size_t held, bool afterChunk, bool needTerminator,
                  TailChunkSink sink, void* context) {
    size_t pos = 0;
    bool chunks = afterChunk;
    for (;;) {
        if (chunks) {  // the CR LF that ends the chunk before
            if (!LineBreakAt(bytes, held, pos))
                return false;
            pos += 2;
        }
        if (pos == held)
            return chunks && !needTerminator;  // a chunk boundary
        size_t size = 0;
        // A size larger than anything held means the body was cut as well.
        if (!ReadStrictSizeLine(bytes, held, pos, held, &size, &pos))
            return false;
        if (size == 0)
            return true;  // what follows (trailers) does not matter
        if (size > held - pos)
            return false;
        sink(bytes + pos, static_cast<int32_t>(size), context);
        pos += size;
        chunks = true;
    }
}

}  // namespace fluxmere
