#pragma once
// Writes a B, G, R picture as an uncompressed PNG or a 24-bit BMP, with no library: the viewer
// host must import nothing beyond the system's DLLs.

#include <cstdint>
#include <string>

namespace fluxmere::tools {

// pixels: rows top-down, 3 bytes a pixel in B, G, R order, rows stride bytes apart.
// The format follows the name's ending: ".bmp" (any case) gives a BMP, anything else a PNG.
bool WriteImageFile(const std::string& path, const uint8_t* pixels, int width, int height,
                    int stride);

}  // namespace fluxmere::tools
