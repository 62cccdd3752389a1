// The chunk decoder: the two rules for a size line side by side over the same lines, bytes that
// arrive in any pieces, and how a body stands where its bytes end.
#include "streaming/chunk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fluxmere {
namespace {

using Kind = ChunkEvent::Kind;

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// What one rule makes of a size line: a chunk of that size, a wait for more bytes (size 0),
// bad framing or a chunk too large.
struct Outcome {
    Kind kind;
    size_t size = 0;
};
Outcome Size(size_t size) {
    return {Kind::Chunk, size};
}
const Outcome kWait{Kind::NeedMore};
const Outcome kBad{Kind::BadFraming};
const Outcome kLarge{Kind::TooLarge};

TEST(ChunkDecoder, LenientAndStrictRulesOverTheSameSizeLines) {
    // A chunk of 0x1000 bytes with its 6-byte size line is the largest that fits.
    constexpr uint64_t kLimit = 0x1000 + 6;
    struct Case {
        std::string line;  // without its CR LF
        Outcome lenient;
        Outcome strict;
    } cases[] = {
        {"0", kWait, kWait},  // a chunk of size 0 is never handed over
        {"1a", Size(26), Size(26)},
        {"FF", Size(255), Size(255)},
        {"1000", Size(0x1000), Size(0x1000)},  // the limit itself
        {"1001", kLarge, kLarge},              // just beyond it
        {"1x", Size(16), kBad},                // a byte that is not a digit counts as 0
        {" 10", Size(16), kBad},
        {"", kWait, kBad},             // no digit at all
        {"10;ext", kLarge, Size(16)},  // an extension: the lenient value is huge
        {"400;q", kLarge, Size(0x400)},
        {"400 ;name=value", kLarge, Size(0x400)},
        {"1a\t", Size(0x1a0), Size(26)},  // blanks after the digits
        {"-400", Size(0x400), kBad},      // no sign
        {"400 x", kLarge, kBad},          // anything but an extension after the blanks
        {";q", kWait, kBad},              // an extension without a size
        {"40\n0", kLarge, kBad},          // a bare LF inside the line
        {"FFFFFFFFFFFFFFFFFFFF", kLarge, kLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.line));
        const std::string held = c.line + "\r\n" + std::string(0x1100, 'd');
        for (const ChunkRule rule : {ChunkRule::Lenient, ChunkRule::Strict}) {
            const Outcome& expected = rule == ChunkRule::Lenient ? c.lenient : c.strict;
            ChunkDecoder decoder(rule, kLimit);
            const ChunkEvent event = decoder.Next(Bytes(held), held.size());
            ASSERT_EQ(event.kind, expected.kind)
                << (rule == ChunkRule::Strict ? "strict" : "lenient");
            if (event.kind == Kind::Chunk) {
                EXPECT_EQ(event.data, c.line.size() + 2);
                EXPECT_EQ(event.size, expected.size);
            }
            if (event.kind == Kind::BadFraming || event.kind == Kind::TooLarge) {
                EXPECT_EQ(decoder.Next(Bytes(held), held.size()).kind, event.kind) << "final";
            }
        }
    }
}

// Feeds bytes to a decoder as a receive loop does (pieces of `piece` bytes; after a chunk, the
// bytes up to its end are dropped) and logs the chunks' data, then "!" for an error.
std::vector<std::string> Decode(ChunkRule rule, const std::string& stream, size_t piece) {
    ChunkDecoder decoder(rule, 1 << 20);
    std::vector<std::string> log;
    std::string held;
    for (size_t at = 0; at < stream.size();) {
        held += stream.substr(at, piece);
        at += piece;
        for (;;) {
            const ChunkEvent event = decoder.Next(Bytes(held), held.size());
            if (event.kind == Kind::NeedMore)
                break;
            if (event.kind != Kind::Chunk) {
                log.push_back("!");
                return log;
            }
            EXPECT_LE(event.end(), held.size());
            log.push_back(held.substr(event.data, event.size));
            held.erase(0, event.end());
        }
    }
    return log;
}

TEST(ChunkDecoder, PiecesOfAnySizeGiveTheSameChunks) {
    using Log = std::vector<std::string>;
    const std::string data(300, 'x');
    struct Case {
        const char* what;
        ChunkRule rule;
        std::string stream;
        Log chunks;
    } cases[] = {
        {"strict, with an extension", ChunkRule::Strict,
         "3\r\nabc\r\n12c;q=1\r\n" + data + "\r\n1\r\nZ\r\n0\r\n\r\n", Log{"abc", data, "Z"}},
        {"strict, data not followed by CR LF", ChunkRule::Strict, "3\r\nabcX\r\n1\r\nZ\r\n",
         Log{"abc", "!"}},
        {"strict, a CR LF before the first line", ChunkRule::Strict, "\r\n3\r\nabc\r\n", Log{"!"}},
        {"lenient: any leading CR LF is skipped", ChunkRule::Lenient,
         "\r\n3\r\nabc\r\n1x\r\n" + std::string(16, 'y') + "\r\n1\r\nZ\r\n",
         Log{"abc", std::string(16, 'y'), "Z"}},
        {"lenient: after a chunk of size 0 nothing more", ChunkRule::Lenient,
         "1\r\nA\r\n0\r\n\r\n1\r\nB\r\n", Log{"A"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const size_t piece : {size_t{1}, size_t{2}, size_t{5}, c.stream.size()}) {
            EXPECT_EQ(Decode(c.rule, c.stream, piece), c.chunks) << "pieces of " << piece;
        }
    }
}

TEST(ChunkDecoder, PendingEndTellsWhereTheDataUnderWayEnds) {
    ChunkDecoder decoder(ChunkRule::Strict, 1 << 20);
    const std::string start = "1f4\r\n" + std::string(100, 'd');
    EXPECT_EQ(decoder.PendingEnd(), 0u);
    EXPECT_EQ(decoder.Next(Bytes(start), 3).kind, Kind::NeedMore);
    EXPECT_EQ(decoder.PendingEnd(), 0u) << "the size line is not complete";
    EXPECT_EQ(decoder.Next(Bytes(start), start.size()).kind, Kind::NeedMore);
    EXPECT_EQ(decoder.PendingEnd(), 5u + 500u);
}

// The end of a body, held when the transfer ends. Whole when it has its terminating chunk, or,
// where the peer closed in order, at a chunk boundary; cut anywhere else.
TEST(ChunkDecoder, BodyEndsWhereItsBytesEnd) {
    struct Case {
        std::string held;
        bool afterChunk;  // the held bytes follow a chunk ("#") that was handed over before
        BodyEnd end;
        std::string data;  // the chunks the held bytes complete
    } cases[] = {
        {"0\r\n\r\n", false, BodyEnd::Terminated, ""},  // empty body
        {"\r\n0\r\n\r\n", true, BodyEnd::Terminated, ""},
        {"\r\n0\r\n", true, BodyEnd::Terminated, ""},  // without the trailer's blank line
        {"\r\n0;x\r\nTrailer: 1\r\n\r\n", true, BodyEnd::Terminated, ""},
        {"1\r\nX\r\n0\r\n\r\n", false, BodyEnd::Terminated, "X"},  // a one-byte clip
        {"\r\n3\r\nabc\r\n2;q\r\nde\r\n0\r\n\r\n", true, BodyEnd::Terminated, "abcde"},
        {"\r\nA\r\n0123456789\r\n0\r\n\r\n", true, BodyEnd::Terminated, "0123456789"},
        {"\r\n", true, BodyEnd::AtChunkBoundary, ""},  // ended right after a chunk
        {"\r\n3\r\nabc\r\n", true, BodyEnd::AtChunkBoundary, "abc"},
        {"1\r\nX\r\n", false, BodyEnd::AtChunkBoundary, "X"},
        {"", false, BodyEnd::Cut, ""},  // nothing at all
        {"", true, BodyEnd::Cut, ""},   // inside the CR LF after a chunk's data
        {"\r", true, BodyEnd::Cut, ""},
        {"\r\n5\r\nabc", true, BodyEnd::Cut, ""},               // inside a chunk's data
        {"\r\n3\r\nabcX0\r\n\r\n", true, BodyEnd::Cut, "abc"},  // data not followed by CR LF
        {"\r\n1", true, BodyEnd::Cut, ""},                      // inside a size line
        {"\r\nz\r\n", true, BodyEnd::Cut, ""},                  // not a size line
        {"\r\n-3\r\nabc\r\n", true, BodyEnd::Cut, ""},
        {"\r\nFFFFFFFFFFFFFFFFFFFF\r\n", true, BodyEnd::Cut, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.held) + (c.afterChunk ? " after a chunk" : ""));
        std::string held = (c.afterChunk ? "1\r\n#" : "") + c.held;
        std::string data;
        ChunkDecoder decoder(ChunkRule::Strict, 1 << 20);
        for (ChunkEvent event = decoder.Next(Bytes(held), held.size()); event.kind == Kind::Chunk;
             event = decoder.Next(Bytes(held), held.size())) {
            data += held.substr(event.data, event.size);
            held.erase(0, event.end());
        }
        EXPECT_EQ(decoder.EndHere(Bytes(held), held.size()), c.end);
        EXPECT_EQ(data, (c.afterChunk ? "#" : "") + c.data);
    }
}

}  // namespace
}  // namespace fluxmere
