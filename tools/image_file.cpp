#include "tools/image_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace fluxmere::tools {
namespace {

void Put32BE(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void Put32LE(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    Put32BE(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32BE(out, Crc32(out.data() + start, out.size() - start));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t block = std::min<size_t>(raw.size() - at, 65535);
        const bool last = at + block == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<uint8_t>(block));
        out.push_back(static_cast<uint8_t>(block >> 8));
        out.push_back(static_cast<uint8_t>(~block));
        out.push_back(static_cast<uint8_t>(~block >> 8));
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + block);
        at += block;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    Put32BE(out, (b << 16) | a);
    return out;
}

std::vector<uint8_t> Png(const uint8_t* pixels, int width, int height, int stride) {
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * width));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // no filter
        const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            raw.push_back(row[3 * x + 2]);
            raw.push_back(row[3 * x + 1]);
            raw.push_back(row[3 * x]);
        }
    }
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Put32BE(header, static_cast<uint32_t>(width));
    Put32BE(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", StoredZlib(raw));
    PutChunk(out, "IEND", {});
    return out;
}

std::vector<uint8_t> Bmp(const uint8_t* pixels, int width, int height, int stride) {
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    std::vector<uint8_t> out = {'B', 'M'};
    Put32LE(out, 54 + imageBytes);
    Put32LE(out, 0);
    Put32LE(out, 54);
    Put32LE(out, 40);
    Put32LE(out, static_cast<uint32_t>(width));
    Put32LE(out, static_cast<uint32_t>(-height));  // rows top-down
    Put32LE(out, 1 | (24 << 16));                  // planes, bits per pixel
    for (int i = 0; i < 6; ++i)
        Put32LE(out, 0);  // uncompressed, sizes and colours unused
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        out.insert(out.end(), row, row + 3 * width);
        out.insert(out.end(), rowBytes - 3 * width, 0);
    }
    return out;
}

}  // namespace

ImageFormat ImageFormatOf(const std::string& path) {
    if (path.size() < 4)
        return ImageFormat::Unknown;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (end == ".png")
        return ImageFormat::Png;
    return end == ".bmp" ? ImageFormat::Bmp : ImageFormat::Unknown;
}

bool WriteImageFile(const std::string& path, const uint8_t* pixels, int width, int height,
                    int stride) {
    const ImageFormat format = ImageFormatOf(path);
    if (format == ImageFormat::Unknown || pixels == nullptr || width <= 0 || height <= 0 ||
        stride < 3 * width)
        return false;
    const std::vector<uint8_t> bytes = format == ImageFormat::Bmp
                                           ? Bmp(pixels, width, height, stride)
                                           : Png(pixels, width, height, stride);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace fluxmere::tools
