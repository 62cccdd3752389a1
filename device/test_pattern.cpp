#include "device/test_pattern.h"

#include <algorithm>

namespace fluxmere::device {
namespace {

// 75 % colour bars: white, yellow, cyan, green, magenta, red, blue, black.
constexpr uint8_t kBars[8][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                 {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {0, 0, 0}};

// 5 x 7 digits, one row per byte, bit 4 the leftmost pixel.
constexpr uint8_t kDigits[10][7] = {{14, 17, 19, 21, 25, 17, 14}, {4, 12, 4, 4, 4, 4, 14},
                                    {14, 17, 1, 2, 4, 8, 31},     {31, 2, 4, 2, 1, 17, 14},
                                    {2, 6, 10, 18, 31, 2, 2},     {31, 16, 30, 1, 1, 17, 14},
                                    {6, 8, 16, 30, 17, 17, 14},   {31, 1, 2, 4, 8, 8, 8},
                                    {14, 17, 17, 14, 17, 17, 14}, {14, 17, 17, 15, 1, 2, 12}};

constexpr int kBarWidth = 16;

// A quarter period of 8000 * sin(2 pi k / 96), rounded. Integers, not std::sin, so that the
// sound (and with it every clip) is the same bytes on every platform and compiler: tests under
// Wine regenerate clips and compare them with what the native device sent.
constexpr int16_t kQuarterSine[25] = {0,    523,  1044, 1561, 2071, 2572, 3061, 3538, 4000,
                                      4445, 4870, 5275, 5657, 6015, 6347, 6652, 6928, 7175,
                                      7391, 7575, 7727, 7846, 7932, 7983, 8000};

int16_t Sine96(uint32_t k) {
    if (k <= 24)
        return kQuarterSine[k];
    if (k <= 48)
        return kQuarterSine[48 - k];
    if (k <= 72)
        return static_cast<int16_t>(-kQuarterSine[k - 48]);
    return static_cast<int16_t>(-kQuarterSine[96 - k]);
}

void Fill(uint8_t* rgb, int width, int height, int x0, int y0, int w, int h, uint8_t r, uint8_t g,
          uint8_t b) {
    int x1 = std::min(width, x0 + w);
    int y1 = std::min(height, y0 + h);
    for (int y = std::max(0, y0); y < y1; ++y) {
        for (int x = std::max(0, x0); x < x1; ++x) {
            uint8_t* p = rgb + (static_cast<size_t>(y) * width + x) * 3;
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
}

}  // namespace

int MovingBarX(int width, uint32_t frameIndex) {
    int span = std::max(1, width - kBarWidth);
    return static_cast<int>((frameIndex * 4u) % static_cast<uint32_t>(span));
}

uint32_t BarColour(int index, int barsShift) {
    const uint8_t* bar = kBars[static_cast<unsigned>(index + barsShift) % 8];
    return (uint32_t{bar[0]} << 16) | (uint32_t{bar[1]} << 8) | bar[2];
}

void RenderTestPattern(int width, int height, uint32_t frameIndex, uint8_t* rgb, int barsShift) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const int barsHeight = height * 2 / 3;
    for (int i = 0; i < 8; ++i) {
        int x0 = width * i / 8;
        int x1 = width * (i + 1) / 8;
        const uint32_t colour = BarColour(i, barsShift);
        Fill(rgb, width, height, x0, 0, x1 - x0, barsHeight, static_cast<uint8_t>(colour >> 16),
             static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour));
    }
    // Grey ramp below the bars, with the moving bar on it.
    for (int x = 0; x < width; ++x) {
        uint8_t v = static_cast<uint8_t>(16 + 200 * x / std::max(1, width - 1));
        Fill(rgb, width, height, x, barsHeight, 1, height - barsHeight, v, v, v);
    }
    Fill(rgb, width, height, MovingBarX(width, frameIndex), barsHeight, kBarWidth,
         height - barsHeight, 255, 255, 255);

    // Frame number, six digits of 5 x 7 cells scaled by 3, on a black box at the top left.
    const int scale = 3;
    Fill(rgb, width, height, 4, 4, 6 * 6 * scale + 2 * scale, 9 * scale, 0, 0, 0);
    uint32_t n = frameIndex;
    for (int d = 5; d >= 0; --d) {
        const uint8_t* glyph = kDigits[n % 10];
        n /= 10;
        int gx = 4 + scale + d * 6 * scale;
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (glyph[row] & (16 >> col)) {
                    Fill(rgb, width, height, gx + col * scale, 4 + scale + row * scale, scale,
                         scale, 255, 255, 255);
                }
            }
        }
    }
}

void RenderTone(uint64_t firstSampleFrame, uint8_t* out, size_t sampleFrames, int toneHz) {
    // 500 Hz is 96 samples a period: every multiple of it is the same table at a larger step.
    const uint64_t rightStep = static_cast<uint64_t>(std::max(1, toneHz / 1000));
    const uint64_t leftStep = 2 * rightStep;
    for (size_t i = 0; i < sampleFrames; ++i) {
        const uint64_t s = (firstSampleFrame + i) % 96;
        const uint16_t l = static_cast<uint16_t>(Sine96(static_cast<uint32_t>(leftStep * s % 96)));
        const uint16_t r = static_cast<uint16_t>(Sine96(static_cast<uint32_t>(rightStep * s % 96)));
        out[4 * i + 0] = static_cast<uint8_t>(l >> 8);
        out[4 * i + 1] = static_cast<uint8_t>(l);
        out[4 * i + 2] = static_cast<uint8_t>(r >> 8);
        out[4 * i + 3] = static_cast<uint8_t>(r);
    }
}

}  // namespace fluxmere::device
