#pragma once
// The picture decoder's fast path through the entropy-coded data: a whole-scan bit reader with a
// word-sized buffer and decode tables that resolve most codes, with their run and value, in one
// look-up. It decodes exactly what DecodeHuffmanBlock decodes, but only the common case: when it
// would need bits past a marker or the end of the data, or meets a code that is no code of the
// table, it gives up, and the caller decodes the MCU again (and the rest of the picture) through
// the primitives, from the reader state that PrimitiveState reports. That makes every unusual input
// the primitives' business, so both paths give the same planes and the same status for every input.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "decode/jpeg_tables.h"

namespace fluxmere::fast {

// Codes up to this many bits are resolved by one look-up.
constexpr int kLookaheadBits = 10;

// A look-up entry: bits 0..5 the bits to consume (the code, plus the value bits when the value
// is included; at most 31, so that a shift by the whole field needs no mask), bits 6..9 the
// value bits still to read, bits 10..15 how far an AC symbol moves the position (its zero run
// plus one for the value or zero it stores), bits 16..31 the value (signed; nonzero exactly when
// it is included, except for DC differences of category 0). An end of block moves by
// kEndOfBlockAdvance, past the block. An entry of 0 means the code is longer than the look-up.
namespace entry {
constexpr uint32_t kConsumedMask = 63;
constexpr uint32_t kSizeShift = 6;
constexpr uint32_t kSizeMask = 15u << kSizeShift;
constexpr uint32_t kAdvanceShift = 10;
constexpr uint32_t kEndOfBlockAdvance = 63;
constexpr uint32_t kValueShift = 16;
inline uint32_t Consumed(uint32_t e) {
    return e & kConsumedMask;
}
inline uint32_t Size(uint32_t e) {
    return (e >> kSizeShift) & 15;
}
inline uint32_t Advance(uint32_t e) {
    return (e >> kAdvanceShift) & 63;
}
inline int32_t Value(uint32_t e) {
    return static_cast<int32_t>(e) >> kValueShift;
}
}  // namespace entry

// The natural position of zigzag position k - 1, for every k the AC loop can reach after a
// symbol (at most 63 + kEndOfBlockAdvance): the loop moves k past the symbol first and then
// stores. The positions past the block map to 63: only zeros are stored there before the loop
// ends (an end of block, or sixteen zeros), or a value that runs past the block, which the
// primitives store at 63 too.
inline constexpr auto kNaturalOrderBefore = [] {
    struct Table {
        uint8_t at[64 + entry::kEndOfBlockAdvance];
    } table{};
    for (uint32_t k = 1; k < sizeof table.at; ++k) {
        table.at[k] = k <= 64 ? jpeg::kZigzagToNatural[k - 1] : 63;
    }
    return table;
}();

struct HuffmanLookup {
    uint32_t lookahead[1 << kLookaheadBits];
    // Canonical decoding of the longer codes, by length 1..16 (maxCode -1: no code that long).
    int32_t maxCode[17];
    int32_t minCode[17];
    int32_t valuePointer[17];
    uint8_t values[256];
};

// Builds the look-up for a DC table (symbols are value sizes) or an AC table (run and size).
// False for BITS/HUFFVAL that do not form a table (more than 256 codes or an overfull length).
bool BuildHuffmanLookup(const uint8_t* bits, const uint8_t* values, bool ac, HuffmanLookup* lookup);

// The entry of a symbol whose code has codeLength bits, value not included.
uint32_t EntryForSymbol(uint32_t symbol, int32_t codeLength, bool ac);

using BitWord = std::conditional_t<sizeof(void*) >= 8, uint64_t, uint32_t>;
constexpr int kWordBits = static_cast<int>(sizeof(BitWord) * 8);

inline BitWord LoadBigEndian(const uint8_t* bytes) {
    BitWord word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (sizeof(BitWord) == 8) {
        return __builtin_bswap64(word);
    } else {
        return __builtin_bswap32(word);
    }
}

// Whether any byte of the word is 0xFF.
inline bool HasFFByte(BitWord word) {
    constexpr BitWord kOnes = static_cast<BitWord>(~static_cast<BitWord>(0)) / 255;
    const BitWord inverted = ~word;
    return ((inverted - kOnes) & word & (kOnes << 7)) != 0;
}

#if defined(__GNUC__)
#define FLUXMERE_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define FLUXMERE_ALWAYS_INLINE inline
#endif

// The reader's position: kept in locals by the decoding loop, so that it lives in registers.
// The unread bits are the highest of bits, the oldest highest; a single 1 bit follows them (the
// sentinel) and zeros fill the rest. So the word tells its own count: a shift consumes bits
// without a counter to update, and whether n bits are there is whether the sentinel survives a
// shift by n.
struct BitState {
    const uint8_t* next;  // the next byte to read
    BitWord bits;
};

constexpr BitWord kSentinel = static_cast<BitWord>(1) << (kWordBits - 1);

FLUXMERE_ALWAYS_INLINE int CountBits(BitWord bits) {
    if constexpr (sizeof(BitWord) == 8) {
        return kWordBits - 1 - __builtin_ctzll(bits);
    } else {
        return kWordBits - 1 - __builtin_ctz(bits);
    }
}

// Whether at least n (1..kWordBits - 1) bits are unread: whether the sentinel lies in the lowest
// kWordBits - n bits (for 32 of 64, a test of the low half).
FLUXMERE_ALWAYS_INLINE bool HasBits(BitWord bits, int n) {
    return (bits & (~static_cast<BitWord>(0) >> n)) != 0;
}

// The byte-by-byte refill, for data with a 0xFF byte ahead (stuffing, or a marker) or near its
// end, until the word is full. When it meets a marker or the end it returns no bits at all (not
// even the sentinel): the primitives then take over, from the state the MCU started with. (The
// state goes in and out by value: passed by reference, it would have to live in memory.)
BitState RefillSlowly(BitState s, const uint8_t* end);

// Makes at least n (at most kWordBits - 8) bits available; false once the data ran into a
// marker or its end.
FLUXMERE_ALWAYS_INLINE bool Ensure(BitState& s, const uint8_t* end, int n) {
    if (HasBits(s.bits, n)) {
        return true;
    }
    // Most data has no 0xFF in the next word: take all its bytes that fit at once.
    if (end - s.next >= static_cast<ptrdiff_t>(sizeof(BitWord))) {
        const BitWord word = LoadBigEndian(s.next);
        if (!HasFFByte(word)) {
            const int count = CountBits(s.bits);
            const int bytes = (kWordBits - 1 - count) >> 3;  // 1..sizeof(BitWord) - 1
            const int taken = bytes * 8;
            const int free = kWordBits - count - taken;  // 1..8: bits below the new ones
            s.bits = (s.bits & (s.bits - 1)) | (word >> (kWordBits - taken)) << free |
                     static_cast<BitWord>(1) << (free - 1);
            s.next += bytes;
            return true;
        }
    }
    s = RefillSlowly(s, end);
    return s.bits != 0;
}

FLUXMERE_ALWAYS_INLINE BitWord Peek(const BitState& s, int n) {
    return s.bits >> (kWordBits - n);
}

FLUXMERE_ALWAYS_INLINE void Consume(BitState& s, int n) {
    s.bits <<= n;
}

// Consumes the bits of a look-up entry. The shift takes the entry as it is, masked to the
// word's shift range, which the processor's shift does by itself: the look-up's result feeds the
// next look-up through one instruction (this chain is what bounds the decoding speed).
FLUXMERE_ALWAYS_INLINE void ConsumeEntry(BitState& s, uint32_t e) {
    static_assert(entry::kConsumedMask == 63, "the consumed field must fill the shift range");
    s.bits <<= e & static_cast<uint32_t>(kWordBits - 1);
}

// n (1..15) value bits with EXTEND applied; needs n bits available.
FLUXMERE_ALWAYS_INLINE int32_t Receive(BitState& s, int n) {
    const int32_t v = static_cast<int32_t>(Peek(s, n));
    Consume(s, n);
    const int32_t topClear = ((v >> (n - 1)) & 1) ^ 1;
    return v - (-topClear & ((1 << n) - 1));
}

// The state DecodeHuffmanBlock continues from, for a reader at state over data starting at
// start: the whole unread bytes go back to the data (stepping back over 0xFF 0x00 stuffing and
// fill bytes), a partly read byte stays buffered.
void PrimitiveState(const BitState& state, const uint8_t* start, int32_t* bitPosition,
                    uint32_t* bitBuffer, int32_t* bitCount);

// The entry of a code longer than the look-up, found by its length from the next 16 bits; 0 when
// they start no code of the table.
uint32_t LongCodeEntry(uint32_t next16, const HuffmanLookup& lookup, bool ac);

// The entry of the next code, looked up or, for a longer code, found by its length; 0 when the
// bits are no code of the table. Needs 16 bits available.
FLUXMERE_ALWAYS_INLINE uint32_t NextEntry(const BitState& s, const HuffmanLookup& lookup, bool ac) {
    const uint32_t e = lookup.lookahead[Peek(s, kLookaheadBits)];
    if (e != 0) {
        return e;
    }
    return LongCodeEntry(static_cast<uint32_t>(Peek(s, 16)), lookup, ac);
}

// Bits to have available before each code: the code and, on 64-bit words, its value bits too.
constexpr int kSymbolBits = kWordBits >= 64 ? 32 : 16;

// The reader of 64-bit builds. It tops the word up before every code, without a branch on how
// many bits are left (that branch goes either way at random and mispredicts often): the top-up
// depends only on the count, which is known before the code's look-up returns, and the look-up
// takes its index from the bits as they were (a top-up at once leaves at least 56 bits, so 29
// or more are unread after any code), so the top-up stays off the chain "look-up -> shift ->
// look-up". Bytes are taken eight at a time up to the next 0xFF byte (stuffing or a marker) and
// short of the last 7 bytes of the data; from there the byte-by-byte refill takes over.
struct WideState {
    const uint8_t* next;  // the first byte whose bits are not all unread
    uint64_t bits;        // the unread bits at the top; below them the bits that follow, or zeros
    uint32_t count;       // how many bits are unread
    // A top-up at once may take the bytes before stop: it is one past the first 0xFF byte at
    // or after next, and leaves the last 7 bytes of the data out (the load reads 8).
    const uint8_t* stop;
};

// The byte-by-byte refill, up to 56 unread bits or more. When a marker or the end of the data
// comes first with fewer than kSymbolBits bits unread, it returns a state whose next is null.
// (The state goes in and out by value: passed by reference, it would have to live in memory.)
WideState RefillWideSlowly(WideState s, const uint8_t* end);

// The look-up of the next code and the top-up of the word, then the code consumed (and the
// value with it when the entry holds it). False when the data ran out or the code is no code
// of the table.
FLUXMERE_ALWAYS_INLINE bool NextSymbol(WideState& s, const uint8_t* end, const HuffmanLookup& table,
                                       bool ac, uint32_t* found) {
    size_t index = static_cast<size_t>(s.bits >> (64 - kLookaheadBits));
    const uint32_t bytes = (63 - s.count) >> 3;
    if (__builtin_expect(s.next + bytes < s.stop, 1)) {
        s.bits |= LoadBigEndian(s.next) >> s.count;
        s.next += bytes;
        s.count |= 56;
    } else {
        s = RefillWideSlowly(s, end);
        if (s.next == nullptr) {
            return false;
        }
        index = static_cast<size_t>(s.bits >> (64 - kLookaheadBits));
    }
    uint32_t e = table.lookahead[index];
    if (e == 0) {
        e = LongCodeEntry(static_cast<uint32_t>(s.bits >> 48), table, ac);
        if (e == 0) {
            return false;
        }
    }
    s.bits <<= e & 63;
    s.count -= e & 63;
    *found = e;
    return true;
}

FLUXMERE_ALWAYS_INLINE int32_t Receive(WideState& s, int n) {
    const int32_t v = static_cast<int32_t>(s.bits >> (64 - n));
    s.bits <<= n;
    s.count -= static_cast<uint32_t>(n);
    const int32_t topClear = ((v >> (n - 1)) & 1) ^ 1;
    return v - (-topClear & ((1 << n) - 1));
}

// The same steps for the sentinel reader.
FLUXMERE_ALWAYS_INLINE bool NextSymbol(BitState& s, const uint8_t* end, const HuffmanLookup& table,
                                       bool ac, uint32_t* found) {
    if (!Ensure(s, end, kSymbolBits)) {
        return false;
    }
    const uint32_t e = NextEntry(s, table, ac);
    if (e == 0) {
        return false;
    }
    ConsumeEntry(s, e);
    *found = e;
    return true;
}

// Reads the value bits of a symbol whose entry does not hold its value.
FLUXMERE_ALWAYS_INLINE bool ReceiveValue(BitState& s, const uint8_t* end, int size,
                                         int32_t* value) {
    if (kWordBits < 64 && !Ensure(s, end, size)) {
        return false;
    }
    *value = Receive(s, size);
    return true;
}

FLUXMERE_ALWAYS_INLINE bool ReceiveValue(WideState& s, const uint8_t*, int size, int32_t* value) {
    *value = Receive(s, size);
    return true;
}

// The state the primitives continue from (see the other PrimitiveState).
void PrimitiveState(const WideState& state, const uint8_t* start, int32_t* bitPosition,
                    uint32_t* bitBuffer, int32_t* bitCount);

// The reader the decoder uses: the wide one where words have 64 bits.
using ReaderState = std::conditional_t<kWordBits >= 64, WideState, BitState>;

// A reader at the start of data, no bits read.
template <typename State>
State StartOf(const uint8_t* data);
template <>
inline BitState StartOf<BitState>(const uint8_t* data) {
    return BitState{data, kSentinel};
}
template <>
inline WideState StartOf<WideState>(const uint8_t* data) {
    return WideState{data, 0, 0, data};  // the first refill is byte by byte
}

// One AC symbol of a block: its zero run and value stored at natural position k (zeros are
// stored as well: sixteen zeros and the end of block store one, which keeps the loop to one
// branch on the kind of symbol, a value still to read or not), k moved past it. *e is the
// symbol's look-up entry. False when the block must be left to the primitives.
template <typename State>
FLUXMERE_ALWAYS_INLINE bool DecodeAcSymbol(State& reader, const uint8_t* end,
                                           const HuffmanLookup& ac, int16_t* block, int32_t& k,
                                           uint32_t* e) {
    uint32_t found;
    if (!NextSymbol(reader, end, ac, true, &found)) {
        return false;
    }
    k += static_cast<int32_t>(entry::Advance(found));
    int32_t value = entry::Value(found);
    if ((found & entry::kSizeMask) != 0) {
        if (!ReceiveValue(reader, end, static_cast<int>(entry::Size(found)), &value)) {
            return false;
        }
    }
    block[kNaturalOrderBefore.at[k]] = static_cast<int16_t>(value);
    *e = found;
    return true;
}

// Decodes one block into block (natural order, all zero on entry), exactly as
// DecodeHuffmanBlock would. *hasAc is false when the block has no AC term (its first AC symbol
// ends it); true may also mean AC terms that are all zero (runs of sixteen zeros only). False
// when the block must be left to the primitives (the block and predictor may then hold partial
// results).
template <typename State>
FLUXMERE_ALWAYS_INLINE bool DecodeBlock(State& reader, const uint8_t* end, const HuffmanLookup& dc,
                                        const HuffmanLookup& ac, int16_t* predictor, int16_t* block,
                                        bool* hasAc) {
    uint32_t e;
    if (!NextSymbol(reader, end, dc, false, &e)) {
        return false;
    }
    int32_t difference = entry::Value(e);
    if (const int size = static_cast<int>(entry::Size(e))) {
        if (!ReceiveValue(reader, end, size, &difference)) {
            return false;
        }
    }
    *predictor = static_cast<int16_t>(static_cast<uint16_t>(*predictor + difference));
    block[0] = *predictor;

    // The first AC symbol tells whether there are AC terms at all; the loop needs no record of
    // the values it stores.
    int32_t k = 1;
    if (!DecodeAcSymbol(reader, end, ac, block, k, &e)) {
        return false;
    }
    *hasAc = entry::Advance(e) != entry::kEndOfBlockAdvance;
    while (k < 64) {
        if (!DecodeAcSymbol(reader, end, ac, block, k, &e)) {
            return false;
        }
    }
    return true;
}

}  // namespace fluxmere::fast
