// Variant tables and the dispatched entry points of the primitives. Faster variants replace
// entries here; callers never change.

#include "decode/bitmap_colour.h"
#include "decode/block_transform.h"
#include "decode/primitives.h"
#include "decode/primitives_generic.h"

#if FLUXMERE_X86_VARIANTS
#include "decode/x86/primitives_avx2.h"
#include "decode/x86/primitives_sse2.h"
#endif

namespace fluxmere {

// Indices 1..4 use the generic implementation until a faster variant exists.
#define FLUXMERE_ALL_GENERIC(name)                                                     \
    {                                                                                  \
        {                                                                              \
            generic::name, generic::name, generic::name, generic::name, generic::name, \
                generic::name                                                          \
        }                                                                              \
    }

const PrimitiveVariants<SwapBytes16Fn> kSwapBytes16Variants = FLUXMERE_ALL_GENERIC(SwapBytes16);
const PrimitiveVariants<ZeroFill16Fn> kZeroFill16Variants = FLUXMERE_ALL_GENERIC(ZeroFill16);
const PrimitiveVariants<BuildQuantTableFn> kBuildQuantTableVariants =
    FLUXMERE_ALL_GENERIC(BuildQuantTable);
const PrimitiveVariants<HuffmanTableSizeFn> kHuffmanTableSizeVariants =
    FLUXMERE_ALL_GENERIC(HuffmanTableSize);
const PrimitiveVariants<BuildHuffmanTableFn> kBuildHuffmanTableVariants =
    FLUXMERE_ALL_GENERIC(BuildHuffmanTable);
const PrimitiveVariants<DecodeHuffmanBlockFn> kDecodeHuffmanBlockVariants =
    FLUXMERE_ALL_GENERIC(DecodeHuffmanBlock);
#if FLUXMERE_X86_VARIANTS
// Index 1 only promises SSE; 2 and up have SSE2; the last slot is variant 4 with AVX2.
const PrimitiveVariants<InverseDctBlockFn> kInverseDctBlockVariants = {
    {generic::InverseDctBlock, generic::InverseDctBlock, sse2::InverseDctBlock,
     sse2::InverseDctBlock, sse2::InverseDctBlock, sse2::InverseDctBlock}};
const PrimitiveVariants<InverseDctPairFn> kInverseDctPairVariants = {
    {generic::InverseDctPair, generic::InverseDctPair, sse2::InverseDctPair, sse2::InverseDctPair,
     sse2::InverseDctPair, avx2::InverseDctPair}};
const PrimitiveVariants<YCbCr422ToRGBFn> kYCbCr422ToRGBVariants = {
    {generic::YCbCr422ToRGB, generic::YCbCr422ToRGB, sse2::YCbCr422ToRGB, sse2::YCbCr422ToRGB,
     sse2::YCbCr422ToRGB, avx2::YCbCr422ToRGB}};
const PrimitiveVariants<YCbCr422ToBGRFn> kYCbCr422ToBGRVariants = {
    {generic::YCbCr422ToBGR, generic::YCbCr422ToBGR, sse2::YCbCr422ToBGR, sse2::YCbCr422ToBGR,
     sse2::YCbCr422ToBGR, avx2::YCbCr422ToBGR}};
#else
const PrimitiveVariants<InverseDctBlockFn> kInverseDctBlockVariants =
    FLUXMERE_ALL_GENERIC(InverseDctBlock);
const PrimitiveVariants<InverseDctPairFn> kInverseDctPairVariants =
    FLUXMERE_ALL_GENERIC(InverseDctPair);
const PrimitiveVariants<YCbCr422ToRGBFn> kYCbCr422ToRGBVariants =
    FLUXMERE_ALL_GENERIC(YCbCr422ToRGB);
const PrimitiveVariants<YCbCr422ToBGRFn> kYCbCr422ToBGRVariants =
    FLUXMERE_ALL_GENERIC(YCbCr422ToBGR);
#endif

#undef FLUXMERE_ALL_GENERIC

bool InverseDctPairIsJoint() {
#if FLUXMERE_X86_VARIANTS
    return kInverseDctPairVariants.Active() == avx2::InverseDctPair;
#else
    return false;
#endif
}

int32_t SwapBytes16(const uint16_t* source, uint16_t* destination, int32_t count) {
    return kSwapBytes16Variants.Active()(source, destination, count);
}

int32_t ZeroFill16(int16_t* values, int32_t count) {
    return kZeroFill16Variants.Active()(values, count);
}

int32_t BuildQuantTable(const uint8_t* zigzag, uint16_t* destination) {
    return kBuildQuantTableVariants.Active()(zigzag, destination);
}

int32_t HuffmanTableSize(int32_t* size) {
    return kHuffmanTableSizeVariants.Active()(size);
}

int32_t BuildHuffmanTable(const uint8_t* bits, const uint8_t* values, uint8_t* table) {
    return kBuildHuffmanTableVariants.Active()(bits, values, table);
}

int32_t DecodeHuffmanBlock(const uint8_t* data, int32_t dataSize, int32_t* bitPosition,
                           int16_t* block, int16_t* predictor, int32_t* marker, uint32_t* bitBuffer,
                           int32_t* bitCount, const uint8_t* dcTable, const uint8_t* acTable) {
    return kDecodeHuffmanBlockVariants.Active()(data, dataSize, bitPosition, block, predictor,
                                                marker, bitBuffer, bitCount, dcTable, acTable);
}

int32_t InverseDctBlock(const int16_t* block, uint8_t* destination, int32_t stride,
                        const uint16_t* quant) {
    return kInverseDctBlockVariants.Active()(block, destination, stride, quant);
}

int32_t YCbCr422ToRGB(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height) {
    return kYCbCr422ToRGBVariants.Active()(planes, strides, destination, destinationStride, width,
                                           height);
}

}  // namespace fluxmere
