// Decode tables of the fast path.

#include "decode/fast_scan.h"

namespace fluxmere::fast {

namespace {

// How far an AC symbol moves the position (DC symbols do not move it).
uint32_t AdvanceOf(uint32_t symbol, bool ac) {
    if (!ac) {
        return 0;
    }
    const uint32_t run = symbol >> 4;
    const bool endOfBlock = (symbol & 15) == 0 && run != 15;
    return endOfBlock ? entry::kEndOfBlockAdvance : run + 1;
}

}  // namespace

uint32_t EntryForSymbol(uint32_t symbol, int32_t codeLength, bool ac) {
    const uint32_t size = symbol & 15;
    return static_cast<uint32_t>(codeLength) | size << entry::kSizeShift |
           AdvanceOf(symbol, ac) << entry::kAdvanceShift;
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
                    e = static_cast<uint32_t>(length + size) |
                        AdvanceOf(symbol, ac) << entry::kAdvanceShift |
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

uint32_t LongCodeEntry(uint32_t next16, const HuffmanLookup& lookup, bool ac) {
    const int32_t code16 = static_cast<int32_t>(next16);
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

BitState RefillSlowly(BitState s, const uint8_t* end) {
    int count = CountBits(s.bits);
    while (count <= kWordBits - 9) {
        if (s.next >= end) {
            return BitState{s.next, 0};
        }
        uint8_t byte = *s.next;
        const uint8_t* after = s.next + 1;
        if (byte == 0xFF) {
            while (after < end && *after == 0xFF) {
                ++after;
            }
            if (after >= end || *after != 0) {
                return BitState{s.next, 0};  // a marker or the end
            }
            ++after;  // the stuffed zero
        }
        const int free = kWordBits - 8 - count;  // bits below the new byte
        s.bits = (s.bits & (s.bits - 1)) | static_cast<BitWord>(byte) << free |
                 static_cast<BitWord>(1) << (free - 1);
        count += 8;
        s.next = after;
    }
    return s;
}

namespace {

// The primitives' state for a reader whose next byte is at next, with count bits unread, the
// last count % 8 of them in partialBits.
void SetPrimitiveState(const uint8_t* next, uint32_t count, uint32_t partialBits,
                       const uint8_t* start, int32_t* bitPosition, uint32_t* bitBuffer,
                       int32_t* bitCount) {
    const uint8_t* at = next;
    for (uint32_t whole = count / 8; whole > 0; --whole) {
        if (at - start >= 2 && at[-1] == 0x00 && at[-2] == 0xFF) {
            at -= 2;
            while (at > start && at[-1] == 0xFF) {
                --at;
            }
        } else {
            --at;
        }
    }
    *bitPosition = static_cast<int32_t>(at - start) * 8;
    *bitBuffer = partialBits;
    *bitCount = static_cast<int32_t>(count % 8);
}

// The stop of a wide reader whose next byte is at from: one past the first 0xFF byte, and
// short of the last 8 bytes, so that whole bytes up to stop (not included) hold no 0xFF and
// may be loaded eight at a time; from itself when fewer than 8 bytes are left.
const uint8_t* StopFor(const uint8_t* from, const uint8_t* end) {
    if (end - from < 8) {
        return from;
    }
    const uint8_t* const loadable = end - 7;
    const void* found = std::memchr(from, 0xFF, static_cast<size_t>(loadable - from));
    return found != nullptr ? static_cast<const uint8_t*>(found) + 1 : loadable;
}

}  // namespace

void PrimitiveState(const BitState& state, const uint8_t* start, int32_t* bitPosition,
                    uint32_t* bitBuffer, int32_t* bitCount) {
    const int count = CountBits(state.bits);
    const int partial = count % 8;
    SetPrimitiveState(
        state.next, static_cast<uint32_t>(count),
        partial == 0 ? 0u : static_cast<uint32_t>(state.bits >> (kWordBits - partial)), start,
        bitPosition, bitBuffer, bitCount);
}

WideState RefillWideSlowly(WideState s, const uint8_t* end) {
    // The bits below the unread ones may be those of bytes this refill reads differently.
    s.bits = s.count == 0 ? 0 : s.bits & ~(~static_cast<uint64_t>(0) >> s.count);
    bool stopped = false;
    while (s.count < 56) {
        if (s.next >= end) {
            stopped = true;
            break;
        }
        const uint8_t byte = *s.next;
        const uint8_t* after = s.next + 1;
        if (byte == 0xFF) {
            while (after < end && *after == 0xFF) {
                ++after;
            }
            if (after >= end || *after != 0) {
                stopped = true;  // a marker or the end
                break;
            }
            ++after;  // the stuffed zero
        }
        s.bits |= static_cast<uint64_t>(byte) << (56 - s.count);
        s.count += 8;
        s.next = after;
    }
    if (stopped) {
        if (s.count < static_cast<uint32_t>(kSymbolBits)) {
            return WideState{nullptr, 0, 0, nullptr};
        }
        s.stop = s.next;  // every later refill comes here again
    } else {
        s.stop = StopFor(s.next, end);
    }
    return s;
}

void PrimitiveState(const WideState& state, const uint8_t* start, int32_t* bitPosition,
                    uint32_t* bitBuffer, int32_t* bitCount) {
    const uint32_t partial = state.count % 8;
    SetPrimitiveState(state.next, state.count,
                      partial == 0 ? 0u : static_cast<uint32_t>(state.bits >> (64 - partial)),
                      start, bitPosition, bitBuffer, bitCount);
}

}  // namespace fluxmere::fast
