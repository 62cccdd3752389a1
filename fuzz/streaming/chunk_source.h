#pragma once
// The chunk receiver's source for fuzzers: the input in pieces of pseudo-random length, then the
// peer's close; once the callback has "closed the socket", every read fails with 10038.

#include "fuzz/streaming/fuzz_pieces.h"
#include "platform/socket.h"
#include "streaming/rtp_receiver.h"

namespace fluxmere::fuzzing {

class PieceChunkSource : public IChunkSource {
public:
    explicit PieceChunkSource(Pieces& pieces) : pieces_(pieces) {}
    int Receive(uint8_t* buffer, int32_t length) override {
        if (closed)
            return -1;
        return pieces_.Next(buffer, length);  // 0 at the end: the peer closed
    }
    int LastError() override { return platform::kWsaENotSock; }

    bool closed = false;  // set by the callback, as a close of the socket

private:
    Pieces& pieces_;
};

}  // namespace fluxmere::fuzzing
