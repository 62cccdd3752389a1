// Download throughput: a 256 MiB clip from the device stand-in over loopback onto disk, by the
// download job and, for comparison in the same run, by curl fetching the same URL.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "device/device.h"
#include "download/fluxmere_download.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "tests/support/loopback.h"

namespace fluxmere {

namespace {

namespace fs = std::filesystem;
constexpr uint64_t kClipBytes = 256ull << 20;

struct Setting {
    std::unique_ptr<device::Device> device;
    std::string url;
    fs::path folder;
};

Setting& Shared() {
    static Setting setting = [] {
        Setting s;
        platform::InitSockets();
        device::DeviceOptions options;
        options.address = testing::LoopbackText(testing::Suite::Download, 100);
        options.serveRtsp = false;
        options.clipBytes = kClipBytes;
        s.device = std::make_unique<device::Device>(options);
        if (!s.device->Start())
            std::fprintf(stderr, "device: %s\n", s.device->error().c_str());
        s.url = "http://" + options.address + "/command.cgi?stream&kelo&DV";
        s.folder = fs::temp_directory_path() / "fluxmere-download-bench";
        fs::remove_all(s.folder);
        fs::create_directories(s.folder);
        return s;
    }();
    return setting;
}

class DestroyedProbe : public IDownloadProbe {
public:
    void OnJobDestroyed() override { destroyed.Set(); }
    platform::Event destroyed{true, false};
};

void BM_DownloadJob(benchmark::State& state) {
    Setting& s = Shared();
    for (auto _ : state) {
        DestroyedProbe probe;
        DownloadLinks links;  // no notices: the viewer registry is not part of this measurement
        links.probe = &probe;
        auto* job = new CFluxmereDownload(s.url.c_str(), s.folder.string().c_str(), 0, links);
        job->Release();
        probe.destroyed.Wait(platform::kInfinite);
        state.PauseTiming();
        const uintmax_t size = fs::file_size(s.folder / "clip01.kelo");
        if (size != kClipBytes)
            state.SkipWithError("stored file has the wrong size");
        fs::remove(s.folder / "clip01.kelo");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
}

void BM_Curl(benchmark::State& state) {
    Setting& s = Shared();
    const fs::path file = s.folder / "curl.kelo";
    // curl ends by itself; std::system waits for it.
    const std::string command = "curl -s -o '" + file.string() + "' '" + s.url + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("curl failed");
        state.PauseTiming();
        if (fs::file_size(file) != kClipBytes)
            state.SkipWithError("curl stored the wrong size");
        fs::remove(file);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
}

// Interleaved, so that both see the same load on a shared machine.
BENCHMARK(BM_DownloadJob)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DownloadJob)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace fluxmere

BENCHMARK_MAIN();
