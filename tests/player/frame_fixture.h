#pragma once
// Small, portable fixtures for the player's tests: Motion-JPEG payloads of flat pictures (every
// block carries only its DC value) and combined frames around them.

#include <cstdint>
#include <string>
#include <vector>

namespace fluxmere::testing {

// DC coefficients of the three components. The decoder turns a block with DC coefficient D into
// pixels of 128 + D x quantiser / 8 (quantiser 6 for luma, 7 for chroma).
struct FlatColour {
    int luma;
    int cb;
    int cr;
};

// The entropy-coded data of a width x height picture of one colour: the first blocks carry the
// DC difference, every later block 0, and every block ends at once.
std::vector<uint8_t> FlatMjpaPayload(int width, int height, FlatColour colour);

// Two flat colours whose converted bytes are known. Luma 80, Cb 93, Cr 240: R 253, G 0, B 4 by
// the converter, so the bytes of a rendered picture land as 4, 0, 253.
constexpr FlatColour kRed{-64, -40, 128};
constexpr uint8_t kRedBgr[3] = {4, 0, 253};
// Luma 80, Cb 240, Cr 93: R 19, G 59, B 255.
constexpr FlatColour kBlue{-64, 128, -40};
constexpr uint8_t kBlueBgr[3] = {255, 59, 19};

// Where the first pixel of a picture in B, G, R rows differs from bgr ("x,y"), or empty when
// every pixel is those three bytes.
std::string FirstPixelOtherThan(const uint8_t* pixels, int width, int height, int stride,
                                const uint8_t* bgr);

// A combined frame: a video block ("vide", codec, header laid out for version) with the payload,
// then an audio block ("audi", "p16S") with audioPayload.
std::vector<uint8_t> CombinedFrame(uint32_t version, const std::vector<uint8_t>& videoPayload,
                                   const std::vector<uint8_t>& audioPayload,
                                   const char* videoCodec = "mjpa");

}  // namespace fluxmere::testing
