#pragma once
// Fixed tables of DV video coding: the scan order of the coefficients, their four quantisation
// areas, the quantisation step of each area by class and quantisation number, and the
// variable-length codes of (run, amplitude) pairs.

#include <cstdint>

namespace fluxmere::transcode::dv {

constexpr int kClassCount = 4;
constexpr int kQuantNumberCount = 16;  // QNO 0..15; 15 is the finest

// The scan order of the 8 x 8 mode, and the quantisation area of each scan position.
struct ScanOrder {
    // Coefficient index as the block transform stores it (horizontal frequency * 8 + vertical
    // frequency) of each scan position 0..63: the zigzag order, horizontal frequency first.
    uint8_t coefficient[64] = {};
    // Quantisation area 0..3 of each scan position: anti-diagonals 0-2, 3-5, 6-8 and 9-14.
    uint8_t area[64] = {};
};

constexpr ScanOrder MakeScanOrder() {
    ScanOrder order;
    int position = 0;
    for (int diagonal = 0; diagonal < 15; ++diagonal) {
        const int first = diagonal < 8 ? 0 : diagonal - 7;
        const int last = diagonal < 8 ? diagonal : 7;
        for (int step = 0; step <= last - first; ++step) {
            // Odd diagonals run down the rows, even ones up.
            const int vertical = diagonal % 2 != 0 ? first + step : last - step;
            const int horizontal = diagonal - vertical;
            order.coefficient[position] = static_cast<uint8_t>(horizontal * 8 + vertical);
            order.area[position] = static_cast<uint8_t>(diagonal <= 2   ? 0
                                                        : diagonal <= 5 ? 1
                                                        : diagonal <= 8 ? 2
                                                                        : 3);
            ++position;
        }
    }
    return order;
}

inline constexpr ScanOrder kScan = MakeScanOrder();

// Right shift of the weighted coefficients of each area for a quantisation number and class;
// class 3 includes its extra halving, so every amplitude fits in 8 bits there.
int AreaShift(int quantNumber, int blockClass, int area);

// One code, right-aligned in `bits`; codes of a non-zero amplitude end with the sign bit, left 0
// here (1 means negative).
struct VlcCode {
    uint32_t bits = 0;
    uint8_t length = 0;
};

constexpr int kMaxRun = 62;            // zeros before a coefficient in one block
constexpr int kDirectAmplitudes = 23;  // amplitudes below this may have a code of their own
constexpr int kEndOfBlockLength = 4;
constexpr uint32_t kEndOfBlockBits = 0x6;
constexpr int kEscapeLength = 16;

// The shortest code of every (run, amplitude) pair, sign included.
class VlcTable {
public:
    VlcTable();

    // Bits of (run, amplitude), amplitude 1..255: every amplitude from kDirectAmplitudes on costs
    // the same, so the table stops there.
    int Length(int run, int amplitude) const {
        return length_[run][amplitude < kDirectAmplitudes ? amplitude : kDirectAmplitudes];
    }

    // The code of (run, amplitude) with its sign bit, amplitude 1..255.
    VlcCode Code(int run, int amplitude, bool negative) const {
        const uint32_t sign = negative ? 1u : 0u;
        if (amplitude < kDirectAmplitudes) {
            const VlcCode code = small_[run][amplitude];
            return {code.bits | sign, code.length};
        }
        // Amplitude 0..255 after a run of 0: 15 bits and the sign, behind a run of zeros alone.
        const uint32_t escape = (0x7F00u | static_cast<uint32_t>(amplitude)) << 1 | sign;
        const VlcCode lead = zeros_[run];
        return {lead.bits << kEscapeLength | escape,
                static_cast<uint8_t>(lead.length + kEscapeLength)};
    }

private:
    uint8_t length_[kMaxRun + 1][kDirectAmplitudes + 1];
    VlcCode small_[kMaxRun + 1][kDirectAmplitudes];  // amplitudes 1..22
    VlcCode zeros_[kMaxRun + 1];                     // a run of n zeros alone; none for n = 0
};

// The table shared by every encoder (built once, read-only afterwards).
const VlcTable& SharedVlcTable();

}  // namespace fluxmere::transcode::dv
