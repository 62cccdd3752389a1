// The viewer's cubic resize against a well-known peer, libswscale with SWS_BICUBIC, scaling the
// same picture to the same size: as packed RGB (which libswscale converts to YUV and back
// internally) and as three planes (AV_PIX_FMT_GBRP, the same work as ours). Both keep their
// set-up (the work area here, the scaler context there) across iterations, as the viewer does
// across frames. After the runs, one line per size from calls of both in turn:
//   resize 352x288->720x576: fluxmere <us> us, swscale-planar <us> us, ratio <...>

#include <benchmark/benchmark.h>

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
void BM_SwscaleBicubic(benchmark::State& state) {
    const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
    const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
    const Picture src = SourcePicture(sw, sh);
    Picture dst(dw, dh, dw * 3);
    SwsContext* context = sws_getContext(sw, sh, AV_PIX_FMT_RGB24, dw, dh, AV_PIX_FMT_RGB24,
                                         SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (context == nullptr) {
        state.SkipWithError("no scaler context");
        return;
    }
    const uint8_t* srcPlanes[4] = {src.bytes.data(), nullptr, nullptr, nullptr};
    const int srcStrides[4] = {src.stride, 0, 0, 0};
    uint8_t* dstPlanes[4] = {dst.bytes.data(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {dst.stride, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(context, srcPlanes, srcStrides, 0, sh, dstPlanes, dstStrides);
        benchmark::DoNotOptimize(dst.bytes.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(context);
    state.SetItemsProcessed(state.iterations() * dw * dh);
}
#endif

#ifdef FLUXMERE_BENCH_SWSCALE
// libswscale on the three planes of the same picture.
class PlanarScaler {
public:
    PlanarScaler(const Picture& src, int dw, int dh) : sw_(src.width), sh_(src.height) {
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
        dw_ = dw;
        context_ = sws_getContext(sw_, sh_, AV_PIX_FMT_GBRP, dw, dh, AV_PIX_FMT_GBRP, SWS_BICUBIC,
                                  nullptr, nullptr, nullptr);
    }
    ~PlanarScaler() { sws_freeContext(context_); }
    bool ok() const { return context_ != nullptr; }

    void Scale() {
        // GBRP: planes in the order green, blue, red.
        const uint8_t* src[4] = {source_[1].data(), source_[2].data(), source_[0].data(), nullptr};
        const int srcStrides[4] = {sw_, sw_, sw_, 0};
        uint8_t* dst[4] = {target_[1].data(), target_[2].data(), target_[0].data(), nullptr};
        const int dstStrides[4] = {dw_, dw_, dw_, 0};
        sws_scale(context_, src, srcStrides, 0, sh_, dst, dstStrides);
    }
    const uint8_t* target() const { return target_[0].data(); }

private:
    int sw_, sh_, dw_ = 0;
    std::vector<uint8_t> source_[3], target_[3];
    SwsContext* context_ = nullptr;
};

void BM_SwscalePlanarBicubic(benchmark::State& state) {
    const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
    const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
    PlanarScaler scaler(SourcePicture(sw, sh), dw, dh);
    if (!scaler.ok()) {
        state.SkipWithError("no scaler context");
        return;
    }
    for (auto _ : state) {
        scaler.Scale();
        benchmark::DoNotOptimize(scaler.target());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * dw * dh);
}
#endif

struct ViewerSize {
    int sw, sh, dw, dh;
};
constexpr ViewerSize kViewerSizes[] = {{352, 288, 720, 576}, {720, 576, 320, 240}};

void ViewerSizes(benchmark::internal::Benchmark* b) {
    for (const ViewerSize& size : kViewerSizes) {
        b->Args({size.sw, size.sh, size.dw, size.dh});
    }
}

BENCHMARK(BM_ResizeRGBCubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
#ifdef FLUXMERE_BENCH_SWSCALE
BENCHMARK(BM_SwscaleBicubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwscalePlanarBicubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
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
        PlanarScaler planar(src, size.dw, size.dh);
        auto ours = [&] {
            fluxmere::ResizeRGBWithWork(
                src.bytes.data(), size.sw, size.sh, src.stride, 0, 0, size.sw, size.sh,
                dst.bytes.data(), dst.stride, size.dw, size.dh, double(size.dw) / size.sw,
                double(size.dh) / size.sh, fluxmere::CubicMode, work.data(), workBytes);
        };
        const std::string label = "resize " + std::to_string(size.sw) + "x" +
                                  std::to_string(size.sh) + "->" + std::to_string(size.dw) + "x" +
                                  std::to_string(size.dh);
        fluxmere::bench::PrintSideBySide(label, "swscale-planar", ours, [&] { planar.Scale(); });
    }
#endif
    return 0;
}
