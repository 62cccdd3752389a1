#pragma once
// The Motion-JPEG picture decoder: one "mjpa" payload (the entropy-coded data of a baseline
// 4:2:2 scan, no markers or tables) into a luma plane of W16 columns and two chroma planes of
// W16 / 2 columns, W16 being the picture width rounded up to a multiple of 16.

#include <cstdint>

#include "decode/block_transform.h"
#include "decode/compressed_sample.h"
#include "decode/fast_scan.h"
#include "decode/primitives.h"
#include "decode/rounded_width.h"

namespace fluxmere {

// Bytes available in each plane the caller will pass to Decode; a picture that would need more
// is refused by Configure.
struct PlaneCapacities {
    int32_t luma = 0;
    int32_t firstChroma = 0;
    int32_t secondChroma = 0;
};

class CAbstractDecoder {
public:
    // planes: luma, first chroma, second chroma. Decodes nothing unless configured.
    virtual void Decode(uint8_t* const* planes, const CCompressedSample* sample) = 0;
    virtual int32_t Configure(int32_t width, int32_t height, int32_t rowStep, int16_t* coefficients,
                              const PlaneCapacities& capacities) = 0;
    virtual ~CAbstractDecoder() = default;
};

class CJPEGDecoder : public CAbstractDecoder {
public:
    CJPEGDecoder();
    CJPEGDecoder(const CJPEGDecoder&) = delete;
    CJPEGDecoder& operator=(const CJPEGDecoder&) = delete;

    // Decodes sample->data[0 .. sample->size) into the planes: floor(height / 8) MCU rows of
    // W16 / 16 MCUs; lines below 8 x floor(height / 8) keep their content. Reading stops at
    // sample->size as if a marker stood there. The first failing primitive ends the picture:
    // earlier MCUs stay written, the failing one and all later ones keep their content.
    void Decode(uint8_t* const* planes, const CCompressedSample* sample) override;

    // width/height 0 mean 320/240. rowStep is the luma stride (chroma: rowStep / 2) and must be
    // at least W16; coefficients is an 8-byte-aligned work area of 256 values. Refuses (and
    // Decode then decodes nothing until a later Configure succeeds) a negative size
    // (StatusBadSize), a rowStep below W16 (StatusBadStep) and a picture whose planes need more
    // bytes than capacities gives (StatusBadSize). Otherwise builds the quantisation and Huffman
    // tables and returns their first nonzero status, or 0.
    int32_t Configure(int32_t width, int32_t height, int32_t rowStep, int16_t* coefficients,
                      const PlaneCapacities& capacities) override;

    // The status that ended the last Decode: 0, or the first failing primitive's status.
    int32_t LastDecodeStatus() const { return lastStatus_; }

    // Decode normally takes a fast path through the data that hands every unusual input to the
    // primitives; with true it uses the primitives alone (to check that both agree).
    void UsePrimitivesOnlyForTesting(bool primitivesOnly) { primitivesOnly_ = primitivesOnly; }

    int32_t width() const { return pictureWidth_; }
    int32_t height() const { return pictureHeight_; }

    // The bytes each plane needs (lines = 8 x floor(height / 8)).
    static int64_t LumaBytesNeeded(int64_t width, int64_t height, int64_t rowStep);
    static int64_t ChromaBytesNeeded(int64_t width, int64_t height, int64_t rowStep);

private:
    // MCU positions count left to right, top to bottom.
    uint8_t* LumaAt(int32_t mcu, int32_t mcuColumns) const;
    uint8_t* ChromaAt(int plane, int32_t mcu, int32_t mcuColumns) const;
    // Decodes MCUs from the first on, stopping before the first one the fast path leaves to the
    // primitives (the bit reader state is then set for them); returns that MCU's position.
    int32_t DecodeFast(int32_t mcuCount, int32_t mcuColumns, int32_t dataSize);
    bool DecodeMcuFast(fast::ReaderState& reader, const uint8_t* end, uint8_t* luma,
                       uint8_t* firstChroma, uint8_t* secondChroma);
    // Decodes MCUs from first on through the primitives; the first failing status, or 0.
    int32_t DecodePrimitives(int32_t first, int32_t mcuCount, int32_t mcuColumns, int32_t dataSize);
    int32_t DecodeMcu(uint8_t* luma, uint8_t* firstChroma, uint8_t* secondChroma, int32_t dataSize);

    const uint8_t* source_ = nullptr;
    uint8_t* const* planes_ = nullptr;
    int16_t lumaPredictor_ = 0;
    int16_t chromaPredictorA_ = 0;
    int16_t chromaPredictorB_ = 0;
    alignas(8) uint16_t lumaQuant_[64] = {};
    alignas(8) uint16_t chromaQuant_[64] = {};
    // Tables live in tableStorage_; a pointer stays null until its table is built.
    const uint8_t* lumaDcTable_ = nullptr;
    const uint8_t* lumaAcTable_ = nullptr;
    const uint8_t* chromaDcTable_ = nullptr;
    const uint8_t* chromaAcTable_ = nullptr;
    int16_t* coefficients_ = nullptr;
    int32_t pictureWidth_ = 0;
    int32_t pictureHeight_ = 0;
    int32_t rowStep_ = 0;

    // Bit reader state of the picture being decoded.
    int32_t bitPosition_ = 0;
    int32_t marker_ = 0;
    uint32_t bitBuffer_ = 0;
    int32_t bitCount_ = 0;

    bool accepted_ = false;  // last Configure passed its size checks
    bool primitivesOnly_ = false;
    int32_t lastStatus_ = StatusOk;
    bool lookupsReady_ = false;  // the fast path's tables match the primitives' tables
    InverseDctPairFn* pairTransform_ = nullptr;  // the active variant, during Decode
    bool jointPairs_ = false;                    // it does both blocks at once
    fast::HuffmanLookup lookups_[4];             // in the order of tableStorage_
    alignas(8) uint8_t tableStorage_[4][kHuffmanTableBytes] = {};
};

}  // namespace fluxmere
