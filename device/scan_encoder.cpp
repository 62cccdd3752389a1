#include "device/scan_encoder.h"

#include "decode/jpeg_tables.h"

namespace fluxmere::device {
namespace {

// Rows of the orthonormal 8-point DCT-II in 1/8192: round(c(u) cos((2x + 1) u pi / 16) 8192),
// written out so that no platform's cosine enters the result.
constexpr int32_t kDct[8][8] = {
    {2896, 2896, 2896, 2896, 2896, 2896, 2896, 2896},
    {4017, 3406, 2276, 799, -799, -2276, -3406, -4017},
    {3784, 1567, -1567, -3784, -3784, -1567, 1567, 3784},
    {3406, -799, -4017, -2276, 2276, 4017, 799, -3406},
    {2896, -2896, -2896, 2896, 2896, -2896, -2896, 2896},
    {2276, -4017, 799, 3406, -3406, -799, 4017, -2276},
    {1567, -3784, 3784, -1567, -1567, 3784, -3784, 1567},
    {799, -2276, 3406, -4017, 4017, -3406, 2276, -799},
};

// value / 2^13, rounded half away from zero (no shift of a negative number).
int32_t Descale(int32_t value) {
    return value >= 0 ? (value + 4096) / 8192 : -((-value + 4096) / 8192);
}

int32_t DivideRounded(int32_t value, int32_t divisor) {
    return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
}

// Code and length of every symbol of one Huffman table (T.81 Annex C).
struct HuffmanCodes {
    uint16_t code[256] = {};
    uint8_t length[256] = {};

    HuffmanCodes(const uint8_t* bits, const uint8_t* values) {
        uint16_t next = 0;
        int k = 0;
        for (int size = 1; size <= 16; ++size) {
            for (int i = 0; i < bits[size - 1]; ++i, ++k) {
                code[values[k]] = next++;
                length[values[k]] = static_cast<uint8_t>(size);
            }
            next = static_cast<uint16_t>(next << 1);
        }
    }
};

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}

    void Put(uint32_t bits, int count) {
        buffer_ = (buffer_ << count) | (bits & ((1u << count) - 1));
        count_ += count;
        while (count_ >= 8) {
            const uint8_t byte = static_cast<uint8_t>(buffer_ >> (count_ - 8));
            out_->push_back(byte);
            if (byte == 0xFF) {
                out_->push_back(0x00);  // stuffing: a coded 0xFF is no marker
            }
            count_ -= 8;
        }
    }
    // Pads the last byte with one-bits.
    void Flush() {
        if (count_ > 0) {
            Put(0x7F, 8 - count_);
        }
    }

private:
    std::vector<uint8_t>* out_;
    uint32_t buffer_ = 0;
    int count_ = 0;
};

struct Tables {
    HuffmanCodes lumaDc{jpeg::kLumaDcBits, jpeg::kLumaDcValues};
    HuffmanCodes lumaAc{jpeg::kLumaAcBits, jpeg::kLumaAcValues};
    HuffmanCodes chromaDc{jpeg::kChromaDcBits, jpeg::kChromaDcValues};
    HuffmanCodes chromaAc{jpeg::kChromaAcBits, jpeg::kChromaAcValues};
    int32_t lumaQuant[64];  // natural order
    int32_t chromaQuant[64];

    Tables() {
        for (int k = 0; k < 64; ++k) {
            lumaQuant[jpeg::kZigzagToNatural[k]] = jpeg::kLumaQuantZigzag[k];
            chromaQuant[jpeg::kZigzagToNatural[k]] = jpeg::kChromaQuantZigzag[k];
        }
    }
};

// Magnitude category of a coefficient and its value bits (negative values one's complement).
int Category(int32_t v) {
    uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
    int bits = 0;
    while (magnitude != 0) {
        ++bits;
        magnitude >>= 1;
    }
    return bits;
}

void PutValue(BitWriter& out, const HuffmanCodes& codes, int symbol, int32_t value, int bits) {
    out.Put(codes.code[symbol], codes.length[symbol]);
    if (bits > 0) {
        out.Put(static_cast<uint32_t>(value < 0 ? value - 1 : value), bits);
    }
}

// One 8 x 8 block of samples (rows of `stride`, with the last column and line repeated past
// `columns` and `lines`): transform, quantise, code.
void EncodeBlock(BitWriter& out, const uint8_t* samples, int stride, int columns, int lines,
                 const int32_t* quant, const HuffmanCodes& dc, const HuffmanCodes& ac,
                 int32_t* predictor) {
    int32_t rows[8][8];
    for (int y = 0; y < 8; ++y) {
        const uint8_t* line = samples + (y < lines ? y : lines - 1) * stride;
        for (int u = 0; u < 8; ++u) {
            int32_t sum = 0;
            for (int x = 0; x < 8; ++x) {
                sum += kDct[u][x] * (int32_t{line[x < columns ? x : columns - 1]} - 128);
            }
            rows[y][u] = Descale(sum);
        }
    }
    int32_t quantised[64];
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            int32_t sum = 0;
            for (int y = 0; y < 8; ++y) {
                sum += kDct[v][y] * rows[y][u];
            }
            quantised[v * 8 + u] = DivideRounded(Descale(sum), quant[v * 8 + u]);
        }
    }
    const int32_t difference = quantised[0] - *predictor;
    *predictor = quantised[0];
    const int dcBits = Category(difference);
    PutValue(out, dc, dcBits, difference, dcBits);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int32_t v = quantised[jpeg::kZigzagToNatural[k]];
        if (v == 0) {
            ++run;
            continue;
        }
        for (; run >= 16; run -= 16) {
            out.Put(ac.code[0xF0], ac.length[0xF0]);  // sixteen zeros
        }
        const int bits = Category(v);
        PutValue(out, ac, run << 4 | bits, v, bits);
        run = 0;
    }
    if (run > 0) {
        out.Put(ac.code[0x00], ac.length[0x00]);  // end of block
    }
}

}  // namespace

bool EncodeScan(const YCbCr422Picture& picture, std::vector<uint8_t>* payload) {
    payload->clear();
    if (picture.y == nullptr || picture.cb == nullptr || picture.cr == nullptr ||
        picture.width < 1 || picture.height < 1) {
        return false;
    }
    static const Tables tables;
    BitWriter out(payload);
    int32_t lumaPredictor = 0, cbPredictor = 0, crPredictor = 0;
    const int chromaWidth = (picture.width + 1) / 2;
    for (int top = 0; top < picture.height; top += 8) {
        const int lines = picture.height - top < 8 ? picture.height - top : 8;
        for (int left = 0; left < picture.width; left += 16) {
            for (int half = 0; half < 2; ++half) {
                // A luma block wholly right of the picture repeats its last column.
                const int x = left + 8 * half < picture.width ? left + 8 * half : picture.width - 1;
                const int columns = picture.width - x < 8 ? picture.width - x : 8;
                EncodeBlock(out, picture.y + top * picture.lumaStride + x, picture.lumaStride,
                            columns, lines, tables.lumaQuant, tables.lumaDc, tables.lumaAc,
                            &lumaPredictor);
            }
            const int cx = left / 2;
            const int columns = chromaWidth - cx < 8 ? chromaWidth - cx : 8;
            EncodeBlock(out, picture.cb + top * picture.chromaStride + cx, picture.chromaStride,
                        columns, lines, tables.chromaQuant, tables.chromaDc, tables.chromaAc,
                        &cbPredictor);
            EncodeBlock(out, picture.cr + top * picture.chromaStride + cx, picture.chromaStride,
                        columns, lines, tables.chromaQuant, tables.chromaDc, tables.chromaAc,
                        &crPredictor);
        }
    }
    out.Flush();
    return true;
}

}  // namespace fluxmere::device
