#include "streaming/chunk_decoder.h"

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

bool LineBreakAt(const uint8_t* bytes, size_t held, size_t pos) {
    return pos + 2 <= held && bytes[pos] == '\r' && bytes[pos + 1] == '\n';
}

// The two rules over a size line's bytes (its CR LF excluded). A value beyond limit gives
// limit + 1, however long the line.
uint64_t LenientSize(const uint8_t* line, size_t length, uint64_t limit) {
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        const int digit = HexDigit(line[i]);
        value = value * 16 + static_cast<uint64_t>(digit < 0 ? 0 : digit);
        if (value > limit)
            value = limit + 1;  // saturate
    }
    return value;
}

// False when the line is not a chunk size.
bool StrictSize(const uint8_t* line, size_t length, uint64_t limit, uint64_t* size) {
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

}  // namespace

ChunkEvent ChunkDecoder::Fail(ChunkEvent::Kind kind) {
    failed_ = kind;
    ChunkEvent event;
    event.kind = kind;
    return event;
}

ChunkEvent ChunkDecoder::Next(const uint8_t* bytes, size_t held) {
    if (failed_ != ChunkEvent::Kind::NeedMore)
        return Fail(failed_);
    if (lineLength_ == 0) {
        // Whether the bytes start with a CR LF is only known from the second byte on.
        if (held < 2)
            return ChunkEvent();
        const bool breakFirst = LineBreakAt(bytes, held, 0);
        // Strict: the CR LF that ends a chunk's data, and only that, comes before the line.
        if (rule_ == ChunkRule::Strict && breakFirst != afterChunk_)
            return Fail(ChunkEvent::Kind::BadFraming);
        const size_t start = breakFirst ? 2 : 0;
        size_t end = scan_ > start ? scan_ : start;
        while (end + 1 < held && !LineBreakAt(bytes, held, end))
            ++end;
        if (end + 1 >= held) {
            scan_ = end;
            return ChunkEvent();
        }
        uint64_t value = 0;
        if (rule_ == ChunkRule::Lenient) {
            value = LenientSize(bytes + start, end - start, limit_);
        } else if (!StrictSize(bytes + start, end - start, limit_, &value)) {
            return Fail(ChunkEvent::Kind::BadFraming);
        }
        lineLength_ = end + 2;
        if (lineLength_ > limit_ || value > limit_ - lineLength_)
            return Fail(ChunkEvent::Kind::TooLarge);
        size_ = static_cast<size_t>(value);
    }
    if (size_ == 0 || held < lineLength_ + size_)
        return ChunkEvent();
    ChunkEvent chunk;
    chunk.kind = ChunkEvent::Kind::Chunk;
    chunk.data = lineLength_;
    chunk.size = size_;
    afterChunk_ = true;
    lineLength_ = 0;
    size_ = 0;
    scan_ = 0;
    return chunk;
}

BodyEnd ChunkDecoder::EndHere(const uint8_t* bytes, size_t held) const {
    if (failed_ != ChunkEvent::Kind::NeedMore)
        return BodyEnd::Cut;
    if (lineLength_ != 0)
        return size_ == 0 ? BodyEnd::Terminated : BodyEnd::Cut;
    if (afterChunk_ && held == 2 && LineBreakAt(bytes, held, 0))
        return BodyEnd::AtChunkBoundary;
    return BodyEnd::Cut;
}

}  // namespace fluxmere
