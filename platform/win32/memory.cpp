#include "platform/memory.h"

#include <windows.h>

namespace fluxmere::platform {

uint8_t* AllocateLarge(size_t bytes) {
    if (bytes == 0)
        return nullptr;
    return static_cast<uint8_t*>(
        VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void FreeLarge(uint8_t* block) {
    if (block != nullptr)
        VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace fluxmere::platform
