#pragma once
// Writes pictures as PNG files (libpng).

#include <cstdint>
#include <string>

namespace fluxmere::cli {

enum class PixelOrder { RGB, BGR };

// width x height pixels of 3 bytes, rows stride bytes apart. False (with error set) on failure.
bool WritePng(const std::string& path, const uint8_t* pixels, int width, int height, int stride,
              PixelOrder order, std::string* error);

}  // namespace fluxmere::cli
