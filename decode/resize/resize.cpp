#include "decode/resize/resize.h"

#include <initializer_list>

#include "decode/resize/resize_generic.h"
#include "decode/resize/resize_plan.h"
#include "decode/status.h"

namespace fluxmere {

namespace {

// The whole primitive with the kernels of one build: checks and plan, then the kernels.
template <resize::RunFn* kRun>
int32_t ResizeWith(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                   int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight, uint8_t* dst,
                   int32_t dstStride, int32_t dstWidth, int32_t dstHeight, double xFactor,
                   double yFactor, int32_t interpolation, void* work, size_t workBytes) {
    resize::Plan plan;
    const int32_t status =
        resize::MakePlan(src, srcWidth, srcHeight, srcStride, roiX, roiY, roiWidth, roiHeight, dst,
                         dstStride, dstWidth, dstHeight, xFactor, yFactor, interpolation, &plan);
    if (status != StatusOk) {
        return status;
    }
    return kRun(plan, work, workBytes);
}

}  // namespace

// The generic kernels serve variants 0 to 4; the wide-vector slot has them built for AVX2.
#if FLUXMERE_X86_VARIANTS
constexpr ResizeRGBFn* kWideResize = ResizeWith<resize::avx2::Run>;
#else
constexpr ResizeRGBFn* kWideResize = ResizeWith<resize::generic::Run>;
#endif
const PrimitiveVariants<ResizeRGBFn> kResizeRGBVariants = {{
    ResizeWith<resize::generic::Run>,
    ResizeWith<resize::generic::Run>,
    ResizeWith<resize::generic::Run>,
    ResizeWith<resize::generic::Run>,
    ResizeWith<resize::generic::Run>,
    kWideResize,
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
