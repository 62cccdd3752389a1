#pragma once
// What every variant of the resize shares: argument checks, the mode actually used, the clipped
// region, the destination size written, the sampling tables of both axes and the layout of the
// work memory. Variants differ only in how they run the per-row kernels over these tables.

#include <cstddef>
#include <cstdint>

namespace fluxmere::resize {

// One axis of a call, after clipping and sizing.
struct Axis {
    int32_t roiStart = 0;     // absolute index of the region's first pixel
    int32_t roiLength = 0;    // clipped to the image
    int32_t imageLength = 0;  // source width or height
    int32_t used = 0;         // destination pixels written on this axis
    double factor = 0.0;      // destination pixels per source pixel
    double scaled = 0.0;      // factor x roiLength
};

struct Plan {
    const uint8_t* src = nullptr;
    ptrdiff_t srcStride = 0;
    uint8_t* dst = nullptr;
    ptrdiff_t dstStride = 0;
    Axis x;
    Axis y;
    int32_t mode = 0;  // after the small-source fallback: 1, 2 or 4
};

// Runs the checks in their order, the fallback, clipping and sizing. Returns StatusOk with the
// plan filled in, or the status to report (nothing has been written then).
int32_t MakePlan(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                 int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight, uint8_t* dst,
                 int32_t dstStride, int32_t dstWidth, int32_t dstHeight, double xFactor,
                 double yFactor, int32_t interpolation, Plan* plan);

// Sampling tables, one entry per destination index 0..axis.used-1; indices are absolute.
// Nearest: the source index copied.
void NearestTaps(const Axis& axis, int32_t* index);
// Linear: the first of the two samples and the 14-bit weight of the second.
void LinearTaps(const Axis& axis, int32_t* first, int32_t* weight);
// Cubic: the first of the four samples and the weights of the four samples at the position.
void CubicTaps(const Axis& axis, int32_t* first, float* weights4);

// Weights c0..c3 with c0 f0 + c1 f1 + c2 f2 + c3 f3 equal to the Newton form of the cubic
// through f0..f3 (at -1, 0, 1, 2) evaluated at t; exact at t = -1, 0, 1 and 2.
void CubicWeights(float t, float weights4[4]);

// Carves typed arrays out of a work area, each 64-byte aligned. With a null base it only counts,
// which sizes the area with the very code that later carves it.
class WorkArena {
public:
    WorkArena(void* base, size_t bytes);

    template <typename T>
    T* Take(size_t count) {
        return static_cast<T*>(TakeBytes(count, sizeof(T)));
    }

    // Bytes taken so far including alignment; false once a request overflowed or ran past the end.
    // Out of line: the AVX2 build of the kernels calls them too (no inline copy built for AVX2).
    size_t Needed() const;
    bool Ok() const;

private:
    void* TakeBytes(size_t count, size_t size);

    unsigned char* base_;
    size_t bytes_;
    size_t needed_ = 0;
    bool ok_ = true;
};

// The arrays of one call, by mode. Each Carve takes them from the arena in a fixed order.
struct NearestWork {
    int32_t* colIndex = nullptr;
    int32_t* rowIndex = nullptr;
    void Carve(WorkArena& arena, int32_t width, int32_t height);
};

struct LinearWork {
    int32_t* colFirst = nullptr;
    int32_t* colWeight = nullptr;
    int32_t* rowFirst = nullptr;
    int32_t* rowWeight = nullptr;
    uint16_t* rows[2] = {nullptr, nullptr};  // width x 3 horizontally interpolated values each
    void Carve(WorkArena& arena, int32_t width, int32_t height);
};

// Widths of the arrays that a kernel may read and write eight columns at a time.
inline size_t RoundUpToEight(int32_t n) {
    return (static_cast<size_t>(n) + 7) / 8 * 8;
}

struct CubicWork {
    int32_t* colFirst = nullptr;
    float* colWeights = nullptr;  // 4 per column
    int32_t* rowFirst = nullptr;
    float* rowWeights = nullptr;  // 4 per row
    // One source row widened to float: spanPixels x 3 interleaved, or three planes of
    // spanPixels + 8 values.
    float* spanRow = nullptr;
    // Horizontally interpolated rows: width x 3 interleaved, or three planes of
    // RoundUpToEight(width) values.
    float* rows[4] = {nullptr, nullptr, nullptr, nullptr};
    // The columns in groups of eight, for kernels that work on the channels as planes: per group
    // the first sample of its first column (relative to the span), per column the first sample
    // relative to that, and per group the four weights of its eight columns, weight by weight.
    int32_t* groupStart = nullptr;
    int32_t* groupOffsets = nullptr;
    float* groupWeights = nullptr;
    void Carve(WorkArena& arena, int32_t width, int32_t height, int32_t spanPixels);
};

// Bytes needed by a call of the given mode; SIZE_MAX when the amount does not fit in size_t.
size_t WorkBytesFor(int32_t mode, int32_t spanPixels, int32_t width, int32_t height);

}  // namespace fluxmere::resize
