// The socket helpers that every backend shares, built on the calls of the backend.

#include <cstdio>

#include "platform/socket.h"

namespace fluxmere::platform {

bool SendAll(SocketHandle s, const void* data, int length) {
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const int sent = SendSocket(s, bytes, length);
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= sent;
    }
    return length == 0;  // a negative length is refused
}

void FormatAddress(uint32_t address, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    // Network byte order: the first octet is the lowest-addressed byte.
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    std::snprintf(text, size, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace fluxmere::platform
