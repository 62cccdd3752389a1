#pragma once
// What the picture decoder's fast path needs from the inverse transform beyond the
// InverseDctBlock primitive: the value a block with only a DC term turns into, and the transform
// of two blocks at once (which wide vectors do in one pass). Both give exactly the results of
// InverseDctBlock.
// Everything defined here has internal linkage: the files built for wider instruction sets include
// this header, and a shared inline copy compiled there could be the one the linker keeps.

#include <cstdint>

#include "decode/dispatch.h"

namespace fluxmere {

// coefficient x quantiser saturated to 16 bits, the dequantisation of InverseDctBlock.
static inline int16_t DequantiseSaturated(int16_t coefficient, uint16_t quantiser) {
    int32_t product = static_cast<int32_t>(coefficient) * static_cast<int32_t>(quantiser);
    product = product < -32768 ? -32768 : product;
    return static_cast<int16_t>(product > 32767 ? 32767 : product);
}

// The pixel value of every pixel of a block whose only nonzero dequantised term is dc: both
// passes of the transform reduced to scalings of it, with the same truncations.
static inline uint8_t DcOnlyPixel(int16_t dc) {
    const int16_t column = static_cast<int16_t>(static_cast<uint32_t>(dc) << 3);
    const int32_t value =
        static_cast<int32_t>(static_cast<uint32_t>(column) * 32768u + 1048576u) >> 21;
    const int16_t row = static_cast<int16_t>(value);
    const int16_t clamped =
        row < -128 ? static_cast<int16_t>(-128) : (row > 127 ? static_cast<int16_t>(127) : row);
    return static_cast<uint8_t>(clamped + 128);
}

// InverseDctBlock of blocks[0..63] to first and of blocks[64..127] to second, both with stride
// and quant, leaving all 128 coefficients zero (the decoder's work area is kept zero between
// blocks); arguments are the caller's to get right (no checks).
using InverseDctPairFn = void(int16_t* blocks, uint8_t* first, uint8_t* second, int32_t stride,
                              const uint16_t* quant);
extern const PrimitiveVariants<InverseDctPairFn> kInverseDctPairVariants;

// Whether the active pair transform (kInverseDctPairVariants.Active(), which the decoder takes
// once per picture) works on both blocks at once: then a block with no AC terms costs nothing
// extra in it, and is better passed along than filled on its own.
bool InverseDctPairIsJoint();

}  // namespace fluxmere
