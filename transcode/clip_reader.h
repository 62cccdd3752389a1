#pragma once
// Reads a recorded clip (a kelo file: a stream header, then blocks back to back) as it arrives,
// in pieces of any size, and hands each block out whole. A block that arrives in one piece is
// handed out where it lies; only a block split between pieces is gathered in a buffer of the
// reader, which grows to the largest such block and is then reused.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "container/kelo.h"

namespace fluxmere::transcode {

class IClipConsumer {
public:
    // The stream header, once, before any block. False stops the reader.
    virtual bool OnStreamHeader(const CKelo& stream) = 0;
    // One whole block: its parsed header and its payload. False stops the reader.
    virtual bool OnBlock(const CKeloMediaFrame& header, const uint8_t* payload, uint32_t size) = 0;

protected:
    ~IClipConsumer() = default;
};

enum class ClipStatus {
    Ok,
    NotAClip,        // the start is no kelo stream header with a Motion-JPEG picture track
    Damaged,         // a block's lengths or header make no sense
    ConsumerFailed,  // the consumer returned false
};

class ClipReader {
public:
    // Largest stream header and block header accepted, and largest block payload.
    static constexpr size_t kMaxStreamHeader = 1 << 20;
    static constexpr uint32_t kMaxBlockHeader = 1 << 16;
    static constexpr uint32_t kMaxPayload = 64u << 20;

    explicit ClipReader(IClipConsumer* consumer) : consumer_(consumer) {}

    // The next bytes of the clip. After anything but Ok the reader takes nothing more.
    ClipStatus Feed(const uint8_t* data, size_t size);

    // True when everything fed so far ended with a whole block (the stream header was read and no
    // block is incomplete).
    bool AtBlockEnd() const { return status_ == ClipStatus::Ok && headerRead_ && held_.empty(); }
    bool headerRead() const { return headerRead_; }
    uint64_t bytesFed() const { return bytesFed_; }
    // Bytes of the clip handed out in whole units (stream header and blocks).
    uint64_t bytesDone() const { return bytesDone_; }

private:
    // Parses one unit (the stream header, or a block) at the start of data. Returns its length, or
    // 0 when more bytes are needed (status_ tells whether that is an error).
    size_t TakeUnit(const uint8_t* data, size_t size);
    // How many bytes the unit that begins in held_ needs in all, as far as held_ tells.
    size_t HeldUnitNeeds(size_t offered) const;

    IClipConsumer* consumer_;
    ClipStatus status_ = ClipStatus::Ok;
    bool headerRead_ = false;
    CKelo stream_;
    CKeloMediaFrame frame_;
    std::vector<uint8_t> held_;  // the start of a unit split between pieces
    uint64_t bytesFed_ = 0;
    uint64_t bytesDone_ = 0;
};

}  // namespace fluxmere::transcode
