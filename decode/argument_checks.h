#pragma once
// The argument checks that every variant of a primitive makes, in the order that decides which
// status a call with several faults reports. Shared so the variants cannot drift apart.
// Internal linkage: a copy compiled into a file built for a wider instruction set (AVX2) must
// never be the one the linker keeps for the others.

#include <cstdint>

#include "decode/status.h"

namespace fluxmere::checks {

static inline int32_t InverseDctBlock(const int16_t* block, const uint8_t* destination,
                                      int32_t stride, const uint16_t* quant) {
    if (block == nullptr || destination == nullptr)
        return StatusNullPointer;
    if (stride < 1)
        return StatusBadStep;
    if (quant == nullptr)
        return StatusNullPointer;
    return StatusOk;
}

static inline int32_t YCbCr422ToRGB(const uint8_t* const planes[3], const uint8_t* destination,
                                    int32_t width, int32_t height) {
    if (planes == nullptr || destination == nullptr)
        return StatusNullPointer;
    if (width < 1 || height < 1)
        return StatusBadSize;
    if (planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr) {
        return StatusNullPointer;
    }
    return StatusOk;
}

}  // namespace fluxmere::checks
