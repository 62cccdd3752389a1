#pragma once
// Writes a B, G, R picture as an uncompressed PNG or a 24-bit BMP, with no library: the viewer
// host must import nothing beyond the system's DLLs.

#include <cstdint>
#include <string>

namespace fluxmere::tools {

enum class ImageFormat { Unknown, Png, Bmp };

// The format a file name's ending names: ".png" or ".bmp", in any case.
ImageFormat ImageFormatOf(const std::string& path);

// pixels: rows top-down, 3 bytes a pixel in B, G, R order, rows stride bytes apart. The format
// is the one the name's ending names; any other name is refused (false, nothing written).
bool WriteImageFile(const std::string& path, const uint8_t* pixels, int width, int height,
                    int stride);

}  // namespace fluxmere::tools
