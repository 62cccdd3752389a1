#pragma once
// Small, portable fixtures for the player's tests: Motion-JPEG payloads of flat pictures (every
// block carries only its DC value) and combined frames around them.

#include <cstdint>
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

// A combined frame: a video block ("vide", codec, header laid out for version) with the payload,
// then an audio block ("audi", "p16S") with audioPayload.
std::vector<uint8_t> CombinedFrame(uint32_t version, const std::vector<uint8_t>& videoPayload,
                                   const std::vector<uint8_t>& audioPayload,
                                   const char* videoCodec = "mjpa");

}  // namespace fluxmere::testing
