#pragma once
// Hands a fuzzer's bytes out in pieces of pseudo-random length, as reads from a socket would
// come: the same input always gives the same pieces.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fluxmere::fuzzing {

class Pieces {
public:
    Pieces(const uint8_t* data, size_t size, uint32_t seed)
        : data_(data), size_(size), state_(seed | 1) {}

    // Up to length bytes of the next piece into out; 0 at the end.
    int Next(uint8_t* out, int length) {
        if (offset_ >= size_ || length <= 0)
            return 0;
        // Mostly short pieces, now and then everything that is asked for.
        const uint32_t roll = Roll();
        size_t piece = (roll & 3) == 0 ? static_cast<size_t>(length) : 1 + (roll >> 8) % 64;
        if (piece > static_cast<size_t>(length))
            piece = static_cast<size_t>(length);
        if (piece > size_ - offset_)
            piece = size_ - offset_;
        std::memcpy(out, data_ + offset_, piece);
        offset_ += piece;
        return static_cast<int>(piece);
    }

    size_t delivered() const { return offset_; }
    bool done() const { return offset_ >= size_; }

private:
    uint32_t Roll() {  // xorshift32
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    uint32_t state_;
};

}  // namespace fluxmere::fuzzing
