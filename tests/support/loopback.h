#pragma once
// Each test talks to its own loopback address, so that tests (and the native and Wine runs of the
// same test) can run side by side although the device's ports 554 and 80 are fixed.
//
// Addresses are 127.B.S.I: B is 10 for native builds, 11 for the ThreadSanitizer build, 20 for
// the x86_64 Windows build under wine64 and 21 for the i686 one under 32-bit Wine,
// S the suite below, I an index the suite hands out to its tests (1..254).

#include <cstdint>
#include <string>

namespace fluxmere::testing {

enum class Suite : int {
    Harness = 1,
    Platform = 2,
    Streaming = 3,
    Device = 4,
    Player = 5,
    Download = 6,
    Tools = 7,
    Container = 8,
    Decode = 9,
    Module = 10,
    Packaging = 11,  // tests/packaging/installer_test.sh computes its address itself
    Soak = 12,       // the soak (tests/soak/), a benchmark beside the tests
};

// Dotted text of the address, e.g. "127.10.5.3".
std::string LoopbackText(Suite suite, int index);

// The same address as inet_addr gives it (network byte order).
uint32_t LoopbackAddress(Suite suite, int index);

}  // namespace fluxmere::testing
