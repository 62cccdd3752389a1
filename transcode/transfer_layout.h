#pragma once
// The shared memory between the download job and the transcoding engine: one block of the .kelo
// file at a time, followed by the number of valid bytes (32-bit little-endian; 0 marks the end of
// the file).

#include <cstdint>

namespace fluxmere::transcode {

constexpr uint32_t kTransferBlockSize = 524288;
constexpr uint32_t kTransferCountOffset = kTransferBlockSize;
constexpr uint32_t kTransferMappingSize = kTransferBlockSize + 4;

inline uint32_t LoadTransferCount(const uint8_t* memory) {
    const uint8_t* p = memory + kTransferCountOffset;
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void StoreTransferCount(uint8_t* memory, uint32_t count) {
    uint8_t* p = memory + kTransferCountOffset;
    p[0] = static_cast<uint8_t>(count);
    p[1] = static_cast<uint8_t>(count >> 8);
    p[2] = static_cast<uint8_t>(count >> 16);
    p[3] = static_cast<uint8_t>(count >> 24);
}

}  // namespace fluxmere::transcode
