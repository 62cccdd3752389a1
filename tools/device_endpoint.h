#pragma once
// The device as the tool's commands reach it: which address a URL leads to, and the reason a
// connection cannot be made, in the system's words.

#include <cstdint>
#include <string>

#include "tools/cli_args.h"

namespace fluxmere::cli {

// --default-device A: the device address used when a URL's host is not a dotted address (the
// tool never contacts the built-in link-local default when it is given).
extern const FlagSpec kDefaultDeviceFlag;
bool ApplyDefaultDevice(Args* args);

// The address a session or a download connects to for a URL host's inet_addr value: the host's
// own, or the default device address when the host is not a dotted address.
uint32_t ConnectAddress(uint32_t hostAddress);

// "127.0.0.1 port 554"
std::string EndpointText(uint32_t address, uint16_t port);

// One fresh connection attempt to address:port, given up after timeoutMs: empty when it connects
// (it is closed again at once), else why not ("Connection refused", "no answer within 3 s").
std::string ConnectFailure(uint32_t address, uint16_t port, uint32_t timeoutMs);

}  // namespace fluxmere::cli
