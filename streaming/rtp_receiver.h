#pragma once
// The chunk receiver: reads a stream socket into the caller's buffer, cuts the bytes into
// HTTP/1.1-style chunks (hex size line, CR LF, data, CR LF) and hands each chunk to a callback.
// Used by the viewer on its media connection and by the download job on its HTTP body.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/socket.h"
#include "platform/sync.h"
#include "streaming/chunk_decoder.h"

namespace fluxmere {

// Called once per chunk with the chunk's data inside the receiver's current buffer. Returns the
// buffer the receiver goes on with, or nullptr to keep the current one (the receiver then moves
// the bytes that follow the chunk to its start, so the callback must be done with data).
// size 0 is a notice: a read timed out or the peer closed; the result is then ignored.
using ChunkCallback = uint8_t* (*)(uint8_t* data, int32_t size, void* context);

// Where the receive loop reads from: a stream socket, or scripted bytes in fuzzers.
class IChunkSource {
public:
    // Like recv: bytes read (at most length), 0 when the peer closed, -1 on error.
    virtual int Receive(uint8_t* buffer, int32_t length) = 0;
    // The Winsock code of the last failed Receive.
    virtual int LastError() = 0;

protected:
    ~IChunkSource() = default;
};

// Why the receive loop gave a notice (a call with size 0).
enum class NoticeCause : int32_t {
    None,            // no notice yet in this run
    TimedOut,        // a read timed out (the socket's receive time-out)
    PeerClosed,      // the peer closed the connection in order
    ConnectionLost,  // the connection was reset, aborted or broken (10054, 10053, any other error)
};

// What the latest notice of a run reported.
struct ChunkNotice {
    NoticeCause cause = NoticeCause::None;
    // Strict rule: how the body stood at the notice, once the chunks held were handed over.
    BodyEnd body = BodyEnd::Cut;

    // A whole body: it came to its terminating chunk, or the peer closed it in order right after
    // a chunk (a device that ends its body by closing). A reset or a silence proves nothing.
    bool BodyWhole() const {
        return body == BodyEnd::Terminated ||
               (body == BodyEnd::AtChunkBoundary && cause == NoticeCause::PeerClosed);
    }
};

// The receive loop: I/O and stop polling. The framing is the chunk decoder's (chunk_decoder.h).
class CRTPReceiver {
public:
    // Run's result when a chunk (size line + data + one 64 KiB read) cannot fit the buffer, or
    // a size line does not end within it. Nothing of such a chunk is read into the buffer.
    static constexpr int32_t kChunkTooLarge = -2;
    // Run's result when, with the strict rule, a size line is not HTTP/1.1's or a chunk's data is
    // not followed by CR LF. Nothing of it is handed over.
    static constexpr int32_t kBadFraming = -3;
    // How long a short or failed read waits for a stop request.
    static constexpr uint32_t kStopPollMs = 10;

    explicit CRTPReceiver(uint32_t stopPollMs = kStopPollMs);
    virtual ~CRTPReceiver();
    CRTPReceiver(const CRTPReceiver&) = delete;
    CRTPReceiver& operator=(const CRTPReceiver&) = delete;

    void SetCallback(ChunkCallback callback, void* context);
    // Every buffer used by the receiver (this one and those the callback returns) holds
    // capacity bytes.
    void SetBuffer(uint8_t* buffer, size_t capacity);
    // The size-line rule (chunk_decoder.h): lenient by default (the live stream, where a wrong
    // frame is only dropped); strict for a body that is stored byte for byte. Under the strict
    // rule every notice first hands over the chunks the held bytes complete, however few they
    // are, and LastNotice tells how the body stood.
    void SetRule(ChunkRule rule) { rule_ = rule; }

    // The receive loop. -1 when it cannot start (no buffer or callback, not a stream socket);
    // otherwise, when it ends, the last read error (0 if none failed), kChunkTooLarge or
    // kBadFraming. It ends
    // on a stop request, on the read errors 10038, 10057 and 10009, and with kChunkTooLarge when
    // the bytes held leave less than kReadSize bytes of room for the next read (a chunk too
    // large for the buffer, a size line that does not end, data piling up behind a chunk of
    // size 0).
    // Parsing starts once more than 128 bytes are held; after a chunk, the bytes left behind
    // are parsed before anything more is read when there are more than 128 of them, so chunks
    // that arrived together are handed over one after another without waiting for a read.
    // A read that fails or returns 0 (the peer closed) waits up to the stop poll for a stop
    // request, then a time-out or a close is reported as a notice (size 0); any other read
    // error (a reset or aborted connection, 10054 and 10053, or one that breaks it otherwise) is
    // reported like the peer's close, except 10004, 10035, 10036 and 10022 (Wine's code for a
    // close from another thread), after which the loop reads again; the three ending errors only
    // look for a stop request without waiting. The loop never ends by itself after a notice:
    // close the socket in the callback to end it (the next read reports 10038). After a notice
    // of a close or a lost connection, any failed read ends the loop: the closed handle's number
    // may already name another thread's socket or file.
    int32_t Run(platform::SocketHandle socket);
    // The same loop over any source (no stream-socket check).
    int32_t RunOn(IChunkSource& source);

    // Asks a running loop to end and waits up to 10000 ms. False when the loop confirmed its end;
    // true when it did not, and also when no loop was running.
    bool Stop();

    // The latest notice of the current or last run: set before its callback is called, kept
    // after Run returns until the next run starts. On the thread that runs the loop.
    const ChunkNotice& LastNotice() const { return notice_; }

    // Bytes every read may append: a chunk needs its size line, its data and this much room.
    static constexpr int32_t kReadSize = 65536;

private:
    // Parsing waits for more than this many held bytes.
    static constexpr int32_t kParseThreshold = 128;

    bool StopRequested();  // waits up to the stop poll for a stop request
    // Hands the chunk of event over and moves the bytes after it to the start of the buffer the
    // callback chose; *held becomes their count.
    void HandOver(const ChunkEvent& event, uint8_t** buffer, int64_t* held);

    ChunkCallback callback_ = nullptr;
    void* context_ = nullptr;
    uint8_t* buffer_ = nullptr;
    size_t capacity_ = 0;
    const uint32_t stopPollMs_;
    ChunkRule rule_ = ChunkRule::Lenient;
    ChunkNotice notice_;
    std::atomic<bool> running_{false};
    platform::Semaphore stopRequest_;
    platform::Semaphore stopped_;
};

}  // namespace fluxmere
