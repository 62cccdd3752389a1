// The viewer's chunk receiver (lenient size lines) on a hostile media connection, cut into reads
// at random points. Input: one byte for the buffers' room beyond the minimum, four bytes of split
// seed, then the bytes on the wire. The two buffers are heap blocks of exactly their capacity, so
// ASan catches any access past them; every chunk handed over must lie inside the buffer it is in.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/streaming/chunk_source.h"

namespace {

volatile uint8_t gSink;  // keeps the reads of every chunk byte

struct Run {
    size_t capacity;
    std::unique_ptr<uint8_t[]> a, b;
    fluxmere::fuzzing::PieceChunkSource* source;
};

bool Inside(const uint8_t* data, int32_t size, const uint8_t* buffer, size_t capacity) {
    return data >= buffer && size >= 0 && static_cast<size_t>(data - buffer) <= capacity &&
           static_cast<size_t>(size) <= capacity - static_cast<size_t>(data - buffer);
}

uint8_t* OnChunk(uint8_t* data, int32_t size, void* context) {
    Run* run = static_cast<Run*>(context);
    if (size == 0) {
        run->source->closed = true;  // as the viewer does on every notice
        return nullptr;
    }
    const bool inA = Inside(data, size, run->a.get(), run->capacity);
    if (!inA && !Inside(data, size, run->b.get(), run->capacity))
        std::abort();
    uint8_t sum = 0;
    for (int32_t i = 0; i < size; ++i)
        sum ^= data[i];  // every byte of the chunk is readable
    gSink = sum;
    return inA ? run->b.get() : run->a.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size < 5)
        return 0;
    Run run;
    run.capacity = CRTPReceiver::kReadSize + 129 + static_cast<size_t>(data[0]) * 64;
    uint32_t seed;
    std::memcpy(&seed, data + 1, 4);
    fuzzing::Pieces pieces(data + 5, size - 5, seed);
    fuzzing::PieceChunkSource source(pieces);
    run.source = &source;
    run.a.reset(new uint8_t[run.capacity]);
    run.b.reset(new uint8_t[run.capacity]);

    CRTPReceiver receiver(0);  // no wait for a stop request that never comes
    receiver.SetBuffer(run.a.get(), run.capacity);
    receiver.SetCallback(OnChunk, &run);
    receiver.RunOn(source);
    return 0;
}
