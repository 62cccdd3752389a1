// Fuzz target: any payload, any small picture size. The payload and the planes are heap blocks
// of exactly the promised size, so ASan reports any read or write outside them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "decode/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the picture: width 1..256, height 1..128 (0 would mean 240);
    // the top bit of the second picks the generic variant or the one this processor selects.
    static const int32_t selected = [] {
        SelectProcessorVariant();
        return variantIndex;
    }();
    const int32_t width = 1 + data[0];
    const int32_t height = 1 + (data[1] & 0x7F);
    variantIndex = (data[1] & 0x80) ? selected : 0;
    data += 2;
    size -= 2;

    const int32_t w16 = static_cast<int32_t>(RoundedWidth(width));
    const int32_t lumaBytes =
        static_cast<int32_t>(CJPEGDecoder::LumaBytesNeeded(width, height, w16));
    const int32_t chromaBytes =
        static_cast<int32_t>(CJPEGDecoder::ChromaBytesNeeded(width, height, w16));
    std::unique_ptr<uint8_t[]> luma(new uint8_t[lumaBytes + 1]);
    std::unique_ptr<uint8_t[]> cb(new uint8_t[chromaBytes + 1]);
    std::unique_ptr<uint8_t[]> cr(new uint8_t[chromaBytes + 1]);
    std::unique_ptr<uint8_t[]> payload(new uint8_t[size + 1]);
    if (size != 0) {
        std::memcpy(payload.get(), data, size);
    }
    alignas(8) int16_t work[256];

    CJPEGDecoder decoder;
    if (decoder.Configure(width, height, w16, work, {lumaBytes, chromaBytes, chromaBytes}) !=
        StatusOk) {
        __builtin_trap();  // every size chosen above fits its planes
    }
    uint8_t* planes[3] = {luma.get(), cb.get(), cr.get()};
    CCompressedSample sample;
    sample.data = payload.get();
    sample.size = static_cast<int32_t>(size);
    decoder.Decode(planes, &sample);
    return 0;
}
