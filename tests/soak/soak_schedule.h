#pragma once
// What the soak does and when, shared by its two harnesses (soak_host.cpp: the DLL's controls
// and download manager under Wine; native_soak.cpp: the player sessions and download jobs of the
// portable core under the sanitizers): eight viewers on four device stand-ins, downloads four at
// a time, a fault every kFaultEveryMs from a rotating schedule, a sample every minute, and the
// summary line both end with.

#include <cstdint>
#include <string>
#include <vector>

namespace fluxmere::testing::soak {

constexpr int kViewers = 8;
constexpr int kDevices = 4;
constexpr int kParallelDownloads = 4;
constexpr uint32_t kFaultEveryMs = 20000;
constexpr uint32_t kSampleEveryMs = 60000;
constexpr uint32_t kPlayAgainMs = 30000;  // a viewer plays again within this after a fault
constexpr uint32_t kFaultHoldMs = 8000;   // how long a stalling or resetting device stays so
constexpr const char* kClipName = "soakclip";
constexpr uint64_t kClipBytes = 3 * 1048576;
constexpr uint32_t kClipSeed = 3;
constexpr int kClipBodyRate = 4000000;  // bytes a second the download device sends

// Resources are compared from the end of the warm-up on: 5 minutes, or a third of a shorter run.
uint32_t WarmUpMs(uint32_t runMs);

enum class Fault {
    DeviceRestarts,
    DeviceStopsSending,
    ConnectionReset,
    DownloadCancelled,
    ViewerMadeAgain,
    ViewerMoved,
};

struct FaultStep {
    Fault fault;
    int device;  // the device that restarts, stalls or resets
    int viewer;  // the viewer made again or moved to the next device
};

// The index-th fault (from 0): the six kinds in turn, each round on the next device.
FaultStep StepAt(int index);

// "a device restarted", ...: what the viewers must play again after.
const char* Describe(Fault fault);

// What a sample tells of the process; each harness measures it its own way.
struct Resources {
    double memoryMiB = 0;
    long handles = 0;
    long gdi = 0;
    int threads = 0;
};

// The viewers' devices (0 .. kDevices - 1) and the download device, on the soak's loopback
// addresses, and what they are started with.
std::string ViewerUrl(int device);
std::vector<std::string> ViewerDeviceArguments(int device, double minutes,
                                               const std::vector<std::string>& fault);
std::string DownloadUrl();
std::vector<std::string> DownloadDeviceArguments(double minutes);

// What a harness does for the schedule.
class ISoakRig {
public:
    virtual uint64_t NowMs() = 0;
    // Lets ms pass (pumping messages, where there are any) while the downloads are tended: one
    // that ended is checked, and another starts in its place unless they are held.
    virtual void Wait(uint32_t ms) = 0;
    virtual void Error(const std::string& what) = 0;
    // Measures the process and writes a line of the CSV.
    virtual Resources TakeSample(double minute, long long faultsSurvived) = 0;

    // extraArguments: the device's fault ("--media-fault stall ...") or none.
    virtual void StartDevice(int device, const std::vector<std::string>& extraArguments) = 0;
    virtual void StopDevice(int device) = 0;

    virtual bool Playing(int viewer) = 0;
    // Sets the viewer's URL again, as the page of a viewer that lost its device does.
    virtual void SetUrlAgain(int viewer) = 0;
    virtual void MakeViewerAgain(int viewer) = 0;
    virtual void MoveViewerToNextDevice(int viewer) = 0;

    // Cancels one download that still runs, if there is one.
    virtual void CancelADownload() = 0;
    // Held: no new download starts; those running go on to their end.
    virtual void HoldDownloads(bool held) = 0;
    virtual int DownloadsRunning() = 0;

protected:
    ~ISoakRig() = default;
};

// Waits until every viewer plays, setting the URL again every few seconds of one that does not;
// an error when one does not within kPlayAgainMs.
void AllPlayAgain(ISoakRig& rig, const char* after);

// Holds the downloads and waits until every running one has ended (an error when one has not
// within kDownloadEndMs); they stay held.
constexpr uint32_t kDownloadEndMs = 180000;
void LetDownloadsEnd(ISoakRig& rig);

// Does one step of the schedule on the rig, up to every viewer playing again.
void RunFault(const FaultStep& step, ISoakRig& rig);

// The growth from the sample at the end of the warm-up to the last one taken while everything
// ran.
struct Growth {
    double memoryMiB = 0;
    long handles = 0;
    long gdi = 0;
    int threads = 0;
};

struct ScheduleResult {
    Growth growth;
    long long faults = 0;
};

// The run itself, after every viewer played once: a sample every kSampleEveryMs (the first at
// once), a fault every kFaultEveryMs, for `minutes`. Each sample is taken while the viewers play
// and the downloads are let end first (so that two samples compare the same state, not how many
// downloads happened to run), after which new ones start again. Returns when the time is up,
// right after its last sample.
// faults false: the same run without faults (to tell what grows with them from what grows
// without).
ScheduleResult RunSchedule(ISoakRig& rig, double minutes, bool faults = true);

// "PREFIX: M minutes, memory growth X MiB, handles +H, GDI +G, threads +T, N faults survived,
// E errors".
std::string SummaryLine(const char* prefix, double minutes, const Growth& growth, long long faults,
                        long long errors);

}  // namespace fluxmere::testing::soak
