// Variant tables of the encoder's block work.

#include "transcode/mpeg2_intra_kernels.h"

#if FLUXMERE_X86_VARIANTS
#include "transcode/x86/mpeg2_intra_kernels_x86.h"
#endif

namespace fluxmere::transcode::mpeg2 {

#if FLUXMERE_X86_VARIANTS
// Index 1 only promises SSE; 2 and up have SSE2; the last slot is variant 4 with AVX2.
const PrimitiveVariants<ForwardDctPairFn> kForwardDctPairVariants = {
    {generic::ForwardDctPair, generic::ForwardDctPair, sse2::ForwardDctPair, sse2::ForwardDctPair,
     sse2::ForwardDctPair, avx2::ForwardDctPair}};
const PrimitiveVariants<QuantiseBlockFn> kQuantiseBlockVariants = {
    {generic::QuantiseBlock, generic::QuantiseBlock, sse2::QuantiseBlock, sse2::QuantiseBlock,
     sse2::QuantiseBlock, avx2::QuantiseBlock}};
const PrimitiveVariants<PrefersFieldDctFn> kPrefersFieldDctVariants = {
    {generic::PrefersFieldDct, generic::PrefersFieldDct, sse2::PrefersFieldDct,
     sse2::PrefersFieldDct, sse2::PrefersFieldDct, sse2::PrefersFieldDct}};
#else
const PrimitiveVariants<ForwardDctPairFn> kForwardDctPairVariants = {
    {generic::ForwardDctPair, generic::ForwardDctPair, generic::ForwardDctPair,
     generic::ForwardDctPair, generic::ForwardDctPair, generic::ForwardDctPair}};
const PrimitiveVariants<QuantiseBlockFn> kQuantiseBlockVariants = {
    {generic::QuantiseBlock, generic::QuantiseBlock, generic::QuantiseBlock, generic::QuantiseBlock,
     generic::QuantiseBlock, generic::QuantiseBlock}};
const PrimitiveVariants<PrefersFieldDctFn> kPrefersFieldDctVariants = {
    {generic::PrefersFieldDct, generic::PrefersFieldDct, generic::PrefersFieldDct,
     generic::PrefersFieldDct, generic::PrefersFieldDct, generic::PrefersFieldDct}};
#endif

}  // namespace fluxmere::transcode::mpeg2
