// The download's body framing: the chunk receiver with HTTP/1.1 (strict) size lines, which
// hands the body's last chunks over when the device closes, on any body, cut into reads at
// random points.
// Input: one byte for the buffers' room, four bytes of split seed, then the body. What the job
// would store as a whole clip must be exactly what a plain HTTP/1.1 chunk decoder makes of the
// body, and the decoder must agree that the body was whole.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/streaming/chunk_source.h"
#include "fuzz/streaming/plain_chunked.h"

namespace {

using fluxmere::CRTPReceiver;

struct Job {
    size_t capacity;
    std::unique_ptr<uint8_t[]> a, b;
    fluxmere::fuzzing::PieceChunkSource* source;
    std::string stored;
};

uint8_t* OnChunk(uint8_t* data, int32_t size, void* context) {
    Job* job = static_cast<Job*>(context);
    if (size == 0) {
        job->source->closed = true;  // as the job does on every notice
        return nullptr;
    }
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
    CRTPReceiver receiver(0);  // no wait for a stop request that never comes
    job.source = &source;
    job.a.reset(new uint8_t[job.capacity]);
    job.b.reset(new uint8_t[job.capacity]);
    receiver.SetRule(ChunkRule::Strict);
    receiver.SetBuffer(job.a.get(), job.capacity);
    receiver.SetCallback(OnChunk, &job);
    const int32_t result = receiver.RunOn(source);

    // As the job judges it: the close's notice, and no framing error.
    const bool whole = receiver.LastNotice().BodyWhole() && result != CRTPReceiver::kBadFraming &&
                       result != CRTPReceiver::kChunkTooLarge;
    std::string decoded;
    const bool decodable = fuzzing::PlainChunkedBody(body, bodySize, &decoded) != BodyEnd::Cut;
    if (whole && (!decodable || job.stored != decoded))
        std::abort();  // a clip stored as complete that is not the body
    if (!whole && decodable && decoded.size() + 64 < job.capacity - CRTPReceiver::kReadSize &&
        bodySize + 64 < job.capacity - CRTPReceiver::kReadSize)
        std::abort();  // a whole body that fits the buffer refused
    return 0;
}
