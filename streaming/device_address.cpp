#include "streaming/device_address.h"

#include <atomic>

namespace fluxmere {

namespace {

// 169.254.1.20 in network byte order: the first octet is the lowest-addressed byte.
constexpr uint32_t kInitialDeviceAddress = 169u | (254u << 8) | (1u << 16) | (20u << 24);

std::atomic<uint32_t> deviceAddress{kInitialDeviceAddress};

}  // namespace

uint32_t DefaultDeviceAddress() {
    return deviceAddress.load(std::memory_order_relaxed);
}

void SetDefaultDeviceAddress(uint32_t address) {
    deviceAddress.store(address, std::memory_order_relaxed);
}

}  // namespace fluxmere
