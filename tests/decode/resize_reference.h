#pragma once
// A plain, slow resize written straight from the formulas, one destination byte at a time, in
// double precision where the formulas leave it open. The product code is checked against it.

#include <cstdint>

namespace fluxmere::testing {

struct ResizeArgs {
    const uint8_t* src = nullptr;
    int32_t srcWidth = 0;
    int32_t srcHeight = 0;
    int32_t srcStride = 0;
    int32_t roiX = 0;
    int32_t roiY = 0;
    int32_t roiWidth = 0;
    int32_t roiHeight = 0;
    uint8_t* dst = nullptr;
    int32_t dstStride = 0;
    int32_t dstWidth = 0;
    int32_t dstHeight = 0;
    double xFactor = 0.0;
    double yFactor = 0.0;
    int32_t interpolation = 0;
};

int32_t ReferenceResize(const ResizeArgs& a);

}  // namespace fluxmere::testing
