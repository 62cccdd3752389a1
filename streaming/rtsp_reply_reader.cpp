#include "streaming/rtsp_reply_reader.h"

#include <cstring>

#include "streaming/rtsp_text.h"

namespace fluxmere {

using rtsp_text::Find;
using rtsp_text::ParseDecimal;

RtspReplyReader::RtspReplyReader() : kept_(new char[kMaxReplyBytes]) {}

RtspReply RtspReplyReader::Read(IReplySource& source, char* buffer, int32_t capacity) {
    RtspReply reply;
    if (buffer == nullptr || capacity <= 0)
        return reply;
    if (capacity > kMaxReplyBytes)
        capacity = kMaxReplyBytes;

    constexpr char kCSeq[] = "CSeq";
    constexpr char kContentLength[] = "Content-Leng";  // recognised by its first 12 characters
    constexpr int32_t kCSeqLength = 4;
    constexpr int32_t kContentLengthLength = 12;

    // The bytes kept from the last read come first, as if received now.
    int32_t received = keptLength_ < capacity ? keptLength_ : capacity;
    std::memcpy(buffer, kept_.get(), static_cast<size_t>(received));
    keptLength_ -= received;
    std::memmove(kept_.get(), kept_.get() + received, static_cast<size_t>(keptLength_));

    int32_t headerEnd = -1;  // offset of the CR LF that follows another CR LF
    int32_t cseqAt = -1;
    int32_t contentLengthAt = -1;
    int32_t blankAt = -1;
    int32_t previous = 0;  // bytes already scanned
    bool fresh = received > 0;

    while (headerEnd < 0) {
        if (!fresh) {
            if (received >= capacity)
                break;
            const int got = source.Receive(buffer + received, capacity - received);
            if (got <= 0 || got > capacity - received) {
                reply.received = received;
                return reply;
            }
            received += got;
        }
        fresh = false;

        // Each new piece is scanned together with the bytes before it that a marker split
        // between two reads may have started in.
        for (int32_t i = previous >= 3 ? previous - 3 : 0; i + 3 < received; ++i) {
            if (buffer[i] == '\r' && buffer[i + 1] == '\n' && buffer[i + 2] == '\r' &&
                buffer[i + 3] == '\n') {
                headerEnd = i + 2;
                break;
            }
        }
        const int32_t limit = headerEnd >= 0 ? headerEnd : received;
        auto scan = [&](int32_t& at, const char* marker, int32_t length) {
            if (at >= 0)
                return;
            const int32_t from = previous >= length - 1 ? previous - (length - 1) : 0;
            if (from >= limit)
                return;
            const int32_t found = Find(buffer + from, limit - from, marker, length);
            if (found >= 0)
                at = from + found;
        };
        scan(cseqAt, kCSeq, kCSeqLength);
        scan(contentLengthAt, kContentLength, kContentLengthLength);
        scan(blankAt, " ", 1);
        previous = received;
    }
    reply.received = received;
    // A header that fills the buffer without its end, or a reply without CSeq: refused.
    if (headerEnd < 0 || cseqAt < 0)
        return reply;

    const char* headerLimit = buffer + headerEnd;
    int32_t contentLength = 0;
    if (contentLengthAt >= 0 && contentLengthAt + 16 < headerEnd) {
        contentLength = ParseDecimal(buffer + contentLengthAt + 16, headerLimit);
        if (contentLength < 0)
            contentLength = 0;
    }
    const int64_t complete = static_cast<int64_t>(headerEnd) + 2 + contentLength;
    if (complete > capacity)
        return reply;  // the body cannot fit the buffer
    if (received < complete) {
        const int32_t missing = static_cast<int32_t>(complete - received);
        const int got = source.Receive(buffer + received, missing);
        if (got > 0 && got <= missing)
            received += got;
        reply.received = received;
        if (received < complete)
            return reply;
    }

    // What follows the reply is the start of the next message: kept ahead of anything still
    // kept from before.
    const int32_t behind = received - static_cast<int32_t>(complete);
    std::memmove(kept_.get() + behind, kept_.get(), static_cast<size_t>(keptLength_));
    std::memcpy(kept_.get(), buffer + complete, static_cast<size_t>(behind));
    keptLength_ += behind;

    reply.received = static_cast<int32_t>(complete);
    reply.headerLength = headerEnd;
    reply.contentLength = contentLength;
    reply.status = blankAt >= 0 ? ParseDecimal(buffer + blankAt + 1, headerLimit) : 0;
    return reply;
}

}  // namespace fluxmere
