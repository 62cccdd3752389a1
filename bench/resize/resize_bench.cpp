// The viewer's cubic resize next to libswscale's bicubic scaler on the same picture.
//
// Ours scales the packed 3-byte pixels (the output of the colour conversion, rows padded to W16
// pixels) with the four-sample cubic, horizontally then vertically in single precision. The peer
// does the same work plane by plane: the three channels of the same picture as separate 8-bit
// planes (split before timing), one AV_PIX_FMT_GRAY8 -> GRAY8 SWS_BICUBIC context for the plane
// size, applied to each of the three planes (its fixed-point filters, its SIMD). Both keep their
// set-up (our work area, the scaler context) across calls, as the viewer does across frames.
//
// Upscaling, swscale's bicubic is a four-tap filter like ours: that line compares like for like.
// Shrinking, swscale widens its filter to the scale (720 -> 320: 4 x 720 / 320 = 9 source pixels
// wide) and ours keeps four: that line is printed "not like for like" and is no goal.
// The sampling positions differ too (ours maps the first and last pixels onto each other, swscale
// the pixel centres), so after timing the outputs are compared within kMeanAllowed on average.
//
// After the runs, one line per size from calls of both in turn:
//   resize 352x288->720x576: fluxmere <us> us, swscale-gray8x3 <us> us, ratio <...> ...

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#ifdef FLUXMERE_BENCH_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

#include "bench/side_by_side.h"
#include "decode/resize/resize.h"

namespace {

struct Picture {
    int width;
    int height;
    int stride;
    std::vector<uint8_t> bytes;

    Picture(int w, int h, int strideBytes) : width(w), height(h), stride(strideBytes) {
        bytes.resize(static_cast<size_t>(strideBytes) * h);
    }
};

// A smooth picture with some noise, closer to a camera frame than pure noise.
Picture SourcePicture(int width, int height) {
    // The decoder's rows are padded to a multiple of 16 pixels.
    Picture p(width, height, (width + 15) / 16 * 16 * 3);
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-12, 12);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * 3; ++x) {
            const int v = (x * 255 / (width * 3) + y * 255 / height) / 2 + noise(rng);
            p.bytes[static_cast<size_t>(y) * p.stride + x] =
                static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    return p;
}

void BM_ResizeRGBCubic(benchmark::State& state) {
    fluxmere::SelectProcessorVariant();  // as the module does when it is loaded
    const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
    const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
    const Picture src = SourcePicture(sw, sh);
    Picture dst(dw, dh, dw * 3);
    size_t workBytes = 0;
    fluxmere::ResizeWorkSize(sw, dw, dh, &workBytes);
    std::vector<uint8_t> work(workBytes);
    for (auto _ : state) {
        const int32_t status = fluxmere::ResizeRGBWithWork(
            src.bytes.data(), sw, sh, src.stride, 0, 0, sw, sh, dst.bytes.data(), dst.stride, dw,
            dh, double(dw) / sw, double(dh) / sh, fluxmere::CubicMode, work.data(), workBytes);
        if (status != 0) {
            state.SkipWithError("resize failed");
            break;
        }
        benchmark::DoNotOptimize(dst.bytes.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dw * dh);
}

#ifdef FLUXMERE_BENCH_SWSCALE
// libswscale on the three channels of the same picture as single 8-bit planes, one context.
class GrayScaler {
public:
    GrayScaler(const Picture& src, int dw, int dh) : sw_(src.width), sh_(src.height), dw_(dw) {
        for (int c = 0; c < 3; ++c) {
            source_[c].resize(static_cast<size_t>(sw_) * sh_);
            target_[c].resize(static_cast<size_t>(dw) * dh);
            for (int y = 0; y < sh_; ++y) {
                for (int x = 0; x < sw_; ++x) {
                    source_[c][static_cast<size_t>(y) * sw_ + x] =
                        src.bytes[static_cast<size_t>(y) * src.stride + 3 * x + c];
                }
            }
        }
        context_ = sws_getContext(sw_, sh_, AV_PIX_FMT_GRAY8, dw, dh, AV_PIX_FMT_GRAY8, SWS_BICUBIC,
                                  nullptr, nullptr, nullptr);
    }
    ~GrayScaler() { sws_freeContext(context_); }
    bool ok() const { return context_ != nullptr; }

    void Scale() {
        for (int c = 0; c < 3; ++c) {
            const uint8_t* src[4] = {source_[c].data(), nullptr, nullptr, nullptr};
            const int srcStrides[4] = {sw_, 0, 0, 0};
            uint8_t* dst[4] = {target_[c].data(), nullptr, nullptr, nullptr};
            const int dstStrides[4] = {dw_, 0, 0, 0};
            sws_scale(context_, src, srcStrides, 0, sh_, dst, dstStrides);
        }
    }
    const uint8_t* target(int c) const { return target_[c].data(); }

private:
    int sw_, sh_, dw_;
    std::vector<uint8_t> source_[3], target_[3];
    SwsContext* context_ = nullptr;
};

void BM_SwscaleGray8x3Bicubic(benchmark::State& state) {
    const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
    const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
    GrayScaler scaler(SourcePicture(sw, sh), dw, dh);
    if (!scaler.ok()) {
        state.SkipWithError("no scaler context");
        return;
    }
    for (auto _ : state) {
        scaler.Scale();
        benchmark::DoNotOptimize(scaler.target(0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dw * dh);
}

// Our packed pixels against the peer's planes, channel by channel.
std::string CompareResizes(const Picture& ours, const GrayScaler& theirs, double meanAllowed,
                           double overFourAllowed, std::string* agreement) {
    std::vector<uint8_t> channel(static_cast<size_t>(ours.width) * ours.height);
    fluxmere::bench::Difference worst;
    for (int c = 0; c < 3; ++c) {
        for (int y = 0; y < ours.height; ++y) {
            for (int x = 0; x < ours.width; ++x) {
                channel[static_cast<size_t>(y) * ours.width + x] =
                    ours.bytes[static_cast<size_t>(y) * ours.stride + 3 * x + c];
            }
        }
        const fluxmere::bench::Difference d = fluxmere::bench::Compare(
            channel.data(), ours.width, theirs.target(c), ours.width, ours.width, ours.height);
        worst.largest = std::max(worst.largest, d.largest);
        worst.mean = std::max(worst.mean, d.mean);
        worst.overFour = std::max(worst.overFour, d.overFour);
    }
    return fluxmere::bench::Disagreement(worst, 255, meanAllowed, overFourAllowed, agreement);
}
#endif

struct ViewerSize {
    int sw, sh, dw, dh;
    bool likeForLike;  // swscale's filter has our four taps (upscaling)
    // How far the outputs may lie apart: the mean difference per sample and the share of samples
    // more than 4 apart (measured: 1.6 and 4% up; 3.8 and 36% down, where swscale's wider filter
    // smooths the noise that ours keeps). A picture scaled only in part lies far beyond.
    double meanAllowed;
    double overFourAllowed;
};
constexpr ViewerSize kViewerSizes[] = {{352, 288, 720, 576, true, 3.0, 0.15},
                                       {720, 576, 320, 240, false, 5.0, 0.6}};

void ViewerSizes(benchmark::internal::Benchmark* b) {
    for (const ViewerSize& size : kViewerSizes) {
        b->Args({size.sw, size.sh, size.dw, size.dh});
    }
}

BENCHMARK(BM_ResizeRGBCubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
#ifdef FLUXMERE_BENCH_SWSCALE
BENCHMARK(BM_SwscaleGray8x3Bicubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
#ifdef FLUXMERE_BENCH_SWSCALE
    fluxmere::SelectProcessorVariant();
    std::printf("\nSide by side, median CPU time per picture:\n");
    for (const ViewerSize& size : kViewerSizes) {
        const Picture src = SourcePicture(size.sw, size.sh);
        Picture dst(size.dw, size.dh, size.dw * 3);
        size_t workBytes = 0;
        fluxmere::ResizeWorkSize(size.sw, size.dw, size.dh, &workBytes);
        std::vector<uint8_t> work(workBytes);
        GrayScaler gray(src, size.dw, size.dh);
        if (!gray.ok()) {
            std::fprintf(stderr, "no scaler context\n");
            return 1;
        }
        auto ours = [&] {
            fluxmere::ResizeRGBWithWork(
                src.bytes.data(), size.sw, size.sh, src.stride, 0, 0, size.sw, size.sh,
                dst.bytes.data(), dst.stride, size.dw, size.dh, double(size.dw) / size.sw,
                double(size.dh) / size.sh, fluxmere::CubicMode, work.data(), workBytes);
        };
        const std::string label =
            "resize " + std::to_string(size.sw) + "x" + std::to_string(size.sh) + "->" +
            std::to_string(size.dw) + "x" + std::to_string(size.dh) +
            (size.likeForLike ? "" : " (not like for like, swscale widens its filter)");
        fluxmere::bench::PrintSideBySide(
            label, "swscale-gray8x3", ours, [&] { gray.Scale(); },
            [&](std::string* agreement) {
                return CompareResizes(dst, gray, size.meanAllowed, size.overFourAllowed, agreement);
            });
    }
#endif
    return 0;
}
