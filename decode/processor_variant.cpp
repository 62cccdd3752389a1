// Choice of the processor variant from CPUID.

#include "decode/dispatch.h"

#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define FLUXMERE_HAS_X86_CPUID 1
#endif

namespace fluxmere {

int32_t variantIndex = 0;
bool wideVectorsUsable = false;

namespace {

#ifdef FLUXMERE_HAS_X86_CPUID
// XCR0: which register states the operating system saves (bits 1 and 2: XMM and YMM).
uint64_t ReadExtendedControl() {
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return static_cast<uint64_t>(high) << 32 | low;
}
#endif

}  // namespace

int32_t VariantForProcessor(const ProcessorInfo& info) {
    if (!info.hasCpuid) {
        return 0;
    }
    if (info.genuineIntel) {
        if (info.family == 5) {
            return 0;
        }
        if (info.family == 7) {
            return 1;
        }
        if (info.family == 6 && !info.sse2) {
            return info.sse ? 1 : 0;
        }
        if (info.family == 15 && !info.sse2) {
            return 1;
        }
        if (info.family == 15 && info.sse2 && info.sse3 && !info.longMode) {
            return 3;
        }
    }
    if (info.ssse3) {
        return 4;
    }
    if (info.sse3) {
        return 3;
    }
    if (info.sse2) {
        return 2;
    }
    if (info.sse) {
        return 1;
    }
    return 0;
}

ProcessorInfo ReadProcessorInfo() {
    ProcessorInfo info;
#ifdef FLUXMERE_HAS_X86_CPUID
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    // On 32-bit x86 this first tests CPUID's presence by toggling EFLAGS bit 21.
    const unsigned int highestLeaf = __get_cpuid_max(0, nullptr);
    if (highestLeaf == 0) {
        return info;
    }
    info.hasCpuid = true;
    __cpuid(0, eax, ebx, ecx, edx);
    char vendor[12];
    std::memcpy(vendor, &ebx, 4);
    std::memcpy(vendor + 4, &edx, 4);
    std::memcpy(vendor + 8, &ecx, 4);
    info.genuineIntel = std::memcmp(vendor, "GenuineIntel", 12) == 0;
    if (highestLeaf >= 1) {
        __cpuid(1, eax, ebx, ecx, edx);
        info.family = (eax >> 8) & 0xF;
        info.mmx = (edx >> 23) & 1;
        info.sse = (edx >> 25) & 1;
        info.sse2 = (edx >> 26) & 1;
        info.sse3 = ecx & 1;
        info.ssse3 = (ecx >> 9) & 1;
        const bool osSavesYmm = ((ecx >> 27) & 1) && ((ecx >> 28) & 1) &&  // OSXSAVE, AVX
                                (ReadExtendedControl() & 6) == 6;
        if (osSavesYmm && highestLeaf >= 7) {
            __cpuid_count(7, 0, eax, ebx, ecx, edx);
            info.avx2 = (ebx >> 5) & 1;
        }
    }
    if (static_cast<unsigned int>(__get_cpuid_max(0x80000000u, nullptr)) >= 0x80000001u) {
        __cpuid(0x80000001u, eax, ebx, ecx, edx);
        info.longMode = (edx >> 29) & 1;
    }
#endif
    return info;
}

bool SlotRunsHere(int32_t slot) {
    if (slot < 0 || slot >= kImplementationCount) {
        return false;
    }
    static const ProcessorInfo host = ReadProcessorInfo();
    return slot != kWideVectorSlot || host.avx2;
}

int32_t SelectProcessorVariant() {
    const ProcessorInfo info = ReadProcessorInfo();
    variantIndex = VariantForProcessor(info);
    wideVectorsUsable = info.avx2;
    return info.hasCpuid && info.genuineIntel ? StatusOk : StatusUnknownProcessor;
}

}  // namespace fluxmere
