// The long run a control on a wall screen lives, in one process under Wine: eight viewer controls
// embedded in containers, each playing one of four device stand-ins, while downloads of a clip
// run four at a time (one in four with transcoding to the registered engine program), and the
// fault schedule of soak_schedule.h: a device restarts, stops sending or resets its connections,
// a download is cancelled, a control is destroyed and made again, SetURL moves a control to
// another device. After every fault each control must play again (the page sets its URL again
// when its session ended), and every download must end "Complete" with the clip byte for byte
// (and, when transcoded, a movie and an MXF file), or when it was cancelled "Failed" (or
// "Transcoding Failed", cancelled while the engine worked) with as much of the clip as came. Every
// minute a line of the process's resources and counts goes to the CSV; the last line printed is the
// summary that tests/soak/soak.sh quotes.
//
//   soak_host.exe MINUTES CSV   (CSV: a Unix path; run by tests/soak/soak_wine.sh through
//                                tests/wine/wine-run.sh, which registers the engine and gives it
//                                the device program and a scratch folder)
//
// FLUXMERE_SOAK_PARTS=viewers or downloads runs one half alone, FLUXMERE_SOAK_FAULTS=off without
// faults (to tell whose memory grows).

#include <malloc.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/clip.h"
#include "download/fluxmere_download.h"
#include "download/win32/transcode_handoff.h"
#include "module/control/ole_control.h"
#include "player/player_session.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"
#include "tests/soak/soak_schedule.h"
#include "tests/support/device_process.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/win32/process_resources.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

using namespace soak;

constexpr int kTranscodeEvery = 4;         // one download in four is transcoded
constexpr uint32_t kTranscodeOptions = 3;  // a movie and an MXF file

// Where the working set goes, to tell whose memory grows: the heaps' blocks in use (ours through
// msvcrt's heap, and the system DLLs') and free (kept by the heaps), by walking every heap of the
// process; and the committed private memory of the Windows side of the process (heaps, stacks,
// bitmaps and other virtual allocations), by walking its address space.
struct MemoryUse {
    double heapBusyMiB = 0;
    double heapFreeMiB = 0;
    double crtHeapFreeMiB = 0;  // of the heap that new and malloc use (ours)
    double committedMiB = 0;
};

MemoryUse MeasureMemoryUse() {
    MemoryUse use;
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    const HANDLE crtHeap = reinterpret_cast<HANDLE>(_get_heap_handle());
    uint64_t busy = 0, free = 0, crtFree = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
            else if (!(entry.wFlags & (PROCESS_HEAP_REGION | PROCESS_HEAP_UNCOMMITTED_RANGE))) {
                free += entry.cbData;
                crtFree += heaps[i] == crtHeap ? entry.cbData : 0;
            }
        }
        HeapUnlock(heaps[i]);
    }
    uint64_t committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr;
         VirtualQuery(at, &region, sizeof region) == sizeof region && region.RegionSize > 0;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            committed += region.RegionSize;
    }
    use.heapBusyMiB = busy / 1048576.0;
    use.heapFreeMiB = free / 1048576.0;
    use.crtHeapFreeMiB = crtFree / 1048576.0;
    use.committedMiB = committed / 1048576.0;
    return use;
}

class NoRows final : public IJobList {
public:
    void AddJobRow(IListedJob*) override {}
};

// One viewer: its container window and the control in it.
struct Slot {
    std::unique_ptr<TestContainer> container;
    TestViewer* viewer = nullptr;
    int device = 0;
    long long picturesBefore = 0;  // of the controls this slot destroyed

    CPlayerSession& session() { return viewer->Control().Core().Session(); }
    bool playing() { return session().Status() == static_cast<int32_t>(PlayerStatus::Playing); }
    long long pictures() { return picturesBefore + session().Counters().framesDelivered; }
};

class Soak final : public ISoakRig {
public:
    Soak(double minutes, const std::string& csvPath) : minutes_(minutes), csvPath_(csvPath) {
        const char* parts = std::getenv("FLUXMERE_SOAK_PARTS");
        const std::string only = parts != nullptr ? parts : "";
        viewersOn_ = only != "downloads";
        downloadsOn_ = only != "viewers";
    }

    int Run();

    // ISoakRig
    uint64_t NowMs() override { return GetTickCount64(); }
    void Wait(uint32_t ms) override;
    void Error(const std::string& what) override;
    Resources TakeSample(double minute, long long faults) override;
    void StartDevice(int device, const std::vector<std::string>& extraArguments) override;
    void StopDevice(int device) override {
        if (viewersOn_)
            devices_[device].Stop();
    }
    bool Playing(int viewer) override { return !viewersOn_ || slots_[viewer].playing(); }
    void SetUrlAgain(int viewer) override;
    void MakeViewerAgain(int viewer) override;
    void MoveViewerToNextDevice(int viewer) override;
    void CancelADownload() override;
    void HoldDownloads(bool held) override { held_ = held; }
    int DownloadsRunning() override;

private:
    void MakeViewer(Slot& slot);
    void DestroyViewer(Slot& slot);
    // Checks every download that ended; starts a new one in its place unless they are held.
    void TendDownloads();
    // What a cancelled download stored: the clip's first bytes, as many as came.
    bool IsPrefixOfClip(const std::vector<uint8_t>& kelo) const {
        return kelo.size() <= clip_.size() && std::equal(kelo.begin(), kelo.end(), clip_.begin());
    }
    // The outputs of a transcoded download that ended Complete: a movie and an MXF file.
    void CheckTranscoded(const std::string& kelo);
    long long Pictures();

    double minutes_;
    std::string csvPath_;
    std::FILE* csv_ = nullptr;
    std::string scratch_;
    bool viewersOn_ = true, downloadsOn_ = true;
    DeviceProcess devices_[kDevices];
    DeviceProcess downloadDevice_;
    Slot slots_[kViewers];
    struct Download {
        CFluxmereDownload* job = nullptr;
        std::string folder;
        bool cancelled = false;
        bool transcoded = false;
        uint64_t startMs = 0;
    };
    Download downloads_[kParallelDownloads];
    NoRows rows_;
    CTranscodeHandOff handOff_;
    std::vector<uint8_t> clip_;
    bool held_ = false;
    long long downloadsDone_ = 0, transcodesDone_ = 0, errors_ = 0, jobNumber_ = 0;
};

void Soak::Error(const std::string& what) {
    ++errors_;
    std::printf("soak: ERROR %s\n", what.c_str());
    std::fflush(stdout);
}

void Soak::StartDevice(int device, const std::vector<std::string>& extraArguments) {
    if (viewersOn_ &&
        !devices_[device].Start(ViewerDeviceArguments(device, minutes_, extraArguments)))
        Error("device " + std::to_string(device) + ": " + devices_[device].error());
}

void Soak::Wait(uint32_t ms) {
    const uint64_t end = GetTickCount64() + ms;
    do {
        TendDownloads();
        Pump(std::min<uint32_t>(ms, 100));
    } while (GetTickCount64() < end);
}

void Soak::MakeViewer(Slot& slot) {
    slot.viewer = new TestViewer;
    if (slot.container->Embed(slot.viewer->unknown()) != S_OK)
        Error("a control could not be embedded");
    slot.session().SetURL(ViewerUrl(slot.device).c_str());
}

void Soak::SetUrlAgain(int viewer) {
    if (viewersOn_)
        slots_[viewer].session().SetURL(ViewerUrl(slots_[viewer].device).c_str());
}

void Soak::DestroyViewer(Slot& slot) {
    slot.picturesBefore += slot.session().Counters().framesDelivered;
    slot.container->Unembed();
    slot.viewer->Release();  // the last reference: the session ends with the control
    slot.viewer = nullptr;
}

void Soak::MakeViewerAgain(int viewer) {
    if (!viewersOn_)
        return;
    DestroyViewer(slots_[viewer]);
    MakeViewer(slots_[viewer]);
}

void Soak::MoveViewerToNextDevice(int viewer) {
    if (!viewersOn_)
        return;
    Slot& slot = slots_[viewer];
    slot.device = (slot.device + 1) % kDevices;
    slot.session().SetURL(ViewerUrl(slot.device).c_str());
}

long long Soak::Pictures() {
    long long total = 0;
    for (Slot& slot : slots_) {
        if (slot.viewer != nullptr)
            total += slot.pictures();
    }
    return total;
}

void Soak::CancelADownload() {
    for (Download& d : downloads_) {
        if (d.job != nullptr && !d.job->HasEnded() && !d.cancelled) {
            d.job->Cancel();
            d.cancelled = true;
            return;
        }
    }
}

void Soak::CheckTranscoded(const std::string& kelo) {
    const std::vector<uint8_t> movie = ReadFileBytes(kelo + ".mov");
    if (movie.size() < 8 || std::string(movie.begin() + 4, movie.begin() + 8) != "ftyp")
        Error("a transcoded download has no movie");
    const std::vector<uint8_t> mxf = ReadFileBytes(kelo + ".mxf");
    if (mxf.size() < 16 || mxf[0] != 0x06)  // a partition pack's key
        Error("a transcoded download has no MXF file");
    ++transcodesDone_;
}

int Soak::DownloadsRunning() {
    int running = 0;
    for (const Download& d : downloads_)
        running += d.job != nullptr ? 1 : 0;
    return running;
}

void Soak::TendDownloads() {
    if (!downloadsOn_)
        return;
    for (Download& d : downloads_) {
        if (d.job != nullptr) {
            if (!d.job->HasEnded())
                continue;
            const DownloadState state = d.job->State();
            const std::string path = d.folder + "\\" + kClipName + ".kelo";
            const char* kind = d.transcoded ? "a transcoded download" : "a download";
            // A cancel that comes after the last byte leaves the job Complete, and whole.
            if (state == DownloadState::Complete) {
                if (ReadFileBytes(path) != clip_)
                    Error(std::string(kind) + " ended Complete but differs from the clip");
                if (d.transcoded)
                    CheckTranscoded(path);
            } else if (state == DownloadState::TranscodingFailed && d.cancelled) {
                // Cancelled while the engine worked: its outputs end, the clip stays as far as it
                // came.
                const std::vector<uint8_t> kelo = ReadFileBytes(path);
                if (!IsPrefixOfClip(kelo))
                    Error("a cancelled transcoded download left a clip that differs from it");
                std::printf(
                    "soak: a transcoded download cancelled after %llu s ended Transcoding "
                    "Failed (outputs %u), the clip %s\n",
                    static_cast<unsigned long long>((GetTickCount64() - d.startMs) / 1000),
                    d.job->FailedOutputs(), kelo == clip_ ? "whole" : "cut");
                std::fflush(stdout);
            } else if (state == DownloadState::TranscodingFailed) {
                // The engine has no reason to fail here; the clip must be whole all the same.
                Error(std::string(kind) + " ended Transcoding Failed (outputs " +
                      std::to_string(d.job->FailedOutputs()) + ", the clip " +
                      (ReadFileBytes(path) == clip_ ? "whole" : "NOT whole") + ", after " +
                      std::to_string((GetTickCount64() - d.startMs) / 1000) + " s)");
            } else if (state == DownloadState::Failed && d.cancelled) {
                if (!IsPrefixOfClip(ReadFileBytes(path)))
                    Error(std::string("a cancelled ") + (d.transcoded ? "transcoded " : "") +
                          "download left a clip that differs from it");
            } else {
                const char* reason = d.job->FailureReason();
                Error(std::string(kind) + " ended in state " +
                      std::to_string(static_cast<int>(state)) +
                      (d.cancelled ? " after Cancel" : " without a fault") +
                      (reason != nullptr ? std::string(": ") + reason : std::string()));
            }
            ++downloadsDone_;
            d.job->Release();
            d.job = nullptr;
            for (const char* suffix : {"", ".mov", ".mxf"})
                DeleteFileA((path + suffix).c_str());
            RemoveDirectoryA(d.folder.c_str());
        }
        if (held_)
            continue;
        d.folder = scratch_ + "\\download" + std::to_string(jobNumber_);
        CreateDirectoryA(d.folder.c_str(), nullptr);
        d.cancelled = false;
        d.transcoded = jobNumber_ % kTranscodeEvery == kTranscodeEvery - 1;
        d.startMs = GetTickCount64();
        ++jobNumber_;
        DownloadLinks links;
        links.jobList = &rows_;
        links.transcoder = &handOff_;
        d.job = new CFluxmereDownload(DownloadUrl().c_str(), d.folder.c_str(),
                                      d.transcoded ? kTranscodeOptions : 0, links);
    }
}

Resources Soak::TakeSample(double minute, long long faults) {
    // The Unix programs started so far (the devices, and the kills that stop them): Wine keeps a
    // handle of this process for each (tests/support/device_process.h), not counted here.
    const long harness = DeviceProcess::UnixProgramsStarted();
    Resources r;
    r.memoryMiB = PrivateMiB();
    r.handles = static_cast<long>(HandleCount()) - harness;
    // GDI and USER objects: Wine's GetGuiResources gives 0 (Windows counts them).
    r.gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
    const long user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
    r.threads = ThreadCount();
    const MemoryUse use = MeasureMemoryUse();
    const long long pictures = Pictures();
    std::fprintf(csv_,
                 "%.2f,%.3f,%ld,%ld,%ld,%d,%lld,%lld,%lld,%lld,%ld,%.3f,%lld,%.3f,%.3f,%.3f\n",
                 minute, r.memoryMiB, r.handles, r.gdi, user, r.threads, pictures, downloadsDone_,
                 faults, errors_, harness, use.heapBusyMiB, transcodesDone_, use.heapFreeMiB,
                 use.committedMiB, use.crtHeapFreeMiB);
    std::fflush(csv_);
    std::printf(
        "soak: minute %.1f: private %.1f MiB (heap %.2f in use, %.2f free of which %.2f ours; "
        "committed %.2f), "
        "handles %ld, GDI %ld, USER %ld, "
        "threads %d, pictures %lld, downloads %lld (transcoded %lld), faults %lld, errors "
        "%lld\n",
        minute, r.memoryMiB, use.heapBusyMiB, use.heapFreeMiB, use.crtHeapFreeMiB, use.committedMiB,
        r.handles, r.gdi, user, r.threads, pictures, downloadsDone_, transcodesDone_, faults,
        errors_);
    std::fflush(stdout);
    return r;
}

int Soak::Run() {
    scratch_ = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
    clip_ = device::GenerateClip(kClipName, kClipBytes, kClipSeed);
    csv_ = std::fopen(WindowsPathOfUnixPath(csvPath_).c_str(), "w");
    if (csv_ == nullptr) {
        std::printf("soak: cannot write %s\n", csvPath_.c_str());
        return 1;
    }
    std::fprintf(csv_,
                 "minute,private_mib,handles,gdi_objects,user_objects,threads,pictures,"
                 "downloads_completed,faults_survived,errors,harness_handles,heap_mib,"
                 "transcoded,heap_free_mib,committed_private_mib,crt_heap_free_mib\n");

    for (int d = 0; d < kDevices; ++d)
        StartDevice(d, {});
    if (downloadsOn_ && !downloadDevice_.Start(DownloadDeviceArguments(minutes_)))
        Error("download device: " + downloadDevice_.error());
    for (int i = 0; i < kViewers && viewersOn_; ++i) {
        slots_[i].container.reset(new TestContainer(176, 144, RECT{0, 0, 176, 144}, true));
        slots_[i].device = i % kDevices;
        MakeViewer(slots_[i]);
    }
    AllPlayAgain(*this, "the start");

    const char* faults = std::getenv("FLUXMERE_SOAK_FAULTS");
    const ScheduleResult result =
        RunSchedule(*this, minutes_, faults == nullptr || std::string(faults) != "off");

    // The end: every control plays, every download is let finish (no new ones), then a last
    // sample with the final counts, which only goes to the CSV.
    AllPlayAgain(*this, "the last fault");
    LetDownloadsEnd(*this);
    TakeSample(minutes_, result.faults);
    for (Slot& slot : slots_) {
        if (slot.viewer != nullptr && slot.pictures() == 0)
            Error("a control painted no picture");
    }
    std::printf("%s\n",
                SummaryLine("soak", minutes_, result.growth, result.faults, errors_).c_str());
    std::fflush(stdout);
    std::fclose(csv_);

    // Let go of everything.
    for (Download& d : downloads_) {
        if (d.job != nullptr) {
            d.job->Release();
            d.job = nullptr;
        }
    }
    for (Slot& slot : slots_) {
        if (slot.viewer != nullptr)
            DestroyViewer(slot);
        slot.container.reset();
    }
    for (DeviceProcess& device : devices_)
        device.Stop();
    downloadDevice_.Stop();
    return errors_ == 0 ? 0 : 1;
}

}  // namespace
}  // namespace fluxmere::testing

int main(int argc, char** argv) {
    if (argc != 3) {
        std::printf("usage: soak_host MINUTES CSV_PATH\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int status = fluxmere::testing::Soak(std::atof(argv[1]), argv[2]).Run();
    CoUninitialize();
    return status;
}
