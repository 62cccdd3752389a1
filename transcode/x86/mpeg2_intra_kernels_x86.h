#pragma once
// The x86 variants of the encoder's block work; exact copies of the generic results. Built only
// for x86 targets, where CMake defines FLUXMERE_X86_VARIANTS.

#include "transcode/mpeg2_intra_kernels.h"

namespace fluxmere::transcode::mpeg2 {

namespace sse2 {
ForwardDctPairFn ForwardDctPair;
QuantiseBlockFn QuantiseBlock;
PrefersFieldDctFn PrefersFieldDct;
}  // namespace sse2

namespace avx2 {
ForwardDctPairFn ForwardDctPair;
QuantiseBlockFn QuantiseBlock;
}  // namespace avx2

}  // namespace fluxmere::transcode::mpeg2
