#pragma once
// The chunk decoder: cuts the bytes of a chunked stream (a hex size line, CR LF, the data, CR LF,
// chunk after chunk) into chunks. Bytes in, chunk events out: it reads no socket and keeps no
// time, so the receive loop (rtp_receiver.h), the end of a download's body and the fuzzers share
// one reading of the framing.
//
// Two rules read a size line:
// - Lenient, for the live stream: every byte before the line's CR LF is taken as a hex digit and
//   any other byte counts as 0 ("1x" reads as 16). A CR LF at the start is skipped whether or not
//   a chunk came before. The device's media stream has always been read this way, and a frame that
//   comes out wrong is dropped by the hand-off's own checks, so the stream goes on.
// - Strict, HTTP/1.1's chunked body, for a download that stores the body byte for byte and must
//   never take framing bytes for clip data: hex digits, at least one, then optional blanks and ";"
//   extensions (ignored) up to CR LF, and every chunk's data followed by CR LF. Any other line
//   ends the body as bad: "400;q" is 0x400 bytes, "-400" and "1x" are no size at all.
//
// The decoder works on the bytes held from the start of the caller's buffer and never copies
// them: a chunk is reported by its place in those bytes. Between two chunks every call sees the
// same bytes with more appended; after a chunk the caller drops the bytes up to the chunk's end
// and starts the next call's bytes with those that followed it (its CR LF comes first).
//
// A chunk of size 0 is never reported: under either rule the decoder then waits for bytes that
// never come, which is how the live stream has always treated it. For a body it is the
// terminating chunk, which EndHere reports.

#include <cstddef>
#include <cstdint>

namespace fluxmere {

enum class ChunkRule : int32_t { Lenient, Strict };

struct ChunkEvent {
    enum class Kind : int32_t {
        NeedMore,    // the size line or the data is not complete yet
        Chunk,       // a complete chunk: its data is bytes[data, data + size), size > 0
        BadFraming,  // strict rule: not a size line, or data not followed by CR LF
        TooLarge,    // a chunk (size line and data) beyond the decoder's limit
    };
    Kind kind = Kind::NeedMore;
    size_t data = 0;
    size_t size = 0;

    size_t end() const { return data + size; }  // where the bytes after the chunk start
};

// How a body stands where the held bytes end, read as HTTP/1.1's chunked coding.
enum class BodyEnd : int32_t {
    Cut,              // inside a size line, a chunk's data or its CR LF, or before any chunk
    AtChunkBoundary,  // right after a chunk's data and its CR LF: whole if the peer ended there
    Terminated,       // the terminating chunk's size line has come (trailers do not matter)
};

class ChunkDecoder {
public:
    // limit: the longest chunk, size line and data, the caller can hold (at most half the
    // address space, which no buffer reaches).
    ChunkDecoder(ChunkRule rule, uint64_t limit)
        : rule_(rule), limit_(limit < kMaxLimit ? limit : kMaxLimit) {}

    // The next event over the bytes held. BadFraming and TooLarge are final: every later call
    // gives them again.
    ChunkEvent Next(const uint8_t* bytes, size_t held);

    // Once the size line of the chunk under way has been read: where its data ends in the held
    // bytes; 0 before that, and for a chunk of size 0.
    size_t PendingEnd() const { return size_ > 0 ? lineLength_ + size_ : 0; }

    // With no byte to follow those held, once Next has taken every chunk they complete (its last
    // answer was not Chunk): whether the body is cut, ends at a chunk boundary or has come to its
    // terminating chunk.
    BodyEnd EndHere(const uint8_t* bytes, size_t held) const;

private:
    static constexpr uint64_t kMaxLimit = SIZE_MAX / 2;

    ChunkEvent Fail(ChunkEvent::Kind kind);

    const ChunkRule rule_;
    const uint64_t limit_;
    ChunkEvent::Kind failed_ = ChunkEvent::Kind::NeedMore;  // BadFraming or TooLarge once final
    bool afterChunk_ = false;  // a chunk was reported: its CR LF starts the bytes
    size_t lineLength_ = 0;    // 0 until the size line, its leading CR LF and its own, is read
    size_t size_ = 0;          // the size line's value, once read
    size_t scan_ = 0;          // where the search for the line's CR LF goes on
};

}  // namespace fluxmere
