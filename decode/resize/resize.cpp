#include "decode/resize/resize.h"

#include <initializer_list>

#include "decode/resize/resize_generic.h"
#include "decode/resize/resize_plan.h"
#include "decode/status.h"

namespace fluxmere {

// Every processor variant runs the generic code for now.
const PrimitiveVariants<ResizeRGBFn> kResizeRGBVariants = {{
    resize::ResizeRGBGeneric,
    resize::ResizeRGBGeneric,
    resize::ResizeRGBGeneric,
    resize::ResizeRGBGeneric,
    resize::ResizeRGBGeneric,
    resize::ResizeRGBGeneric,
}};

int32_t ResizeRGB(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                  int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight, uint8_t* dst,
                  int32_t dstStride, int32_t dstWidth, int32_t dstHeight, double xFactor,
                  double yFactor, int32_t interpolation) {
    return kResizeRGBVariants.Active()(src, srcWidth, srcHeight, srcStride, roiX, roiY, roiWidth,
                                       roiHeight, dst, dstStride, dstWidth, dstHeight, xFactor,
                                       yFactor, interpolation, nullptr, 0);
}

int32_t ResizeRGBWithWork(const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                          int32_t srcStride, int32_t roiX, int32_t roiY, int32_t roiWidth,
                          int32_t roiHeight, uint8_t* dst, int32_t dstStride, int32_t dstWidth,
                          int32_t dstHeight, double xFactor, double yFactor, int32_t interpolation,
                          void* work, size_t workBytes) {
    return kResizeRGBVariants.Active()(src, srcWidth, srcHeight, srcStride, roiX, roiY, roiWidth,
                                       roiHeight, dst, dstStride, dstWidth, dstHeight, xFactor,
                                       yFactor, interpolation, work, workBytes);
}

int32_t ResizeWorkSize(int32_t srcWidth, int32_t dstWidth, int32_t dstHeight, size_t* bytes) {
    if (bytes == nullptr) {
        return StatusNullPointer;
    }
    if (srcWidth < 1 || dstWidth < 1 || dstHeight < 1) {
        return StatusBadSize;
    }
    size_t most = 0;
    for (int32_t mode : {NearestMode, LinearMode, CubicMode}) {
        const size_t need = resize::WorkBytesFor(mode, srcWidth, dstWidth, dstHeight);
        if (need == SIZE_MAX) {
            return StatusNoMemory;
        }
        most = need > most ? need : most;
    }
    *bytes = most;
    return StatusOk;
}

}  // namespace fluxmere
