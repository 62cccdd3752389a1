#include "platform/memory.h"

#include <new>

namespace fluxmere::platform {

uint8_t* AllocateLarge(size_t bytes) {
    if (bytes == 0)
        return nullptr;
    return new (std::nothrow) uint8_t[bytes];
}

void FreeLarge(uint8_t* block) {
    delete[] block;
}

}  // namespace fluxmere::platform
