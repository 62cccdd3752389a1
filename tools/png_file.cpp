#include "tools/png_file.h"

#include <png.h>

#include <cstdio>

namespace fluxmere::cli {

bool WritePng(const std::string& path, const uint8_t* pixels, int width, int height, int stride,
              PixelOrder order, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot create " + path;
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        *error = "cannot write " + path;
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (order == PixelOrder::BGR)
        png_set_bgr(png);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, const_cast<png_bytep>(pixels + static_cast<size_t>(y) * stride));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const bool closed = std::fclose(file) == 0;
    if (!closed)
        *error = "cannot write " + path;
    return closed;
}

}  // namespace fluxmere::cli
