// The long run a control on a wall screen lives, in one process under Wine: eight viewer controls
// embedded in containers, each playing one of four device stand-ins, while downloads of a clip
// run four at a time, and a fault every kFaultEveryMs from a rotating schedule: a device
// restarts, a device stops sending, a device resets its connections, a download is cancelled, a
// control is destroyed and made again, SetURL moves a control to another device. After every
// fault each control must play again (the page sets its URL again when its session ended), and
// every download must end either "Complete" with the clip byte for byte or "Failed" when it was
// cancelled. Every minute a line of the process's resources and counts goes to the CSV; the last
// line printed is the summary that tests/soak/soak.sh quotes.
//
//   soak_host.exe MINUTES CSV   (CSV: a Unix path; run through tests/wine/wine-run.sh, which
//                                gives it the device program and a scratch folder)

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/clip.h"
#include "download/fluxmere_download.h"
#include "module/control/ole_control.h"
#include "player/player_session.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"
#include "tests/support/device_process.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/win32/process_resources.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

constexpr int kViewers = 8;
constexpr int kDevices = 4;
constexpr int kParallelDownloads = 4;
constexpr DWORD kFaultEveryMs = 20000;
constexpr DWORD kSampleEveryMs = 60000;
constexpr DWORD kPlayAgainMs = 30000;  // a control plays again within this after a fault
constexpr int kDownloadDevice = kDevices + 1;
constexpr const char* kClipName = "soakclip";
constexpr uint64_t kClipBytes = 3 * 1048576;
constexpr uint32_t kClipSeed = 3;

struct Sample {
    double minute = 0;
    double privateMiB = 0;
    DWORD handles = 0, gdi = 0, user = 0;
    long harnessHandles = 0;
    int threads = 0;
    long long pictures = 0, downloads = 0, faults = 0, errors = 0;
};

// harness: the Unix programs started so far (the devices and the kills that stop them): Wine
// keeps a handle of this process for each (tests/support/device_process.h), not counted here.
Sample TakeSample(double minute, long harness, long long pictures, long long downloads,
                  long long faults, long long errors) {
    Sample s;
    s.minute = minute;
    s.privateMiB = PrivateMiB();
    s.handles = static_cast<DWORD>(static_cast<long>(HandleCount()) - harness);
    s.harnessHandles = harness;
    // GDI and USER objects: Wine's GetGuiResources gives 0 (Windows counts them).
    s.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    s.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    s.threads = ThreadCount();
    s.pictures = pictures;
    s.downloads = downloads;
    s.faults = faults;
    s.errors = errors;
    return s;
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

class Soak {
public:
    Soak(double minutes, const std::string& csvPath) : minutes_(minutes), csvPath_(csvPath) {}

    int Run();

private:
    std::string Url(int device) const {
        return "rtsp://" + LoopbackText(Suite::Soak, 1 + device) + "/live";
    }
    bool StartDevice(int device, const std::vector<std::string>& fault = {});
    void MakeViewer(Slot& slot);
    void DestroyViewer(Slot& slot);
    // Pumps messages until every control plays, setting the URL again of one whose session
    // ended; false (an error) when one does not within kPlayAgainMs.
    bool AllPlayAgain(const char* after);
    void Fault(int index);
    // Checks every download that ended; starts a new one in its place unless the run is ending.
    void TendDownloads(bool startNew = true);
    void Error(const std::string& what);
    long long Pictures();
    void WriteSample(std::FILE* csv, const Sample& s);

    double minutes_;
    std::string csvPath_;
    std::string scratch_;
    DeviceProcess devices_[kDevices];
    DeviceProcess downloadDevice_;
    Slot slots_[kViewers];
    struct Download {
        CFluxmereDownload* job = nullptr;
        std::string folder;
        bool cancelled = false;
    };
    Download downloads_[kParallelDownloads];
    NoRows rows_;
    std::vector<uint8_t> clip_;
    long long downloadsDone_ = 0, faults_ = 0, errors_ = 0, jobNumber_ = 0;
};

void Soak::Error(const std::string& what) {
    ++errors_;
    std::printf("soak: ERROR %s\n", what.c_str());
    std::fflush(stdout);
}

bool Soak::StartDevice(int device, const std::vector<std::string>& fault) {
    std::vector<std::string> arguments = {"--address",
                                          LoopbackText(Suite::Soak, 1 + device),
                                          "--no-http",
                                          "--size",
                                          "352x288",
                                          "--for",
                                          std::to_string(static_cast<int>(minutes_ * 60) + 900)};
    arguments.insert(arguments.end(), fault.begin(), fault.end());
    if (!devices_[device].Start(arguments)) {
        Error("device " + std::to_string(device) + ": " + devices_[device].error());
        return false;
    }
    return true;
}

void Soak::MakeViewer(Slot& slot) {
    slot.viewer = new TestViewer;
    if (slot.container->Embed(slot.viewer->unknown()) != S_OK)
        Error("a control could not be embedded");
    slot.session().SetURL(Url(slot.device).c_str());
}

void Soak::DestroyViewer(Slot& slot) {
    slot.picturesBefore += slot.session().Counters().framesDelivered;
    slot.container->Unembed();
    slot.viewer->Release();  // the last reference: the session ends with the control
    slot.viewer = nullptr;
}

long long Soak::Pictures() {
    long long total = 0;
    for (Slot& slot : slots_)
        total += slot.pictures();
    return total;
}

bool Soak::AllPlayAgain(const char* after) {
    const DWORD start = GetTickCount();
    DWORD lastSet[kViewers] = {};
    for (;;) {
        bool all = true;
        for (int i = 0; i < kViewers; ++i) {
            Slot& slot = slots_[i];
            if (slot.playing())
                continue;
            all = false;
            // A page whose viewer lost its device sets the URL again, every few seconds.
            if (GetTickCount() - lastSet[i] > 3000) {
                slot.session().SetURL(Url(slot.device).c_str());
                lastSet[i] = GetTickCount();
            }
        }
        if (all)
            return true;
        if (GetTickCount() - start > kPlayAgainMs) {
            Error(std::string("a control did not play again after ") + after);
            return false;
        }
        TendDownloads();
        Pump(100);
    }
}

void Soak::Fault(int index) {
    const int device = (index / 6) % kDevices;
    switch (index % 6) {
        case 0:  // a device restarts
            devices_[device].Stop();
            Pump(500);
            StartDevice(device);
            AllPlayAgain("a device restarted");
            break;
        case 1:    // a device stops sending, then comes back
        case 2: {  // a device resets its connections, then comes back
            devices_[device].Stop();
            StartDevice(device, {"--media-fault", index % 6 == 1 ? "stall" : "reset",
                                 "--fault-after", "50"});
            Pump(8000);
            devices_[device].Stop();
            StartDevice(device);
            AllPlayAgain(index % 6 == 1 ? "a device stopped sending" : "a reset");
            break;
        }
        case 3:  // a download is cancelled
            for (Download& d : downloads_) {
                if (d.job != nullptr && !d.job->HasEnded() && !d.cancelled) {
                    d.job->Cancel();
                    d.cancelled = true;
                    break;
                }
            }
            break;
        case 4: {  // a control is destroyed and made again
            Slot& slot = slots_[index % kViewers];
            DestroyViewer(slot);
            MakeViewer(slot);
            AllPlayAgain("a control was made again");
            break;
        }
        default: {  // SetURL moves a control to another device
            Slot& slot = slots_[(index + 3) % kViewers];
            slot.device = (slot.device + 1) % kDevices;
            slot.session().SetURL(Url(slot.device).c_str());
            AllPlayAgain("SetURL moved a control");
            break;
        }
    }
    ++faults_;
}

void Soak::TendDownloads(bool startNew) {
    for (Download& d : downloads_) {
        if (d.job != nullptr) {
            if (!d.job->HasEnded())
                continue;
            DownloadState state = DownloadState::Initializing;
            d.job->GetStatus(nullptr, &state, nullptr, nullptr);
            const std::string path = d.folder + "\\" + kClipName + ".kelo";
            // A cancel that comes after the last byte leaves the job Complete, and whole.
            if (state == DownloadState::Complete) {
                if (ReadFileBytes(path) != clip_)
                    Error("a Complete download differs from the clip");
            } else if (state != DownloadState::Failed || !d.cancelled) {
                Error("a download ended in state " + std::to_string(static_cast<int>(state)) +
                      (d.cancelled ? " after Cancel" : " without a fault"));
            }
            ++downloadsDone_;
            d.job->Release();
            d.job = nullptr;
            DeleteFileA(path.c_str());
            RemoveDirectoryA(d.folder.c_str());
        }
        if (!startNew)
            continue;
        d.folder = scratch_ + "\\download" + std::to_string(jobNumber_++);
        CreateDirectoryA(d.folder.c_str(), nullptr);
        d.cancelled = false;
        DownloadLinks links;
        links.jobList = &rows_;
        const std::string url = "http://" + LoopbackText(Suite::Soak, kDownloadDevice) +
                                "/command.cgi?stream&kelo&codec=DV&queue=1";
        d.job = new CFluxmereDownload(url.c_str(), d.folder.c_str(), 0, links);
    }
}

void Soak::WriteSample(std::FILE* csv, const Sample& s) {
    std::fprintf(csv, "%.2f,%.3f,%lu,%lu,%lu,%d,%lld,%lld,%lld,%lld,%ld\n", s.minute, s.privateMiB,
                 static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.gdi),
                 static_cast<unsigned long>(s.user), s.threads, s.pictures, s.downloads, s.faults,
                 s.errors, s.harnessHandles);
    std::fflush(csv);
    std::printf(
        "soak: minute %.1f: private %.1f MiB, handles %lu, GDI %lu, USER %lu, threads %d, "
        "pictures %lld, downloads %lld, faults %lld, errors %lld\n",
        s.minute, s.privateMiB, static_cast<unsigned long>(s.handles),
        static_cast<unsigned long>(s.gdi), static_cast<unsigned long>(s.user), s.threads,
        s.pictures, s.downloads, s.faults, s.errors);
    std::fflush(stdout);
}

int Soak::Run() {
    scratch_ = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
    clip_ = device::GenerateClip(kClipName, kClipBytes, kClipSeed);
    std::FILE* csv = std::fopen(WindowsPathOfUnixPath(csvPath_).c_str(), "w");
    if (csv == nullptr) {
        std::printf("soak: cannot write %s\n", csvPath_.c_str());
        return 1;
    }
    std::fprintf(csv,
                 "minute,private_mib,handles,gdi_objects,user_objects,threads,pictures,"
                 "downloads_completed,faults_survived,errors,harness_handles\n");

    for (int d = 0; d < kDevices; ++d)
        StartDevice(d);
    if (!downloadDevice_.Start({"--address", LoopbackText(Suite::Soak, kDownloadDevice),
                                "--no-rtsp", "--clip-name", kClipName, "--clip-bytes",
                                std::to_string(kClipBytes), "--clip-seed",
                                std::to_string(kClipSeed), "--body-rate", "4000000", "--for",
                                std::to_string(static_cast<int>(minutes_ * 60) + 900)}))
        Error("download device: " + downloadDevice_.error());
    for (int i = 0; i < kViewers; ++i) {
        slots_[i].container.reset(new TestContainer(176, 144, RECT{0, 0, 176, 144}, true));
        slots_[i].device = i % kDevices;
        MakeViewer(slots_[i]);
    }
    AllPlayAgain("the start");

    // Resources are compared from the end of the warm-up on (5 minutes, or a third of a
    // shorter run).
    const DWORD runMs = static_cast<DWORD>(minutes_ * 60000);
    const DWORD warmUpMs = std::min<DWORD>(300000, runMs / 3);
    const DWORD start = GetTickCount();
    DWORD nextFault = kFaultEveryMs, nextSample = 0;
    Sample first, last;
    bool haveFirst = false;
    for (int fault = 0;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= nextSample) {
            last = TakeSample(elapsed / 60000.0, DeviceProcess::UnixProgramsStarted(), Pictures(),
                              downloadsDone_, faults_, errors_);
            WriteSample(csv, last);
            if (!haveFirst && elapsed >= warmUpMs) {
                first = last;
                haveFirst = true;
            }
            nextSample += kSampleEveryMs;
        }
        if (elapsed >= runMs)
            break;
        if (elapsed >= nextFault) {
            Fault(fault++);
            nextFault += kFaultEveryMs;
        }
        TendDownloads();
        Pump(200);
    }

    // The end: every control plays, every download is let finish (no new ones), then the last
    // sample.
    AllPlayAgain("the last fault");
    for (Download& d : downloads_) {
        for (int i = 0; i < 600 && d.job != nullptr && !d.job->HasEnded(); ++i)
            Pump(100);
    }
    TendDownloads(false);
    for (Download& d : downloads_) {
        if (d.job != nullptr)
            Error("a download did not end");
    }
    // The growth compares two samples taken while everything ran; this one, at rest, only
    // goes to the CSV (and carries the final counts).
    const Sample atRest =
        TakeSample((GetTickCount() - start) / 60000.0, DeviceProcess::UnixProgramsStarted(),
                   Pictures(), downloadsDone_, faults_, errors_);
    WriteSample(csv, atRest);
    if (!haveFirst)
        first = last;
    for (Slot& slot : slots_) {
        if (slot.viewer != nullptr && slot.pictures() == 0)
            Error("a control painted no picture");
    }
    std::printf(
        "soak: %d minutes, memory growth %.1f MiB, handles %+ld, GDI %+ld, threads %+d, %lld "
        "faults survived, %lld errors\n",
        static_cast<int>(minutes_ + 0.5), last.privateMiB - first.privateMiB,
        static_cast<long>(last.handles) - static_cast<long>(first.handles),
        static_cast<long>(last.gdi) - static_cast<long>(first.gdi), last.threads - first.threads,
        faults_, errors_);
    std::fflush(stdout);
    std::fclose(csv);

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
