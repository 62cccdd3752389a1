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

int32_t CJPEGDecoder::Configure(int32_t width, int32_t height, int32_t step, int16_t* work,
                                const PlaneCapacities& capacities) {
    accepted = false;
    pictureWidth = width == 0 ? 320 : width;
    pictureHeight = height == 0 ? 240 : height;
    rowStep = step;
    coefficients = work;
    if (pictureWidth < 0 || pictureHeight < 0) {
        return StatusBadSize;
    }
    if (rowStep < RoundedWidth(pictureWidth)) {
        return StatusBadStep;
    }
    if (LumaBytesNeeded(pictureWidth, pictureHeight, rowStep) > capacities.luma ||
        ChromaBytesNeeded(pictureWidth, pictureHeight, rowStep) > capacities.firstChroma ||
        ChromaBytesNeeded(pictureWidth, pictureHeight, rowStep) > capacities.secondChroma) {
        return StatusBadSize;
    }
    accepted = true;

    int32_t status = BuildQuantTable(jpeg::kLumaQuantZigzag, lumaQuant);
    if (status != StatusOk) {
        return status;
    }
    status = BuildQuantTable(jpeg::kChromaQuantZigzag, chromaQuant);
    if (status != StatusOk) {
        return status;
    }
    int32_t tableSize = 0;
    status = HuffmanTableSize(&tableSize);
    if (status != StatusOk) {
        return status;
    }
    // The tables of an earlier Configure are given up before the new ones are built.
    lumaDcTable = lumaAcTable = chromaDcTable = chromaAcTable = nullptr;
    if (tableSize < 1 || tableSize > kHuffmanTableBytes) {
        return StatusOk;  // no room for such tables: they stay absent, as after a failed allocation
    }
    struct Source {
        const uint8_t* bits;
        const uint8_t* values;
        const uint8_t** table;
    };
    const Source sources[4] = {
        {jpeg::kLumaDcBits, jpeg::kLumaDcValues, &lumaDcTable},
        {jpeg::kLumaAcBits, jpeg::kLumaAcValues, &lumaAcTable},
        {jpeg::kChromaDcBits, jpeg::kChromaDcValues, &chromaDcTable},
        {jpeg::kChromaAcBits, jpeg::kChromaAcValues, &chromaAcTable},
    };
    for (int t = 0; t < 4; ++t) {
        status = BuildHuffmanTable(sources[t].bits, sources[t].values, tableStorage[t]);
        if (status != StatusOk) {
            return status;
        }
        *sources[t].table = tableStorage[t];
    }
    return StatusOk;
}

int32_t CJPEGDecoder::DecodeMcu(uint8_t* luma, uint8_t* firstChroma, uint8_t* secondChroma,
                                int32_t dataSize) {
    int32_t status = ZeroFill16(coefficients, 256);
    if (status != StatusOk) {
        return status;
    }
    struct BlockSource {
        int16_t* predictor;
        const uint8_t* dc;
        const uint8_t* ac;
    };
    const BlockSource blocks[4] = {
        {&lumaPredictor, lumaDcTable, lumaAcTable},
        {&lumaPredictor, lumaDcTable, lumaAcTable},
        {&chromaPredictorA, chromaDcTable, chromaAcTable},
        {&chromaPredictorB, chromaDcTable, chromaAcTable},
    };
    for (int b = 0; b < 4; ++b) {
        status = DecodeHuffmanBlock(source, dataSize, &bitPosition, coefficients + 64 * b,
                                    blocks[b].predictor, &marker, &bitBuffer, &bitCount,
                                    blocks[b].dc, blocks[b].ac);
        if (status != StatusOk) {
            return status;
        }
    }
    const int32_t chromaStep = rowStep / 2;
    status = InverseDctBlock(coefficients, luma, rowStep, lumaQuant);
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients + 64, luma + 8, rowStep, lumaQuant);
    }
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients + 128, firstChroma, chromaStep, chromaQuant);
    }
    if (status == StatusOk) {
        status = InverseDctBlock(coefficients + 192, secondChroma, chromaStep, chromaQuant);
    }
    return status;
}

void CJPEGDecoder::Decode(uint8_t* const* planeArray, const CCompressedSample* sample) {
    if (!accepted || planeArray == nullptr || sample == nullptr || planeArray[0] == nullptr ||
        planeArray[1] == nullptr || planeArray[2] == nullptr) {
        return;
    }
    source = sample->data;
    planes = planeArray;
    lumaPredictor = chromaPredictorA = chromaPredictorB = 0;
    bitPosition = 0;
    marker = 0;
    bitBuffer = 0;
    bitCount = 0;

    const int32_t mcuColumns = static_cast<int32_t>(RoundedWidth(pictureWidth) / 16);
    const int32_t mcuRows = pictureHeight / 8;
    const ptrdiff_t chromaStep = rowStep / 2;
    for (int32_t r = 0; r < mcuRows; ++r) {
        uint8_t* y = planes[0] + static_cast<ptrdiff_t>(8) * r * rowStep;
        uint8_t* u = planes[1] + 8 * r * chromaStep;
        uint8_t* v = planes[2] + 8 * r * chromaStep;
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
