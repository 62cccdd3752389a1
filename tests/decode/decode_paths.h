#pragma once
// The decoder's fast path against its primitives-only path: random well-formed scans (long
// codes, extreme values, zero runs, runs past the end of a block), damaged in the ways real
// data gets damaged, and a check that both paths leave the same planes and the same status.
// Shared by the decoder test and the differential fuzz target.

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decode/jpeg_decoder.h"
#include "tests/decode/scan_writer.h"

namespace fluxmere::testing {

// A well-formed scan of the given number of MCUs.
inline std::vector<uint8_t> RandomScan(std::mt19937& random, int mcus) {
    static const CodeBook lumaDc = CodeBook::LumaDc(), lumaAc = CodeBook::LumaAc();
    static const CodeBook chromaDc = CodeBook::ChromaDc(), chromaAc = CodeBook::ChromaAc();
    ScanWriter writer;
    auto value = [&](int largestCategory) {
        // Mostly small magnitudes as in pictures, sometimes anything up to the category.
        const int category = random() % 4 == 0 ? 1 + static_cast<int>(random() % largestCategory)
                                               : 1 + static_cast<int>(random() % 3);
        const int magnitude =
            (1 << (category - 1)) + static_cast<int>(random() % (1u << (category - 1)));
        return random() % 2 ? magnitude : -magnitude;
    };
    for (int m = 0; m < mcus; ++m) {
        for (int b = 0; b < 4; ++b) {
            const int dcDifference = random() % 5 == 0 ? 0 : value(11);
            std::vector<std::pair<int, int>> terms;
            const int style = static_cast<int>(random() % 8);
            const int count = style == 0  ? 0
                              : style < 6 ? static_cast<int>(random() % 12)
                                          : static_cast<int>(random() % 64);
            int k = 1;
            for (int t = 0; t < count && k < 64; ++t) {
                const int run = random() % 10 == 0 ? static_cast<int>(random() % 40)
                                                   : static_cast<int>(random() % 4);
                terms.push_back({run, value(10)});
                k += run + 1;
            }
            writer.PutBlock(b < 2 ? lumaDc : chromaDc, b < 2 ? lumaAc : chromaAc, dcDifference,
                            terms);
        }
    }
    return writer.Finish();
}

// Damage of the kinds the decoder must survive: cut short, a marker or fill bytes put in,
// bytes changed, zeros after the end.
inline void Damage(std::mt19937& random, std::vector<uint8_t>* bytes) {
    if (bytes->empty()) {
        return;
    }
    const size_t at = random() % bytes->size();
    switch (random() % 6) {
        case 0:
            bytes->resize(at);
            break;
        case 1: {
            const uint8_t marker = random() % 2 ? 0xD9 : static_cast<uint8_t>(0xD0 + random() % 8);
            bytes->insert(bytes->begin() + static_cast<ptrdiff_t>(at), {0xFF, marker});
            break;
        }
        case 2:
            bytes->insert(bytes->begin() + static_cast<ptrdiff_t>(at), {0xFF, 0xFF, 0x00});
            break;
        case 3:
            (*bytes)[at] = static_cast<uint8_t>(random());
            break;
        case 4:
            bytes->insert(bytes->end(), 1 + random() % 40, 0x00);
            break;
        default:
            break;  // intact
    }
}

// Decodes the payload into planes pre-filled alike, once through the fast path with the slot
// the processor selects and once through the primitives with the generic variant; true when
// both give the same planes and status. The payload is decoded from a heap block of exactly its
// size, so that a sanitizer sees any read past its end. Restores variantIndex.
inline bool BothPathsAgree(int32_t width, int32_t height, const uint8_t* payload, int32_t size,
                           int32_t* status = nullptr) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size > 0 ? static_cast<size_t>(size) : 0]);
    if (size > 0) {
        std::memcpy(exact.get(), payload, static_cast<size_t>(size));
    }
    const int32_t w16 = static_cast<int32_t>(RoundedWidth(width));
    const int32_t lumaBytes =
        static_cast<int32_t>(CJPEGDecoder::LumaBytesNeeded(width, height, w16));
    const int32_t chromaBytes =
        static_cast<int32_t>(CJPEGDecoder::ChromaBytesNeeded(width, height, w16));
    std::vector<uint8_t> planes[2][3];
    int32_t statuses[2] = {};
    const int32_t saved = variantIndex;
    static const int32_t selected = [] {
        const int32_t before = variantIndex;
        SelectProcessorVariant();
        const int32_t chosen = variantIndex;
        variantIndex = before;
        return chosen;
    }();
    for (int path = 0; path < 2; ++path) {
        planes[path][0].assign(static_cast<size_t>(lumaBytes) + 1, 0x5A);
        planes[path][1].assign(static_cast<size_t>(chromaBytes) + 1, 0xA5);
        planes[path][2].assign(static_cast<size_t>(chromaBytes) + 1, 0x3C);
        alignas(8) int16_t work[256];
        auto decoder = std::make_unique<CJPEGDecoder>();
        variantIndex = path == 0 ? selected : 0;
        if (decoder->Configure(width, height, w16, work, {lumaBytes, chromaBytes, chromaBytes}) !=
            StatusOk) {
            variantIndex = saved;
            return false;
        }
        decoder->UsePrimitivesOnlyForTesting(path == 1);
        uint8_t* pointers[3] = {planes[path][0].data(), planes[path][1].data(),
                                planes[path][2].data()};
        CCompressedSample sample;
        sample.data = exact.get();
        sample.size = size;
        decoder->Decode(pointers, &sample);
        statuses[path] = decoder->LastDecodeStatus();
    }
    variantIndex = saved;
    if (status != nullptr) {
        *status = statuses[1];
    }
    return statuses[0] == statuses[1] && planes[0][0] == planes[1][0] &&
           planes[0][1] == planes[1][1] && planes[0][2] == planes[1][2];
}

}  // namespace fluxmere::testing
