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
//
// A table has one slot more than there are variants: slot kWideVectorSlot holds variant 4 as it
// runs on a processor that also has 256-bit integer vectors (AVX2). Such processors are all
// variant 4; the variant index itself stays 0..4.

#include <cstdint>

#include "decode/status.h"

namespace fluxmere {

constexpr int32_t kVariantCount = 5;
constexpr int32_t kWideVectorSlot = kVariantCount;
constexpr int32_t kImplementationCount = kVariantCount + 1;

// 0..4, written once by SelectProcessorVariant; 0 until then.
extern int32_t variantIndex;

// Whether the processor and the operating system support AVX2 (written with variantIndex).
extern bool wideVectorsUsable;

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
    bool avx2 = false;      // leaf 7 EBX bit 5, with the YMM state enabled by the system
};

// The variant index for a processor (first matching row of the selection rules).
int32_t VariantForProcessor(const ProcessorInfo& info);

// The host processor as CPUID reports it (hasCpuid false on non-x86 hosts).
ProcessorInfo ReadProcessorInfo();

// The variant index in use: variantIndex, or 0 should it ever hold a value out of range.
inline int32_t ActiveVariant() {
    const uint32_t index = static_cast<uint32_t>(variantIndex);
    return index < static_cast<uint32_t>(kVariantCount) ? static_cast<int32_t>(index) : 0;
}

// The table slot used for dispatch: the active variant, or kWideVectorSlot for variant 4 on a
// processor with AVX2.
inline int32_t ActiveSlot() {
    const int32_t variant = ActiveVariant();
    return variant == kVariantCount - 1 && wideVectorsUsable ? kWideVectorSlot : variant;
}

// Whether the code in a table slot can run on this processor (for tests and benchmarks).
bool SlotRunsHere(int32_t slot);

template <typename Fn>
struct PrimitiveVariants {
    Fn* variant[kImplementationCount];

    Fn* Active() const { return variant[ActiveSlot()]; }
};

}  // namespace fluxmere
