#pragma once
// The headers that turn a headerless "mjpa" payload (the entropy-coded scan alone, fixed tables,
// 4:2:2) into a standard JPEG: SOI, the fixed quantisers (DQT), the frame header (SOF0), the four
// standard Huffman tables (DHT) and the scan header (SOS). A whole picture is then these headers,
// the payload and EOI.
//
// With the Motion-JPEG format A marker, an APP1 "mjpg" segment after SOI tells a movie reader
// where the tables, frame, scan and data start and how large the field is; its size fields are
// filled in per picture by SetFieldSize. The headers are built once per picture size and reused.

#include <cstddef>
#include <cstdint>

namespace fluxmere::transcode {

class JpegFrameHeader {
public:
    static constexpr size_t kCapacity = 640;  // the largest header this class builds
    static constexpr uint8_t kEndOfImage[2] = {0xFF, 0xD9};

    // Builds the headers for a width x height picture (1..65535 each). False, leaving the header
    // empty, for other sizes.
    bool Build(int width, int height, bool formatAMarker);

    // Format A only: records the size of the whole picture (headers, payload and EOI) in the APP1
    // segment. Without the marker nothing happens.
    void SetFieldSize(uint32_t pictureBytes);

    const uint8_t* data() const { return bytes_; }
    size_t size() const { return size_; }

private:
    uint8_t bytes_[kCapacity] = {};
    size_t size_ = 0;
    size_t fieldSizeAt_ = 0;  // where the APP1 field sizes go; 0 without the marker
};

}  // namespace fluxmere::transcode
