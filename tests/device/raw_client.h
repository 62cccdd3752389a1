#pragma once
// A small blocking client for the device's three connections, written against the wire and not
// against the device's code: RTSP requests and replies, HTTP requests, and chunked bodies.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace fluxmere::testing {

class RawConnection {
public:
    RawConnection() = default;
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Connects with a receive time-out, so that a missing reply fails the test instead of
    // hanging it.
    bool Connect(const std::string& address, uint16_t port, uint32_t recvTimeoutMs = 10000);
    void Close();
    bool Send(const std::string& text);

    // Everything up to and including CR LF CR LF; false when the connection ends or the header
    // grows beyond maxBytes first.
    bool ReadHeader(std::string* header, size_t maxBytes = 65536);
    // Exactly n bytes (some may already be buffered).
    bool ReadExactly(size_t n, std::string* out);
    // One line ending in CR LF (without it).
    bool ReadLine(std::string* line);
    // An RTSP reply: status code (0 if unreadable), its header and its Content-Length body.
    int ReadRtspReply(std::string* header, std::string* body);
    // One chunk of HTTP/1.1 chunked coding (extensions allowed): false at the end of the
    // connection. A chunk of size 0 gives an empty data string.
    bool ReadChunk(std::string* data, size_t* announcedSize = nullptr, size_t maxSize = 1 << 21);
    // True when the peer closed the connection (recv gave 0) before anything else arrived.
    bool PeerClosed();
    // True when nothing arrived within the receive time-out, with the connection still open.
    bool SilentUntilTimeout();

    platform::SocketHandle socket() const { return socket_; }
    // The size line of the last chunk read, without its CR LF.
    const std::string& lastSizeLine() const { return lastSizeLine_; }
    // The socket error of the last failed read (0 when the peer closed).
    int lastError() const { return lastError_; }

private:
    bool Fill();  // one more recv into buffered_

    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::string buffered_;
    int lastRecv_ = 0;
    int lastError_ = 0;
    std::string lastSizeLine_;
};

// The decimal value of "name: value" in a header, or -1.
long HeaderNumber(const std::string& header, const std::string& name);

// Decodes standard base64 (for checking the stream description).
std::vector<uint8_t> DecodeBase64(const std::string& text);

}  // namespace fluxmere::testing
