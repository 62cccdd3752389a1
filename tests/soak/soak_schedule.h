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

// What a harness does for the schedule. Every wait goes through Wait, so a harness keeps its
// downloads tended (and its messages pumped) meanwhile.
class ISoakRig {
public:
    virtual uint64_t NowMs() = 0;
    // Measures the process and writes a line of the CSV.
    virtual Resources TakeSample(double minute, long long faultsSurvived) = 0;
    virtual void StopDevice(int device) = 0;
    // extraArguments: the device's fault ("--media-fault stall ...") or none.
    virtual void StartDevice(int device, const std::vector<std::string>& extraArguments) = 0;
    virtual void Wait(uint32_t ms) = 0;
    // Cancels one download that still runs, if there is one.
    virtual void CancelADownload() = 0;
    virtual void MakeViewerAgain(int viewer) = 0;
    virtual void MoveViewerToNextDevice(int viewer) = 0;
    // Waits until every viewer plays (setting the URL again of one whose session ended, as its
    // page does); counts an error when one does not within kPlayAgainMs.
    virtual void AllPlayAgain(const char* after) = 0;

protected:
    ~ISoakRig() = default;
};

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
// once), a fault every kFaultEveryMs, for `minutes`. Returns when the time is up, right after its
// last sample; the harness then lets its downloads end and takes a sample at rest.
ScheduleResult RunSchedule(ISoakRig& rig, double minutes);

// "PREFIX: M minutes, memory growth X MiB, handles +H, GDI +G, threads +T, N faults survived,
// E errors".
std::string SummaryLine(const char* prefix, double minutes, const Growth& growth, long long faults,
                        long long errors);

}  // namespace fluxmere::testing::soak
