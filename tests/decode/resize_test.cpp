#include "decode/resize/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decode/status.h"
#include "tests/decode/resize_reference.h"

namespace fluxmere {
namespace {

using testing::ReferenceResize;
using testing::ResizeArgs;

constexpr uint8_t kUntouched = 0xA5;

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t stride = 0;
    std::vector<uint8_t> bytes;

    Image(int32_t w, int32_t h, int32_t padding = 0, uint8_t fill = kUntouched)
        : width(w),
          height(h),
          stride(w * 3 + padding),
          bytes(size_t(h) * (w * 3 + padding), fill) {}

    uint8_t* Pixel(int32_t x, int32_t y) { return bytes.data() + y * stride + x * 3; }
    const uint8_t* Pixel(int32_t x, int32_t y) const { return bytes.data() + y * stride + x * 3; }
};

Image RandomImage(std::mt19937& rng, int32_t w, int32_t h, int32_t padding = 0) {
    Image image(w, h, padding);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : image.bytes) {
        b = static_cast<uint8_t>(byte(rng));
    }
    return image;
}

// Every byte of a pixel is f(x, y) + channel, so positions can be read back from the result.
Image PatternImage(int32_t w, int32_t h, const std::function<int(int, int)>& f) {
    Image image(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                image.Pixel(x, y)[c] = static_cast<uint8_t>(f(x, y) + c);
            }
        }
    }
    return image;
}

ResizeArgs WholeImage(const Image& src, Image& dst, double xFactor, double yFactor, int32_t mode) {
    ResizeArgs a;
    a.src = src.bytes.data();
    a.srcWidth = src.width;
    a.srcHeight = src.height;
    a.srcStride = src.stride;
    a.roiWidth = src.width;
    a.roiHeight = src.height;
    a.dst = dst.bytes.data();
    a.dstStride = dst.stride;
    a.dstWidth = dst.width;
    a.dstHeight = dst.height;
    a.xFactor = xFactor;
    a.yFactor = yFactor;
    a.interpolation = mode;
    return a;
}

int32_t Resize(const ResizeArgs& a, void* work = nullptr, size_t workBytes = 0) {
    return ResizeRGBWithWork(a.src, a.srcWidth, a.srcHeight, a.srcStride, a.roiX, a.roiY,
                             a.roiWidth, a.roiHeight, a.dst, a.dstStride, a.dstWidth, a.dstHeight,
                             a.xFactor, a.yFactor, a.interpolation, work, workBytes);
}

// The same call on another source and a fresh destination of the same shape.
Image ResizeOn(const Image& src, const Image& dstShape, ResizeArgs a) {
    Image dst(dstShape.width, dstShape.height, dstShape.stride - dstShape.width * 3);
    a.src = src.bytes.data();
    a.dst = dst.bytes.data();
    EXPECT_EQ(Resize(a), StatusOk);
    return dst;
}

std::vector<int> Row(const Image& image, int32_t y, int32_t columns, int channel = 0) {
    std::vector<int> values;
    for (int32_t x = 0; x < columns; ++x) {
        values.push_back(image.Pixel(x, y)[channel]);
    }
    return values;
}

struct EdgeCase {
    std::string name;
    Image src;
    Image dst;
    std::function<void(ResizeArgs&)> adjust;  // from WholeImage(src, dst, 1, 1, CubicMode)
    int32_t status;
    std::function<void(const ResizeArgs&, const Image& src, const Image& dst)> check;
};

TEST(ResizeRGB, EdgeCases) {
    const Image random4 = [] {
        std::mt19937 rng(4);
        return RandomImage(rng, 4, 4);
    }();
    const Image random3 = [] {
        std::mt19937 rng(3);
        return RandomImage(rng, 3, 3);
    }();
    // Columns 0..9 hold 20 x column, so a linear or cubic sample at position p reads 20 p.
    const Image ramp = PatternImage(10, 10, [](int x, int) { return 20 * x; });

    auto expectUntouched = [](const ResizeArgs&, const Image&, const Image& dst) {
        for (uint8_t b : dst.bytes) {
            ASSERT_EQ(b, kUntouched);
        }
    };
    auto columnsAt = [](std::vector<int> expected) {
        return [expected](const ResizeArgs&, const Image&, const Image& dst) {
            EXPECT_EQ(Row(dst, 0, int32_t(expected.size())), expected);
            EXPECT_EQ(dst.Pixel(0, 0)[2], expected[0] + 2);
        };
    };
    auto sameAsMode = [](int32_t mode) {
        return [mode](const ResizeArgs& a, const Image& src, const Image& dst) {
            ResizeArgs other = a;
            other.interpolation = mode;
            EXPECT_EQ(ResizeOn(src, dst, other).bytes, dst.bytes);
        };
    };

    const std::vector<EdgeCase> cases = {
        {"cubic 4x4 by 2 keeps the corners", random4, Image(8, 8),
         [](ResizeArgs& a) { a.xFactor = a.yFactor = 2; }, StatusOk,
         [](const ResizeArgs&, const Image& src, const Image& dst) {
             for (auto [x, y] : {std::pair{0, 0}, {3, 0}, {0, 3}, {3, 3}}) {
                 EXPECT_EQ(0, std::memcmp(dst.Pixel(x * 7 / 3, y * 7 / 3), src.Pixel(x, y), 3))
                     << x << "," << y;
             }
         }},
        {"cubic on 3x3 is linear", random3, Image(7, 5),
         [](ResizeArgs& a) {
             a.xFactor = 2.3;
             a.yFactor = 1.7;
         },
         StatusOk, sameAsMode(LinearMode)},
        {"cubic on 1x1 is nearest", Image(1, 1, 0, 77), Image(3, 4),
         [](ResizeArgs& a) { a.xFactor = a.yFactor = 3; }, StatusOk,
         [](const ResizeArgs&, const Image&, const Image& dst) {
             EXPECT_EQ(Row(dst, 2, 3), (std::vector<int>{77, 77, 77}));
             EXPECT_EQ(Row(dst, 3, 3), (std::vector<int>{kUntouched, kUntouched, kUntouched}));
         }},
        {"mode 16 on 6x6 is cubic", PatternImage(6, 6, [](int x, int y) { return x * 31 + y * y; }),
         Image(9, 9),
         [](ResizeArgs& a) {
             a.xFactor = a.yFactor = 1.5;
             a.interpolation = Mode16;
         },
         StatusOk, sameAsMode(CubicMode)},
        {"half of 10 columns, cubic", ramp, Image(5, 10), [](ResizeArgs& a) { a.xFactor = 0.5; },
         StatusOk, columnsAt({0, 45, 90, 135, 180})},
        {"half of 10 columns, linear", ramp, Image(5, 10),
         [](ResizeArgs& a) {
             a.xFactor = 0.5;
             a.interpolation = LinearMode;
         },
         StatusOk, columnsAt({0, 45, 90, 135, 180})},
        {"half of 10 columns, nearest", ramp, Image(5, 10),
         [](ResizeArgs& a) {
             a.xFactor = 0.5;
             a.interpolation = NearestMode;
         },
         StatusOk, columnsAt({20, 60, 100, 140, 180})},
        {"Sx 0.4 is empty", ramp, Image(5, 10), [](ResizeArgs& a) { a.xFactor = 0.04; },
         StatusEmptyResult, expectUntouched},
        {"Sx 0.6 gives one column", ramp, Image(5, 10), [](ResizeArgs& a) { a.xFactor = 0.06; },
         StatusOk,
         [](const ResizeArgs&, const Image&, const Image& dst) {
             EXPECT_EQ(Row(dst, 0, 5),
                       (std::vector<int>{0, kUntouched, kUntouched, kUntouched, kUntouched}));
         }},
        {"Sx 0.5 in nearest mode stays inside the region", ramp, Image(2, 10),
         [](ResizeArgs& a) {
             a.xFactor = 0.125;
             a.roiWidth = 4;
             a.interpolation = NearestMode;
         },
         StatusOk, columnsAt({60})},
        {"columns beyond the scaled width stay untouched", ramp, Image(8, 10),
         [](ResizeArgs& a) { a.xFactor = 0.5; }, StatusOk,
         [](const ResizeArgs&, const Image&, const Image& dst) {
             for (int32_t y = 0; y < 10; ++y) {
                 EXPECT_EQ(Row(dst, y, 8), (std::vector<int>{0, 45, 90, 135, 180, kUntouched,
                                                             kUntouched, kUntouched}));
             }
         }},
        {"region clipped to the image", ramp, Image(10, 10),
         [](ResizeArgs& a) {
             a.roiX = 6;
             a.roiWidth = 100;
             a.interpolation = NearestMode;
         },
         StatusOk, columnsAt({120, 140, 160, 180, kUntouched})},
        {"ROI x at the width is outside", ramp, Image(5, 5), [](ResizeArgs& a) { a.roiX = 10; },
         StatusOutsideImage, expectUntouched},
        {"outside is reported before a bad factor", ramp, Image(5, 5),
         [](ResizeArgs& a) {
             a.roiY = 10;
             a.xFactor = 0;
         },
         StatusOutsideImage, expectUntouched},
        {"yFactor 0", ramp, Image(5, 5), [](ResizeArgs& a) { a.yFactor = 0; }, StatusBadFactor,
         expectUntouched},
        {"NaN factor", ramp, Image(5, 5),
         [](ResizeArgs& a) { a.xFactor = std::numeric_limits<double>::quiet_NaN(); },
         StatusBadFactor, expectUntouched},
        {"interpolation 3", ramp, Image(5, 5), [](ResizeArgs& a) { a.interpolation = 3; },
         StatusBadInterpolation, expectUntouched},
        {"super-sampling", ramp, Image(5, 5),
         [](ResizeArgs& a) {
             a.xFactor = a.yFactor = 0.5;
             a.interpolation = SuperSamplingMode;
         },
         StatusBadInterpolation, expectUntouched},
        {"mode 16 on a large source", ramp, Image(5, 5),
         [](ResizeArgs& a) { a.interpolation = Mode16; }, StatusBadInterpolation, expectUntouched},
        {"null source", ramp, Image(5, 5),
         [](ResizeArgs& a) {
             a.src = nullptr;
             a.roiX = -1;
         },
         StatusNullPointer, expectUntouched},
        {"empty region", ramp, Image(5, 5),
         [](ResizeArgs& a) {
             a.roiHeight = 0;
             a.roiX = 10;
         },
         StatusBadSize, expectUntouched},
        {"empty destination", ramp, Image(5, 5), [](ResizeArgs& a) { a.dstWidth = 0; },
         StatusBadSize, expectUntouched},
        {"huge factor fills the destination", ramp, Image(4, 3),
         [](ResizeArgs& a) { a.xFactor = a.yFactor = 1e300; }, StatusOk,
         [](const ResizeArgs&, const Image&, const Image& dst) {
             EXPECT_EQ(Row(dst, 2, 4), (std::vector<int>{0, 0, 0, 0}));
         }},
        {"a bottom-up source with a negative stride comes out upside down",
         PatternImage(9, 9, [](int x, int y) { return x * 7 + y * 19; }), Image(13, 11),
         [](ResizeArgs& a) {
             a.src += (a.srcHeight - 1) * a.srcStride;
             a.srcStride = -a.srcStride;
             a.xFactor = 13.0 / 9;
             a.yFactor = 11.0 / 9;
         },
         StatusOk,
         [](const ResizeArgs& a, const Image& src, const Image& dst) {
             Image flipped = src;
             for (int32_t y = 0; y < src.height; ++y) {
                 std::memcpy(flipped.Pixel(0, y), src.Pixel(0, src.height - 1 - y), src.width * 3);
             }
             ResizeArgs upright = a;
             upright.srcStride = -a.srcStride;
             EXPECT_EQ(ResizeOn(flipped, dst, upright).bytes, dst.bytes);
         }},
        {"cubic samples past a narrow region come from the image", ramp, Image(15, 10),
         [](ResizeArgs& a) {
             a.roiWidth = 8;
             a.xFactor = 15.0 / 8;
         },
         StatusOk,
         [](const ResizeArgs& a, const Image& src, const Image& dst) {
             // Column 13 samples position 6.5 from columns 5..8; change only column 8.
             Image changed = src;
             for (int32_t y = 0; y < src.height; ++y) {
                 changed.Pixel(8, y)[0] = 0;
             }
             const Image other = ResizeOn(changed, dst, a);
             EXPECT_EQ(dst.Pixel(13, 0)[0], 130);
             EXPECT_NE(other.Pixel(13, 0)[0], 130);
             EXPECT_EQ(Row(other, 0, 12), Row(dst, 0, 12));
         }},
    };

    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Image dst = c.dst;
        ResizeArgs a = WholeImage(c.src, dst, 1, 1, CubicMode);
        c.adjust(a);
        ASSERT_EQ(Resize(a), c.status);
        c.check(a, c.src, dst);
        if (c.status != StatusOk) {
            EXPECT_EQ(ReferenceResize(a), c.status);  // the reference agrees on every refusal
        }
    }
}

bool EndsCubic(const ResizeArgs& a) {
    const int32_t smaller = a.srcWidth < a.srcHeight ? a.srcWidth : a.srcHeight;
    return (a.interpolation == CubicMode || a.interpolation == Mode16) && smaller >= 4;
}

// Runs the primitive and the reference on the same call. Nearest and linear must agree exactly;
// cubic within 1 on every byte, the differences being counted for the caller.
void CompareWithReference(const ResizeArgs& call, const Image& dstShape, size_t* bytes,
                          size_t* differing) {
    Image ours(dstShape.width, dstShape.height, dstShape.stride - dstShape.width * 3);
    Image theirs = ours;
    ResizeArgs a = call;
    a.dst = ours.bytes.data();
    const int32_t status = Resize(a);
    a.dst = theirs.bytes.data();
    ASSERT_EQ(status, ReferenceResize(a));
    if (!EndsCubic(a)) {
        ASSERT_EQ(ours.bytes, theirs.bytes);
        return;
    }
    for (size_t i = 0; i < ours.bytes.size(); ++i) {
        const int difference = int(ours.bytes[i]) - int(theirs.bytes[i]);
        ASSERT_LE(std::abs(difference), 1) << "byte " << i;
        *differing += difference != 0;
    }
    *bytes += ours.bytes.size();
}

TEST(ResizeRGB, AgreesWithTheReferenceOnRandomCalls) {
    std::mt19937 rng(20261210);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto real = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const int32_t modes[] = {NearestMode, LinearMode, CubicMode, Mode16};
    size_t cubicBytes = 0;
    size_t cubicDiffering = 0;
    for (int iteration = 0; iteration < 400; ++iteration) {
        SCOPED_TRACE(iteration);
        const Image src = RandomImage(rng, uniform(1, 40), uniform(1, 40), uniform(0, 5));
        const Image dst(uniform(1, 70), uniform(1, 70), uniform(0, 5));
        ResizeArgs a = WholeImage(src, const_cast<Image&>(dst), 1, 1, modes[uniform(0, 3)]);
        if (uniform(0, 1) == 1) {  // a region, possibly reaching past the image
            a.roiX = uniform(0, src.width - 1);
            a.roiY = uniform(0, src.height - 1);
            a.roiWidth = uniform(1, src.width + 3);
            a.roiHeight = uniform(1, src.height + 3);
        }
        const int kind = uniform(0, 5);
        if (kind == 0) {  // extremes of the sizing rule and of the position arithmetic
            const double extremes[] = {1e-300,
                                       1e-9,
                                       0.4999999 / a.roiWidth,
                                       0.5 / a.roiWidth,
                                       0.6 / a.roiWidth,
                                       1.0,
                                       1e6,
                                       1e300,
                                       HUGE_VAL};
            a.xFactor = extremes[uniform(0, 8)];
            a.yFactor = extremes[uniform(0, 8)];
        } else if (kind <= 2) {  // the viewer's factors: the whole destination
            a.xFactor = double(dst.width) / src.width;
            a.yFactor = double(dst.height) / src.height;
        } else {
            a.xFactor = real(0.05, 4.0);
            a.yFactor = real(0.05, 4.0);
        }
        CompareWithReference(a, dst, &cubicBytes, &cubicDiffering);
    }
    // The viewer's calls: an image as wide as the decoder's planes (a multiple of 16 pixels),
    // the picture as the region, the picture rectangle as the destination.
    for (auto [sw, sh, dw, dh] : {std::array{352, 288, 720, 576}, std::array{720, 576, 320, 240},
                                  std::array{360, 240, 401, 299}}) {
        SCOPED_TRACE(sw);
        const Image planes = RandomImage(rng, (sw + 15) / 16 * 16, sh);
        Image dst(dw, dh);
        ResizeArgs a = WholeImage(planes, dst, double(dw) / sw, double(dh) / sh, CubicMode);
        a.roiWidth = sw;
        CompareWithReference(a, dst, &cubicBytes, &cubicDiffering);
    }
    // Single-precision rows may move a value sitting on a rounding boundary, nothing more.
    EXPECT_LT(cubicDiffering * 10000, cubicBytes) << cubicDiffering << " of " << cubicBytes;
}

TEST(ResizeRGB, WorkAreaGivesTheSameResults) {
    size_t bytes = 0;
    EXPECT_EQ(ResizeWorkSize(40, 60, 50, nullptr), StatusNullPointer);
    EXPECT_EQ(ResizeWorkSize(0, 60, 50, &bytes), StatusBadSize);
    ASSERT_EQ(ResizeWorkSize(40, 60, 50, &bytes), StatusOk);

    // One area for the largest call, deliberately misaligned, reused by calls of every mode.
    std::vector<uint8_t> storage(bytes + 1, 0xEE);
    void* area = storage.data() + 1;
    std::vector<uint8_t> tooSmall(bytes / 3);
    std::mt19937 rng(7);
    for (int32_t mode : {CubicMode, LinearMode, NearestMode, CubicMode}) {
        for (auto [sw, sh, dw, dh] : {std::array{40, 30, 60, 50}, std::array{13, 9, 7, 50}}) {
            SCOPED_TRACE(mode * 1000 + sw);
            const Image src = RandomImage(rng, sw, sh);
            Image withArea(dw, dh);
            Image without = withArea;
            Image small = withArea;
            ResizeArgs a = WholeImage(src, withArea, double(dw) / sw, double(dh) / sh, mode);
            ASSERT_EQ(Resize(a, area, bytes), StatusOk);
            a.dst = without.bytes.data();
            ASSERT_EQ(Resize(a), StatusOk);
            a.dst = small.bytes.data();
            ASSERT_EQ(Resize(a, tooSmall.data(), tooSmall.size()), StatusOk);
            EXPECT_EQ(withArea.bytes, without.bytes);
            EXPECT_EQ(small.bytes, without.bytes);
        }
    }
    EXPECT_EQ(storage[0], 0xEE);  // the byte before the area
    EXPECT_NE(std::count(storage.begin(), storage.end(), 0xEE), ptrdiff_t(storage.size()));
}

TEST(ResizeRGB, EveryVariantMatchesTheGenericOne) {
    std::mt19937 rng(11);
    struct Case {
        int32_t dstWidth, dstHeight, roiX, roiY;
        double xFactor, yFactor;
    };
    // Scaling both ways (enlarging by 1.75 or more takes other kernels in some variants), and a
    // factor of 1 on both axes or on one (positions on samples).
    const Case cases[] = {{53, 61, 0, 0, 53.0 / 37, 61.0 / 29},
                          {77, 59, 0, 0, 77.0 / 37, 59.0 / 29},
                          {75, 20, 2, 0, 75.0 / 35, 20.0 / 29},
                          {37, 29, 0, 0, 1.0, 1.0},
                          {30, 20, 4, 3, 1.0, 1.0},
                          {37, 61, 0, 0, 1.0, 61.0 / 29},
                          {20, 29, 0, 0, 20.0 / 37, 1.0}};
    for (int32_t mode : {NearestMode, LinearMode, CubicMode}) {
        for (const Case& c : cases) {
            const Image src = RandomImage(rng, 37, 29, 2);
            Image expected(c.dstWidth, c.dstHeight);
            auto call = [&](int slot, Image& out) {
                return kResizeRGBVariants.variant[slot](
                    src.bytes.data(), src.width, src.height, src.stride, c.roiX, c.roiY, src.width,
                    src.height, out.bytes.data(), out.stride, out.width, out.height, c.xFactor,
                    c.yFactor, mode, nullptr, 0);
            };
            ASSERT_EQ(call(0, expected), StatusOk);
            for (int v = 1; v < kImplementationCount; ++v) {
                if (!SlotRunsHere(v))
                    continue;
                Image got(c.dstWidth, c.dstHeight);
                EXPECT_EQ(call(v, got), StatusOk);
                EXPECT_EQ(got.bytes, expected.bytes)
                    << "slot " << v << " mode " << mode << " to " << c.dstWidth;
            }
        }
    }
}

// A factor of 1 puts every cubic position on a sample: the region comes out as an exact copy.
TEST(ResizeRGB, CubicAtFactorOneCopiesTheRegion) {
    std::mt19937 rng(12);
    const Image src = RandomImage(rng, 40, 30, 5);
    for (auto [x, y, w, h] :
         {std::array{0, 0, 40, 30}, std::array{5, 7, 20, 13}, std::array{30, 20, 10, 10}}) {
        Image dst(w, h, 2);
        ResizeArgs a = WholeImage(src, dst, 1.0, 1.0, CubicMode);
        a.roiX = x;
        a.roiY = y;
        a.roiWidth = w;
        a.roiHeight = h;
        ASSERT_EQ(ResizeRGB(a.src, a.srcWidth, a.srcHeight, a.srcStride, a.roiX, a.roiY, a.roiWidth,
                            a.roiHeight, a.dst, a.dstStride, a.dstWidth, a.dstHeight, 1.0, 1.0,
                            CubicMode),
                  StatusOk);
        for (int32_t row = 0; row < h; ++row) {
            ASSERT_EQ(0, std::memcmp(dst.Pixel(0, row), src.Pixel(x, y + row), size_t(w) * 3))
                << "region " << x << "," << y << " row " << row;
        }
    }
}

}  // namespace
}  // namespace fluxmere
