// Render path speed (hand-off copy, decode, colour conversion, cubic resize) and the CPU one
// playing session costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "decode/dispatch.h"
#include "device/mjpa_encoder.h"
#include "device/studio_ycbcr.h"
#include "device/test_pattern.h"
#include "platform/thread.h"
#include "player/frame_handoff.h"
#include "player/frame_renderer.h"
#include "player/player_session.h"
#include "player/software_audio_output.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace fluxmere {
namespace {

// A combined frame of the device's test pattern, as the device sends it.
std::vector<uint8_t> DeviceFrame(int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    device::RenderTestPattern(width, height, 7, rgb.data());
    RgbPicture picture;
    picture.pixels = rgb.data();
    picture.width = width;
    picture.height = height;
    picture.stride = width * 3;
    device::StudioRangeConverter converter;
    std::vector<uint8_t> payload;
    EncodeMjpaPayload(converter.Convert(picture), &payload);
    CKeloMediaFrame video(3), audio(3);
    video.mediaKind = kKindVideo;
    video.codecCode = kCodecMjpa;
    audio.mediaKind = kKindAudio;
    audio.codecCode = kCodecP16S;
    const std::vector<uint8_t> samples(7680);
    const size_t videoSize = BlockSize(video, static_cast<uint32_t>(payload.size()));
    std::vector<uint8_t> frame(videoSize + BlockSize(audio, 7680));
    WriteBlock(video, payload.data(), static_cast<uint32_t>(payload.size()), frame.data(),
               videoSize);
    WriteBlock(audio, samples.data(), 7680, frame.data() + videoSize, frame.size() - videoSize);
    return frame;
}

// What a session's RenderFrame does, on one frame of the device's test pattern at width x
// height: the hand-off's copy into the renderer, then its render to the target size.
struct RenderSetting {
    CSoftwareAudioOutput audio;
    CAudioRing ring{audio};
    FrameHandOff handOff{ring};
    FrameRenderer renderer;
    size_t frameBytes = 0;

    RenderSetting(int width, int height, int64_t toWidth, int64_t toHeight) {
        renderer.PrepareSource(width, height);
        renderer.SetTarget(static_cast<int32_t>(toWidth), static_cast<int32_t>(toHeight));
        handOff.PrepareForStream(3, renderer.PayloadCapacity());
        const std::vector<uint8_t> frame = DeviceFrame(width, height);
        std::copy(frame.begin(), frame.end(), handOff.FirstBuffer());
        handOff.Deliver(handOff.FirstBuffer(), static_cast<int32_t>(frame.size()));
        frameBytes = frame.size();
    }
    bool Render(RenderedPicture* picture) {
        return handOff.CopyNewestVideo(kCodecMjpa, renderer) && renderer.Render(picture);
    }
};

void BM_RenderPath(benchmark::State& state) {
    RenderSetting setting(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                          state.range(2), state.range(3));
    RenderedPicture picture;
    for (auto _ : state) {
        if (!setting.Render(&picture))
            state.SkipWithError("nothing rendered");
        benchmark::DoNotOptimize(picture.pixels);
    }
    state.SetItemsProcessed(state.iterations());  // frames per second
    state.counters["payload_bytes"] = static_cast<double>(setting.frameBytes);
}

// The median wall time of 200 renders in milliseconds, the measure of bench/win32/paint_bench
// (which times the same render path under Wine), for the side-by-side line ./run bench makes.
double RenderMilliseconds(int width, int height, int toWidth, int toHeight) {
    RenderSetting setting(width, height, toWidth, toHeight);
    RenderedPicture picture;
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        const auto start = std::chrono::steady_clock::now();
        setting.Render(&picture);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
BENCHMARK(BM_RenderPath)
    ->Args({352, 288, 320, 240})
    ->Args({720, 576, 720, 576})
    ->Unit(benchmark::kMillisecond);

// Plays 25 frames/s from the device program for a few seconds, painting every frame at
// 320 x 240 as the control does, and reports this process's CPU time against the wall time.
void BM_SessionCpu(benchmark::State& state) {
    setenv("FLUXMERE_DEVICE_BIN", FLUXMERE_BENCH_DEVICE_BIN, 0);
    const std::string address = testing::LoopbackText(testing::Suite::Player, 250);
    testing::DeviceProcess device;
    if (!device.Start({"--address", address, "--no-http", "--fps", "25"})) {
        state.SkipWithError(device.error().c_str());
        return;
    }
    CSoftwareAudioOutput audio;
    CPlayerSession session(audio, nullptr);
    session.SetURL(("rtsp://" + address + "/live").c_str());
    for (int i = 0; i < 500 && session.Status() != 0; ++i)
        platform::SleepMs(10);
    double cpuPercent = 0;
    for (auto _ : state) {
        const std::clock_t cpuStart = std::clock();
        const auto wallStart = std::chrono::steady_clock::now();
        RenderedPicture picture;
        for (int frame = 0; frame < 100; ++frame) {  // 4 s at 25 frames/s
            session.RenderFrame(&picture);
            platform::SleepMs(40);
        }
        const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpuPercent = 100.0 * cpu / wall;
    }
    state.counters["cpu_percent"] = cpuPercent;
    state.counters["playing"] = session.Status() == 0 ? 1 : 0;
    session.Stop();
    device.Stop();
}
BENCHMARK(BM_SessionCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace fluxmere

int main(int argc, char** argv) {
    // The processor variant, chosen as the module does when it is loaded.
    fluxmere::SelectProcessorVariant();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The render path natively at the sizes paint_bench paints under Wine.
    for (const auto& [w, h, tw, th] :
         {std::array{352, 288, 320, 240}, std::array{720, 576, 720, 576}}) {
        std::printf("render path %dx%d->%dx%d: %.2f ms (median of 200, wall time)\n", w, h, tw, th,
                    fluxmere::RenderMilliseconds(w, h, tw, th));
    }
    return 0;
}
