// The viewer's cubic resize against a well-known peer, libswscale with SWS_BICUBIC, scaling the
// same packed RGB picture to the same size. Both keep their set-up (the work area here, the
// scaler context there) across iterations, as the viewer does across frames.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#ifdef FLUXMERE_BENCH_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

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

void ViewerSizes(benchmark::internal::Benchmark* b) {
    b->Args({352, 288, 720, 576});
    b->Args({720, 576, 320, 240});
}

BENCHMARK(BM_ResizeRGBCubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
#ifdef FLUXMERE_BENCH_SWSCALE
BENCHMARK(BM_SwscaleBicubic)->Apply(ViewerSizes)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
