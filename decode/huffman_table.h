#pragma once
// Layout of the opaque block that BuildHuffmanTable fills and DecodeHuffmanBlock reads.

#include <cstdint>

#include "decode/primitives.h"

namespace fluxmere::detail {

struct HuffmanDecodeTable {
    uint16_t values[256];     // HUFFVAL widened to 16 bits (unused entries 0)
    uint16_t lookahead[256];  // by the next 8 bits: length << 8 | symbol; 0 = longer code
    int32_t maxCode[17];      // by length 1..16; -1 when the length has no codes
    int32_t minCode[17];
    int32_t valuePointer[17];  // index into values of the first symbol of each length
};

static_assert(sizeof(HuffmanDecodeTable) <= static_cast<size_t>(kHuffmanTableBytes),
              "decode table must fit its advertised size");
static_assert(alignof(HuffmanDecodeTable) <= 4, "table storage is only 4-byte aligned");

}  // namespace fluxmere::detail
