#include "streaming/chunk_framing.h"

namespace fluxmere {

namespace {

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool LineBreakAt(const uint8_t* bytes, size_t held, size_t pos) {
    return pos + 2 <= held && bytes[pos] == '\r' && bytes[pos + 1] == '\n';
}

uint64_t LenientChunkSize(const uint8_t* line, size_t length, uint64_t limit) {
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const int digit = HexDigit(line[i]);
        value = value * 16 + static_cast<uint64_t>(digit < 0 ? 0 : digit);
        if (value > limit) value = limit + 1;  // saturate
    }
    return value;
}

bool ReadStrictSizeLine(const uint8_t* bytes, size_t held, size_t pos, size_t limit,
                        size_t* size, size_t* next) {
    const size_t lineStart = pos;
    size_t value = 0;
    for (; pos < held && HexDigit(bytes[pos]) >= 0; ++pos) {
        value = value * 16 + static_cast<size_t>(HexDigit(bytes[pos]));
        if (value > limit) return false;
    }
    if (pos == lineStart || !LineBreakAt(bytes, held, pos)) return false;
    *size = value;
    *next = pos + 2;
    return true;
}

}  // namespace fluxmere
