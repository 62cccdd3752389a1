#pragma once
// AVX2 implementations (the wide-vector slot of variant 4); exact copies of the generic results.
// Built only for x86 targets, where CMake defines FLUXMERE_X86_VARIANTS.

#include "decode/bitmap_colour.h"
#include "decode/block_transform.h"
#include "decode/primitives.h"

namespace fluxmere::avx2 {

InverseDctPairFn InverseDctPair;
YCbCr422ToRGBFn YCbCr422ToRGB;
YCbCr422ToBGRFn YCbCr422ToBGR;

}  // namespace fluxmere::avx2
