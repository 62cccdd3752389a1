#include "streaming/chunk_framing.h"

namespace fluxmere {

namespace {

int HexDigit(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
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
        if (value > limit)
            value = limit + 1;  // saturate
    }
    return value;
}

bool StrictChunkSize(const uint8_t* line, size_t length, uint64_t limit, uint64_t* size) {
    uint64_t value = 0;
    size_t i = 0;
    for (; i < length && HexDigit(line[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(HexDigit(line[i]));
        if (value > limit)
            value = limit + 1;  // saturate
    }
    if (i == 0)
        return false;
    while (i < length && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < length && line[i] != ';')
        return false;
    // Extensions run to the line's end; a bare CR or LF inside one is no HTTP.
    for (; i < length; ++i) {
        if (line[i] == '\r' || line[i] == '\n')
            return false;
    }
    *size = value;
    return true;
}

bool ReadStrictSizeLine(const uint8_t* bytes, size_t held, size_t pos, size_t limit, size_t* size,
                        size_t* next) {
    size_t end = pos;
    while (end < held && !LineBreakAt(bytes, held, end))
        ++end;
    uint64_t value = 0;
    if (end >= held || !StrictChunkSize(bytes + pos, end - pos, limit, &value) || value > limit) {
        return false;
    }
    *size = static_cast<size_t>(value);
    *next = end + 2;
    return true;
}

}  // namespace fluxmere
