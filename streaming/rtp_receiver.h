#pragma once
// The chunk receiver: reads a stream socket into the caller's buffer, cuts the bytes into
// HTTP/1.1-style chunks (hex size line, CR LF, data, CR LF) and hands each chunk to a callback.
// Used by the viewer on its media connection and by the download job on its HTTP body.

#include <cstddef>
#include <cstdint>

#include "platform/socket.h"
#include "platform/sync.h"

namespace fluxmere {

// Called once per chunk with the chunk's data inside the receiver's current buffer. Returns the
// buffer the receiver goes on with, or nullptr to keep the current one (the receiver then moves
// the bytes that follow the chunk to its start, so the callback must be done with data).
// size 0 is a notice: a read timed out or the peer closed; the result is then ignored.
using ChunkCallback = uint8_t* (*)(uint8_t* data, int32_t size, void* context);

class CRTPReceiver {
public:
    // Run's result when a chunk (size line + data + one 64 KiB read) cannot fit the buffer, or
    // a size line does not end within it. Nothing of such a chunk is read into the buffer.
    static constexpr int32_t kChunkTooLarge = -2;

    CRTPReceiver();
    virtual ~CRTPReceiver();
    CRTPReceiver(const CRTPReceiver&) = delete;
    CRTPReceiver& operator=(const CRTPReceiver&) = delete;

    void SetCallback(ChunkCallback callback, void* context);
    // Every buffer used by the receiver (this one and those the callback returns) holds
    // capacity bytes.
    void SetBuffer(uint8_t* buffer, size_t capacity);

    // The receive loop. -1 when it cannot start (no buffer, not a stream socket); otherwise, when
    // it ends, the last read error (0 if none failed) or kChunkTooLarge.
    int32_t Run(platform::SocketHandle socket);

    // Asks a running loop to end and waits up to 10000 ms. False when the loop confirmed its end;
    // true when it did not, and also when no loop was running.
    bool Stop();

private:
    // (implementation fields are the streaming module's business)
};

}  // namespace fluxmere
