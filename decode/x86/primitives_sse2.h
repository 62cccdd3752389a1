#pragma once
// SSE2 implementations (variants 2 to 4 on x86 processors); exact copies of the generic
// results. Built only for x86 targets, where CMake defines FLUXMERE_X86_VARIANTS.

#include "decode/bitmap_colour.h"
#include "decode/block_transform.h"
#include "decode/primitives.h"

namespace fluxmere::sse2 {

InverseDctBlockFn InverseDctBlock;
InverseDctPairFn InverseDctPair;
YCbCr422ToRGBFn YCbCr422ToRGB;
YCbCr422ToBGRFn YCbCr422ToBGR;

}  // namespace fluxmere::sse2
