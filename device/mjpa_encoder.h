#pragma once
// Encoder of "mjpa" picture payloads for the device stand-in and the decoder's tests (native only,
// built on libjpeg).
//
// A payload is the entropy-coded data of one baseline JPEG scan and nothing else: 4:2:2 sampling
// (16 x 8 MCUs: two luma blocks, then Cb, then Cr), the fixed quantisers of decode/jpeg_tables.h,
// the standard Huffman tables, no restart intervals. The encoder can also hand out the whole
// JPEG (headers, scan, EOI) and wrap any payload back into such a JPEG.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fluxmere {

// A planar 4:2:2 picture: luma width x height, each chroma plane (width + 1) / 2 x height.
struct YCbCr422Picture {
    const uint8_t* y = nullptr;
    const uint8_t* cb = nullptr;
    const uint8_t* cr = nullptr;
    int width = 0;
    int height = 0;
    int lumaStride = 0;    // bytes between luma rows
    int chromaStride = 0;  // bytes between chroma rows
};

// Packed 8-bit R, G, B pixels (converted to YCbCr and subsampled by libjpeg).
struct RgbPicture {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// Whole JPEG files. False (output cleared) for an empty picture, null planes or a libjpeg error.
bool EncodeMjpaJpeg(const YCbCr422Picture& picture, std::vector<uint8_t>* jpeg);
bool EncodeMjpaJpeg(const RgbPicture& picture, std::vector<uint8_t>* jpeg);

// Payloads: the entropy-coded data alone.
bool EncodeMjpaPayload(const YCbCr422Picture& picture, std::vector<uint8_t>* payload);
bool EncodeMjpaPayload(const RgbPicture& picture, std::vector<uint8_t>* payload);

// The entropy-coded data of a JPEG as this encoder writes it: everything after the SOS segment
// up to, not including, the final EOI. False when no SOS segment or no final EOI is found.
bool ExtractEntropyCodedData(const uint8_t* jpeg, size_t size, std::vector<uint8_t>* payload);

// A whole JPEG of width x height around a payload: the headers this encoder writes (fixed
// quantisers, standard Huffman tables, 4:2:2), the payload, EOI. False for sizes outside
// 1..65535.
bool WrapMjpaPayload(const uint8_t* payload, size_t size, int width, int height,
                     std::vector<uint8_t>* jpeg);

}  // namespace fluxmere
