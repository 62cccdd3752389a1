#pragma once
// Variant 0 of every primitive: portable C++, the definition the other variants must match.

#include "decode/primitives.h"

namespace fluxmere::generic {

SwapBytes16Fn SwapBytes16;
ZeroFill16Fn ZeroFill16;
BuildQuantTableFn BuildQuantTable;
HuffmanTableSizeFn HuffmanTableSize;
BuildHuffmanTableFn BuildHuffmanTable;
DecodeHuffmanBlockFn DecodeHuffmanBlock;
InverseDctBlockFn InverseDctBlock;
YCbCr422ToRGBFn YCbCr422ToRGB;

}  // namespace fluxmere::generic
