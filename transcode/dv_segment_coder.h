#pragma once
// Codes one DV video segment: five macroblocks of transformed blocks into five video DIF blocks
// of 80 bytes.
//
// Every block gets 12 bits of its own for its DC value, DCT mode (always 8 x 8 here) and class,
// then room for its AC codes: 100 bits for luma blocks, 68 for chroma blocks, 2680 bits in the
// segment. The quantisation number (one per macroblock) and the class (one per block) are chosen
// so that the segment's codes fit: the finest quantisation that fits for all five macroblocks,
// then one step finer for those macroblocks that still fit. When even the coarsest does not fit
// (noise), the smallest amplitudes are dropped as well. Codes that do not fit in their block's
// room continue in the free room of the same macroblock's other blocks, then in the free room
// of the whole segment, in the order decoders read them back; room left over is all ones.

#include <cstdint>

#include "transcode/dv_tables.h"
#include "transcode/dv_kernels.h"

namespace fluxmere::transcode::dv {

constexpr int kBlocksPerMacroblock = 6;  // Y0..Y3, Cr, Cb
constexpr int kMacroblocksPerSegment = 5;
constexpr int kBlocksPerSegment = kBlocksPerMacroblock * kMacroblocksPerSegment;
constexpr int kDifBlockBytes = 80;
constexpr int kSegmentBudgetBits = kMacroblocksPerSegment * (4 * 100 + 2 * 68);

class SegmentCoder {
public:
    SegmentCoder();

    // The search for a segment's quantisation starts where the previous segment's ended; at the
    // start of each frame it starts afresh, so that a frame's codes depend on its picture alone.
    void StartFrame() { guess_ = kFirstGuess; }

    // Codes the 30 transformed blocks of a segment (macroblock by macroblock, each Y0..Y3, Cr,
    // Cb) into five consecutive video DIF blocks: bytes 3..79 of each are written, the IDs are
    // left alone.
    void Code(const TransformedBlock* blocks, uint8_t* difBlocks);

private:
    static constexpr int kFirstGuess = 12;

    struct BlockState {
        const TransformedBlock* block;
        bool chroma;
        uint16_t bitsAt[kQuantNumberCount];  // AC bits at each quantisation number; 0: unknown
        uint8_t classAt[kQuantNumberCount];
    };

    static void SetSteps(int quantNumber, int blockClass, int leastLevel, QuantiserSteps* steps);
    int ClassFor(const BlockState& state, int quantNumber) const;
    int BitsAt(BlockState& state, int quantNumber);
    int Evaluate(const TransformedBlock& block, const QuantiserSteps& steps) const;
    bool FitsAt(int quantNumber);
    bool FitsNow();
    void ChooseQuantisation();
    void DropSmallAmplitudes();
    void WriteCodes();
    void Place(uint8_t* segment);

    const VlcTable& vlc_;
    QuantiserSteps steps_[kQuantNumberCount][kClassCount];
    QuantiserSteps limited_;  // the coarsest, with small amplitudes dropped as well
    BlockState states_[kBlocksPerSegment];
    int guess_ = kFirstGuess;
    int quant_[kMacroblocksPerSegment] = {};
    int class_[kBlocksPerSegment] = {};
    bool dropped_ = false;

    // The AC codes of every block back to back, where each block's start and how long.
    alignas(8) uint8_t stream_[8192];
    int streamStart_[kBlocksPerSegment] = {};
    int streamLength_[kBlocksPerSegment] = {};
    alignas(8) uint8_t segment_[kMacroblocksPerSegment * kDifBlockBytes + 8];
};

}  // namespace fluxmere::transcode::dv
