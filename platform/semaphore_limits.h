#pragma once
// The counts a semaphore is made with. CreateSemaphore refuses a maximum below 1 or an initial
// count outside [0, maximum]; a constructor cannot fail, so every backend clamps them instead.

#include <cstdint>

namespace fluxmere::platform {

inline int32_t SemaphoreMaximum(int32_t maximum) {
    return maximum < 1 ? 1 : maximum;
}

inline int32_t SemaphoreInitial(int32_t initial, int32_t maximum) {
    maximum = SemaphoreMaximum(maximum);
    if (initial < 0)
        return 0;
    return initial > maximum ? maximum : initial;
}

}  // namespace fluxmere::platform
