#pragma once
// Bits into a fixed buffer, most significant bit first, as MPEG-2 video is written. Nothing is
// ever written past the buffer's end: what does not fit is dropped and the writer reports that it
// overflowed, while it keeps counting, so that a caller can return to a saved position and write
// something shorter instead.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fluxmere::transcode::mpeg2 {

class BitWriter {
public:
    BitWriter(uint8_t* buffer, size_t size) : buffer_(buffer), size_(size) {}

    // The low `length` bits of value (1..32); value has no bits set above them.
    void Put(uint32_t value, int length) {
        pending_ = pending_ << length | value;
        pendingBits_ += length;
        if (pendingBits_ >= 32) {
            pendingBits_ -= 32;
            Store32(static_cast<uint32_t>(pending_ >> pendingBits_));
        }
    }

    // Zero bits up to the next byte boundary, then every pending byte into the buffer.
    void AlignWithZeros() {
        const int fill = -pendingBits_ & 7;
        pending_ <<= fill;
        pendingBits_ += fill;
        while (pendingBits_ > 0) {
            pendingBits_ -= 8;
            StoreByte(static_cast<uint8_t>(pending_ >> pendingBits_));
        }
    }

    // Bits written so far, those that did not fit included.
    uint64_t BitCount() const { return uint64_t{bytes_} * 8 + static_cast<uint64_t>(pendingBits_); }

    // Whole bytes stored so far (after AlignWithZeros, every bit written).
    size_t ByteCount() const { return bytes_; }

    bool overflowed() const { return overflowed_; }

    struct Position {
        size_t bytes;
        uint64_t pending;
        int pendingBits;
        bool overflowed;
    };
    Position Save() const { return {bytes_, pending_, pendingBits_, overflowed_}; }
    void Restore(const Position& position) {
        bytes_ = position.bytes;
        pending_ = position.pending;
        pendingBits_ = position.pendingBits;
        overflowed_ = position.overflowed;
    }

private:
    void Store32(uint32_t word) {
        if (bytes_ <= size_ && size_ - bytes_ >= 4) {
            const uint8_t bigEndian[4] = {
                static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            std::memcpy(buffer_ + bytes_, bigEndian, 4);
        } else {
            overflowed_ = true;
        }
        bytes_ += 4;
    }

    void StoreByte(uint8_t byte) {
        if (bytes_ < size_) {
            buffer_[bytes_] = byte;
        } else {
            overflowed_ = true;
        }
        ++bytes_;
    }

    uint8_t* buffer_;
    size_t size_;
    size_t bytes_ = 0;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
    bool overflowed_ = false;
};

}  // namespace fluxmere::transcode::mpeg2
