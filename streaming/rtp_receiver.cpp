#include "streaming/rtp_receiver.h"

#include <cstring>

namespace fluxmere {

namespace {

// Bytes read beyond the end of a chunk whose data is still coming.
constexpr int64_t kReadAhead = 16384;

// Read errors after which another read may succeed: an interrupted call, a socket that had
// nothing yet, and 10022, which Wine gives the read that a close from another thread breaks off
// (the next read then fails with 10038). Every other error that does not end the loop leaves the
// connection unusable, as a reset does, and every later read would fail the same way.
bool MayReadAgain(int error) {
    return error == platform::kWsaEIntr || error == platform::kWsaEWouldBlock ||
           error == platform::kWsaEInProgress || error == platform::kWsaEInval;
}

}  // namespace

CRTPReceiver::CRTPReceiver(uint32_t stopPollMs)
    : stopPollMs_(stopPollMs), stopRequest_(0, 1), stopped_(0, 1) {}

CRTPReceiver::~CRTPReceiver() = default;

void CRTPReceiver::SetCallback(ChunkCallback callback, void* context) {
    callback_ = callback;
    context_ = context;
}

void CRTPReceiver::SetBuffer(uint8_t* buffer, size_t capacity) {
    buffer_ = buffer;
    capacity_ = capacity;
}

bool CRTPReceiver::StopRequested() {
    return stopRequest_.Wait(stopPollMs_) == platform::WaitResult::Signaled;
}

namespace {

// The receive loop's reads from a stream socket.
class SocketSource : public IChunkSource {
public:
    explicit SocketSource(platform::SocketHandle socket) : socket_(socket) {}
    int Receive(uint8_t* buffer, int32_t length) override {
        return platform::RecvSocket(socket_, buffer, length);
    }
    int LastError() override { return platform::LastSocketError(); }

private:
    platform::SocketHandle socket_;
};

}  // namespace

int32_t CRTPReceiver::Run(platform::SocketHandle socket) {
    if (buffer_ == nullptr || callback_ == nullptr)
        return -1;
    if (platform::GetSocketType(socket) != platform::kSockStream)
        return -1;
    SocketSource source(socket);
    return RunOn(source);
}

int32_t CRTPReceiver::RunOn(IChunkSource& source) {
    if (buffer_ == nullptr || callback_ == nullptr)
        return -1;
    running_.store(true);
    stopRequest_.Drain();
    stopped_.Drain();

    // Capacities beyond 2 GiB are not needed; clamping keeps the arithmetic in 64 bits simple.
    const int64_t capacity = capacity_ > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int64_t>(capacity_);
    // A chunk leaves room for one more read behind it.
    ChunkDecoder decoder(rule_,
                         capacity > kReadSize ? static_cast<uint64_t>(capacity - kReadSize) : 0);
    uint8_t* buffer = buffer_;
    int64_t held = 0;
    bool skipRead = false;
    int32_t lastError = 0;
    bool connectionGone = false;  // a close or a lost connection has been told
    notice_ = ChunkNotice();

    for (;;) {
        if (!skipRead) {
            if (capacity - held < kReadSize) {
                // A chunk or size line that cannot fit: nothing more of it is read.
                lastError = kChunkTooLarge;
                break;
            }
            // While a chunk's data is coming, read little more than it still lacks: the bytes
            // read past its end are moved after the hand-over, so keeping them few saves a copy
            // of up to 64 KiB per chunk. Enough is read ahead to pass the parse threshold.
            int32_t length = kReadSize;
            const int64_t pending = static_cast<int64_t>(decoder.PendingEnd());
            if (pending > held) {
                const int64_t wanted = pending - held + kReadAhead;
                if (wanted < length)
                    length = static_cast<int32_t>(wanted);
            }
            const int got = source.Receive(buffer + held, length);
            if (got > 0) {
                held += got;
            } else {
                const int error = got == 0 ? platform::kWsaETimedOut : source.LastError();
                // Once the callback has heard that the connection is gone it has closed the
                // socket, and Windows may already have given the handle's number to a new socket
                // or file of another thread: a read that fails again ends the loop too.
                const bool ending = error == platform::kWsaENotSock ||
                                    error == platform::kWsaENotConn ||
                                    error == platform::kWsaEBadF || (got < 0 && connectionGone);
                // The loop ends on these errors anyway: a stop request is only looked for, not
                // awaited, so a closed socket ends the loop at once.
                if (ending ? stopRequest_.Wait(0) == platform::WaitResult::Signaled
                           : StopRequested()) {
                    break;
                }
                lastError = error;
                if (ending)
                    break;
                // A reset, an aborted or a broken connection is gone like a closed one, and
                // Winsock fails every later read on it the same way: without the notice the loop
                // would poll for ever.
                const NoticeCause cause = got == 0 ? NoticeCause::PeerClosed
                                          : error == platform::kWsaETimedOut ? NoticeCause::TimedOut
                                          : MayReadAgain(error)              ? NoticeCause::None
                                                                : NoticeCause::ConnectionLost;
                if (cause != NoticeCause::None) {
                    if (rule_ == ChunkRule::Strict) {
                        // A body's last chunks may be too few bytes to pass the threshold.
                        for (ChunkEvent event = decoder.Next(buffer, static_cast<size_t>(held));
                             event.kind == ChunkEvent::Kind::Chunk;
                             event = decoder.Next(buffer, static_cast<size_t>(held))) {
                            HandOver(event, &buffer, &held);
                        }
                    }
                    notice_.cause = cause;
                    notice_.body = decoder.EndHere(buffer, static_cast<size_t>(held));
                    connectionGone = cause != NoticeCause::TimedOut;
                    callback_(buffer, 0, context_);
                }
            }
        }
        if (held <= kParseThreshold && !skipRead) {
            if (StopRequested())
                break;
            continue;
        }
        skipRead = false;
        const ChunkEvent event = decoder.Next(buffer, static_cast<size_t>(held));
        if (event.kind == ChunkEvent::Kind::BadFraming) {
            lastError = kBadFraming;
            break;
        }
        if (event.kind == ChunkEvent::Kind::TooLarge) {
            lastError = kChunkTooLarge;
            break;
        }
        if (event.kind != ChunkEvent::Kind::Chunk)
            continue;
        HandOver(event, &buffer, &held);
        // More bytes than the threshold are parsed before anything more is read, so chunks
        // that arrived together are handed over together (and the last one of a stream is not
        // held back until the next read returns).
        skipRead = held > kParseThreshold;
    }

    stopped_.Release();
    stopRequest_.Drain();
    running_.store(false);
    return lastError;
}

void CRTPReceiver::HandOver(const ChunkEvent& event, uint8_t** buffer, int64_t* held) {
    uint8_t* const chunk = *buffer + event.data;
    uint8_t* const next = callback_(chunk, static_cast<int32_t>(event.size), context_);
    if (next != nullptr)
        *buffer = next;
    const int64_t rest = *held - static_cast<int64_t>(event.end());
    std::memmove(*buffer, chunk + event.size, static_cast<size_t>(rest));
    *held = rest;
}

bool CRTPReceiver::Stop() {
    if (!running_.load())
        return true;
    stopRequest_.Release();
    return stopped_.Wait(10000) != platform::WaitResult::Signaled;
}

}  // namespace fluxmere
