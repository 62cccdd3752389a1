// Chroma filters of the DV encoder.

#include "transcode/dv_chroma.h"

namespace fluxmere::transcode::dv {
namespace {

// (-1 0 9 16 9 0 -1) / 32 around `centre`, rounded and clamped.
inline uint8_t HalfBand(int centre, int near1, int near2, int far1, int far2) {
    const int value = (16 * centre + 9 * (near1 + near2) - (far1 + far2) + 16) >> 5;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

void ChromaTo411(const uint8_t* source, ptrdiff_t stride, uint8_t* target) {
    auto edge = [](const uint8_t* in, int k) {
        auto at = [in](int i) {
            return in[i < 0 ? 0 : i >= kChroma422Width ? kChroma422Width - 1 : i];
        };
        const int i = 2 * k;
        return HalfBand(at(i), at(i - 1), at(i + 1), at(i - 3), at(i + 3));
    };
    for (int line = 0; line < kChromaLines; ++line) {
        const uint8_t* in = source + line * stride;
        uint8_t* out = target + line * kChroma411Width;
        out[0] = edge(in, 0);
        out[1] = edge(in, 1);
        for (int k = 2; k < kChroma411Width - 1; ++k) {
            const uint8_t* c = in + 2 * k;
            out[k] = HalfBand(c[0], c[-1], c[1], c[-3], c[3]);
        }
        out[kChroma411Width - 1] = edge(in, kChroma411Width - 1);
    }
}

void ChromaTo420(const uint8_t* source, ptrdiff_t stride, bool isCr, uint8_t* target) {
    constexpr int kFieldLines = kChromaLines / 2;
    for (int line = 0; line < kChroma420Lines; ++line) {
        const int field = line % 2;
        const int centre = line / 2 * 2 + (isCr ? 0 : 1);  // a line of that field
        const uint8_t* rows[7];
        for (int t = -3; t <= 3; ++t) {
            int fieldLine = centre + t;
            fieldLine = fieldLine < 0 ? 0 : fieldLine >= kFieldLines ? kFieldLines - 1 : fieldLine;
            rows[t + 3] = source + (2 * fieldLine + field) * stride;
        }
        uint8_t* out = target + line * kChroma422Width;
        for (int x = 0; x < kChroma422Width; ++x) {
            out[x] = HalfBand(rows[3][x], rows[2][x], rows[4][x], rows[0][x], rows[6][x]);
        }
    }
}

}  // namespace fluxmere::transcode::dv
