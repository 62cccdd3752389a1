#pragma once
// Processor variants of the primitives.
//
// Every primitive exists as up to kVariantCount implementations that compute identical results;
// variant 0 is the portable generic one. SelectProcessorVariant picks the index once at process
// start, before any other thread runs; afterwards variantIndex is only read. A primitive keeps
// its implementations in a PrimitiveVariants table and its public entry point calls
// table.Active()(...), one indexed indirect call:
//
//   using SwapBytes16Fn = int32_t(const uint16_t*, uint16_t*, int32_t);
//   extern const PrimitiveVariants<SwapBytes16Fn> kSwapBytes16Variants;   // {{Generic, ...}}
//   int32_t SwapBytes16(const uint16_t* s, uint16_t* d, int32_t n) {
//       return kSwapBytes16Variants.Active()(s, d, n);
//   }
//
// Tables are exported so the exactness tests can run every variant against variant 0.

#include <cstdint>

#include "decode/status.h"

namespace fluxmere {

constexpr int32_t kVariantCount = 5;

// 0..4, written once by SelectProcessorVariant; 0 until then.
extern int32_t variantIndex;

// Reads the processor's identification and stores the matching variantIndex.
// Returns StatusOk for a "GenuineIntel" processor with CPUID, else StatusUnknownProcessor.
int32_t SelectProcessorVariant();

// What SelectProcessorVariant reads from CPUID (exposed so the selection rules can be tested
// with any processor description).
struct ProcessorInfo {
    bool hasCpuid = false;
    bool genuineIntel = false;
    uint32_t family = 0;  // leaf 1 EAX bits 8..11
    bool mmx = false;
    bool sse = false;
    bool sse2 = false;
    bool sse3 = false;
    bool ssse3 = false;
    bool longMode = false;  // leaf 0x80000001 EDX bit 29
};

// The variant index for a processor (first matching row of the selection rules).
int32_t VariantForProcessor(const ProcessorInfo& info);

// The host processor as CPUID reports it (hasCpuid false on non-x86 hosts).
ProcessorInfo ReadProcessorInfo();

// The index used for dispatch: variantIndex, or 0 should it ever hold a value out of range.
inline int32_t ActiveVariant() {
    const uint32_t index = static_cast<uint32_t>(variantIndex);
    return index < static_cast<uint32_t>(kVariantCount) ? static_cast<int32_t>(index) : 0;
}

template <typename Fn>
struct PrimitiveVariants {
    Fn* variant[kVariantCount];

    Fn* Active() const { return variant[ActiveVariant()]; }
};

}  // namespace fluxmere
