#pragma once
// Appends big-endian numbers and raw bytes to a byte vector, and remembers where nested records
// start so that their sizes can be written once they are closed. The movie's atoms and the MXF
// file's KLV sets are both built with it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fluxmere::transcode {

class BigEndianAppender {
public:
    explicit BigEndianAppender(std::vector<uint8_t>* out) : out_(out) {}

    void U8(uint8_t v) { out_->push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v >> 8));
        U8(static_cast<uint8_t>(v));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v >> 16));
        U16(static_cast<uint16_t>(v));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Bytes(const void* data, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(data);
        out_->insert(out_->end(), b, b + n);
    }
    void Zeros(size_t n) { out_->insert(out_->end(), n, 0); }

protected:
    // Nesting comes from the writers' own code, never from the data, and stays far below the
    // limit; going past it is a fault of that code, stopped here rather than written past.
    static constexpr int kMaxDepth = 16;

    void PushStart(size_t at) {
        if (depth_ == kMaxDepth)
            std::abort();
        starts_[depth_++] = at;
    }
    size_t PopStart() {
        if (depth_ == 0)
            std::abort();
        return starts_[--depth_];
    }

    std::vector<uint8_t>* out_;

private:
    size_t starts_[kMaxDepth] = {};
    int depth_ = 0;
};

}  // namespace fluxmere::transcode
