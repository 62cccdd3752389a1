// The two rules for a chunk's size line, side by side over the same lines.
#include "streaming/chunk_framing.h"

#include <gtest/gtest.h>

#include <string>

namespace fluxmere {
namespace {

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

TEST(ChunkFraming, LenientAndStrictRulesOverTheSameSizeLines) {
    constexpr size_t kLimit = 4096;
    struct Case {
        std::string line;  // without its CR LF
        uint64_t lenient;
        bool strictValid;  // the line followed by CR LF
        size_t strict;
    } cases[] = {
        {"0", 0, true, 0},
        {"1a", 26, true, 26},
        {"FF", 255, true, 255},
        {"1000", kLimit, true, kLimit},  // the limit itself
        {"1x", 16, false, 0},            // a byte that is not a digit counts as 0
        {" 10", 16, false, 0},
        {"", 0, false, 0},                 // no digit at all
        {"10;ext", kLimit + 1, true, 16},  // an extension: the lenient value saturates
        {"400;q", kLimit + 1, true, 0x400},
        {"400 ;name=value", kLimit + 1, true, 0x400},
        {"1a\t", 0x1a0, true, 26},        // blanks after the digits
        {"-400", 0x400, false, 0},        // no sign
        {"400 x", kLimit + 1, false, 0},  // anything but an extension after the blanks
        {";q", 0, false, 0},              // an extension without a size
        {"40\n0", kLimit + 1, false, 0},  // a bare LF inside the line
        {"1001", kLimit + 1, false, 0},   // just beyond the limit
        {"FFFFFFFFFFFFFFFFFFFF", kLimit + 1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.line));
        EXPECT_EQ(LenientChunkSize(Bytes(c.line), c.line.size(), kLimit), c.lenient);

        const std::string held = c.line + "\r\ndata";
        size_t size = 99, next = 99;
        EXPECT_EQ(ReadStrictSizeLine(Bytes(held), held.size(), 0, kLimit, &size, &next),
                  c.strictValid);
        if (c.strictValid) {
            EXPECT_EQ(size, c.strict);
            EXPECT_EQ(next, c.line.size() + 2);
        }
    }
}

TEST(ChunkFraming, StrictLineMustEndWithinTheHeldBytes) {
    struct Case {
        std::string held;
        size_t pos;
        bool valid;
        size_t size;
        size_t next;
    } cases[] = {
        {"\r\n1A\r\nxyz", 2, true, 26, 6},  // after the CR LF that ends the chunk before
        {"1A", 0, false, 0, 0},
        {"1A\r", 0, false, 0, 0},
        {"1A\n\r", 0, false, 0, 0},
        {"1A\r\n", 0, true, 26, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.held));
        size_t size = 0, next = 0;
        ASSERT_EQ(ReadStrictSizeLine(Bytes(c.held), c.held.size(), c.pos, 4096, &size, &next),
                  c.valid);
        if (c.valid) {
            EXPECT_EQ(size, c.size);
            EXPECT_EQ(next, c.next);
        }
    }
}

}  // namespace
}  // namespace fluxmere
