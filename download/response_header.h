#pragma once
// The device's HTTP response header: read one byte at a time, so that not a byte of the chunked
// body behind it is consumed, then searched for the "not ready" mark and the clip's file name.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

constexpr size_t kHeaderBufferSize = 1024;

// Where header bytes come from: the transfer socket, or a fixed text in tests.
class IByteSource {
public:
    // Like recv: bytes read (at most length), 0 when the peer closed, -1 on error.
    virtual int Read(uint8_t* buffer, int length) = 0;

protected:
    ~IByteSource() = default;
};

enum class HeaderEnd {
    Complete,     // four CR/LF bytes in a row ended it
    Interrupted,  // a read returned other than one byte first
    TooLong,      // the buffer filled before the end
};

struct ResponseHeader {
    char text[kHeaderBufferSize];  // NUL terminated after the last byte received
    size_t length = 0;
    HeaderEnd end = HeaderEnd::Interrupted;
};

// Reads until four consecutive bytes are each CR or LF, a read does not return exactly one byte,
// or kHeaderBufferSize - 1 bytes are held. Never writes past header->text.
void ReadResponseHeader(IByteSource& source, ResponseHeader* header);

// True when the header can start a transfer: it ended with its CR/LF run and holds no "xml" (the
// device's way of saying that the clip is not ready yet).
bool IsUsableHeader(const ResponseHeader& header);

// The status code of the header's "HTTP/x.y NNN" status line; 0 when it has none.
int ResponseStatus(const ResponseHeader& header);

// True when a Transfer-Encoding line of the header (name and value in any case) names "chunked".
bool IsChunkedResponse(const ResponseHeader& header);

// The clip's name from the header's `filename="NAME.EXT"` (not at the header's very start):
// NAME, without the extension, into baseName. Returns false, leaving baseName alone, when the
// text is missing, NAME is empty, no full stop ends NAME within the quoted value, NAME does not fit
// capacity bytes, NAME holds a character that cannot be part of a file name (a path
// separator, a control character, DEL or one of :*?"<>|), ends in a space, or is a name Windows
// keeps for a device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any case).
bool TakeBaseNameFromHeader(const char* header, char* baseName, size_t capacity);

}  // namespace fluxmere
