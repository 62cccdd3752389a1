#include "tests/support/loopback.h"

namespace fluxmere::testing {

namespace {
#if defined(_WIN32)
constexpr int kBuildOctet = 20;
#elif defined(__SANITIZE_THREAD__)
constexpr int kBuildOctet = 11;  // the ThreadSanitizer tree may run beside the native one
#else
constexpr int kBuildOctet = 10;
#endif
}  // namespace

std::string LoopbackText(Suite suite, int index) {
    return "127." + std::to_string(kBuildOctet) + "." + std::to_string(static_cast<int>(suite)) +
           "." + std::to_string(index);
}

uint32_t LoopbackAddress(Suite suite, int index) {
    // Network byte order: the first octet is the lowest-addressed byte.
    const uint8_t bytes[4] = {127, static_cast<uint8_t>(kBuildOctet),
                              static_cast<uint8_t>(static_cast<int>(suite)),
                              static_cast<uint8_t>(index)};
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

}  // namespace fluxmere::testing
