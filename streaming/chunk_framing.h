#pragma once
// The size line of a chunk (hex digits, CR LF, then the chunk's data and its CR LF), read by two
// rules:
//
// - Lenient, for the chunk receiver on the live path: every byte before the line's CR LF is taken
//   as a hex digit and any other byte counts as 0 ("1x" reads as 16). The device's media stream
//   has always been read this way and a frame that comes out wrong is dropped by the hand-off's
//   own checks, so the stream goes on.
// - Strict, HTTP/1.1's chunk-size line, for the whole of a download's body: hex digits, at least
//   one, then optional blanks and ";" extensions (ignored) up to CR LF. A download stores the
//   body byte for byte and must never take framing bytes for clip data, so any other line ends it
//   as failed: "400;q" is 0x400 bytes, "-400" and "1x" are no size at all.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

// True when bytes[pos] and bytes[pos + 1] are CR LF within held bytes.
bool LineBreakAt(const uint8_t* bytes, size_t held, size_t pos);

// The lenient rule over the line's bytes (its CR LF excluded). A value beyond limit gives
// limit + 1, however long the line.
uint64_t LenientChunkSize(const uint8_t* line, size_t length, uint64_t limit);

// The strict rule over the line's bytes (its CR LF excluded). False when the line is not a chunk
// size; otherwise *size is its value, limit + 1 for any value beyond limit.
bool StrictChunkSize(const uint8_t* line, size_t length, uint64_t limit, uint64_t* size);

// The strict rule for the line that starts at pos. On success *size is the value and *next the
// first byte after the CR LF. False when the line is not a chunk size, does not end within held
// bytes, or gives a value beyond limit.
bool ReadStrictSizeLine(const uint8_t* bytes, size_t held, size_t pos, size_t limit, size_t* size,
                        size_t* next);

}  // namespace fluxmere
