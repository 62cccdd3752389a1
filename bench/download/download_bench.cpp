// Download throughput: a 256 MiB clip from the device stand-in over loopback onto disk, by the
// download job and, for comparison in the same run, by curl fetching the same URL. After the
// runs, one line from runs of both in turn (medians), once both stored files are found equal:
// "download 256 MiB: fluxmere <ms> ms, curl <ms> ms, ratio <curl / ours>".

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/side_by_side.h"
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

double Milliseconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// One download by the job into the folder (clip01.kelo); milliseconds until the job is done.
double DownloadByJob() {
    Setting& s = Shared();
    fs::remove(s.folder / "clip01.kelo");
    const auto start = std::chrono::steady_clock::now();
    DestroyedProbe probe;
    DownloadLinks links;  // no notices: the viewer registry is not part of this measurement
    links.probe = &probe;
    auto* job = new CFluxmereDownload(s.url.c_str(), s.folder.string().c_str(), 0, links);
    job->Release();
    probe.destroyed.Wait(platform::kInfinite);
    return Milliseconds(start);
}

// The same by curl (curl.kelo); milliseconds until curl exits, negative when it failed.
double DownloadByCurl() {
    Setting& s = Shared();
    const fs::path file = s.folder / "curl.kelo";
    fs::remove(file);
    // curl ends by itself; std::system waits for it.
    const std::string command = "curl -s -o '" + file.string() + "' '" + s.url + "'";
    const auto start = std::chrono::steady_clock::now();
    const bool ok = std::system(command.c_str()) == 0;
    const double ms = Milliseconds(start);
    return ok ? ms : -1.0;
}

bool HasClipSize(const fs::path& file) {
    std::error_code error;
    return fs::file_size(file, error) == kClipBytes && !error;
}

// Whether both stored files hold the whole clip, byte for byte the same.
std::string CompareDownloads() {
    Setting& s = Shared();
    const fs::path ours = s.folder / "clip01.kelo", theirs = s.folder / "curl.kelo";
    if (!HasClipSize(ours) || !HasClipSize(theirs)) {
        return "a stored file has the wrong size";
    }
    std::FILE* a = std::fopen(ours.string().c_str(), "rb");
    std::FILE* b = std::fopen(theirs.string().c_str(), "rb");
    bool same = a != nullptr && b != nullptr;
    std::vector<char> x(1 << 20), y(1 << 20);
    while (same) {
        const size_t n = std::fread(x.data(), 1, x.size(), a);
        same = std::fread(y.data(), 1, y.size(), b) == n &&
               std::equal(x.begin(), x.begin() + n, y.begin());
        if (n == 0) {
            break;
        }
    }
    if (a != nullptr) {
        std::fclose(a);
    }
    if (b != nullptr) {
        std::fclose(b);
    }
    return same ? std::string() : "the stored files differ";
}

void BM_DownloadJob(benchmark::State& state) {
    for (auto _ : state) {
        DownloadByJob();
        if (!HasClipSize(Shared().folder / "clip01.kelo"))
            state.SkipWithError("stored file has the wrong size");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
}

void BM_Curl(benchmark::State& state) {
    for (auto _ : state) {
        if (DownloadByCurl() < 0)
            state.SkipWithError("curl failed");
        if (!HasClipSize(Shared().folder / "curl.kelo"))
            state.SkipWithError("curl stored the wrong size");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kClipBytes));
}

BENCHMARK(BM_DownloadJob)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Curl)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace fluxmere

int main(int argc, char** argv) {
    using namespace fluxmere;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Interleaved, so that both see the same load on a shared machine.
    const auto [ours, theirs] = bench::WallSideBySide(DownloadByJob, DownloadByCurl, 3);
    const std::string disagreement = ours < 0 ? "curl failed" : CompareDownloads();
    std::printf("\nSide by side, median wall time per download:\n");
    bench::PrintLine("download 256 MiB", "curl", ours, theirs, "ms", disagreement,
                     "the stored files are equal");
    std::error_code ignored;
    fs::remove_all(Shared().folder, ignored);
    return 0;
}
