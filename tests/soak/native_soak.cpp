// The soak's schedule (soak_schedule.h) against the portable core, built in the sanitizer tree:
// eight player sessions (each with the software audio output, rendering a picture every second)
// on four device stand-ins, downloads of a clip four at a time through the download job, and a
// fault every 20 s. After every fault each session must play again, and every download must end
// "Complete" with the clip byte for byte, or "Failed" when it was cancelled. Every minute a line
// of the process's resources goes to the CSV: RSS, the heap in use as the sanitizer's allocator
// counts it (RSS also holds the allocator's quarantine of freed blocks, which fills as it
// likes), open file descriptors and threads; the summary's memory growth is the heap's. At the
// end everything is let go, so that LeakSanitizer sees only what leaked.
//
//   native_soak MINUTES CSV   (FLUXMERE_DEVICE_BIN: the device program; FLUXMERE_TEST_DIR: a
//                              scratch folder for the downloads)

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's count of live heap bytes (gcc ships no header that declares it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define FLUXMERE_SOAK_HEAP_COUNT 1
#endif

#include "device/clip.h"
#include "download/fluxmere_download.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "player/player_session.h"
#include "player/player_status.h"
#include "player/software_audio_output.h"
#include "tests/soak/soak_schedule.h"
#include "tests/support/device_process.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/process_resources.h"

namespace fluxmere::testing {
namespace {

using namespace soak;

constexpr uint64_t kRenderEveryMs = 1000;

double ResidentMiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib / 1024.0;
}

// Live heap bytes; without a sanitizer's allocator to ask, the resident size stands in.
double HeapMiB() {
#ifdef FLUXMERE_SOAK_HEAP_COUNT
    return __sanitizer_get_current_allocated_bytes() / 1048576.0;
#else
    return ResidentMiB();
#endif
}

// One viewer: its sound output and the session that plays into it (declared after it, so that
// it goes first).
struct Viewer {
    std::unique_ptr<CSoftwareAudioOutput> audio;
    std::unique_ptr<CPlayerSession> session;
    int device = 0;
    long long picturesBefore = 0;  // of the sessions this viewer destroyed
    uint64_t lastRender = 0;

    bool playing() const {
        return session->Status() == static_cast<int32_t>(PlayerStatus::Playing);
    }
    long long pictures() const { return picturesBefore + session->Counters().framesDelivered; }
};

class NativeSoak final : public ISoakRig {
public:
    NativeSoak(double minutes, const std::string& csvPath) : minutes_(minutes), csvPath_(csvPath) {}

    int Run();

    // ISoakRig
    uint64_t NowMs() override { return platform::MonotonicMs(); }
    void Wait(uint32_t ms) override;
    void Error(const std::string& what) override;
    Resources TakeSample(double minute, long long faults) override;
    void StartDevice(int device, const std::vector<std::string>& extraArguments) override;
    void StopDevice(int device) override { devices_[device].Stop(); }
    bool Playing(int viewer) override { return viewers_[viewer].playing(); }
    void SetUrlAgain(int viewer) override;
    void MakeViewerAgain(int viewer) override;
    void MoveViewerToNextDevice(int viewer) override;
    void CancelADownload() override;
    void HoldDownloads(bool held) override { held_ = held; }
    int DownloadsRunning() override;

private:
    void MakeViewer(Viewer& viewer);
    void DestroyViewer(Viewer& viewer);
    // A picture of every playing viewer whose last one is kRenderEveryMs old: the painting path
    // (decode, convert, scale) runs in the soak as well.
    void RenderDue();
    // Checks every download that ended; starts a new one in its place unless they are held.
    void TendDownloads();
    long long Pictures() const;

    double minutes_;
    std::string csvPath_;
    std::FILE* csv_ = nullptr;
    std::string scratch_;
    DeviceProcess devices_[kDevices];
    DeviceProcess downloadDevice_;
    Viewer viewers_[kViewers];
    struct Download {
        CFluxmereDownload* job = nullptr;
        std::string folder;
        bool cancelled = false;
    };
    Download downloads_[kParallelDownloads];
    std::vector<uint8_t> clip_;
    bool held_ = false;
    long long downloadsDone_ = 0, rendered_ = 0, errors_ = 0, jobNumber_ = 0;
};

void NativeSoak::Error(const std::string& what) {
    ++errors_;
    std::printf("soak (native): ERROR %s\n", what.c_str());
    std::fflush(stdout);
}

void NativeSoak::StartDevice(int device, const std::vector<std::string>& extraArguments) {
    if (!devices_[device].Start(ViewerDeviceArguments(device, minutes_, extraArguments)))
        Error("device " + std::to_string(device) + ": " + devices_[device].error());
}

void NativeSoak::Wait(uint32_t ms) {
    const uint64_t end = platform::MonotonicMs() + ms;
    do {
        TendDownloads();
        RenderDue();
        platform::SleepMs(std::min<uint32_t>(ms, 100));
    } while (platform::MonotonicMs() < end);
}

void NativeSoak::RenderDue() {
    const uint64_t now = platform::MonotonicMs();
    for (Viewer& viewer : viewers_) {
        if (viewer.session == nullptr || !viewer.playing() ||
            now - viewer.lastRender < kRenderEveryMs)
            continue;
        viewer.lastRender = now;
        RenderedPicture picture;
        if (viewer.session->RenderFrame(&picture))
            ++rendered_;
    }
}

void NativeSoak::MakeViewer(Viewer& viewer) {
    viewer.audio.reset(new CSoftwareAudioOutput);
    viewer.session.reset(new CPlayerSession(*viewer.audio, nullptr));
    if (!viewer.session->IsValid())
        Error("a session could not be made");
    viewer.session->SetRectangle("0,0,176,144");
    viewer.session->SetURL(ViewerUrl(viewer.device).c_str());
}

void NativeSoak::SetUrlAgain(int index) {
    viewers_[index].session->SetURL(ViewerUrl(viewers_[index].device).c_str());
}

void NativeSoak::DestroyViewer(Viewer& viewer) {
    viewer.picturesBefore += viewer.session->Counters().framesDelivered;
    viewer.session.reset();  // stops the session
    viewer.audio.reset();
}

void NativeSoak::MakeViewerAgain(int index) {
    DestroyViewer(viewers_[index]);
    MakeViewer(viewers_[index]);
}

void NativeSoak::MoveViewerToNextDevice(int index) {
    Viewer& viewer = viewers_[index];
    viewer.device = (viewer.device + 1) % kDevices;
    viewer.session->SetURL(ViewerUrl(viewer.device).c_str());
}

long long NativeSoak::Pictures() const {
    long long total = 0;
    for (const Viewer& viewer : viewers_) {
        if (viewer.session != nullptr)
            total += viewer.pictures();
    }
    return total;
}

void NativeSoak::CancelADownload() {
    for (Download& d : downloads_) {
        if (d.job != nullptr && !d.job->HasEnded() && !d.cancelled) {
            d.job->Cancel();
            d.cancelled = true;
            return;
        }
    }
}

int NativeSoak::DownloadsRunning() {
    int running = 0;
    for (const Download& d : downloads_)
        running += d.job != nullptr ? 1 : 0;
    return running;
}

void NativeSoak::TendDownloads() {
    for (Download& d : downloads_) {
        if (d.job != nullptr) {
            if (!d.job->HasEnded())
                continue;
            const DownloadState state = d.job->State();
            const std::string path = d.folder + "/" + kClipName + ".kelo";
            // A cancel that comes after the last byte leaves the job Complete, and whole.
            if (state == DownloadState::Complete) {
                if (ReadFileBytes(path) != clip_)
                    Error("a download ended Complete but differs from the clip");
            } else if (state != DownloadState::Failed || !d.cancelled) {
                const char* reason = d.job->FailureReason();
                Error("a download ended in state " + std::to_string(static_cast<int>(state)) +
                      (d.cancelled ? " after Cancel" : " without a fault") +
                      (reason != nullptr ? std::string(": ") + reason : std::string()));
            }
            ++downloadsDone_;
            d.job->Release();
            d.job = nullptr;
            std::remove(path.c_str());
            std::remove((path + ".partial").c_str());
            rmdir(d.folder.c_str());
        }
        if (held_)
            continue;
        d.folder = scratch_ + "/download" + std::to_string(jobNumber_++);
        mkdir(d.folder.c_str(), 0755);
        d.cancelled = false;
        d.job = new CFluxmereDownload(DownloadUrl().c_str(), d.folder.c_str(), 0);
    }
}

Resources NativeSoak::TakeSample(double minute, long long faults) {
    Resources r;
    const double resident = ResidentMiB();
    r.memoryMiB = HeapMiB();
    r.handles = HandlesOfThisProcess();
    r.threads = ThreadsOfThisProcess();
    const long long pictures = Pictures();
    std::fprintf(csv_, "%.2f,%.3f,%.3f,%ld,%d,%lld,%lld,%lld,%lld,%lld\n", minute, resident,
                 r.memoryMiB, r.handles, r.threads, pictures, rendered_, downloadsDone_, faults,
                 errors_);
    std::fflush(csv_);
    std::printf(
        "soak (native): minute %.1f: RSS %.1f MiB, heap %.2f MiB, file descriptors %ld, threads "
        "%d, pictures %lld (rendered %lld), downloads %lld, faults %lld, errors %lld\n",
        minute, resident, r.memoryMiB, r.handles, r.threads, pictures, rendered_, downloadsDone_,
        faults, errors_);
    std::fflush(stdout);
    return r;
}

int NativeSoak::Run() {
    const char* scratch = std::getenv("FLUXMERE_TEST_DIR");
    scratch_ = scratch != nullptr && scratch[0] != '\0' ? scratch : "/tmp";
    platform::InitSockets();
    clip_ = device::GenerateClip(kClipName, kClipBytes, kClipSeed);
    csv_ = std::fopen(csvPath_.c_str(), "w");
    if (csv_ == nullptr) {
        std::printf("soak (native): cannot write %s\n", csvPath_.c_str());
        return 1;
    }
    std::fprintf(csv_,
                 "minute,rss_mib,heap_mib,file_descriptors,threads,pictures,rendered,"
                 "downloads_completed,faults_survived,errors\n");

    for (int d = 0; d < kDevices; ++d)
        StartDevice(d, {});
    if (!downloadDevice_.Start(DownloadDeviceArguments(minutes_)))
        Error("download device: " + downloadDevice_.error());
    for (int i = 0; i < kViewers; ++i) {
        viewers_[i].device = i % kDevices;
        MakeViewer(viewers_[i]);
    }
    AllPlayAgain(*this, "the start");

    const ScheduleResult result = RunSchedule(*this, minutes_);

    // The end: every session plays, every download is let finish (no new ones), then a last
    // sample with the final counts, which only goes to the CSV.
    AllPlayAgain(*this, "the last fault");
    LetDownloadsEnd(*this);
    TakeSample(minutes_, result.faults);
    for (Viewer& viewer : viewers_) {
        if (viewer.pictures() == 0)
            Error("a session played no picture");
    }
    if (rendered_ == 0)
        Error("no picture was rendered");
    std::printf("%s\n", SummaryLine("soak (native, " FLUXMERE_SOAK_TREE ")", minutes_,
                                    result.growth, result.faults, errors_)
                            .c_str());
    std::fflush(stdout);
    std::fclose(csv_);

    // Let go of everything, so that the leak check at exit sees only leaks.
    for (Download& d : downloads_) {
        if (d.job != nullptr) {
            d.job->Release();
            d.job = nullptr;
        }
    }
    for (Viewer& viewer : viewers_)
        DestroyViewer(viewer);
    for (DeviceProcess& device : devices_)
        device.Stop();
    downloadDevice_.Stop();
    return errors_ == 0 ? 0 : 1;
}

}  // namespace
}  // namespace fluxmere::testing

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: native_soak MINUTES CSV_PATH\n");
        return 2;
    }
    return fluxmere::testing::NativeSoak(std::atof(argv[1]), argv[2]).Run();
}
