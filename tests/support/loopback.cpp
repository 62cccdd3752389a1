#include "tests/support/loopback.h"

#include <cstdlib>

namespace fluxmere::testing {

namespace {
#if defined(_WIN32) && !defined(_WIN64)
constexpr int kBuildOctet = 21;  // the i686 tree may run beside the x86_64 one
#elif defined(_WIN32)
constexpr int kBuildOctet = 20;
#elif defined(__SANITIZE_THREAD__)
constexpr int kBuildOctet = 11;  // the ThreadSanitizer tree may run beside the native one
#else
constexpr int kBuildOctet = 10;
#endif

// FLUXMERE_LOOPBACK_SHIFT moves every address of a checkout by that much in the second octet, so
// that two checkouts on one machine can run their tests at the same time.
int BuildOctet() {
    static const int octet = [] {
        const char* shift = std::getenv("FLUXMERE_LOOPBACK_SHIFT");
        const int value = shift != nullptr ? std::atoi(shift) : 0;
        return value > 0 && kBuildOctet + value <= 255 ? kBuildOctet + value : kBuildOctet;
    }();
    return octet;
}
}  // namespace

std::string LoopbackText(Suite suite, int index) {
    return "127." + std::to_string(BuildOctet()) + "." + std::to_string(static_cast<int>(suite)) +
           "." + std::to_string(index);
}

uint32_t LoopbackAddress(Suite suite, int index) {
    // Network byte order: the first octet is the lowest-addressed byte.
    const uint8_t bytes[4] = {127, static_cast<uint8_t>(BuildOctet()),
                              static_cast<uint8_t>(static_cast<int>(suite)),
                              static_cast<uint8_t>(index)};
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

}  // namespace fluxmere::testing
