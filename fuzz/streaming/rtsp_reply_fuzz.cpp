// The RTSP reply reader on a hostile device's bytes, cut into reads at random points. Input: one
// byte that picks the buffer's capacity, four bytes of split seed, then the bytes on the wire.
// The buffer is a heap block of exactly its capacity, so ASan catches any write past it; every
// message handed out must be the next bytes of the stream, and nothing may be lost or repeated.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/streaming/fuzz_pieces.h"
#include "streaming/rtsp_reply_reader.h"

namespace {

class PieceSource : public fluxmere::IReplySource {
public:
    explicit PieceSource(fluxmere::fuzzing::Pieces& pieces) : pieces_(pieces) {}
    int Receive(char* buffer, int32_t length) override {
        return pieces_.Next(reinterpret_cast<uint8_t*>(buffer), length);
    }

private:
    fluxmere::fuzzing::Pieces& pieces_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using fluxmere::RtspReplyReader;
    if (size < 5)
        return 0;
    // Small capacities reach the "fills the buffer" paths; 0xFF is the client's full buffer.
    const int32_t capacity = data[0] == 0xFF ? RtspReplyReader::kMaxReplyBytes : 1 + data[0] * 8;
    uint32_t seed;
    std::memcpy(&seed, data + 1, 4);
    data += 5;
    size -= 5;

    fluxmere::fuzzing::Pieces pieces(data, size, seed);
    PieceSource source(pieces);
    RtspReplyReader reader;
    std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(capacity)]);
    size_t consumed = 0;  // stream bytes handed out in messages so far
    for (;;) {
        const fluxmere::RtspReply reply = reader.Read(source, buffer.get(), capacity);
        if (reply.received < 0 || reply.received > capacity)
            std::abort();
        if (reply.headerLength != 0 &&
            static_cast<int64_t>(reply.headerLength) + 2 + reply.contentLength != reply.received)
            std::abort();
        if (reader.KeptBytes() < 0 || reader.KeptBytes() > RtspReplyReader::kMaxReplyBytes)
            std::abort();
        // The message is the next part of the stream, and what is kept is what came after it.
        if (consumed + static_cast<size_t>(reply.received) > pieces.delivered() ||
            std::memcmp(buffer.get(), data + consumed, static_cast<size_t>(reply.received)) != 0)
            std::abort();
        consumed += static_cast<size_t>(reply.received);
        if (consumed + static_cast<size_t>(reader.KeptBytes()) != pieces.delivered())
            std::abort();
        if (reply.received == 0 && reader.KeptBytes() == 0 && pieces.done())
            break;
    }
    return 0;
}
