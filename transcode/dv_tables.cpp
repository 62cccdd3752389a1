// The code table of DV video and its quantisation steps.

#include "transcode/dv_tables.h"

namespace fluxmere::transcode::dv {
namespace {

// Area shifts by quantisation row (quantisation number plus the class's offset); rows from 15 on
// quantise nothing away.
constexpr uint8_t kRowShift[16][4] = {
    {3, 3, 4, 4}, {3, 3, 4, 4}, {2, 3, 3, 4}, {2, 3, 3, 4}, {2, 2, 3, 3}, {2, 2, 3, 3},
    {1, 2, 2, 3}, {1, 2, 2, 3}, {1, 1, 2, 2}, {1, 1, 2, 2}, {0, 1, 1, 2}, {0, 1, 1, 2},
    {0, 0, 1, 1}, {0, 0, 1, 1}, {0, 0, 0, 1}, {0, 0, 0, 0},
};
constexpr int kClassRowOffset[kClassCount] = {6, 3, 0, 1};

// The codes of (run, amplitude) pairs, by length; within a length the codes are consecutive
// from `first`, in the order listed.
struct Pair {
    uint8_t run, amplitude;
};
struct CodeGroup {
    uint8_t length;
    uint16_t first;
    uint8_t count;
    Pair pairs[16];
};
constexpr CodeGroup kCodeGroups[] = {
    {2, 0x0, 1, {{0, 1}}},
    {3, 0x2, 1, {{0, 2}}},
    {4, 0x7, 3, {{1, 1}, {0, 3}, {0, 4}}},
    {5, 0x14, 4, {{2, 1}, {1, 2}, {0, 5}, {0, 6}}},
    {6, 0x30, 4, {{3, 1}, {4, 1}, {0, 7}, {0, 8}}},
    {7, 0x68, 8, {{5, 1}, {6, 1}, {2, 2}, {1, 3}, {1, 4}, {0, 9}, {0, 10}, {0, 11}}},
    {8,
     0xE0,
     16,
     {{7, 1},
      {8, 1},
      {9, 1},
      {10, 1},
      {3, 2},
      {4, 2},
      {2, 3},
      {1, 5},
      {1, 6},
      {1, 7},
      {0, 12},
      {0, 13},
      {0, 14},
      {0, 15},
      {0, 16},
      {0, 17}}},
    {9,
     0x1E0,
     16,
     {{11, 1},
      {12, 1},
      {13, 1},
      {14, 1},
      {5, 2},
      {6, 2},
      {3, 3},
      {4, 3},
      {2, 4},
      {2, 5},
      {1, 8},
      {0, 18},
      {0, 19},
      {0, 20},
      {0, 21},
      {0, 22}}},
    {10, 0x3E0, 7, {{5, 3}, {3, 4}, {3, 5}, {2, 6}, {1, 9}, {1, 10}, {1, 11}}},
    {11, 0x7D0, 6, {{6, 3}, {4, 4}, {3, 6}, {1, 12}, {1, 13}, {1, 14}}},
    {12,
     0xFB0,
     16,
     {{7, 2},
      {8, 2},
      {9, 2},
      {10, 2},
      {7, 3},
      {8, 3},
      {4, 5},
      {3, 7},
      {2, 7},
      {2, 8},
      {2, 9},
      {2, 10},
      {2, 11},
      {1, 15},
      {1, 16},
      {1, 17}}},
};

// Runs of zeros without a coefficient: 1 and 2 zeros in 11 bits, 3..6 in 12, any 1..64 in 13.
VlcCode ZeroRunCode(int zeros) {
    if (zeros <= 2) {
        return {static_cast<uint32_t>(0x7CE + zeros - 1), 11};
    }
    if (zeros <= 6) {
        return {static_cast<uint32_t>(0xFAC + zeros - 3), 12};
    }
    return {static_cast<uint32_t>(0x1F80 + zeros - 1), 13};
}

// Any amplitude 0..255 after a run of 0: 15 bits and the sign.
uint32_t EscapeBits(int amplitude) {
    return static_cast<uint32_t>(0x7F00 | amplitude) << 1;
}

}  // namespace

int AreaShift(int quantNumber, int blockClass, int area) {
    int row = quantNumber + kClassRowOffset[blockClass];
    if (row > 15) {
        row = 15;
    }
    return kRowShift[row][area] + (blockClass == 3 ? 1 : 0);
}

VlcTable::VlcTable() {
    zeros_[0] = {};
    for (int run = 1; run <= kMaxRun; ++run) {
        zeros_[run] = ZeroRunCode(run);
    }
    for (int run = 0; run <= kMaxRun; ++run) {
        const int prefix = run > 0 ? zeros_[run].length : 0;
        length_[run][kDirectAmplitudes] = static_cast<uint8_t>(prefix + kEscapeLength);
        for (int amplitude = 1; amplitude < kDirectAmplitudes; ++amplitude) {
            // The escape, or a pair of this amplitude whose run is the tail of `run`, after a
            // run of zeros alone for the rest: whichever is shortest.
            VlcCode best{(run > 0 ? zeros_[run].bits << kEscapeLength : 0) | EscapeBits(amplitude),
                         static_cast<uint8_t>(prefix + kEscapeLength)};
            for (const CodeGroup& group : kCodeGroups) {
                for (int i = 0; i < group.count; ++i) {
                    const Pair pair = group.pairs[i];
                    if (pair.amplitude != amplitude || pair.run > run) {
                        continue;
                    }
                    const uint32_t own = static_cast<uint32_t>(group.first + i) << 1;
                    const int ownLength = group.length + 1;
                    VlcCode candidate{own, static_cast<uint8_t>(ownLength)};
                    if (pair.run < run) {
                        const VlcCode lead = zeros_[run - pair.run];
                        candidate = {lead.bits << ownLength | own,
                                     static_cast<uint8_t>(lead.length + ownLength)};
                    }
                    if (candidate.length < best.length) {
                        best = candidate;
                    }
                }
            }
            small_[run][amplitude] = best;
            length_[run][amplitude] = best.length;
        }
        small_[run][0] = {};
        length_[run][0] = 0;
    }
}

const VlcTable& SharedVlcTable() {
    static const VlcTable table;
    return table;
}

}  // namespace fluxmere::transcode::dv
