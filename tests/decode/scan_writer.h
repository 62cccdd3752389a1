#pragma once
// Test helper: writes Huffman-coded blocks the way an encoder does (canonical codes from
// BITS/HUFFVAL, 0xFF stuffing, padding with 1 bits), so tests can build exact payloads.

#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "decode/jpeg_tables.h"

namespace fluxmere::testing {

class CodeBook {
public:
    CodeBook(const uint8_t* bits, const uint8_t* values) {
        uint32_t code = 0;
        int index = 0;
        for (int length = 1; length <= 16; ++length) {
            for (int i = 0; i < bits[length - 1]; ++i, ++index, ++code) {
                codes_[values[index]] = {code, length};
            }
            code <<= 1;
        }
    }
    // Code and length of a symbol (length 0: the table has no code for it).
    std::pair<uint32_t, int> operator[](uint8_t symbol) const { return codes_[symbol]; }

    static CodeBook LumaDc() { return CodeBook(jpeg::kLumaDcBits, jpeg::kLumaDcValues); }
    static CodeBook LumaAc() { return CodeBook(jpeg::kLumaAcBits, jpeg::kLumaAcValues); }
    static CodeBook ChromaDc() { return CodeBook(jpeg::kChromaDcBits, jpeg::kChromaDcValues); }
    static CodeBook ChromaAc() { return CodeBook(jpeg::kChromaAcBits, jpeg::kChromaAcValues); }

private:
    std::pair<uint32_t, int> codes_[256] = {};
};

class ScanWriter {
public:
    void PutBits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>(current_ << 1 | ((value >> i) & 1));
            if (++filled_ == 8) {
                EmitByte(current_);
                current_ = 0;
                filled_ = 0;
            }
        }
    }

    void PutSymbol(const CodeBook& book, uint8_t symbol) {
        const auto code = book[symbol];
        PutBits(code.first, code.second);
    }

    // Category and value bits of a nonzero or zero value (T.81 F.1.2.1).
    static int Category(int value) {
        int magnitude = std::abs(value), category = 0;
        while (magnitude) {
            ++category;
            magnitude >>= 1;
        }
        return category;
    }
    void PutValue(int value, int category) {
        if (category == 0) {
            return;
        }
        const int bits = value >= 0 ? value : value + (1 << category) - 1;
        PutBits(static_cast<uint32_t>(bits), category);
    }

    // One block: DC difference, then (run, value) pairs in zigzag order; runs above 15 are
    // written with ZRL symbols; an EOB follows unless the last value sits at index 63.
    void PutBlock(const CodeBook& dc, const CodeBook& ac, int dcDifference,
                  const std::vector<std::pair<int, int>>& acTerms) {
        const int dcCategory = Category(dcDifference);
        PutSymbol(dc, static_cast<uint8_t>(dcCategory));
        PutValue(dcDifference, dcCategory);
        int k = 1;
        for (const auto& term : acTerms) {
            int run = term.first;
            while (run > 15) {
                PutSymbol(ac, 0xF0);
                run -= 16;
                k += 16;
            }
            const int category = Category(term.second);
            PutSymbol(ac, static_cast<uint8_t>(run << 4 | category));
            PutValue(term.second, category);
            k += run + 1;
        }
        if (k < 64) {
            PutSymbol(ac, 0x00);
        }
    }

    // Pads the last byte with 1 bits and returns the data.
    std::vector<uint8_t> Finish() {
        if (filled_ > 0) {
            PutBits(0xFF, 8 - filled_);
        }
        return bytes_;
    }

private:
    void EmitByte(uint8_t byte) {
        bytes_.push_back(byte);
        if (byte == 0xFF) {
            bytes_.push_back(0x00);
        }
    }

    std::vector<uint8_t> bytes_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

}  // namespace fluxmere::testing
