#pragma once
// The signal and image primitives. Each call validates its arguments in the order documented
// here, writes nothing when a check fails, and goes through the processor-variant dispatch
// (decode/dispatch.h). None of them allocates.

#include <cstdint>

#include "decode/dispatch.h"

namespace fluxmere {

// Size in bytes of a Huffman decode table built by BuildHuffmanTable. Table storage must be
// aligned to 4 bytes.
constexpr int32_t kHuffmanTableBytes = 1644;

// `marker` value recorded when the bit reader reaches the end of the data it was given: the end
// is treated like a marker (never a real marker value, which is a single byte).
constexpr int32_t kEndOfDataMarker = 0x100;

// destination[i] = byte-swapped source[i], i ascending (in place is allowed).
// StatusNullPointer (either pointer), StatusBadSize (count < 1).
int32_t SwapBytes16(const uint16_t* source, uint16_t* destination, int32_t count);

// Sets count 16-bit values to 0. StatusNullPointer, StatusBadSize (count < 1).
int32_t ZeroFill16(int16_t* values, int32_t count);

// destination[natural n] = zigzag[zigzag index of n], widened. StatusNullPointer.
int32_t BuildQuantTable(const uint8_t* zigzag, uint16_t* destination);

// Stores kHuffmanTableBytes. StatusNullPointer.
int32_t HuffmanTableSize(int32_t* size);

// Builds a decode table from BITS (16 counts for code lengths 1..16) and HUFFVAL.
// StatusNullPointer; StatusBadHuffmanTable when more than 256 codes are counted or the codes of
// up to 8 bits do not fit their 8-bit lookahead.
int32_t BuildHuffmanTable(const uint8_t* bits, const uint8_t* values, uint8_t* table);

// Decodes one 8x8 block of a baseline Huffman-coded scan into block (natural order), updating
// the DC predictor and the bit reader state (bitPosition: bytes consumed from data times 8;
// marker: 0 or the marker's second byte; bitBuffer/bitCount: prefetched bits).
//
// The reader never touches data[dataSize] or beyond: reaching dataSize is treated like a marker
// (marker becomes kEndOfDataMarker). Bits wanted past a marker or the end read as zero bits,
// but a symbol or value that starts with no bit left is absent: an absent DC ends the block as
// all zero (predictor and bitPosition unchanged), an absent AC ends the block, and value bits
// cut by the end give StatusNoData. On return bitCount is never negative.
//
// Checks in order: data or bitPosition null -> StatusNullPointer; bitPosition < 0 or
// dataSize < 0 -> StatusBadArgument; block, predictor, marker, bitBuffer or bitCount null ->
// StatusNullPointer; bitCount outside 0..32 -> StatusBadArgument; a table null ->
// StatusNullPointer. Decoding errors: StatusBadCode, StatusNoData.
int32_t DecodeHuffmanBlock(const uint8_t* data, int32_t dataSize, int32_t* bitPosition,
                           int16_t* block, int16_t* predictor, int32_t* marker, uint32_t* bitBuffer,
                           int32_t* bitCount, const uint8_t* dcTable, const uint8_t* acTable);

// Dequantises, inverse-transforms and level-shifts one block into 8x8 pixels.
// StatusNullPointer (block, destination), StatusBadStep (stride < 1), StatusNullPointer (quant).
int32_t InverseDctBlock(const int16_t* block, uint8_t* destination, int32_t stride,
                        const uint16_t* quant);

// Converts planar 4:2:2 YCbCr (BT.601 studio range) to packed R, G, B bytes.
// StatusNullPointer (planes array, destination), StatusBadSize (width or height < 1),
// StatusNullPointer (any plane). Strides are not checked.
int32_t YCbCr422ToRGB(const uint8_t* const planes[3], const int32_t strides[3],
                      uint8_t* destination, int32_t destinationStride, int32_t width,
                      int32_t height);

// Signatures and variant tables, for the dispatch and the exactness tests.
using SwapBytes16Fn = int32_t(const uint16_t*, uint16_t*, int32_t);
using ZeroFill16Fn = int32_t(int16_t*, int32_t);
using BuildQuantTableFn = int32_t(const uint8_t*, uint16_t*);
using HuffmanTableSizeFn = int32_t(int32_t*);
using BuildHuffmanTableFn = int32_t(const uint8_t*, const uint8_t*, uint8_t*);
using DecodeHuffmanBlockFn = int32_t(const uint8_t*, int32_t, int32_t*, int16_t*, int16_t*,
                                     int32_t*, uint32_t*, int32_t*, const uint8_t*, const uint8_t*);
using InverseDctBlockFn = int32_t(const int16_t*, uint8_t*, int32_t, const uint16_t*);
using YCbCr422ToRGBFn = int32_t(const uint8_t* const[3], const int32_t[3], uint8_t*, int32_t,
                                int32_t, int32_t);

extern const PrimitiveVariants<SwapBytes16Fn> kSwapBytes16Variants;
extern const PrimitiveVariants<ZeroFill16Fn> kZeroFill16Variants;
extern const PrimitiveVariants<BuildQuantTableFn> kBuildQuantTableVariants;
extern const PrimitiveVariants<HuffmanTableSizeFn> kHuffmanTableSizeVariants;
extern const PrimitiveVariants<BuildHuffmanTableFn> kBuildHuffmanTableVariants;
extern const PrimitiveVariants<DecodeHuffmanBlockFn> kDecodeHuffmanBlockVariants;
extern const PrimitiveVariants<InverseDctBlockFn> kInverseDctBlockVariants;
extern const PrimitiveVariants<YCbCr422ToRGBFn> kYCbCr422ToRGBVariants;

}  // namespace fluxmere
