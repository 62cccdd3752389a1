#include "decode/resize/resize_plan.h"

#include <cstdint>

#include "decode/resize/resize.h"
#include "decode/status.h"

namespace fluxmere::resize {
namespace {

// Added before truncating sizes, positions and weights, so that values a rounding error below an
// integer still reach it.
constexpr double kNudge = 0.0000001;
constexpr int32_t kOne14 = 16384;

int32_t FallbackMode(int32_t mode, int32_t srcWidth, int32_t srcHeight) {
    const int32_t smaller = srcWidth < srcHeight ? srcWidth : srcHeight;
    if (smaller < 8 && mode == Mode16) {
        mode = CubicMode;
    }
    if (smaller < 4 && mode == CubicMode) {
        mode = LinearMode;
    }
    if (smaller < 2) {
        mode = NearestMode;
    }
    return mode;
}

// Destination pixels written on one axis: the given size, or fewer when the scaled region is
// smaller; false when it rounds to less than half a pixel.
bool UsedLength(double scaled, int32_t given, int32_t* used) {
    const double nudged = scaled + kNudge;
    if (nudged >= given) {  // also keeps huge factors away from the integer conversion
        *used = given;
        return true;
    }
    int32_t whole = static_cast<int32_t>(nudged);
    if (whole == 0) {
        if (nudged < 0.5) {
            return false;
        }
        whole = 1;
    }
    *used = whole;
    return true;
}

int32_t ClipLength(int32_t start, int32_t length, int32_t imageLength) {
    return length > imageLength - start ? imageLength - start : length;
}

// Positions walk by repeated addition of the step from the first value, so every variant and
// every table sees the same rounding.
struct PositionWalk {
    double position;
    double step;
};

PositionWalk FilterWalk(const Axis& axis) {
    // The first destination pixel falls on the region's first pixel, pixel scaled - 1 on its last.
    const double step = axis.scaled <= 1.0 ? 0.0 : (axis.roiLength - 1) / (axis.scaled - 1.0);
    return {0.0, step};
}

PositionWalk NearestWalk(const Axis& axis) {
    return {0.5 / axis.factor, 1.0 / axis.factor};
}

// Index within the region of the pixel at or just below the position. Capped at the region's
// last pixel: positions can only pass it by accumulated rounding (or, in nearest mode, when the
// scaled size was rounded up to one pixel), and the samples must stay inside the image.
int32_t RegionIndex(double position, int32_t roiLength) {
    const double nudged = position + kNudge;
    if (nudged >= roiLength - 1) {
        return roiLength - 1;
    }
    return static_cast<int32_t>(nudged);
}

}  // namespace

int32_t MakePlan(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int32_t srcStride,
                 int32_t roiX, int32_t roiY, int32_t roiWidth, int32_t roiHeight, uint8_t* dst,
                 int32_t dstStride, int32_t dstWidth, int32_t dstHeight, double xFactor,
                 double yFactor, int32_t interpolation, Plan* plan) {
    if (src == nullptr || dst == nullptr) {
        return StatusNullPointer;
    }
    if (srcWidth < 1 || srcHeight < 1 || roiX < 0 || roiY < 0 || roiWidth < 1 || roiHeight < 1) {
        return StatusBadSize;
    }
    if (roiX >= srcWidth || roiY >= srcHeight) {
        return StatusOutsideImage;
    }
    if (dstWidth < 1 || dstHeight < 1) {
        return StatusBadSize;
    }
    if (!(xFactor > 0.0) || !(yFactor > 0.0)) {  // NaN fails too
        return StatusBadFactor;
    }
    if (interpolation != NearestMode && interpolation != LinearMode && interpolation != CubicMode &&
        interpolation != Mode16) {
        return StatusBadInterpolation;
    }
    const int32_t mode = FallbackMode(interpolation, srcWidth, srcHeight);
    if (mode == Mode16) {  // only its small-source fallbacks are provided
        return StatusBadInterpolation;
    }

    Plan p;
    p.src = src;
    p.srcStride = srcStride;
    p.dst = dst;
    p.dstStride = dstStride;
    p.mode = mode;
    p.x.roiStart = roiX;
    p.x.roiLength = ClipLength(roiX, roiWidth, srcWidth);
    p.x.imageLength = srcWidth;
    p.x.factor = xFactor;
    p.x.scaled = xFactor * p.x.roiLength;
    p.y.roiStart = roiY;
    p.y.roiLength = ClipLength(roiY, roiHeight, srcHeight);
    p.y.imageLength = srcHeight;
    p.y.factor = yFactor;
    p.y.scaled = yFactor * p.y.roiLength;
    if (!UsedLength(p.x.scaled, dstWidth, &p.x.used) ||
        !UsedLength(p.y.scaled, dstHeight, &p.y.used)) {
        return StatusEmptyResult;
    }
    *plan = p;
    return StatusOk;
}

void NearestTaps(const Axis& axis, int32_t* index) {
    PositionWalk walk = NearestWalk(axis);
    for (int32_t i = 0; i < axis.used; ++i) {
        index[i] = axis.roiStart + RegionIndex(walk.position, axis.roiLength);
        walk.position += walk.step;
    }
}

void LinearTaps(const Axis& axis, int32_t* first, int32_t* weight) {
    const int32_t last = axis.imageLength - 1;
    PositionWalk walk = FilterWalk(axis);
    for (int32_t i = 0; i < axis.used; ++i) {
        const int32_t k = RegionIndex(walk.position, axis.roiLength);
        const int32_t absolute = axis.roiStart + k;
        if (absolute == last) {
            // The last pixel is reproduced as the full weight of the second sample.
            first[i] = absolute - 1;
            weight[i] = kOne14;
        } else {
            int32_t w = static_cast<int32_t>((walk.position - k) * kOne14 + kNudge);
            w = w < 0 ? 0 : (w > kOne14 ? kOne14 : w);
            first[i] = absolute;
            weight[i] = w;
        }
        walk.position += walk.step;
    }
}

void CubicWeights(float t, float weights4[4]) {
    // Newton's forward-difference form f0 + a1 d1 + a2 d2 + a3 d3 regrouped by sample, so that a
    // row costs four multiplications per value.
    const double td = t;
    const double a1 = td + 1.0;
    const double a2 = td * (td + 1.0) * 0.5;
    const double a3 = (td - 1.0) * a2 / 3.0;
    weights4[0] = static_cast<float>(1.0 - a1 + a2 - a3);
    weights4[1] = static_cast<float>(a1 - 2.0 * a2 + 3.0 * a3);
    weights4[2] = static_cast<float>(a2 - 3.0 * a3);
    weights4[3] = static_cast<float>(a3);
}

void CubicTaps(const Axis& axis, int32_t* first, float* weights4) {
    const int32_t last = axis.imageLength - 1;
    PositionWalk walk = FilterWalk(axis);
    for (int32_t i = 0; i < axis.used; ++i) {
        int32_t k = RegionIndex(walk.position, axis.roiLength);
        const int32_t absolute = axis.roiStart + k;
        // Near the image's edges the four samples move inwards and t leaves 0..1, so that they
        // stay inside the image (the source is at least 4 pixels long here).
        double t;
        if (absolute == last) {
            k -= 2;
            t = 2.0;
        } else if (absolute == 0) {
            k += 1;
            t = walk.position - k;
        } else if (absolute == last - 1) {
            k -= 1;
            t = walk.position - k;
        } else {
            t = walk.position - k;
        }
        // Only a capped index (rounding past the region's end) could leave -1..2.
        t = t < -1.0 ? -1.0 : (t > 2.0 ? 2.0 : t);
        first[i] = axis.roiStart + k - 1;
        CubicWeights(static_cast<float>(t), weights4 + 4 * static_cast<ptrdiff_t>(i));
        walk.position += walk.step;
    }
}

WorkArena::WorkArena(void* base, size_t bytes)
    : base_(static_cast<unsigned char*>(base)), bytes_(bytes) {}

size_t WorkArena::Needed() const {
    return needed_;
}

bool WorkArena::Ok() const {
    return ok_;
}

void* WorkArena::TakeBytes(size_t count, size_t size) {
    constexpr size_t kAlign = 64;
    if (!ok_ || needed_ > SIZE_MAX - 4 * kAlign || (size != 0 && count > SIZE_MAX / size)) {
        ok_ = false;
        return nullptr;
    }
    // Align the address, not the offset: a caller's area may start anywhere.
    const uintptr_t start = reinterpret_cast<uintptr_t>(base_) + needed_;
    const size_t pad = static_cast<size_t>((kAlign - start % kAlign) % kAlign);
    const size_t length = count * size;
    if (length > SIZE_MAX - needed_ - pad - kAlign) {
        ok_ = false;
        return nullptr;
    }
    const size_t offset = needed_ + pad;
    needed_ = offset + length;
    if (base_ == nullptr) {
        // Counting only: reserve the worst-case padding so any real base fits.
        needed_ += kAlign;
        return nullptr;
    }
    if (needed_ > bytes_) {
        ok_ = false;
        return nullptr;
    }
    return base_ + offset;
}

void NearestWork::Carve(WorkArena& arena, int32_t width, int32_t height) {
    colIndex = arena.Take<int32_t>(width);
    rowIndex = arena.Take<int32_t>(height);
}

void LinearWork::Carve(WorkArena& arena, int32_t width, int32_t height) {
    colFirst = arena.Take<int32_t>(width);
    colWeight = arena.Take<int32_t>(width);
    rowFirst = arena.Take<int32_t>(height);
    rowWeight = arena.Take<int32_t>(height);
    for (uint16_t*& row : rows) {
        row = arena.Take<uint16_t>(static_cast<size_t>(width) * 3);
    }
}

void CubicWork::Carve(WorkArena& arena, int32_t width, int32_t height, int32_t spanPixels) {
    colFirst = arena.Take<int32_t>(width);
    colWeights = arena.Take<float>(static_cast<size_t>(width) * 4);
    rowFirst = arena.Take<int32_t>(height);
    rowWeights = arena.Take<float>(static_cast<size_t>(height) * 4);
    spanRow = arena.Take<float>((static_cast<size_t>(spanPixels) + 8) * 3);
    const size_t columns = RoundUpToEight(width);
    for (float*& row : rows) {
        row = arena.Take<float>(columns * 3 + 8);
    }
    groupStart = arena.Take<int32_t>(columns / 8);
    groupOffsets = arena.Take<int32_t>(columns);
    groupWeights = arena.Take<float>(columns * 4);
}

size_t WorkBytesFor(int32_t mode, int32_t spanPixels, int32_t width, int32_t height) {
    WorkArena counter(nullptr, 0);
    if (mode == NearestMode) {
        NearestWork().Carve(counter, width, height);
    } else if (mode == LinearMode) {
        LinearWork().Carve(counter, width, height);
    } else {
        CubicWork().Carve(counter, width, height, spanPixels);
    }
    return counter.Ok() ? counter.Needed() : SIZE_MAX;
}

}  // namespace fluxmere::resize
