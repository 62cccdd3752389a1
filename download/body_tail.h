#pragma once
// The end of a chunked body. The chunk receiver hands over a chunk only once it holds more than
// 128 bytes, so when the device closes the connection the last small chunks of a body and the
// terminating chunk of size 0 may still sit in its buffer. They are read here.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

using TailChunkSink = void (*)(const uint8_t* data, int32_t size, void* context);

// bytes are the held bytes from the receiver buffer's start; afterChunk: a chunk was handed over
// before, so its closing CR LF comes first. Calls sink for every complete chunk, in order, and
// returns true when the body is whole: the terminating chunk (size 0) follows them, or, unless
// needTerminator, nothing does after at least one chunk (the device closed at a chunk boundary;
// the terminating chunk has no effect of its own). False when the body was cut: inside a size
// line, inside a chunk's data or its closing CR LF, or before any chunk. Size lines follow the
// strict rule of chunk_framing.h; what follows the terminating chunk (trailers) is ignored.
bool ReadBodyTail(const uint8_t* bytes, size_t held, bool afterChunk, bool needTerminator,
                  TailChunkSink sink, void* context);

}  // namespace fluxmere
