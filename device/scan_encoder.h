#pragma once
// A small portable encoder of "mjpa" payloads: baseline JPEG entropy-coded data of a 4:2:2
// picture with the fixed quantisers and the standard Huffman tables, no restart intervals, and
// nothing but integer arithmetic, so that every platform produces the same bytes. The device's
// recorded clips use it; Windows tests compile it to regenerate those clips. (The live stream
// uses the libjpeg encoder of mjpa_encoder.h.)

#include <cstdint>
#include <vector>

#include "device/mjpa_encoder.h"

namespace fluxmere::device {

// Encodes the picture's MCUs (16 x 8 pixels; edges repeat the last column and line) into
// payload, replacing its content. False, with an empty payload, for an empty picture.
bool EncodeScan(const YCbCr422Picture& picture, std::vector<uint8_t>* payload);

}  // namespace fluxmere::device
