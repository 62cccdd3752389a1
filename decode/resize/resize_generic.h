#pragma once
// The generic resize: the three modes run over the sampling tables of resize_plan.h. Faster
// variants may replace single kernels but must produce the same bytes.

#include <cstddef>
#include <cstdint>

#include "decode/resize/resize_plan.h"

namespace fluxmere::resize {

// Runs a checked plan with the given work area, or with one allocated for the call when the area
// is null or too small. StatusOk or StatusNoMemory (nothing written then).
int32_t RunGeneric(const Plan& plan, void* work, size_t workBytes);

// Variant 0, the whole primitive.
int32_t ResizeRGBGeneric(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                         int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight,
                         uint8_t* dst, int32_t dstStride, int32_t dstWidth, int32_t dstHeight,
                         double xFactor, double yFactor, int32_t interpolation, void* work,
                         size_t workBytes);

}  // namespace fluxmere::resize
