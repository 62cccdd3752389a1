#pragma once
// Scaling of packed 3-byte pixel images (the output of the colour conversion) to the viewer's
// picture size, with nearest, linear and cubic interpolation.
//
// The work memory a call needs (sampling tables and interpolated rows) can be handed in by the
// caller, sized once with ResizeWorkSize for the largest source and target it will use, so that
// painting a frame allocates nothing. Without a work area (or with one that is too small) the
// call allocates its own and releases it before returning; the results are the same either way.

#include <cstddef>
#include <cstdint>

#include "decode/dispatch.h"

namespace fluxmere {

// Interpolation modes.
constexpr int32_t NearestMode = 1;
constexpr int32_t LinearMode = 2;
constexpr int32_t CubicMode = 4;
constexpr int32_t SuperSamplingMode = 8;  // accepted, reported as StatusBadInterpolation
constexpr int32_t Mode16 = 16;  // cubic or lower on sources under 8 pixels, else as mode 8

// Scales the region of interest of the source into the destination. Sizes and positions are in
// pixels, strides in bytes; factors are destination pixels per source pixel. Returns StatusOk or
// a status of decode/status.h; every non-success status is returned before anything is written.
int32_t ResizeRGB(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                  int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight, uint8_t* dst,
                  int32_t dstStride, int32_t dstWidth, int32_t dstHeight, double xFactor,
                  double yFactor, int32_t interpolation);

// The same with a caller-owned work area of workBytes bytes (any alignment). A null or too small
// area makes the call allocate its own.
int32_t ResizeRGBWithWork(const uint8_t* src, int32_t srcWidth, int32_t srcHeight,
                          int32_t srcStride, int32_t roiX, int32_t roiY, int32_t roiWidth,
                          int32_t roiHeight, uint8_t* dst, int32_t dstStride, int32_t dstWidth,
                          int32_t dstHeight, double xFactor, double yFactor, int32_t interpolation,
                          void* work, size_t workBytes);

// Bytes of work area enough for every call whose source is at most srcWidth pixels wide and
// whose destination is at most dstWidth x dstHeight, in any mode. StatusBadSize for a size below
// 1, StatusNoMemory when the amount does not fit in size_t.
int32_t ResizeWorkSize(int32_t srcWidth, int32_t dstWidth, int32_t dstHeight, size_t* bytes);

// One processor variant: the full primitive, checks included.
using ResizeRGBFn = int32_t(const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                            int32_t, uint8_t*, int32_t, int32_t, int32_t, double, double, int32_t,
                            void*, size_t);
extern const PrimitiveVariants<ResizeRGBFn> kResizeRGBVariants;

}  // namespace fluxmere
