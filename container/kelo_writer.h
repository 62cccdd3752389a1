#pragma once
// Writers for the kelo records: the exact inverse of the parsers in kelo.h. Used by the device
// stand-in and by tests. Every writer takes the capacity of its output and writes nothing and
// returns 0 when the record does not fit; otherwise it returns the number of bytes written.

#include <cstddef>
#include <cstdint>

#include "container/kelo.h"

namespace fluxmere {

// Big-endian stores and loads shared by the readers and writers.
inline void StoreBE32(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}
inline uint32_t LoadBE32(const uint8_t* in) {
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

// Sizes of records as the writers below produce them.
size_t ParameterListSize(const CKeloParameterList& list);
size_t StreamHeaderSize(const CKelo& stream);
size_t MediaFrameHeaderSize(const CKeloMediaFrame& frame);

// The stream header (without the 8 leading bytes of a stream description): version, the track
// count (at most 255 tracks), the tracks with their lists from version 2 on, and the stream
// parameters from version 3 on.
size_t WriteStreamHeader(const CKelo& stream, uint8_t* out, size_t capacity);

// A media frame header as frame.version lays it out; payloadSize is written as the field holds it.
size_t WriteMediaFrameHeader(const CKeloMediaFrame& frame, uint8_t* out, size_t capacity);

// A block: BE32 header length L, the header, `headerPadding` zero bytes that count into L, then
// the payload. The header's payloadSize field is written as payloadLength, so the block is
// consistent whatever the field held.
size_t WriteBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t payloadLength,
                  uint8_t* out, size_t capacity, uint32_t headerPadding = 0);

// Size of the block WriteBlock would write.
size_t BlockSize(const CKeloMediaFrame& header, uint32_t payloadLength, uint32_t headerPadding = 0);

}  // namespace fluxmere
