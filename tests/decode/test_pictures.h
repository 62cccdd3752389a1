#pragma once
// Synthetic 4:2:2 pictures for the oracle test and the benchmark: smooth gradients with edges,
// texture and a little noise, like camera content; or pure noise for extreme coefficients.

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace fluxmere::testing {

struct Picture422 {
    int width = 0, height = 0;
    std::vector<uint8_t> y, cb, cr;  // chroma (width + 1) / 2 wide

    int chromaWidth() const { return (width + 1) / 2; }
};

// Detail of a scene: light is a smooth scene with some texture, busy one full of fine detail
// (foliage, gravel: heavy pictures of about 130 KB at 720 x 576), noise pure noise.
enum class Detail { kLight, kBusy, kNoise };

inline Picture422 MakeScene(int width, int height, uint32_t seed, bool noise = false);

inline Picture422 MakeScene(int width, int height, uint32_t seed, Detail detail) {
    if (detail != Detail::kBusy) {
        return MakeScene(width, height, seed, detail == Detail::kNoise);
    }
    Picture422 p = MakeScene(width, height, seed, false);
    std::mt19937 random(seed + 1);
    auto jitter = [&](uint8_t v, int spread) {
        const int value = v + static_cast<int>(random() % (2 * spread + 1)) - spread;
        return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
    };
    for (auto& v : p.y) {
        v = jitter(v, 20);
    }
    for (size_t i = 0; i < p.cb.size(); ++i) {
        p.cb[i] = jitter(p.cb[i], 6);
        p.cr[i] = jitter(p.cr[i], 6);
    }
    return p;
}

inline Picture422 MakeScene(int width, int height, uint32_t seed, bool noise) {
    Picture422 p;
    p.width = width;
    p.height = height;
    p.y.resize(static_cast<size_t>(width) * height);
    p.cb.resize(static_cast<size_t>(p.chromaWidth()) * height);
    p.cr.resize(p.cb.size());
    std::mt19937 random(seed);
    auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            double v;
            if (noise) {
                v = static_cast<double>(random() % 256);
            } else {
                v = 40 + 150.0 * c / width + 30 * std::sin(r * 0.07) * std::cos(c * 0.05);
                if ((c / 37 + r / 29) % 5 == 0) {
                    v += 60;  // hard-edged patches
                }
                if (((c ^ r) & 8) && r > height / 2) {
                    v -= 25;  // fine texture in the lower half
                }
                v += static_cast<double>(random() % 9) - 4;
            }
            p.y[static_cast<size_t>(r) * width + c] = clamp(v);
        }
        for (int c = 0; c < p.chromaWidth(); ++c) {
            const size_t at = static_cast<size_t>(r) * p.chromaWidth() + c;
            if (noise) {
                p.cb[at] = static_cast<uint8_t>(random());
                p.cr[at] = static_cast<uint8_t>(random());
            } else {
                p.cb[at] = clamp(128 + 50 * std::sin(c * 0.03 + r * 0.02));
                p.cr[at] = clamp(128 - 40 * std::cos(r * 0.04) + ((c / 20) % 2 ? 30 : 0));
            }
        }
    }
    return p;
}

}  // namespace fluxmere::testing
