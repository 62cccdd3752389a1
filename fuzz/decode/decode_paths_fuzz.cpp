// Differential fuzz target: the decoder's fast path against its primitives-only path. The first
// two bytes choose the picture (width 1..256, height 1..128); the third chooses the payload:
// with its top bit clear the remaining bytes are the payload as they are, with it set they seed
// a well-formed random scan (damaged or not), which reaches deep into the entropy decoder. Any
// difference in planes or status stops the run.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/decode/decode_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fluxmere;
    if (size < 3 || size > 1 << 20) {
        return 0;
    }
    const int32_t width = 1 + data[0];
    const int32_t height = 1 + (data[1] & 0x7F);
    const uint8_t mode = data[2];
    data += 3;
    size -= 3;
    std::vector<uint8_t> payload;
    if (mode & 0x80) {
        uint32_t seed = mode;
        for (size_t i = 0; i < size && i < 8; ++i) {
            seed = seed * 131 + data[i];
        }
        std::mt19937 random(seed);
        const int32_t mcus = static_cast<int32_t>(RoundedWidth(width) / 16) * (height / 8);
        payload = testing::RandomScan(random, mcus + 1);
        if (mode & 0x40) {
            testing::Damage(random, &payload);
        }
    } else {
        payload.assign(data, data + size);
    }
    payload.reserve(payload.size() + 1);  // never empty storage; the size excludes the spare
    if (!testing::BothPathsAgree(width, height, payload.data(),
                                 static_cast<int32_t>(payload.size()))) {
        __builtin_trap();
    }
    return 0;
}
