#pragma once
// The rule for a port in a device URL, shared by the fluxmere tool and the Windows viewer.

#include <cstdint>
#include <string>

namespace fluxmere::cli {

// The device's ports are fixed (RTSP 554, the export 80), so "rtsp://HOST:554/PATH" is the same
// stream as "rtsp://HOST/PATH": a URL naming its fixed port has the port dropped from *url (with
// it, the host would not read as an address). Any other port is refused: false with *error saying
// the rule. what names the port in that message ("RTSP").
bool DropFixedPort(std::string* url, uint16_t port, const char* what, std::string* error);

}  // namespace fluxmere::cli
