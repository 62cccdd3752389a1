// Quantisation, codes and their placement in a DV video segment.

#include "transcode/dv_segment_coder.h"

#include <cstring>
#include <initializer_list>

namespace fluxmere::transcode::dv {
namespace {

// The transform's coefficients carry 4 fraction bits. A coefficient is rounded up from this far
// into a quantisation step (in sixteenths): a little below half, which saves more bits than it
// costs in error at these rates.
constexpr int kFractionBits = 4;
constexpr int kRoundSixteenths = 6;

// Chroma is quantised one class coarser than luma: its blocks cover more of the picture, and
// the bits go further in luma.
constexpr int kLumaClass = 2;
constexpr int kChromaClass = 3;

constexpr int kBlockByteOffset[kBlocksPerMacroblock] = {4, 18, 32, 46, 60, 70};
constexpr int kAreaBits[kBlocksPerMacroblock] = {100, 100, 100, 100, 68, 68};
constexpr int kHeaderBits = 12;  // DC 9, DCT mode 1, class 2

// Worst case of the codes of a segment: every coefficient of every block at the longest code.
static_assert(kBlocksPerSegment * (63 * 29 + kEndOfBlockLength) + 64 <= 8192 * 8);

inline uint64_t LoadBig64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

inline void StoreBig64(uint8_t* p, uint64_t v) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    std::memcpy(p, &v, 8);
}

// `count` (1..32) bits at bit `position` of a big-endian bit string.
inline uint32_t ReadBits(const uint8_t* bytes, int position, int count) {
    return static_cast<uint32_t>((LoadBig64(bytes + (position >> 3)) << (position & 7)) >>
                                 (64 - count));
}

// ORs the low `count` (1..32) bits of `value` in at bit `position`.
inline void OrBits(uint8_t* bytes, int position, uint32_t value, int count) {
    uint8_t* at = bytes + (position >> 3);
    StoreBig64(at, LoadBig64(at) | static_cast<uint64_t>(value) << (64 - count - (position & 7)));
}

void CopyBits(uint8_t* to, int toPosition, const uint8_t* from, int fromPosition, int count) {
    while (count > 0) {
        const int n = count < 32 ? count : 32;
        OrBits(to, toPosition, ReadBits(from, fromPosition, n), n);
        toPosition += n;
        fromPosition += n;
        count -= n;
    }
}

void SetOnes(uint8_t* to, int position, int count) {
    while (count > 0) {
        const int n = count < 32 ? count : 32;
        OrBits(to, position, n == 32 ? 0xFFFFFFFFu : (1u << n) - 1, n);
        position += n;
        count -= n;
    }
}

// Appends codes to a big-endian bit string, 32 bits at a time.
class BitWriter {
public:
    BitWriter(uint8_t* bytes, size_t capacity) : bytes_(bytes), capacity_(capacity) {}

    void Put(uint32_t bits, int length) {  // length 1..32
        pending_ = pending_ << length | bits;
        pendingBits_ += length;
        if (pendingBits_ >= 32) {
            pendingBits_ -= 32;
            Store(static_cast<uint32_t>(pending_ >> pendingBits_));
        }
    }
    int position() const { return static_cast<int>(stored_ * 8) + pendingBits_; }
    void Flush() {
        if (pendingBits_ > 0) {
            Store(static_cast<uint32_t>(pending_ << (32 - pendingBits_)));
            stored_ -= 4;  // the pending bits stay counted in pendingBits_
        }
    }

private:
    void Store(uint32_t word) {
        if (stored_ + 4 <= capacity_) {
            const uint8_t big[4] = {static_cast<uint8_t>(word >> 24),
                                    static_cast<uint8_t>(word >> 16),
                                    static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            std::memcpy(bytes_ + stored_, big, 4);
        }
        stored_ += 4;
    }

    uint8_t* bytes_;
    size_t capacity_;
    size_t stored_ = 0;
    uint64_t pending_ = 0;
    int pendingBits_ = 0;
};

}  // namespace

// The steps of a quantisation number and class by scan position; levels below leastLevel are
// not coded.
void SegmentCoder::SetSteps(int quantNumber, int blockClass, int leastLevel,
                            QuantiserSteps* steps) {
    for (int scan = 0; scan < 64; ++scan) {
        const int shift = AreaShift(quantNumber, blockClass, kScan.area[scan]);
        const int add = kRoundSixteenths << shift;
        const int below = (leastLevel << (kFractionBits + shift)) - add - 1;
        steps->add[scan] = static_cast<uint16_t>(add);
        steps->scale[scan] = static_cast<uint16_t>(1 << (16 - kFractionBits - shift));
        // The DC coefficient has its own field.
        steps->below[scan] = static_cast<uint16_t>(scan == 0 || below > 0x7FFF ? 0x7FFF : below);
    }
}

SegmentCoder::SegmentCoder() : vlc_(SharedVlcTable()) {
    for (int q = 0; q < kQuantNumberCount; ++q) {
        for (int c = 0; c < kClassCount; ++c) {
            SetSteps(q, c, 1, &steps_[q][c]);
        }
    }
    std::memset(states_, 0, sizeof states_);
    std::memset(stream_, 0, sizeof stream_);
    std::memset(segment_, 0, sizeof segment_);
}

// Luma in class 2 and chroma in class 3, unless a level would not fit in 8 bits: class 3 halves
// every amplitude once more. Only an unshifted area can overflow (amplitudes stay below
// 16 * 512), so most blocks need no look at their amplitudes.
int SegmentCoder::ClassFor(const BlockState& state, int quantNumber) const {
    const int base = state.chroma ? kChromaClass : kLumaClass;
    constexpr int kOverflow = (256 << kFractionBits) - kRoundSixteenths;
    if (base == 3 || state.block->largest < kOverflow) {
        return base;
    }
    const QuantiserSteps& steps = steps_[quantNumber][base];
    for (int scan = 1; scan < 64; ++scan) {
        const int amplitude = state.block->amplitude[scan];
        if (((amplitude + steps.add[scan]) * steps.scale[scan] >> 16) > 255) {
            return 3;
        }
    }
    return base;
}

// AC bits of a block: its codes and the end of block.
int SegmentCoder::Evaluate(const TransformedBlock& block, const QuantiserSteps& steps) const {
    alignas(32) uint16_t level[64];
    uint64_t coded = Quantise(block.amplitude, steps, level);
    int bits = kEndOfBlockLength;
    int previous = 0;
    while (coded != 0) {
        const int scan = __builtin_ctzll(coded);
        coded &= coded - 1;
        bits += vlc_.Length(scan - previous - 1, level[scan]);
        previous = scan;
    }
    return bits;
}

int SegmentCoder::BitsAt(BlockState& state, int quantNumber) {
    if (state.bitsAt[quantNumber] == 0) {
        const int blockClass = ClassFor(state, quantNumber);
        state.classAt[quantNumber] = static_cast<uint8_t>(blockClass);
        state.bitsAt[quantNumber] =
            static_cast<uint16_t>(Evaluate(*state.block, steps_[quantNumber][blockClass]));
    }
    return state.bitsAt[quantNumber];
}

// Whether the segment fits with the quantisation numbers of quant_ (stops counting once over).
bool SegmentCoder::FitsNow() {
    int total = 0;
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        total += BitsAt(states_[b], quant_[b / kBlocksPerMacroblock]);
        if (total > kSegmentBudgetBits) {
            return false;
        }
    }
    return true;
}

bool SegmentCoder::FitsAt(int quantNumber) {
    for (int& value : quant_) {
        value = quantNumber;
    }
    return FitsNow();
}

// The finest quantisation number that fits for all five macroblocks (searched from the previous
// segment's), then one step finer for the macroblocks that cost the fewest extra bits, as long
// as the segment still fits.
void SegmentCoder::ChooseQuantisation() {
    dropped_ = false;
    constexpr int kFinest = kQuantNumberCount - 1;
    int fits, fails;
    if (FitsAt(guess_)) {
        fits = guess_;
        while (fits < kFinest && FitsAt(fits + 1)) {
            ++fits;
        }
        fails = fits + 1;
    } else {
        fails = guess_;
        while (fails > 0 && !FitsAt(fails - 1)) {
            --fails;
        }
        fits = fails - 1;
    }
    if (fits < 0) {
        guess_ = 0;
        DropSmallAmplitudes();
        return;
    }
    guess_ = fits;
    for (int& value : quant_) {
        value = fits;
    }
    if (fails > kFinest) {
        return;
    }
    int total = 0;
    int extra[kMacroblocksPerSegment];
    for (int m = 0; m < kMacroblocksPerSegment; ++m) {
        extra[m] = 0;
        for (int j = 0; j < kBlocksPerMacroblock; ++j) {
            BlockState& state = states_[m * kBlocksPerMacroblock + j];
            const int here = BitsAt(state, fits);
            total += here;
            extra[m] += BitsAt(state, fails) - here;
        }
    }
    for (int step = 0; step < kMacroblocksPerSegment; ++step) {
        int cheapest = -1;
        for (int m = 0; m < kMacroblocksPerSegment; ++m) {
            if (quant_[m] == fits && (cheapest < 0 || extra[m] < extra[cheapest])) {
                cheapest = m;
            }
        }
        if (total + extra[cheapest] > kSegmentBudgetBits) {
            break;
        }
        total += extra[cheapest];
        quant_[cheapest] = fails;
    }
}

// Even the coarsest quantisation is too much: every block in class 3 at number 0, and
// amplitudes below a rising limit dropped, until the codes fit (with nothing left but the
// ends of block, they do).
void SegmentCoder::DropSmallAmplitudes() {
    dropped_ = true;
    for (int& value : quant_) {
        value = 0;
    }
    for (int level : {2, 3, 4, 5, 6, 8, 10, 12, 16, 24, 32, 64, 256}) {
        SetSteps(0, 3, level, &limited_);
        int total = 0;
        for (const BlockState& state : states_) {
            total += Evaluate(*state.block, limited_);
        }
        if (total <= kSegmentBudgetBits) {
            return;
        }
    }
}

// Every block's AC codes, back to back in stream_.
void SegmentCoder::WriteCodes() {
    BitWriter writer(stream_, sizeof stream_ - 8);
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        const TransformedBlock& block = *states_[b].block;
        const int q = quant_[b / kBlocksPerMacroblock];
        const int blockClass = dropped_ ? 3 : states_[b].classAt[q];
        class_[b] = blockClass;
        const QuantiserSteps& steps = dropped_ ? limited_ : steps_[q][blockClass];
        alignas(32) uint16_t level[64];
        uint64_t coded = Quantise(block.amplitude, steps, level);
        streamStart_[b] = writer.position();
        int previous = 0;
        while (coded != 0) {
            const int scan = __builtin_ctzll(coded);
            coded &= coded - 1;
            const VlcCode code =
                vlc_.Code(scan - previous - 1, level[scan], (block.negative >> scan) & 1);
            writer.Put(code.bits, code.length);
            previous = scan;
        }
        writer.Put(kEndOfBlockBits, kEndOfBlockLength);
        streamLength_[b] = writer.position() - streamStart_[b];
    }
    writer.Flush();
}

void SegmentCoder::Code(const TransformedBlock* blocks, uint8_t* difBlocks) {
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        BlockState& state = states_[b];
        state.block = blocks + b;
        state.chroma = b % kBlocksPerMacroblock >= 4;
        std::memset(state.bitsAt, 0, sizeof state.bitsAt);
    }
    ChooseQuantisation();
    WriteCodes();
    Place(segment_);
    for (int m = 0; m < kMacroblocksPerSegment; ++m) {
        uint8_t* dif = difBlocks + m * kDifBlockBytes;
        dif[3] = static_cast<uint8_t>(quant_[m]);  // status 0: no error
        std::memcpy(dif + 4, segment_ + m * kDifBlockBytes + 4, kDifBlockBytes - 4);
    }
}

// Lays the codes out as decoders read them back: each block's codes in its own room first; what
// does not fit goes, block after block, into the room its macroblock's other blocks leave free;
// what still does not fit into the room left anywhere in the segment. Unused room is all ones.
void SegmentCoder::Place(uint8_t* segment) {
    std::memset(segment, 0, kMacroblocksPerSegment * kDifBlockBytes + 8);
    int freeStart[kBlocksPerSegment], freeEnd[kBlocksPerSegment];
    int remaining[kBlocksPerSegment], from[kBlocksPerSegment];
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        const int m = b / kBlocksPerMacroblock, j = b % kBlocksPerMacroblock;
        const int header = (m * kDifBlockBytes + kBlockByteOffset[j]) * 8;
        // DC: 2 (mean - 128) in 9 bits; coefficient 0 is 64 (mean - 128).
        int dc = (states_[b].block->dc + 16) >> 5;
        dc = dc < -256 ? -256 : dc > 255 ? 255 : dc;
        OrBits(segment, header,
               static_cast<uint32_t>(dc & 0x1FF) << 3 | static_cast<uint32_t>(class_[b]),
               kHeaderBits);
        const int start = header + kHeaderBits;
        const int own = streamLength_[b] < kAreaBits[j] ? streamLength_[b] : kAreaBits[j];
        CopyBits(segment, start, stream_, streamStart_[b], own);
        freeStart[b] = start + own;
        freeEnd[b] = start + kAreaBits[j];
        remaining[b] = streamLength_[b] - own;
        from[b] = streamStart_[b] + own;
    }
    // Moves the rest of block b into the free room of the blocks from *cursor to last - 1.
    auto spill = [&](int b, int last, int* cursor) {
        while (remaining[b] > 0 && *cursor < last) {
            const int room = freeEnd[*cursor] - freeStart[*cursor];
            if (room == 0) {
                ++*cursor;
                continue;
            }
            const int n = remaining[b] < room ? remaining[b] : room;
            CopyBits(segment, freeStart[*cursor], stream_, from[b], n);
            freeStart[*cursor] += n;
            from[b] += n;
            remaining[b] -= n;
        }
    };
    for (int m = 0; m < kMacroblocksPerSegment; ++m) {
        const int first = m * kBlocksPerMacroblock, last = first + kBlocksPerMacroblock;
        int cursor = first;
        for (int b = first; b < last; ++b) {
            spill(b, last, &cursor);
        }
    }
    int cursor = 0;
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        spill(b, kBlocksPerSegment, &cursor);
    }
    for (int b = 0; b < kBlocksPerSegment; ++b) {
        SetOnes(segment, freeStart[b], freeEnd[b] - freeStart[b]);
    }
}

}  // namespace fluxmere::transcode::dv
