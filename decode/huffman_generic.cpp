// Generic Huffman table building and block decoding.

#include <cstdint>
#include <cstring>

#include "decode/huffman_table.h"
#include "decode/jpeg_tables.h"
#include "decode/primitives_generic.h"

namespace fluxmere::generic {
namespace {

using detail::HuffmanDecodeTable;

int32_t CheckBitsTotal(const uint8_t* bits, int32_t* total) {
    int32_t sum = 0;
    for (int length = 1; length <= 16; ++length) {
        sum += bits[length - 1];
        if (sum > 256) {
            return StatusBadHuffmanTable;
        }
    }
    *total = sum;
    return StatusOk;
}

// Codes of up to 8 bits must leave their lookahead entries inside the 256-entry table.
int32_t CheckLookaheadFits(const uint8_t* bits) {
    uint32_t code = 0;
    for (int length = 1; length <= 8; ++length) {
        code += bits[length - 1];
        // The last code of this length is code - 1; its entries end at code << (8 - length).
        if (bits[length - 1] != 0 && (code << (8 - length)) > 256) {
            return StatusBadHuffmanTable;
        }
        code <<= 1;
    }
    return StatusOk;
}

// The bit reader state of one DecodeHuffmanBlock call, held in locals for speed.
class BitReader {
public:
    BitReader(const uint8_t* data, int32_t end, int32_t position, int32_t marker, uint32_t buffer,
              int32_t count)
        : data_(data),
          end_(end),
          position_(position),
          marker_(marker),
          buffer_(buffer),
          count_(count) {}

    // Appends bytes while at most 24 bits are buffered; stops for good at a marker or at the
    // end of the data. Returns the number of buffered bits.
    int32_t Fill() {
        if (marker_ > 0) {
            return count_;
        }
        // Most data has no 0xFF byte in the next four: append the bytes the buffer takes at
        // once (the same bytes the loop below would append one by one).
        if (count_ <= 24 && end_ - position_ >= 4) {
            const uint8_t* next = data_ + position_;
            if (next[0] != 0xFF && next[1] != 0xFF && next[2] != 0xFF && next[3] != 0xFF) {
                const int32_t bytes = (32 - count_) >> 3;  // 1..4
                const uint32_t word = static_cast<uint32_t>(next[0]) << 24 |
                                      static_cast<uint32_t>(next[1]) << 16 |
                                      static_cast<uint32_t>(next[2]) << 8 | next[3];
                const int32_t appended = bytes * 8;
                buffer_ = (appended == 32 ? 0u : buffer_ << appended) | word >> (32 - appended);
                count_ += appended;
                position_ += bytes;
                return count_;
            }
        }
        while (count_ <= 24) {
            if (position_ >= end_) {
                marker_ = kEndOfDataMarker;
                break;
            }
            const uint32_t byte = data_[position_++];
            if (byte != 0xFF) {
                buffer_ = buffer_ << 8 | byte;
                count_ += 8;
                continue;
            }
            uint32_t next;
            do {
                if (position_ >= end_) {
                    marker_ = kEndOfDataMarker;
                    return count_;
                }
                next = data_[position_++];
            } while (next == 0xFF);
            if (next != 0) {
                marker_ = static_cast<int32_t>(next);
                break;
            }
            buffer_ = buffer_ << 8 | 0xFF;
            count_ += 8;
        }
        return count_;
    }

    // The next n (1..16) bits, zero bits standing in for missing ones; needs count_ >= 1.
    uint32_t Take(int32_t n) {
        const uint32_t bits = count_ >= n ? buffer_ >> (count_ - n) : buffer_ << (n - count_);
        count_ -= n;
        return bits & ((1u << n) - 1);
    }

    uint32_t Peek8() const {
        const uint32_t bits = count_ >= 8 ? buffer_ >> (count_ - 8) : buffer_ << (8 - count_);
        return bits & 0xFF;
    }

    enum Symbol { kFound, kAbsent, kInvalid };

    Symbol Decode(const HuffmanDecodeTable& table, uint32_t* symbol) {
        if (count_ < 8 && Fill() <= 0) {
            return kAbsent;
        }
        const uint32_t entry = table.lookahead[Peek8()];
        if (entry != 0) {
            count_ -= static_cast<int32_t>(entry >> 8);
            *symbol = entry & 0xFF;
            return kFound;
        }
        if (count_ < 9 && Fill() <= 0) {
            return kAbsent;
        }
        int32_t code = static_cast<int32_t>(Take(9));
        int32_t length = 9;
        while (code > table.maxCode[length]) {
            if (length == 16) {
                return kInvalid;
            }
            if (count_ <= 0 && Fill() <= 0) {
                return kAbsent;
            }
            code = code << 1 | static_cast<int32_t>(Take(1));
            ++length;
        }
        const int32_t index = table.valuePointer[length] + code - table.minCode[length];
        if (index < 0 || index > 255) {  // only reachable with an overfull table
            return kInvalid;
        }
        *symbol = table.values[index];
        return kFound;
    }

    // Receives s (1..15) value bits and applies EXTEND. False when no bit is left.
    bool Receive(int32_t s, int32_t* value) {
        if (count_ < s && Fill() <= 0) {
            return false;
        }
        const int32_t v = static_cast<int32_t>(Take(s));
        // EXTEND without a branch (its outcome is random in real data): when the top bit of
        // the s bits is clear, subtract 2^s - 1.
        const int32_t topClear = ((v >> (s - 1)) & 1) ^ 1;
        *value = v - (-topClear & ((1 << s) - 1));
        return true;
    }

    void DropBits() { count_ = 0; }

    int32_t position() const { return position_; }
    int32_t marker() const { return marker_; }
    uint32_t buffer() const { return buffer_; }
    // Missing bits read as zeros may leave the count below 0; callers see "none left".
    int32_t count() const { return count_ > 0 ? count_ : 0; }

private:
    const uint8_t* data_;
    int32_t end_;
    int32_t position_;
    int32_t marker_;
    uint32_t buffer_;
    int32_t count_;
};

}  // namespace

int32_t HuffmanTableSize(int32_t* size) {
    if (size == nullptr) {
        return StatusNullPointer;
    }
    *size = kHuffmanTableBytes;
    return StatusOk;
}

int32_t BuildHuffmanTable(const uint8_t* bits, const uint8_t* values, uint8_t* tableBytes) {
    if (bits == nullptr || values == nullptr || tableBytes == nullptr) {
        return StatusNullPointer;
    }
    int32_t total = 0;
    int32_t status = CheckBitsTotal(bits, &total);
    if (status == StatusOk) {
        status = CheckLookaheadFits(bits);
    }
    if (status != StatusOk) {
        return status;
    }
    HuffmanDecodeTable& table = *reinterpret_cast<HuffmanDecodeTable*>(tableBytes);
    std::memset(tableBytes, 0, kHuffmanTableBytes);
    for (int32_t i = 0; i < total; ++i) {
        table.values[i] = values[i];
    }
    int32_t code = 0;
    int32_t symbolIndex = 0;
    for (int length = 1; length <= 16; ++length) {
        const int32_t count = bits[length - 1];
        if (count == 0) {
            table.maxCode[length] = -1;
        } else {
            table.valuePointer[length] = symbolIndex;
            table.minCode[length] = code;
            table.maxCode[length] = code + count - 1;
            if (length <= 8) {
                const int32_t span = 1 << (8 - length);
                for (int32_t i = 0; i < count; ++i) {
                    const uint16_t entry =
                        static_cast<uint16_t>(length << 8 | values[symbolIndex + i]);
                    const int32_t first = (code + i) << (8 - length);
                    for (int32_t e = 0; e < span; ++e) {
                        table.lookahead[first + e] = entry;
                    }
                }
            }
        }
        code = (code + count) << 1;
        symbolIndex += count;
    }
    return StatusOk;
}

int32_t DecodeHuffmanBlock(const uint8_t* data, int32_t dataSize, int32_t* bitPosition,
                           int16_t* block, int16_t* predictor, int32_t* marker, uint32_t* bitBuffer,
                           int32_t* bitCount, const uint8_t* dcTable, const uint8_t* acTable) {
    if (data == nullptr || bitPosition == nullptr) {
        return StatusNullPointer;
    }
    if (*bitPosition < 0 || dataSize < 0) {
        return StatusBadArgument;
    }
    if (block == nullptr || predictor == nullptr || marker == nullptr || bitBuffer == nullptr ||
        bitCount == nullptr) {
        return StatusNullPointer;
    }
    if (*bitCount < 0 || *bitCount > 32) {
        return StatusBadArgument;
    }
    if (dcTable == nullptr || acTable == nullptr) {
        return StatusNullPointer;
    }
    const HuffmanDecodeTable& dc = *reinterpret_cast<const HuffmanDecodeTable*>(dcTable);
    const HuffmanDecodeTable& ac = *reinterpret_cast<const HuffmanDecodeTable*>(acTable);

    std::memset(block, 0, 64 * sizeof(int16_t));
    // Positions are reported in bits in 32 bits, which bounds how far the reader may go.
    constexpr int32_t kMaxBytes = INT32_MAX / 8;
    const int32_t end = dataSize < kMaxBytes ? dataSize : kMaxBytes;
    BitReader reader(data, end, *bitPosition / 8, *marker, *bitBuffer, *bitCount);
    auto saveReader = [&](bool savePosition) {
        if (savePosition) {
            *bitPosition = reader.position() * 8;
        }
        *marker = reader.marker();
        *bitBuffer = reader.buffer();
        *bitCount = reader.count();
    };

    uint32_t symbol = 0;
    BitReader::Symbol found = reader.Decode(dc, &symbol);
    if (found == BitReader::kAbsent) {
        saveReader(false);
        return StatusOk;
    }
    if (found == BitReader::kInvalid) {
        saveReader(true);
        return StatusBadCode;
    }
    const int32_t dcBits = static_cast<int32_t>(symbol & 15);
    if (dcBits > 0) {
        int32_t difference = 0;
        if (!reader.Receive(dcBits, &difference)) {
            saveReader(true);
            return StatusNoData;
        }
        *predictor = static_cast<int16_t>(static_cast<uint16_t>(*predictor + difference));
    }
    block[0] = *predictor;

    for (int32_t k = 1; k < 64;) {
        found = reader.Decode(ac, &symbol);
        if (found == BitReader::kAbsent) {
            reader.DropBits();
            break;
        }
        if (found == BitReader::kInvalid) {
            saveReader(true);
            return StatusBadCode;
        }
        const int32_t run = static_cast<int32_t>(symbol >> 4);
        const int32_t size = static_cast<int32_t>(symbol & 15);
        if (size == 0) {
            if (run != 15) {
                break;
            }
            k += 16;
            continue;
        }
        k += run;
        int32_t value = 0;
        if (!reader.Receive(size, &value)) {
            saveReader(true);
            return StatusNoData;
        }
        block[jpeg::kZigzagToNatural[k]] = static_cast<int16_t>(value);
        ++k;
    }
    saveReader(true);
    return StatusOk;
}

}  // namespace fluxmere::generic
