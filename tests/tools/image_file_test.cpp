// The dependency-free image writer of fluxmere-viewer.exe, read back by libpng (PNG) and by hand
// (BMP): every pixel in its place, at widths whose rows need padding.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tools/image_file.h"

namespace fluxmere {
namespace {

// B, G, R pixels that differ in every channel from pixel to pixel and row to row.
std::vector<uint8_t> Picture(int width, int height, int stride) {
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height, 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &pixels[static_cast<size_t>(y) * stride + 3 * x];
            p[0] = static_cast<uint8_t>(x * 7 + y);
            p[1] = static_cast<uint8_t>(x + y * 5);
            p[2] = static_cast<uint8_t>(x * 3 ^ y);
        }
    }
    return pixels;
}

std::string TempPath(const char* name) {
    return ::testing::TempDir() + name;
}

TEST(ImageFile, PngReadsBackPixelForPixel) {
    for (int width : {1, 3, 70, 321}) {  // 70 x 3 x 300 bytes spans several stored blocks
        SCOPED_TRACE(width);
        const int height = width == 70 ? 300 : 5;
        const int stride = 3 * width + 5;
        const std::vector<uint8_t> pixels = Picture(width, height, stride);
        const std::string path = TempPath("image_file_test.png");
        ASSERT_TRUE(tools::WriteImageFile(path, pixels.data(), width, height, stride));

        png_image image = {};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
        image.format = PNG_FORMAT_BGR;
        ASSERT_EQ(image.width, static_cast<png_uint_32>(width));
        ASSERT_EQ(image.height, static_cast<png_uint_32>(height));
        std::vector<uint8_t> read(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr))
            << image.message;
        for (int y = 0; y < height; ++y) {
            ASSERT_EQ(0, std::memcmp(&read[static_cast<size_t>(y) * 3 * width],
                                     &pixels[static_cast<size_t>(y) * stride], 3 * width))
                << "row " << y;
        }
        std::remove(path.c_str());
    }
}

TEST(ImageFile, BmpHoldsTopDownPaddedRows) {
    const int width = 5, height = 3, stride = 16;
    const std::vector<uint8_t> pixels = Picture(width, height, stride);
    const std::string path = TempPath("image_file_test.BMP");
    ASSERT_TRUE(tools::WriteImageFile(path, pixels.data(), width, height, stride));
    const std::vector<uint8_t> bmp = testing::ReadFileBytes(path);
    const int rowBytes = 16;  // 15 bytes of pixels padded to a multiple of 4
    ASSERT_EQ(bmp.size(), 54u + rowBytes * height);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(bmp[18], width);
    EXPECT_EQ(static_cast<int8_t>(bmp[22]), -height);
    EXPECT_EQ(bmp[28], 24);
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(0, std::memcmp(&bmp[54 + y * rowBytes], &pixels[y * stride], 3 * width));
        EXPECT_EQ(bmp[54 + y * rowBytes + 15], 0) << "padding";
    }
    std::remove(path.c_str());
}

TEST(ImageFile, RefusesWhatItCannotWrite) {
    const std::vector<uint8_t> pixels(12);
    // Only the formats it writes: a .jpg of PNG bytes would lie about its contents.
    for (const char* name : {"x.jpg", "x.png.txt", "png", "x"}) {
        EXPECT_EQ(tools::ImageFormatOf(name), tools::ImageFormat::Unknown) << name;
        std::remove(TempPath(name).c_str());
        EXPECT_FALSE(tools::WriteImageFile(TempPath(name), pixels.data(), 2, 2, 6)) << name;
        EXPECT_TRUE(testing::ReadFileBytes(TempPath(name)).empty()) << name;
    }
    EXPECT_EQ(tools::ImageFormatOf("a.PNG"), tools::ImageFormat::Png);
    EXPECT_EQ(tools::ImageFormatOf("a.Bmp"), tools::ImageFormat::Bmp);
    EXPECT_FALSE(tools::WriteImageFile(TempPath("x.png"), nullptr, 2, 2, 6));
    EXPECT_FALSE(tools::WriteImageFile(TempPath("x.png"), pixels.data(), 2, 2, 5));
    EXPECT_FALSE(tools::WriteImageFile("/nonexistent-folder/x.png", pixels.data(), 2, 2, 6));
}

}  // namespace
}  // namespace fluxmere
