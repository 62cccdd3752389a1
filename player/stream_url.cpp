#include "player/stream_url.h"

#include <cstring>

#include "platform/socket.h"

namespace fluxmere {

namespace {

constexpr char kScheme[] = "rtsp://";
constexpr size_t kSchemeLength = sizeof kScheme - 1;
constexpr size_t kMinHostLength = 2;

bool HasControlCharacter(const char* begin, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(begin[i]);
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

}  // namespace

bool ParseStreamUrl(const char* url, StreamUrl* out) {
    if (url == nullptr || out == nullptr)
        return false;
    if (std::strncmp(url, kScheme, kSchemeLength) != 0)
        return false;
    const char* host = url + kSchemeLength;
    const char* slash = std::strchr(host, '/');
    if (slash == nullptr)
        return false;
    const size_t hostLength = static_cast<size_t>(slash - host);
    const char* path = slash + 1;
    const size_t pathLength = std::strlen(path);
    if (hostLength < kMinHostLength)
        return false;
    if (hostLength >= static_cast<size_t>(kUrlPartCapacity) ||
        pathLength >= static_cast<size_t>(kUrlPartCapacity)) {
        return false;
    }
    if (HasControlCharacter(host, hostLength) || HasControlCharacter(path, pathLength)) {
        return false;
    }
    std::memcpy(out->host, host, hostLength);
    out->host[hostLength] = '\0';
    std::memcpy(out->path, path, pathLength + 1);
    return true;
}

uint32_t HostAddress(const StreamUrl& url) {
    return platform::InetAddr(url.host);
}

}  // namespace fluxmere
