#pragma once
// The generic resize: the three modes run over the sampling tables of resize_plan.h. Faster
// variants may replace single kernels but must produce the same bytes.

#include <cstddef>
#include <cstdint>

#include "decode/resize/resize_plan.h"

namespace fluxmere::resize {

// Runs a checked plan with the given work area, or with one allocated for the call when the area
// is null or too small. StatusOk or StatusNoMemory (nothing written then). The same kernels
// built for the generic processor and, on x86, for AVX2.
using RunFn = int32_t(const Plan& plan, void* work, size_t workBytes);
namespace generic {
RunFn Run;
}
namespace avx2 {
RunFn Run;
}

}  // namespace fluxmere::resize
