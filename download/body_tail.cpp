#include "download/body_tail.h"

namespace fluxmere {

namespace {

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool LineBreakAt(const uint8_t* bytes, size_t held, size_t pos) {
    return pos + 2 <= held && bytes[pos] == '\r' && bytes[pos + 1] == '\n';
}

}  // namespace

bool ReadBodyTail(const uint8_t* bytes, size_t held, TailChunkSink sink, void* context) {
    size_t pos = LineBreakAt(bytes, held, 0) ? 2 : 0;
    for (;;) {
        const size_t lineStart = pos;
        size_t size = 0;
        for (; pos < held && HexDigit(bytes[pos]) >= 0; ++pos) {
            size = size * 16 + static_cast<size_t>(HexDigit(bytes[pos]));
            if (size > held) return false;  // larger than anything held: cut
        }
        if (pos == lineStart || !LineBreakAt(bytes, held, pos)) return false;
        pos += 2;
        if (size == 0) return true;
        if (size > held - pos || !LineBreakAt(bytes, held, pos + size)) return false;
        sink(bytes + pos, static_cast<int32_t>(size), context);
        pos += size + 2;
    }
}

}  // namespace fluxmere
