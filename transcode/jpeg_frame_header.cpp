#include "transcode/jpeg_frame_header.h"

#include <cstring>

#include "decode/jpeg_tables.h"

namespace fluxmere::transcode {
namespace {

// Appends to a fixed buffer; every header this class writes fits kCapacity by construction, and
// the checks make an oversight visible as a failed Build instead of a write past the end.
class HeaderOut {
public:
    HeaderOut(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    void Bytes(const uint8_t* data, size_t n) {
        if (!ok_ || n > capacity_ - size_) {
            ok_ = false;
            return;
        }
        std::memcpy(out_ + size_, data, n);
        size_ += n;
    }
    void Byte(uint8_t b) { Bytes(&b, 1); }
    void Be16(unsigned v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        Bytes(b, 2);
    }
    void Be32(uint32_t v) {
        Be16(v >> 16);
        Be16(v & 0xFFFF);
    }
    void Marker(uint8_t code, unsigned length) {
        Byte(0xFF);
        Byte(code);
        Be16(length);
    }
    void PatchBe32(size_t at, uint32_t v) {
        if (ok_ && at + 4 <= size_) {
            out_[at] = static_cast<uint8_t>(v >> 24);
            out_[at + 1] = static_cast<uint8_t>(v >> 16);
            out_[at + 2] = static_cast<uint8_t>(v >> 8);
            out_[at + 3] = static_cast<uint8_t>(v);
        }
    }

    size_t size() const { return size_; }
    bool ok() const { return ok_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t size_ = 0;
    bool ok_ = true;
};

void HuffmanTable(HeaderOut& out, uint8_t classAndId, const uint8_t* bits, const uint8_t* values,
                  size_t count) {
    out.Byte(classAndId);
    out.Bytes(bits, 16);
    out.Bytes(values, count);
}

// Offsets in the APP1 "mjpg" segment, counted from its first data byte.
constexpr size_t kApp1DataSize = 40;
constexpr size_t kFieldSizeField = 8;  // field size, then padded field size
constexpr size_t kOffsetsField = 20;   // quantisers, Huffman tables, frame, scan, data

}  // namespace

bool JpegFrameHeader::Build(int width, int height, bool formatAMarker) {
    size_ = 0;
    fieldSizeAt_ = 0;
    if (width < 1 || width > 65535 || height < 1 || height > 65535) {
        return false;
    }
    HeaderOut out(bytes_, kCapacity);
    out.Byte(0xFF);
    out.Byte(0xD8);
    size_t app1Data = 0;
    if (formatAMarker) {
        out.Marker(0xE1, 2 + kApp1DataSize);
        app1Data = out.size();
        const uint8_t zeros[kApp1DataSize] = {};
        out.Bytes(zeros, sizeof zeros);
        const uint8_t tag[4] = {'m', 'j', 'p', 'g'};
        std::memcpy(bytes_ + app1Data + 4, tag, 4);
    }
    const size_t quantAt = out.size();
    out.Marker(0xDB, 2 + 2 * 65);
    out.Byte(0x00);
    out.Bytes(jpeg::kLumaQuantZigzag, 64);
    out.Byte(0x01);
    out.Bytes(jpeg::kChromaQuantZigzag, 64);

    const size_t frameAt = out.size();
    out.Marker(0xC0, 17);
    out.Byte(8);
    out.Be16(static_cast<unsigned>(height));
    out.Be16(static_cast<unsigned>(width));
    const uint8_t components[10] = {3, 1, 0x21, 0, 2, 0x11, 1, 3, 0x11, 1};
    out.Bytes(components, sizeof components);

    const size_t huffmanAt = out.size();
    out.Marker(0xC4, 2 + 4 * 17 + sizeof jpeg::kLumaDcValues + sizeof jpeg::kLumaAcValues +
                         sizeof jpeg::kChromaDcValues + sizeof jpeg::kChromaAcValues);
    HuffmanTable(out, 0x00, jpeg::kLumaDcBits, jpeg::kLumaDcValues, sizeof jpeg::kLumaDcValues);
    HuffmanTable(out, 0x10, jpeg::kLumaAcBits, jpeg::kLumaAcValues, sizeof jpeg::kLumaAcValues);
    HuffmanTable(out, 0x01, jpeg::kChromaDcBits, jpeg::kChromaDcValues,
                 sizeof jpeg::kChromaDcValues);
    HuffmanTable(out, 0x11, jpeg::kChromaAcBits, jpeg::kChromaAcValues,
                 sizeof jpeg::kChromaAcValues);

    const size_t scanAt = out.size();
    out.Marker(0xDA, 12);
    const uint8_t scan[10] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    out.Bytes(scan, sizeof scan);
    const size_t dataAt = out.size();

    if (formatAMarker) {
        const size_t offsets[5] = {quantAt, huffmanAt, frameAt, scanAt, dataAt};
        for (int i = 0; i < 5; ++i) {
            out.PatchBe32(app1Data + kOffsetsField + 4 * i, static_cast<uint32_t>(offsets[i]));
        }
        fieldSizeAt_ = app1Data + kFieldSizeField;
    }
    if (!out.ok()) {
        fieldSizeAt_ = 0;
        return false;
    }
    size_ = out.size();
    return true;
}

void JpegFrameHeader::SetFieldSize(uint32_t pictureBytes) {
    if (fieldSizeAt_ == 0) {
        return;
    }
    uint8_t* field = bytes_ + fieldSizeAt_;
    for (int copy = 0; copy < 2; ++copy) {  // field size, then the same as padded field size
        field[4 * copy] = static_cast<uint8_t>(pictureBytes >> 24);
        field[4 * copy + 1] = static_cast<uint8_t>(pictureBytes >> 16);
        field[4 * copy + 2] = static_cast<uint8_t>(pictureBytes >> 8);
        field[4 * copy + 3] = static_cast<uint8_t>(pictureBytes);
    }
}

}  // namespace fluxmere::transcode
