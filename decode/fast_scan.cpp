// Decode tables of the fast path.

#include "decode/fast_scan.h"

namespace fluxmere::fast {

uint32_t EntryForSymbol(uint32_t symbol, int32_t codeLength, bool ac) {
    const uint32_t size = symbol & 15;
    uint32_t run = ac ? symbol >> 4 : 0;
    if (ac && size == 0 && run != 15) {
        run = entry::kEndOfBlockRun;
    }
    return static_cast<uint32_t>(codeLength) | size << entry::kSizeShift | run << entry::kRunShift;
}

bool BuildHuffmanLookup(const uint8_t* bits, const uint8_t* values, bool ac,
                        HuffmanLookup* lookup) {
    std::memset(lookup, 0, sizeof *lookup);
    int32_t total = 0;
    for (int length = 1; length <= 16; ++length) {
        total += bits[length - 1];
    }
    if (total > 256) {
        return false;
    }
    std::memcpy(lookup->values, values, static_cast<size_t>(total));
    int32_t code = 0;
    int32_t symbolIndex = 0;
    for (int length = 1; length <= 16; ++length) {
        const int32_t count = bits[length - 1];
        lookup->maxCode[length] = count == 0 ? -1 : code + count - 1;
        lookup->minCode[length] = code;
        lookup->valuePointer[length] = symbolIndex;
        if (count != 0 && code + count > (1 << length)) {
            return false;  // more codes than the length can hold
        }
        for (int32_t i = 0; i < count && length <= kLookaheadBits; ++i) {
            const uint32_t symbol = values[symbolIndex + i];
            const uint32_t plain = EntryForSymbol(symbol, length, ac);
            const int free = kLookaheadBits - length;
            const int size = static_cast<int>(symbol & 15);
            const int32_t first = (code + i) << free;
            for (int32_t tail = 0; tail < (1 << free); ++tail) {
                uint32_t e = plain;
                if (size > 0 && size <= free) {
                    // The value bits follow the code inside the look-up: include the value.
                    const int32_t v = tail >> (free - size);
                    const int32_t topClear = ((v >> (size - 1)) & 1) ^ 1;
                    const int32_t value = v - (-topClear & ((1 << size) - 1));
                    const uint32_t run = ac ? symbol >> 4 : 0;
                    e = static_cast<uint32_t>(length + size) | run << entry::kRunShift |
                        static_cast<uint32_t>(value) << entry::kValueShift;
                }
                lookup->lookahead[first + tail] = e;
            }
        }
        code = (code + count) << 1;
        symbolIndex += count;
    }
    return true;
}

uint32_t LongCodeEntry(BitWord bits, const HuffmanLookup& lookup, bool ac) {
    const int32_t code16 = static_cast<int32_t>(bits >> (kWordBits - 16));
    for (int length = kLookaheadBits + 1; length <= 16; ++length) {
        const int32_t code = code16 >> (16 - length);
        if (code <= lookup.maxCode[length]) {
            const int32_t index = lookup.valuePointer[length] + code - lookup.minCode[length];
            if (index < 0 || index > 255) {
                return 0;
            }
            return EntryForSymbol(lookup.values[index], length, ac);
        }
    }
    return 0;
}

BitState RefillSlowly(const uint8_t* next, BitWord bits, int count, const uint8_t* end) {
    BitState s{next, bits, count};
    while (s.count <= kWordBits - 8) {
        if (s.next >= end) {
            s.count = -1;
            return s;
        }
        uint8_t byte = *s.next;
        const uint8_t* after = s.next + 1;
        if (byte == 0xFF) {
            while (after < end && *after == 0xFF) {
                ++after;
            }
            if (after >= end || *after != 0) {
                s.count = -1;  // a marker or the end
                return s;
            }
            ++after;  // the stuffed zero
        }
        s.bits |= static_cast<BitWord>(byte) << (kWordBits - 8 - s.count);
        s.count += 8;
        s.next = after;
    }
    return s;
}

void PrimitiveState(const BitState& state, const uint8_t* start, int32_t* bitPosition,
                    uint32_t* bitBuffer, int32_t* bitCount) {
    const uint8_t* at = state.next;
    for (int whole = state.count / 8; whole > 0; --whole) {
        if (at - start >= 2 && at[-1] == 0x00 && at[-2] == 0xFF) {
            at -= 2;
            while (at > start && at[-1] == 0xFF) {
                --at;
            }
        } else {
            --at;
        }
    }
    const int partial = state.count % 8;
    *bitPosition = static_cast<int32_t>(at - start) * 8;
    *bitBuffer = partial == 0 ? 0u : static_cast<uint32_t>(state.bits >> (kWordBits - partial));
    *bitCount = partial;
}

}  // namespace fluxmere::fast
