#pragma once
// SSE2 implementations (variants 2 to 4 on x86 processors); exact copies of the generic
// results. Available when FLUXMERE_HAS_SSE2_VARIANTS is 1.

#include "decode/primitives.h"

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define FLUXMERE_HAS_SSE2_VARIANTS 1
#else
#define FLUXMERE_HAS_SSE2_VARIANTS 0
#endif

#if FLUXMERE_HAS_SSE2_VARIANTS
namespace fluxmere::sse2 {

InverseDctBlockFn InverseDctBlock;
YCbCr422ToRGBFn YCbCr422ToRGB;

}  // namespace fluxmere::sse2
#endif
