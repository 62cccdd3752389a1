#include "tests/decode/resize_reference.h"

#include <cstddef>
#include <vector>

#include "decode/status.h"

namespace fluxmere::testing {
namespace {

// One axis: where each destination index samples, by mode.
struct Sample {
    int64_t index;   // absolute index of the first sample used
    double t;        // cubic: position relative to sample index + 1, as a float
    int32_t weight;  // linear: 14-bit weight of the second sample
};

int64_t RegionIndex(double position, int32_t roiLength) {
    const int64_t k = static_cast<int64_t>(position + 0.0000001);
    return k > roiLength - 1 ? roiLength - 1 : k;
}

std::vector<Sample> SampleAxis(int32_t mode, int32_t start, int32_t length, int32_t image,
                               double factor, double scaled, int32_t used) {
    std::vector<Sample> out(used);
    const int64_t last = image - 1;
    double position;
    double step;
    if (mode == 1) {
        position = 0.5 / factor;
        step = 1.0 / factor;
    } else {
        position = 0.0;
        step = scaled <= 1.0 ? 0.0 : (length - 1) / (scaled - 1.0);
    }
    for (int32_t i = 0; i < used; ++i, position += step) {
        int64_t k = RegionIndex(position, length);
        const int64_t absolute = start + k;
        Sample& s = out[i];
        if (mode == 1) {
            s.index = absolute;
        } else if (mode == 2) {
            if (absolute == last) {
                s.weight = 16384;
                s.index = absolute - 1;
            } else {
                s.weight = static_cast<int32_t>((position - k) * 16384 + 0.0000001);
                s.index = absolute;
            }
        } else {
            double t;
            if (absolute == last) {
                t = 2.0;
                k -= 2;
            } else if (absolute == 0) {
                k += 1;
                t = position - k;
            } else if (absolute == last - 1) {
                k -= 1;
                t = position - k;
            } else {
                t = position - k;
            }
            s.t = static_cast<float>(t);
            s.index = start + k - 1;
        }
    }
    return out;
}

// Newton's forward-difference form through f0..f3 at -1, 0, 1, 2.
double Newton(double t, double a3, const double f[4]) {
    const double a1 = t + 1;
    const double a2 = t * (t + 1) * 0.5;
    const double d1 = f[1] - f[0];
    const double d2 = (f[2] - f[1]) - d1;
    const double d3 = (f[1] - f[2] - f[2] + f[3]) - d2;
    return f[0] + a1 * d1 + a2 * d2 + a3 * d3;
}

double NewtonA3(double t) {
    return (t - 1) * (t * (t + 1) * 0.5) / 3;
}

}  // namespace

int32_t ReferenceResize(const ResizeArgs& a) {
    if (a.src == nullptr || a.dst == nullptr) {
        return StatusNullPointer;
    }
    if (a.srcWidth < 1 || a.srcHeight < 1 || a.roiX < 0 || a.roiY < 0 || a.roiWidth < 1 ||
        a.roiHeight < 1) {
        return StatusBadSize;
    }
    if (a.roiX >= a.srcWidth || a.roiY >= a.srcHeight) {
        return StatusOutsideImage;
    }
    if (a.dstWidth < 1 || a.dstHeight < 1) {
        return StatusBadSize;
    }
    if (!(a.xFactor > 0) || !(a.yFactor > 0)) {
        return StatusBadFactor;
    }
    int32_t mode = a.interpolation;
    if (mode != 1 && mode != 2 && mode != 4 && mode != 16) {
        return StatusBadInterpolation;
    }
    if ((a.srcWidth < 8 || a.srcHeight < 8) && mode == 16) {
        mode = 4;
    }
    if ((a.srcWidth < 4 || a.srcHeight < 4) && mode == 4) {
        mode = 2;
    }
    if (a.srcWidth < 2 || a.srcHeight < 2) {
        mode = 1;
    }
    if (mode == 16) {
        return StatusBadInterpolation;
    }
    const int32_t roiW =
        a.roiX + int64_t{a.roiWidth} > a.srcWidth ? a.srcWidth - a.roiX : a.roiWidth;
    const int32_t roiH =
        a.roiY + int64_t{a.roiHeight} > a.srcHeight ? a.srcHeight - a.roiY : a.roiHeight;
    const double sx = a.xFactor * roiW;
    const double sy = a.yFactor * roiH;
    auto used = [](double scaled, int32_t given) -> int64_t {
        const double nudged = scaled + 0.0000001;
        if (nudged >= given) {
            return given;
        }
        const int64_t n = static_cast<int64_t>(nudged);
        return n == 0 ? (nudged >= 0.5 ? 1 : 0) : n;
    };
    const int64_t width = used(sx, a.dstWidth);
    const int64_t height = used(sy, a.dstHeight);
    if (width == 0 || height == 0) {
        return StatusEmptyResult;
    }
    const auto cols = SampleAxis(mode, a.roiX, roiW, a.srcWidth, a.xFactor, sx, int32_t(width));
    const auto rows = SampleAxis(mode, a.roiY, roiH, a.srcHeight, a.yFactor, sy, int32_t(height));

    auto at = [&](int64_t row, int64_t col, int c) -> int32_t {
        return a.src[row * a.srcStride + col * 3 + c];
    };
    for (int64_t i = 0; i < height; ++i) {
        uint8_t* out = a.dst + i * a.dstStride;
        const Sample& r = rows[i];
        for (int64_t j = 0; j < width; ++j) {
            const Sample& s = cols[j];
            for (int c = 0; c < 3; ++c) {
                int32_t value;
                if (mode == 1) {
                    value = at(r.index, s.index, c);
                } else if (mode == 2) {
                    int32_t h[2];
                    for (int n = 0; n < 2; ++n) {
                        h[n] = (at(r.index + n, s.index + 1, c) * s.weight +
                                at(r.index + n, s.index, c) * (16384 - s.weight) + 128) >>
                               8;
                    }
                    value = (h[1] * r.weight + h[0] * (16384 - r.weight) + 524288) >> 20;
                } else {
                    double h[4];
                    for (int n = 0; n < 4; ++n) {
                        double f[4];
                        for (int m = 0; m < 4; ++m) {
                            f[m] = at(r.index + n, s.index + m, c);
                        }
                        h[n] = static_cast<float>(Newton(s.t, NewtonA3(s.t), f));
                    }
                    const double v = Newton(r.t, static_cast<float>(NewtonA3(r.t)), h);
                    const int64_t rounded = static_cast<int64_t>(v + 0.5000001);
                    value = rounded < 0 ? 0 : (rounded > 255 ? 255 : int32_t(rounded));
                }
                out[j * 3 + c] = static_cast<uint8_t>(value);
            }
        }
    }
    return StatusOk;
}

}  // namespace fluxmere::testing
