// Dotted text of an IPv4 address, the same on every backend.

#include <cstdio>

#include "platform/socket.h"

namespace fluxmere::platform {

void FormatAddress(uint32_t address, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    // Network byte order: the first octet is the lowest-addressed byte.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(text, size, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace fluxmere::platform
