#include "streaming/rtp_receiver.h"

#include <cstring>

#include "streaming/chunk_framing.h"

namespace fluxmere {

namespace {

// Bytes read beyond the end of a chunk whose data is still coming.
constexpr int64_t kReadAhead = 16384;

}  // namespace

CRTPReceiver::CRTPReceiver() : stopRequest_(0, 1), stopped_(0, 1) {}

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
    uint8_t* buffer = buffer_;
    int64_t held = 0;
    int64_t size = 0;
    int64_t lineLength = 0;  // 0: the size line has not been read yet
    int64_t lineScan = 0;    // where the search for the line's CR LF goes on
    bool skipRead = false;
    bool afterChunk = false;  // a chunk was handed over: its CR LF comes next
    int32_t lastError = 0;
    held_ = 0;

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
            if (lineLength != 0 && size > 0) {  // then the data is incomplete: wanted > 0
                const int64_t wanted = lineLength + size - held + kReadAhead;
                if (wanted < length)
                    length = static_cast<int32_t>(wanted);
            }
            const int got = source.Receive(buffer + held, length);
            if (got > 0) {
                held += got;
            } else {
                const int error = got == 0 ? platform::kWsaETimedOut : source.LastError();
                const bool ending = error == platform::kWsaENotSock ||
                                    error == platform::kWsaENotConn || error == platform::kWsaEBadF;
                // The loop ends on these errors anyway: a stop request is only looked for, not
                // awaited, so a closed socket ends the loop at once.
                if (ending ? stopRequest_.Wait(0) == platform::WaitResult::Signaled
                           : StopRequested()) {
                    break;
                }
                // A reset or aborted connection is gone like a closed one, and Winsock fails
                // every later read on it the same way: without the notice the loop would spin.
                peerClosed_ = got == 0 || platform::IsConnectionLost(error);
                lastError = error;
                noticeError_ = error;
                if (ending)
                    break;
                if (lastError == platform::kWsaETimedOut || peerClosed_) {
                    held_ = static_cast<int32_t>(held);
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
        if (lineLength == 0) {
            // The line starts after the CR LF that ends the previous chunk's data; strict
            // framing insists on that CR LF.
            const bool breakFirst = held >= 2 && buffer[0] == '\r' && buffer[1] == '\n';
            if (strict_ && breakFirst != afterChunk) {
                lastError = kBadFraming;
                break;
            }
            const int64_t start = breakFirst ? 2 : 0;
            int64_t end = lineScan > start ? lineScan : start;
            while (end + 1 < held && !(buffer[end] == '\r' && buffer[end + 1] == '\n'))
                ++end;
            if (end + 1 >= held) {
                lineScan = end;
                continue;
            }
            // The live stream's lenient rule (chunk_framing.h): "1x" reads as 16; the strict
            // one refuses it.
            uint64_t value = 0;
            const size_t lineBytes = static_cast<size_t>(end - start);
            if (!strict_) {
                value =
                    LenientChunkSize(buffer + start, lineBytes, static_cast<uint64_t>(capacity));
            } else if (!StrictChunkSize(buffer + start, lineBytes, static_cast<uint64_t>(capacity),
                                        &value)) {
                lastError = kBadFraming;
                break;
            }
            lineLength = end + 2;
            size = static_cast<int64_t>(value);
            if (lineLength + size + kReadSize > capacity) {
                lastError = kChunkTooLarge;
                break;
            }
        }
        const int64_t rest = held - size - lineLength;
        if (rest < 0 || size == 0)
            continue;

        uint8_t* const chunk = buffer + lineLength;
        held_ = static_cast<int32_t>(held);
        uint8_t* const next = callback_(chunk, static_cast<int32_t>(size), context_);
        if (next != nullptr)
            buffer = next;
        std::memmove(buffer, chunk + size, static_cast<size_t>(rest));
        held = rest;
        size = 0;
        lineLength = 0;
        lineScan = 0;
        afterChunk = true;
        // More bytes than the threshold are parsed before anything more is read, so chunks
        // that arrived together are handed over together (and the last one of a stream is not
        // held back until the next read returns).
        skipRead = rest > kParseThreshold;
    }

    held_ = static_cast<int32_t>(held);
    stopped_.Release();
    stopRequest_.Drain();
    running_.store(false);
    return lastError;
}

bool CRTPReceiver::Stop() {
    if (!running_.load())
        return true;
    stopRequest_.Release();
    return stopped_.Wait(10000) != platform::WaitResult::Signaled;
}

}  // namespace fluxmere
