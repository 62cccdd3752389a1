#pragma once
// Variant 0 of every primitive: portable C++, the definition the other variants must match.

#include "decode/bitmap_colour.h"
#include "decode/block_transform.h"
#include "decode/primitives.h"

namespace fluxmere::generic {

SwapBytes16Fn SwapBytes16;
ZeroFill16Fn ZeroFill16;
BuildQuantTableFn BuildQuantTable;
HuffmanTableSizeFn HuffmanTableSize;
BuildHuffmanTableFn BuildHuffmanTable;
DecodeHuffmanBlockFn DecodeHuffmanBlock;
InverseDctBlockFn InverseDctBlock;
InverseDctPairFn InverseDctPair;
YCbCr422ToRGBFn YCbCr422ToRGB;
YCbCr422ToBGRFn YCbCr422ToBGR;

}  // namespace fluxmere::generic
