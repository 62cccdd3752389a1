// The Motion-JPEG picture decoder.

#include "decode/jpeg_decoder.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "decode/block_transform.h"
#include "decode/jpeg_tables.h"

namespace fluxmere {

CJPEGDecoder::CJPEGDecoder() = default;

int64_t CJPEGDecoder::LumaBytesNeeded(int64_t width, int64_t height, int64_t rowStep) {
    const int64_t lines = height / 8 * 8;
    return lines == 0 ? 0 : (lines - 1) * rowStep + RoundedWidth(width);
}

int64_t CJPEGDecoder::ChromaBytesNeeded(int64_t width, int64_t height, int64_t rowStep) {
    const int64_t lines = height / 8 * 8;
    return lines == 0 ? 0 : (lines - 1) * (rowStep / 2) + RoundedWidth(width) / 2;
}

int32_t CJPEGDecoder::Configure(int32_t width, int32_t height, int32_t rowStep,
                                int16_t* coefficients, const PlaneCapacities& capacities) {
    accepted_ = false;
    pictureWidth_ = width == 0 ? 320 : width;
    pictureHeight_ = height == 0 ? 240 : height;
    rowStep_ = rowStep;
    coefficients_ = coefficients;
    if (pictureWidth_ < 0 || pictureHeight_ < 0) {
        return StatusBadSize;
    }
    if (rowStep_ < RoundedWidth(pictureWidth_)) {
        return StatusBadStep;
    }
    if (LumaBytesNeeded(pictureWidth_, pictureHeight_, rowStep_) > capacities.luma ||
        ChromaBytesNeeded(pictureWidth_, pictureHeight_, rowStep_) > capacities.firstChroma ||
        ChromaBytesNeeded(pictureWidth_, pictureHeight_, rowStep_) > capacities.secondChroma) {
        return StatusBadSize;
    }
    accepted_ = true;

    int32_t status = BuildQuantTable(jpeg::kLumaQuantZigzag, lumaQuant_);
    if (status != StatusOk) {
        return status;
    }
    status = BuildQuantTable(jpeg::kChromaQuantZigzag, chromaQuant_);
    if (status != StatusOk) {
        return status;
    }
    int32_t tableSize = 0;
    status = HuffmanTableSize(&tableSize);
    if (status != StatusOk) {
        return status;
    }
    // The tables of an earlier Configure are given up before the new ones are built.
    lumaDcTable_ = lumaAcTable_ = chromaDcTable_ = chromaAcTable_ = nullptr;
    lookupsReady_ = false;
    if (tableSize < 1 || tableSize > kHuffmanTableBytes) {
        return StatusOk;  // no room for such tables: they stay absent, as after a failed allocation
    }
    struct Source {
        const uint8_t* bits;
        const uint8_t* values;
        const uint8_t** table;
    };
    const Source sources[4] = {
        {jpeg::kLumaDcBits, jpeg::kLumaDcValues, &lumaDcTable_},
        {jpeg::kLumaAcBits, jpeg::kLumaAcValues, &lumaAcTable_},
        {jpeg::kChromaDcBits, jpeg::kChromaDcValues, &chromaDcTable_},
        {jpeg::kChromaAcBits, jpeg::kChromaAcValues, &chromaAcTable_},
    };
    for (int t = 0; t < 4; ++t) {
        status = BuildHuffmanTable(sources[t].bits, sources[t].values, tableStorage_[t]);
        if (status != StatusOk) {
            return status;
        }
        *sources[t].table = tableStorage_[t];
    }
    bool built = true;
    for (int t = 0; t < 4; ++t) {
        built = built && fast::BuildHuffmanLookup(sources[t].bits, sources[t].values, (t & 1) != 0,
                                                  &lookups_[t]);
    }
    lookupsReady_ = built;
    return StatusOk;
}

int32_t CJPEGDecoder::DecodeMcu(uint8_t* luma, uint8_t* firstChroma, uint8_t* secondChroma,
                                int32_t dataSize) {
    int32_t status = ZeroFill16(coefficients_, 256);
    if (status != StatusOk) {
        return status;
    }
    struct BlockSource {
        int16_t* predictor;
        const uint8_t* dc;
        const uint8_t* ac;
    };
    const BlockSource blocks[4] = {
        {&lumaPredictor_, lumaDcTable_, lumaAcTable_},
        {&lumaPredictor_, lumaDcTable_, lumaAcTable_},
        {&chromaPredictorA_, chromaDcTable_, chromaAcTable_},
        {&chromaPredictorB_, chromaDcTable_, chromaAcTable_},
    };
    for (int b = 0; b < 4; ++b) {
        status = DecodeHuffmanBlock(source_, dataSize, &bitPosition_, coefficients_ + 64 * b,
                                    blocks[b].predictor, &marker_, &bitBuffer_, &bitCount_,
                                    blocks[b].dc, blocks[b].ac);
        if (status != StatusOk) {
            return status;
        }
    }
    const int32_t chromaStep = rowStep_ / 2;
    status = InverseDctBlock(coefficients_, luma, rowStep_, lumaQuant_);
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients_ + 64, luma + 8, rowStep_, lumaQuant_);
    }
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients_ + 128, firstChroma, chromaStep, chromaQuant_);
    }
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients_ + 192, secondChroma, chromaStep, chromaQuant_);
    }
    return status;
}

uint8_t* CJPEGDecoder::LumaAt(int32_t mcu, int32_t mcuColumns) const {
    const int32_t row = mcu / mcuColumns;
    return planes_[0] + static_cast<ptrdiff_t>(8) * row * rowStep_ + 16 * (mcu - row * mcuColumns);
}

uint8_t* CJPEGDecoder::ChromaAt(int plane, int32_t mcu, int32_t mcuColumns) const {
    const int32_t row = mcu / mcuColumns;
    return planes_[plane] + static_cast<ptrdiff_t>(8) * row * (rowStep_ / 2) +
           8 * (mcu - row * mcuColumns);
}

namespace {

// Sets a block back to zero: only its DC term when it has no AC terms.
void ClearBlock(int16_t* block, bool hasAc) {
    if (!hasAc) {
        block[0] = 0;
        return;
    }
    std::memset(block, 0, 64 * sizeof(int16_t));
}

// Two blocks of the same component through the inverse transform: the pair at once where both
// carry AC terms, or one does and the pair transform is joint (jointPair); a block with no AC
// terms otherwise filled with its one value. Afterwards both blocks are all zero again (the pair
// transform clears them itself).
FLUXMERE_ALWAYS_INLINE void TransformTwo(int16_t* blocks, uint8_t* first, uint8_t* second,
                                         int32_t stride, const uint16_t* quant, bool firstHasAc,
                                         bool secondHasAc, InverseDctPairFn* pair, bool jointPair) {
    if (jointPair ? (firstHasAc || secondHasAc) : (firstHasAc && secondHasAc)) {
        pair(blocks, first, second, stride, quant);
        return;
    } else {
        int16_t* block = blocks;
        for (uint8_t* out : {first, second}) {
            if (block == blocks ? firstHasAc : secondHasAc) {
                InverseDctBlock(block, out, stride, quant);
            } else {
                uint8_t row[8];
                std::memset(row, DcOnlyPixel(DequantiseSaturated(block[0], quant[0])), 8);
                for (int r = 0; r < 8; ++r) {
                    std::memcpy(out + static_cast<ptrdiff_t>(r) * stride, row, 8);
                }
            }
            block += 64;
        }
    }
    ClearBlock(blocks, firstHasAc);
    ClearBlock(blocks + 64, secondHasAc);
}

}  // namespace

// On 64-bit builds the MCU loop keeps the reader in registers across MCUs; a 32-bit build, with
// eight registers, keeps the MCU a call of its own.
#if defined(__GNUC__) && defined(__x86_64__)
#define FLUXMERE_MCU_INLINE inline __attribute__((always_inline))
#else
#define FLUXMERE_MCU_INLINE
#endif

FLUXMERE_MCU_INLINE bool CJPEGDecoder::DecodeMcuFast(fast::ReaderState& reader, const uint8_t* end,
                                                     uint8_t* luma, uint8_t* firstChroma,
                                                     uint8_t* secondChroma) {
    // Local copies keep the reader and the predictors in registers; they are stored back only
    // when the whole MCU decoded, so a failed MCU leaves everything as it was before it.
    fast::ReaderState s = reader;
    int16_t lumaPredictor = lumaPredictor_;
    int16_t chromaPredictorA = chromaPredictorA_;
    int16_t chromaPredictorB = chromaPredictorB_;
    int16_t* c = coefficients_;
    bool hasAc[4] = {};
    if (!fast::DecodeBlock(s, end, lookups_[0], lookups_[1], &lumaPredictor, c, &hasAc[0]) ||
        !fast::DecodeBlock(s, end, lookups_[0], lookups_[1], &lumaPredictor, c + 64, &hasAc[1]) ||
        !fast::DecodeBlock(s, end, lookups_[2], lookups_[3], &chromaPredictorA, c + 128,
                           &hasAc[2]) ||
        !fast::DecodeBlock(s, end, lookups_[2], lookups_[3], &chromaPredictorB, c + 192,
                           &hasAc[3])) {
        return false;
    }
    reader = s;
    lumaPredictor_ = lumaPredictor;
    chromaPredictorA_ = chromaPredictorA;
    chromaPredictorB_ = chromaPredictorB;
    TransformTwo(c, luma, luma + 8, rowStep_, lumaQuant_, hasAc[0], hasAc[1], pairTransform_,
                 jointPairs_);
    TransformTwo(c + 128, firstChroma, secondChroma, rowStep_ / 2, chromaQuant_, hasAc[2], hasAc[3],
                 pairTransform_, jointPairs_);
    return true;
}

int32_t CJPEGDecoder::DecodeFast(int32_t mcuCount, int32_t mcuColumns, int32_t dataSize) {
    pairTransform_ = kInverseDctPairVariants.Active();
    jointPairs_ = InverseDctPairIsJoint();
    // The fast path keeps the work area all zero between blocks.
    std::memset(coefficients_, 0, 256 * sizeof(int16_t));
    const uint8_t* end = source_ + dataSize;
    fast::ReaderState reader = fast::StartOf<fast::ReaderState>(source_);
    int32_t mcu = 0;
    while (mcu < mcuCount) {  // one MCU row per round
        uint8_t* luma = LumaAt(mcu, mcuColumns);
        uint8_t* firstChroma = ChromaAt(1, mcu, mcuColumns);
        uint8_t* secondChroma = ChromaAt(2, mcu, mcuColumns);
        for (int32_t column = 0; column < mcuColumns; ++column, ++mcu) {
            if (!DecodeMcuFast(reader, end, luma + 16 * column, firstChroma + 8 * column,
                               secondChroma + 8 * column)) {
                // The primitives take over here (they zero-fill the coefficients of each MCU).
                fast::PrimitiveState(reader, source_, &bitPosition_, &bitBuffer_, &bitCount_);
                return mcu;
            }
        }
    }
    return mcu;
}

int32_t CJPEGDecoder::DecodePrimitives(int32_t first, int32_t mcuCount, int32_t mcuColumns,
                                       int32_t dataSize) {
    for (int32_t mcu = first; mcu < mcuCount; ++mcu) {
        const int32_t status = DecodeMcu(LumaAt(mcu, mcuColumns), ChromaAt(1, mcu, mcuColumns),
                                         ChromaAt(2, mcu, mcuColumns), dataSize);
        if (status != StatusOk) {
            return status;
        }
    }
    return StatusOk;
}

void CJPEGDecoder::Decode(uint8_t* const* planeArray, const CCompressedSample* sample) {
    lastStatus_ = StatusOk;
    if (!accepted_ || planeArray == nullptr || sample == nullptr || planeArray[0] == nullptr ||
        planeArray[1] == nullptr || planeArray[2] == nullptr) {
        return;
    }
    source_ = sample->data;
    planes_ = planeArray;
    lumaPredictor_ = chromaPredictorA_ = chromaPredictorB_ = 0;
    bitPosition_ = 0;
    marker_ = 0;
    bitBuffer_ = 0;
    bitCount_ = 0;

    const int32_t mcuColumns = static_cast<int32_t>(RoundedWidth(pictureWidth_) / 16);
    const int32_t mcuCount = pictureHeight_ / 8 * mcuColumns;
    if (mcuCount == 0) {
        return;
    }
    // The primitives' reader stops where a bit position no longer fits 32 bits; so does this one.
    constexpr int32_t kMaxBytes = INT32_MAX / 8;
    const int32_t dataSize = sample->size < kMaxBytes ? sample->size : kMaxBytes;
    int32_t first = 0;
    const bool tablesPresent = lumaDcTable_ != nullptr && lumaAcTable_ != nullptr &&
                               chromaDcTable_ != nullptr && chromaAcTable_ != nullptr;
    if (!primitivesOnly_ && lookupsReady_ && tablesPresent && source_ != nullptr &&
        coefficients_ != nullptr && dataSize > 0) {
        first = DecodeFast(mcuCount, mcuColumns, dataSize);
    }
    lastStatus_ = DecodePrimitives(first, mcuCount, mcuColumns, sample->size);
}

}  // namespace fluxmere
