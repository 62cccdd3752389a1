#pragma once
// The viewer's URL grammar: "rtsp://" host "/" path.

#include <cstdint>

namespace fluxmere {

// Host and path are each held in 256 bytes with their terminator (the RTSP client's fields).
constexpr int kUrlPartCapacity = 256;

struct StreamUrl {
    char host[kUrlPartCapacity];
    char path[kUrlPartCapacity];
};

// Splits url into host and path. Refused (false): a null url; one that does not begin with exactly
// "rtsp://" (case matters); no "/" after the host; a host shorter than 2 characters; a host or
// path that does not fit its 256 bytes; control characters in host or path (they would end the
// RTSP request line and let the page forge header lines). The path may be empty.
bool ParseStreamUrl(const char* url, StreamUrl* out);

// inet_addr of the host text: the device's address in network byte order, or none (all bits set)
// for a name or an address followed by ":" and a port.
uint32_t HostAddress(const StreamUrl& url);

}  // namespace fluxmere
