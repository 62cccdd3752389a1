#pragma once
// A byte buffer that only grows, 8-byte aligned. Grown when a session learns its stream's size or
// the target rectangle changes; never on a per-frame path. Its memory is a large block
// (platform/memory.h), so that viewers made and dropped again and again leave no holes behind.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/memory.h"

namespace fluxmere {

// The smallest receive buffer and payload buffer of a viewer: a 352 x 288 stream's frames.
constexpr size_t kMinFrameBufferBytes = 290000;

class PlayerBuffer {
public:
    PlayerBuffer() = default;
    explicit PlayerBuffer(size_t capacity) { Reserve(capacity); }

    // Makes room for at least bytes (contents are not kept when it grows). False when the memory
    // cannot be had; the buffer then keeps its old size.
    bool Reserve(size_t bytes) {
        if (bytes <= capacity_)
            return true;
        std::unique_ptr<uint8_t, platform::LargeBlockDeleter> storage(
            platform::AllocateLarge(bytes));
        if (!storage)
            return false;
        data_ = storage.get();
        storage_ = std::move(storage);
        capacity_ = bytes;
        return true;
    }

    uint8_t* data() const { return data_; }
    size_t capacity() const { return capacity_; }
    bool Contains(const uint8_t* p) const { return p >= data_ && p < data_ + capacity_; }

private:
    std::unique_ptr<uint8_t, platform::LargeBlockDeleter> storage_;
    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;
};

}  // namespace fluxmere
