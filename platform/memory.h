#pragma once
// Large buffers that a freed one gives back to the system whole. On Windows they are the system's
// own pages: from a heap, a large block freed leaves a hole that smaller blocks split, so that the
// next buffers of the same size (a viewer made again, as a page reloads it) no longer fit and the
// heap grows with every round. Elsewhere they come from the heap, where the sanitizers watch
// their bounds.

#include <cstddef>
#include <cstdint>

namespace fluxmere::platform {

// At least bytes (more than 0), 8-byte aligned; nullptr when the memory cannot be had.
uint8_t* AllocateLarge(size_t bytes);
// A block of AllocateLarge, or nullptr.
void FreeLarge(uint8_t* block);

struct LargeBlockDeleter {
    void operator()(uint8_t* block) const { FreeLarge(block); }
};

}  // namespace fluxmere::platform
