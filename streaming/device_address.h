#pragma once
// The fixed default device address: used when a URL's host is not a dotted IPv4 address.
// Tests and tools point it at a loopback address; nothing else ever changes it.

#include <cstdint>

namespace fluxmere {

// Network byte order, as inet_addr gives it. Initially the link-local 169.254.1.20.
uint32_t DefaultDeviceAddress();
void SetDefaultDeviceAddress(uint32_t address);

}  // namespace fluxmere
