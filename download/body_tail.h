#pragma once
// The end of a chunked body. The chunk receiver hands over a chunk only once it holds more than
// 128 bytes, so when the device closes the connection the last small chunks of a body and the
// terminating chunk of size 0 may still sit in its buffer. They are read here.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

using TailChunkSink = void (*)(const uint8_t* data, int32_t size, void* context);

// bytes are the held bytes from the receiver buffer's start (a leading CR LF ends the chunk handed
// over before). Calls sink for every complete chunk, in order, and returns true when the
// terminating chunk (size 0) follows them. False when the body was cut: inside a size line, inside
// a chunk's data or its closing CR LF, or with no terminating chunk at all.
bool ReadBodyTail(const uint8_t* bytes, size_t held, TailChunkSink sink, void* context);

}  // namespace fluxmere
