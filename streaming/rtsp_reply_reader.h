#pragma once
// Reads RTSP replies (and the device's unrequested messages) off a connection, one at a time.
// A read may bring more than one message: the bytes that follow a reply are kept and come first
// in the next reply, so a device event sent together with a reply is not lost.

#include <cstdint>
#include <memory>

namespace fluxmere {

// Where the reply bytes come from: the RTSP socket, or scripted pieces in tests and fuzzers.
class IReplySource {
public:
    // Like recv: bytes read (at most length), 0 when the peer closed, -1 on error.
    virtual int Receive(char* buffer, int32_t length) = 0;

protected:
    ~IReplySource() = default;
};

struct RtspReply {
    int32_t status = 0;         // the status code; 0 when nothing usable arrived
    int32_t headerLength = 0;   // offset of the CR LF that ends the header (body 2 bytes later)
    int32_t contentLength = 0;  // the body's length
    int32_t received = 0;       // bytes of this message in the buffer (all of them on failure)
};

class RtspReplyReader {
public:
    static constexpr int32_t kMaxReplyBytes = 16384;

    RtspReplyReader();
    RtspReplyReader(const RtspReplyReader&) = delete;
    RtspReplyReader& operator=(const RtspReplyReader&) = delete;

    // Reads one reply into buffer (capacity bytes, at most kMaxReplyBytes are used). A reply
    // needs "CSeq" and the blank line that ends its header; "Content-Length: " announces its
    // body, which must fit the buffer and be complete after one more read. A reply that fails
    // these takes every byte received with it. On success the bytes behind the reply are kept.
    RtspReply Read(IReplySource& source, char* buffer, int32_t capacity);

    // Drops the kept bytes (a new connection begins).
    void Forget() { keptLength_ = 0; }
    int32_t KeptBytes() const { return keptLength_; }

private:
    std::unique_ptr<char[]> kept_;
    int32_t keptLength_ = 0;
};

}  // namespace fluxmere
