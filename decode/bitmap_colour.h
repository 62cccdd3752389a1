#pragma once
// The colour conversion in the byte order of a 24-bit device-independent bitmap (B, G, R), which
// is what the viewer paints. It computes exactly the values of YCbCr422ToRGB, with the same checks
// and statuses; only the first and third byte of each pixel trade places. Converting straight into
// this order spares the render path a pass over the picture.
// Everything defined here has internal linkage (see block_transform.h).

#include <cstdint>

#include "decode/dispatch.h"
#include "decode/primitives.h"

namespace fluxmere {

using YCbCr422ToBGRFn = YCbCr422ToRGBFn;
extern const PrimitiveVariants<YCbCr422ToBGRFn> kYCbCr422ToBGRVariants;

static inline int32_t YCbCr422ToBGR(const uint8_t* const planes[3], const int32_t strides[3],
                                    uint8_t* destination, int32_t destinationStride, int32_t width,
                                    int32_t height) {
    return kYCbCr422ToBGRVariants.Active()(planes, strides, destination, destinationStride, width,
                                           height);
}

}  // namespace fluxmere
