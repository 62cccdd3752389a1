// The download's body framing: the chunk receiver with HTTP/1.1 (strict) size lines and the
// reading of the tail when the device closes, on any body, cut into reads at random points.
// Input: one byte for the buffers' room, four bytes of split seed, then the body. What the job
// would store as a whole clip must be exactly what a plain HTTP/1.1 chunk decoder makes of the
// body, and the decoder must agree that the body was whole.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "download/body_tail.h"
#include "fuzz/streaming/chunk_source.h"

namespace {

using fluxmere::CRTPReceiver;

// HTTP/1.1 chunked coding, read the plain way. Whole when it ends with the zero-size chunk, or,
// after at least one chunk, exactly at a chunk's end (the device's close).
bool Decode(const uint8_t* body, size_t size, std::string* out) {
    size_t pos = 0;
    bool chunks = false;
    for (;;) {
        if (pos == size)
            return chunks;
        size_t value = 0, digits = 0;
        while (pos < size && std::isxdigit(body[pos])) {
            const int c = body[pos++];
            value = value * 16 + static_cast<size_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
            if (value > (1u << 30))
                return false;
            ++digits;
        }
        if (digits == 0)
            return false;
        while (pos < size && (body[pos] == ' ' || body[pos] == '\t'))
            ++pos;
        if (pos < size && body[pos] == ';') {
            while (pos < size && body[pos] != '\r' && body[pos] != '\n')
                ++pos;
        }
        if (pos + 2 > size || body[pos] != '\r' || body[pos + 1] != '\n')
            return false;
        pos += 2;
        if (value == 0)
            return true;
        if (value > size - pos || size - pos - value < 2 || body[pos + value] != '\r' ||
            body[pos + value + 1] != '\n')
            return false;
        out->append(reinterpret_cast<const char*>(body + pos), value);
        pos += value + 2;
        chunks = true;
    }
}

struct Job {
    size_t capacity;
    std::unique_ptr<uint8_t[]> a, b;
    fluxmere::fuzzing::PieceChunkSource* source;
    CRTPReceiver* receiver;
    std::string stored;
    bool chunk = false;
    bool ended = false;
    bool whole = false;
};

void StoreTail(const uint8_t* data, int32_t size, void* context) {
    static_cast<Job*>(context)->stored.append(reinterpret_cast<const char*>(data), size);
}

uint8_t* OnChunk(uint8_t* data, int32_t size, void* context) {
    Job* job = static_cast<Job*>(context);
    if (size == 0) {
        if (!job->ended && job->receiver->PeerClosed()) {
            job->ended = true;
            const int32_t held = job->receiver->HeldBytes();
            if (held < 0 || static_cast<size_t>(held) > job->capacity)
                std::abort();
            job->whole = fluxmere::ReadBodyTail(data, static_cast<size_t>(held), job->chunk, false,
                                                StoreTail, job);
        }
        job->source->closed = true;
        return nullptr;
    }
    job->chunk = true;
    job->stored.append(reinterpret_cast<const char*>(data), size);
    const bool inA = data >= job->a.get() && data < job->a.get() + job->capacity;
    return inA ? job->b.get() : job->a.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size < 5)
        return 0;
    Job job;
    job.capacity = CRTPReceiver::kReadSize + 129 + static_cast<size_t>(data[0]) * 64;
    uint32_t seed;
    std::memcpy(&seed, data + 1, 4);
    const uint8_t* body = data + 5;
    const size_t bodySize = size - 5;
    fuzzing::Pieces pieces(body, bodySize, seed);
    fuzzing::PieceChunkSource source(pieces);
    CRTPReceiver receiver;
    job.source = &source;
    job.receiver = &receiver;
    job.a.reset(new uint8_t[job.capacity]);
    job.b.reset(new uint8_t[job.capacity]);
    receiver.SetStopPollMsForTesting(0);
    receiver.SetStrictFraming(true);
    receiver.SetBuffer(job.a.get(), job.capacity);
    receiver.SetCallback(OnChunk, &job);
    const int32_t result = receiver.RunOn(source);

    const bool whole =
        job.whole && result != CRTPReceiver::kBadFraming && result != CRTPReceiver::kChunkTooLarge;
    std::string decoded;
    const bool decodable = Decode(body, bodySize, &decoded);
    if (whole && (!decodable || job.stored != decoded))
        std::abort();  // a clip stored as complete that is not the body
    if (!whole && decodable && decoded.size() + 64 < job.capacity - CRTPReceiver::kReadSize &&
        bodySize + 64 < job.capacity - CRTPReceiver::kReadSize)
        std::abort();  // a whole body that fits the buffer refused
    return 0;
}
