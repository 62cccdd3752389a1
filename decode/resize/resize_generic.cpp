// The resize kernels, written for the compiler's vectoriser. The same source is compiled once
// more for AVX2 (decode/x86/resize_avx2.cpp, with FLUXMERE_RESIZE_KERNELS set to avx2): floats
// are only multiplied and added in the order written (no fused multiply-add), so the wider
// vectors compute exactly the same values.

#include <cstdlib>
#include <cstring>

#include "decode/resize/resize.h"
#include "decode/resize/resize_generic.h"
#include "decode/status.h"

#ifndef FLUXMERE_RESIZE_KERNELS
#define FLUXMERE_RESIZE_KERNELS generic
#endif

namespace fluxmere::resize::FLUXMERE_RESIZE_KERNELS {
namespace {

const uint8_t* SourceRow(const Plan& plan, int32_t row) {
    return plan.src + static_cast<ptrdiff_t>(row) * plan.srcStride;
}

uint8_t* DestinationRow(const Plan& plan, int32_t row) {
    return plan.dst + static_cast<ptrdiff_t>(row) * plan.dstStride;
}

void RunNearest(const Plan& plan, const NearestWork& w) {
    NearestTaps(plan.x, w.colIndex);
    NearestTaps(plan.y, w.rowIndex);
    for (int32_t i = 0; i < plan.y.used; ++i) {
        const uint8_t* in = SourceRow(plan, w.rowIndex[i]);
        uint8_t* out = DestinationRow(plan, i);
        for (ptrdiff_t j = 0; j < plan.x.used; ++j) {
            const uint8_t* pixel = in + static_cast<ptrdiff_t>(w.colIndex[j]) * 3;
            out[3 * j] = pixel[0];
            out[3 * j + 1] = pixel[1];
            out[3 * j + 2] = pixel[2];
        }
    }
}

// Source rows interpolated horizontally, kept while the next destination rows still need them.
// Each slot remembers which source row it holds (-1: none).
template <typename T, int N>
class RowRing {
public:
    explicit RowRing(T* const* rows) {
        for (int s = 0; s < N; ++s) {
            row_[s] = rows[s];
            held_[s] = -1;
        }
    }

    // Points out[0..N-1] at source rows first..first+N-1, filling missing ones with fill(row, dst).
    template <typename Fill>
    void Get(int32_t first, T** out, Fill fill) {
        for (int n = 0; n < N; ++n) {
            out[n] = Find(first + n);
        }
        for (int n = 0; n < N; ++n) {
            if (out[n] != nullptr) {
                continue;
            }
            // A slot whose row is outside the window is free; one exists since this row is not
            // held.
            int slot = 0;
            while (held_[slot] >= first && held_[slot] < first + N) {
                ++slot;
            }
            fill(first + n, row_[slot]);
            held_[slot] = first + n;
            out[n] = row_[slot];
        }
    }

private:
    T* Find(int32_t sourceRow) const {
        for (int s = 0; s < N; ++s) {
            if (held_[s] == sourceRow) {
                return row_[s];
            }
        }
        return nullptr;
    }

    T* row_[N];
    int32_t held_[N];
};

void LinearRow(const uint8_t* in, const LinearWork& w, int32_t width, uint16_t* out) {
    for (ptrdiff_t j = 0; j < width; ++j) {
        const uint8_t* p = in + static_cast<ptrdiff_t>(w.colFirst[j]) * 3;
        const int32_t b = w.colWeight[j];
        const int32_t a = 16384 - b;
        for (int c = 0; c < 3; ++c) {
            out[3 * j + c] = static_cast<uint16_t>((p[3 + c] * b + p[c] * a + 128) >> 8);
        }
    }
}

void RunLinear(const Plan& plan, const LinearWork& w) {
    LinearTaps(plan.x, w.colFirst, w.colWeight);
    LinearTaps(plan.y, w.rowFirst, w.rowWeight);
    const int32_t width = plan.x.used;
    const ptrdiff_t values = static_cast<ptrdiff_t>(width) * 3;
    RowRing<uint16_t, 2> ring(w.rows);
    auto fill = [&](int32_t row, uint16_t* out) { LinearRow(SourceRow(plan, row), w, width, out); };
    for (int32_t i = 0; i < plan.y.used; ++i) {
        uint16_t* h[2];
        ring.Get(w.rowFirst[i], h, fill);
        const int32_t b = w.rowWeight[i];
        const int32_t a = 16384 - b;
        uint8_t* out = DestinationRow(plan, i);
        for (ptrdiff_t v = 0; v < values; ++v) {
            out[v] = static_cast<uint8_t>((h[1][v] * b + h[0][v] * a + 524288) >> 20);
        }
    }
}

// Widens the source pixels the columns read to float once, then applies each column's weights.
void CubicRow(const uint8_t* in, const CubicWork& w, int32_t spanFirst, int32_t spanPixels,
              int32_t width, float* out) {
    const uint8_t* span = in + static_cast<ptrdiff_t>(spanFirst) * 3;
    float* wide = w.spanRow;
    const ptrdiff_t spanValues = static_cast<ptrdiff_t>(spanPixels) * 3;
    for (ptrdiff_t v = 0; v < spanValues; ++v) {
        wide[v] = span[v];
    }
    wide[spanValues] = 0.0f;
    for (ptrdiff_t j = 0; j < width; ++j) {
        const float* p = wide + static_cast<ptrdiff_t>(w.colFirst[j] - spanFirst) * 3;
        const float c0 = w.colWeights[4 * j], c1 = w.colWeights[4 * j + 1];
        const float c2 = w.colWeights[4 * j + 2], c3 = w.colWeights[4 * j + 3];
        // Four lanes, so the three channels go as one vector: the fourth lane reads one value
        // further and writes the next column's first value, which the next column overwrites
        // (rows and the widened source row have one spare value at their end).
        float sum[4];
        for (int k = 0; k < 4; ++k) {
            sum[k] = c0 * p[k] + c1 * p[3 + k] + c2 * p[6 + k] + c3 * p[9 + k];
        }
        std::memcpy(out + 3 * j, sum, sizeof sum);
    }
}

void CubicColumn(float* const* h, const float* c, ptrdiff_t values, uint8_t* out) {
    const float* r0 = h[0];
    const float* r1 = h[1];
    const float* r2 = h[2];
    const float* r3 = h[3];
    const float c0 = c[0], c1 = c[1], c2 = c[2], c3 = c[3];
    for (ptrdiff_t v = 0; v < values; ++v) {
        // With t kept within -1..2 the values stay far inside the int32 range, so the clamp can
        // follow the conversion (integer clamps vectorise better than float ones).
        const float value = c0 * r0[v] + c1 * r1[v] + c2 * r2[v] + c3 * r3[v] + 0.5000001f;
        int32_t rounded = static_cast<int32_t>(value);
        rounded = rounded < 0 ? 0 : rounded;
        rounded = rounded > 255 ? 255 : rounded;
        out[v] = static_cast<uint8_t>(rounded);
    }
}

// Which of its four samples a position takes when its weights are all 0 but one 1 (a factor of
// 1 puts every position on a sample: the cubic through four samples evaluated at one of them is
// that sample, exactly, also in float); -1 when the position needs interpolation.
int SelectedTap(const float* c) {
    int ones = 0, zeros = 0, at = 0;
    for (int k = 0; k < 4; ++k) {
        ones += c[k] == 1.0f;
        zeros += c[k] == 0.0f;
        at = c[k] == 1.0f ? k : at;
    }
    return ones == 1 && zeros == 3 ? at : -1;
}

bool OnlySelects(const float* weights4, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (SelectedTap(weights4 + 4 * static_cast<ptrdiff_t>(i)) < 0) {
            return false;
        }
    }
    return true;
}

// Turns the first samples of positions that only select into the selected samples.
void ToSelected(int32_t* first, const float* weights4, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        first[i] += SelectedTap(weights4 + 4 * static_cast<ptrdiff_t>(i));
    }
}

// Both axes only select samples: the destination is a copy of source pixels, row by row a
// plain copy where the columns are consecutive.
void CopySelected(const Plan& plan, const int32_t* rows, const int32_t* columns) {
    const int32_t width = plan.x.used;
    bool consecutive = true;
    for (int32_t j = 1; j < width; ++j) {
        consecutive = consecutive && columns[j] == columns[0] + j;
    }
    for (int32_t i = 0; i < plan.y.used; ++i) {
        const uint8_t* in = SourceRow(plan, rows[i]);
        uint8_t* out = DestinationRow(plan, i);
        if (consecutive) {
            std::memcpy(out, in + static_cast<ptrdiff_t>(columns[0]) * 3,
                        static_cast<size_t>(width) * 3);
            continue;
        }
        for (ptrdiff_t j = 0; j < width; ++j) {
            std::memcpy(out + 3 * j, in + static_cast<ptrdiff_t>(columns[j]) * 3, 3);
        }
    }
}

#ifdef FLUXMERE_RESIZE_PLANAR_CUBIC
// Defined by the build that sets FLUXMERE_RESIZE_PLANAR_CUBIC: the cubic pass with the channels
// held as planes, eight columns at a time, each value computed with the very operations of
// CubicRow and CubicColumn. Fits tells whether every group of eight columns reads its samples
// from eight consecutive source pixels (true when enlarging by 1.75 or more); only then may Run
// be used.
bool PlanarCubicFits(const CubicWork& w, int32_t width);
void RunPlanarCubic(const Plan& plan, const CubicWork& w, int32_t spanFirst, int32_t spanPixels);
#endif

void RunCubic(const Plan& plan, const CubicWork& w) {
    CubicTaps(plan.x, w.colFirst, w.colWeights);
    CubicTaps(plan.y, w.rowFirst, w.rowWeights);
    if (OnlySelects(w.colWeights, plan.x.used) && OnlySelects(w.rowWeights, plan.y.used)) {
        ToSelected(w.colFirst, w.colWeights, plan.x.used);
        ToSelected(w.rowFirst, w.rowWeights, plan.y.used);
        CopySelected(plan, w.rowFirst, w.colFirst);
        return;
    }
    const int32_t width = plan.x.used;
    int32_t spanFirst = w.colFirst[0];
    int32_t spanLast = w.colFirst[0];
    for (int32_t j = 1; j < width; ++j) {
        spanFirst = w.colFirst[j] < spanFirst ? w.colFirst[j] : spanFirst;
        spanLast = w.colFirst[j] > spanLast ? w.colFirst[j] : spanLast;
    }
    const int32_t spanPixels = spanLast + 4 - spanFirst;
#ifdef FLUXMERE_RESIZE_PLANAR_CUBIC
    if (PlanarCubicFits(w, width)) {
        RunPlanarCubic(plan, w, spanFirst, spanPixels);
        return;
    }
#endif
    RowRing<float, 4> ring(w.rows);
    auto fill = [&](int32_t row, float* out) {
        CubicRow(SourceRow(plan, row), w, spanFirst, spanPixels, width, out);
    };
    for (int32_t i = 0; i < plan.y.used; ++i) {
        float* h[4];
        ring.Get(w.rowFirst[i], h, fill);
        CubicColumn(h, w.rowWeights + 4 * static_cast<ptrdiff_t>(i),
                    static_cast<ptrdiff_t>(width) * 3, DestinationRow(plan, i));
    }
}

}  // namespace

int32_t Run(const Plan& plan, void* work, size_t workBytes) {
    const int32_t span = plan.x.imageLength;
    const size_t needed = WorkBytesFor(plan.mode, span, plan.x.used, plan.y.used);
    if (needed == SIZE_MAX) {
        return StatusNoMemory;
    }
    void* own = nullptr;
    if (work == nullptr || workBytes < needed) {
        own = std::malloc(needed);
        if (own == nullptr) {
            return StatusNoMemory;
        }
        work = own;
        workBytes = needed;
    }
    // The area was sized by the same carving code, so it always fits; the checks below only
    // guard against that ever changing.
    WorkArena arena(work, workBytes);
    if (plan.mode == NearestMode) {
        NearestWork w;
        w.Carve(arena, plan.x.used, plan.y.used);
        if (arena.Ok()) {
            RunNearest(plan, w);
        }
    } else if (plan.mode == LinearMode) {
        LinearWork w;
        w.Carve(arena, plan.x.used, plan.y.used);
        if (arena.Ok()) {
            RunLinear(plan, w);
        }
    } else {
        CubicWork w;
        w.Carve(arena, plan.x.used, plan.y.used, span);
        if (arena.Ok()) {
            RunCubic(plan, w);
        }
    }
    std::free(own);
    return arena.Ok() ? StatusOk : StatusNoMemory;
}

}  // namespace fluxmere::resize::FLUXMERE_RESIZE_KERNELS
