// The Motion-JPEG picture decoder.

#include "decode/jpeg_decoder.h"

#include <cstddef>

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

void CJPEGDecoder::Decode(uint8_t* const* planeArray, const CCompressedSample* sample) {
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
    const int32_t mcuRows = pictureHeight_ / 8;
    const ptrdiff_t chromaStep = rowStep_ / 2;
    for (int32_t r = 0; r < mcuRows; ++r) {
        uint8_t* y = planes_[0] + static_cast<ptrdiff_t>(8) * r * rowStep_;
        uint8_t* u = planes_[1] + 8 * r * chromaStep;
        uint8_t* v = planes_[2] + 8 * r * chromaStep;
        for (int32_t m = 0; m < mcuColumns; ++m) {
            if (DecodeMcu(y, u, v, sample->size) != StatusOk) {
                return;
            }
            y += 16;
            u += 8;
            v += 8;
        }
    }
}

}  // namespace fluxmere
