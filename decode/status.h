#pragma once
// Status codes of the decoding primitives: 0 success, negative errors, positive warnings.

#include <cstdint>

namespace fluxmere {

constexpr int32_t StatusOk = 0;
constexpr int32_t StatusOutsideImage = 29;      // warning: region starts outside the source
constexpr int32_t StatusUnknownProcessor = 20;  // no CPUID, or not a "GenuineIntel" processor
constexpr int32_t StatusBadArgument = -5;       // negative bit position / bit count
constexpr int32_t StatusBadSize = -6;           // count, width or height zero or negative
constexpr int32_t StatusNullPointer = -8;
constexpr int32_t StatusNoMemory = -9;
constexpr int32_t StatusBadStep = -14;  // row stride zero or negative
constexpr int32_t StatusBadInterpolation = -22;
constexpr int32_t StatusBadFactor = -23;
constexpr int32_t StatusNoData = -62;   // entropy-coded data ended inside a value's bits
constexpr int32_t StatusBadCode = -63;  // bits that are no code of the Huffman table
constexpr int32_t StatusBadHuffmanTable = -64;
constexpr int32_t StatusEmptyResult = -201;  // scaled size rounds to less than half a pixel

}  // namespace fluxmere
