// The per-frame work of the container model: checking a combined frame and parsing its two media
// frame headers, as the viewer does for every chunk. The parameter lists keep their storage, so
// the steady state allocates nothing.

#include <benchmark/benchmark.h>

#include <vector>

#include "container/combined_frame.h"
#include "container/kelo_writer.h"

namespace {

std::vector<uint8_t> CombinedFrame(uint32_t version, int parameters) {
    fluxmere::CKeloMediaFrame video(version), audio(version);
    video.mediaKind = fluxmere::kKindVideo;
    video.codecCode = fluxmere::kCodecMjpa;
    audio.mediaKind = fluxmere::kKindAudio;
    audio.codecCode = fluxmere::kCodecP16S;
    for (int i = 0; i < parameters; ++i) {
        video.parameters.Append(fluxmere::CKeloParameter("key", 3, "value", 5));
    }
    std::vector<uint8_t> videoPayload(40000, 0x5A), audioPayload(7680, 0x11);
    const size_t videoSize = fluxmere::BlockSize(video, 40000);
    std::vector<uint8_t> frame(videoSize + fluxmere::BlockSize(audio, 7680));
    fluxmere::WriteBlock(video, videoPayload.data(), 40000, frame.data(), frame.size());
    fluxmere::WriteBlock(audio, audioPayload.data(), 7680, frame.data() + videoSize,
                         frame.size() - videoSize);
    return frame;
}

void BM_SplitCombinedFrame(benchmark::State& state) {
    const uint32_t version = static_cast<uint32_t>(state.range(0));
    const std::vector<uint8_t> frame = CombinedFrame(version, static_cast<int>(state.range(1)));
    fluxmere::CKeloMediaFrame video(version), audio(version);
    fluxmere::CombinedFrameSpans spans;
    for (auto _ : state) {
        bool ok = fluxmere::SplitCombinedFrame(frame.data(), frame.size(), video, audio, &spans);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(spans);
    }
}
BENCHMARK(BM_SplitCombinedFrame)->Args({1, 0})->Args({3, 0})->Args({3, 4});

}  // namespace

BENCHMARK_MAIN();
