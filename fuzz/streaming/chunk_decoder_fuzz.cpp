// The chunk decoder alone, under both rules, on any bytes cut into pieces at random points.
// Input: one byte for the rule (bit 0: strict) and the limit, four bytes of split seed, then the
// stream. The decoder always reads an exact heap copy of the bytes held, so ASan catches a read
// past them. Checked: every chunk lies inside the held bytes and the limit; the pieces give the
// same chunks, the same error and the same end as the whole stream at once; and under the strict
// rule the chunks and the end are what a plain HTTP/1.1 chunk decoder makes of the stream.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/streaming/fuzz_pieces.h"
#include "fuzz/streaming/plain_chunked.h"
#include "streaming/chunk_decoder.h"

namespace {

using fluxmere::BodyEnd;
using fluxmere::ChunkDecoder;
using fluxmere::ChunkEvent;
using fluxmere::ChunkRule;
using Kind = ChunkEvent::Kind;

struct Result {
    std::vector<std::string> chunks;
    Kind stop = Kind::NeedMore;  // BadFraming or TooLarge when the decoder failed
    BodyEnd end = BodyEnd::Cut;
    bool overflow = false;  // more bytes held, waiting, than the limit: a receiver would end
};

// Next over an exact copy of the held bytes.
ChunkEvent NextOnCopy(ChunkDecoder& decoder, const std::string& held) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[held.size()]);
    std::memcpy(copy.get(), held.data(), held.size());
    return decoder.Next(copy.get(), held.size());
}

// Feeds the stream as a receive loop does: a piece (the whole stream unless inPieces), then
// every chunk it completes.
Result Decode(ChunkRule rule, uint64_t limit, const uint8_t* data, size_t size, uint32_t seed,
              bool inPieces) {
    Result result;
    ChunkDecoder decoder(rule, limit);
    fluxmere::fuzzing::Pieces pieces(data, size, seed);
    std::vector<uint8_t> piece(size);
    std::string held;
    for (size_t at = 0; at < size;) {
        const size_t length =
            inPieces ? static_cast<size_t>(pieces.Next(piece.data(), static_cast<int>(size)))
                     : size;
        held.append(reinterpret_cast<const char*>(data + at), length);
        at += length;
        for (;;) {
            const ChunkEvent event = NextOnCopy(decoder, held);
            if (event.kind == Kind::NeedMore)
                break;
            if (event.kind != Kind::Chunk) {
                result.stop = event.kind;
                return result;
            }
            if (event.size == 0 || event.end() > held.size() || event.end() > limit)
                std::abort();
            result.chunks.push_back(held.substr(event.data, event.size));
            held.erase(0, event.end());
        }
        if (held.size() > limit)
            result.overflow = true;
    }
    std::unique_ptr<uint8_t[]> copy(new uint8_t[held.size()]);
    std::memcpy(copy.get(), held.data(), held.size());
    result.end = decoder.EndHere(copy.get(), held.size());
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const ChunkRule rule = (data[0] & 1) != 0 ? ChunkRule::Strict : ChunkRule::Lenient;
    const uint64_t limit = 8 + static_cast<uint64_t>(data[0] >> 1) * 32;
    uint32_t seed;
    std::memcpy(&seed, data + 1, 4);
    const uint8_t* stream = data + 5;
    const size_t streamSize = size - 5;

    const Result pieces = Decode(rule, limit, stream, streamSize, seed, true);
    if (pieces.overflow)
        return 0;  // a receiver would have ended here; the rest of the stream was never read
    const Result whole = Decode(rule, limit, stream, streamSize, seed, false);
    if (pieces.chunks != whole.chunks || pieces.stop != whole.stop || pieces.end != whole.end)
        std::abort();  // the pieces changed what the stream means

    if (rule == ChunkRule::Strict && pieces.stop != Kind::TooLarge) {
        std::string plain;
        const BodyEnd end = fluxmere::fuzzing::PlainChunkedBody(stream, streamSize, &plain);
        std::string decoded;
        for (const std::string& chunk : pieces.chunks)
            decoded += chunk;
        if (end != pieces.end)
            std::abort();
        // A cut stream may have handed over its last chunk before the CR LF that was missing.
        if (end != BodyEnd::Cut ? decoded != plain : decoded.compare(0, plain.size(), plain) != 0)
            std::abort();
    }
    return 0;
}
