#pragma once
// Small SSE2 building blocks shared by the SSE2 variants, with internal linkage like everything
// built for an instruction set the generic code must not depend on.

#include <emmintrin.h>

#include <cstdint>

namespace fluxmere::sse2 {

// Eight 16-bit lanes holding a, b, a, b, ...: the second operand of pmaddwd on [x, y] pairs.
static inline __m128i Pair(int16_t a, int16_t b) {
    return _mm_set_epi16(b, a, b, a, b, a, b, a);
}

}  // namespace fluxmere::sse2
