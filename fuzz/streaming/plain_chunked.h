#pragma once
// HTTP/1.1 chunked coding read the plain way, for fuzzers to hold the chunk decoder and the
// receive loop against: no state carried between reads, no limit but 1 GiB per chunk.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "streaming/chunk_decoder.h"

namespace fluxmere::fuzzing {

// Appends to out the data of every chunk whose closing CR LF has come, and tells how the body
// ends: Terminated at the zero-size chunk, AtChunkBoundary exactly at a chunk's end after at least
// one chunk, Cut anywhere else (and at anything that is not HTTP/1.1).
inline BodyEnd PlainChunkedBody(const uint8_t* body, size_t size, std::string* out) {
    size_t pos = 0;
    bool chunks = false;
    for (;;) {
        if (pos == size)
            return chunks ? BodyEnd::AtChunkBoundary : BodyEnd::Cut;
        size_t value = 0, digits = 0;
        while (pos < size && std::isxdigit(body[pos])) {
            const int c = body[pos++];
            value = value * 16 + static_cast<size_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
            if (value > (1u << 30))
                return BodyEnd::Cut;
            ++digits;
        }
        if (digits == 0)
            return BodyEnd::Cut;
        while (pos < size && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (pos < size && body[pos] == ';') {
            while (pos < size && body[pos] != '\r' && body[pos] != '\n')
                ++pos;
        }
        if (pos + 2 > size || body[pos] != '\r' || body[pos + 1] != '\n')
            return BodyEnd::Cut;
        pos += 2;
        if (value == 0)
            return BodyEnd::Terminated;
        if (value > size - pos || size - pos - value < 2 || body[pos + value] != '\r' ||
            body[pos + value + 1] != '\n')
            return BodyEnd::Cut;
        out->append(reinterpret_cast<const char*>(body + pos), value);
        pos += value + 2;
        chunks = true;
    }
}

}  // namespace fluxmere::fuzzing
