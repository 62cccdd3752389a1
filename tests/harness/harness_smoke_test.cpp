// Runs natively and, cross-compiled, under wine64: proves that both test paths build, run and
// report, and that each side gets the loopback addresses and environment it relies on.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/loopback.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

#if defined(_WIN32) && !defined(_WIN64)
constexpr int kBuildOctet = 21;
#elif defined(_WIN32)
constexpr int kBuildOctet = 20;
#else
constexpr int kBuildOctet = 10;
#endif

// A checkout may move its addresses (FLUXMERE_LOOPBACK_SHIFT) to run beside another one.
int ExpectedBuildOctet() {
    const char* shift = std::getenv("FLUXMERE_LOOPBACK_SHIFT");
    return kBuildOctet + (shift != nullptr ? std::atoi(shift) : 0);
}

TEST(HarnessSmoke, LoopbackAddressesAreDistinctPerBuildSuiteAndIndex) {
    struct Case {
        Suite suite;
        int index;
    };
    const Case cases[] = {{Suite::Harness, 1}, {Suite::Streaming, 7}, {Suite::Module, 254}};
    for (const Case& c : cases) {
        const int suite = static_cast<int>(c.suite);
        const std::string expected = "127." + std::to_string(ExpectedBuildOctet()) + "." +
                                     std::to_string(suite) + "." + std::to_string(c.index);
        EXPECT_EQ(LoopbackText(c.suite, c.index), expected);

        // Network byte order: the bytes in memory read 127, build, suite, index.
        const uint32_t address = LoopbackAddress(c.suite, c.index);
        unsigned char bytes[4];
        std::memcpy(bytes, &address, sizeof bytes);
        EXPECT_EQ(bytes[0], 127);
        EXPECT_EQ(bytes[1], ExpectedBuildOctet());
        EXPECT_EQ(bytes[2], suite);
        EXPECT_EQ(bytes[3], c.index);
    }
}

#ifdef _WIN32
// wine-run.sh must hand every test its capture file and a writable scratch folder.
TEST(HarnessSmoke, WineRunnerProvidesCaptureAndScratchFolder) {
    ASSERT_NE(std::getenv("FLUXMERE_AUDIO_CAPTURE"), nullptr);
    const std::string scratch = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
    ASSERT_FALSE(scratch.empty());

    const std::string probe = scratch + "\\probe.txt";
    std::FILE* file = std::fopen(probe.c_str(), "wb");
    ASSERT_NE(file, nullptr) << probe;
    std::fputs("written under Wine", file);
    std::fclose(file);
    file = std::fopen(probe.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    char text[32] = {};
    std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    EXPECT_STREQ(text, "written under Wine");
}
#endif

}  // namespace
}  // namespace fluxmere::testing
