#include "tests/soak/soak_schedule.h"

#include <algorithm>
#include <cstdio>

namespace fluxmere::testing::soak {

uint32_t WarmUpMs(uint32_t runMs) {
    return std::min<uint32_t>(300000, runMs / 3);
}

FaultStep StepAt(int index) {
    constexpr int kKinds = 6;
    FaultStep step;
    step.fault = static_cast<Fault>(index % kKinds);
    step.device = (index / kKinds) % kDevices;
    // The viewer made again and the one moved differ in each round.
    step.viewer = (step.fault == Fault::ViewerMoved ? index + 3 : index) % kViewers;
    return step;
}

const char* Describe(Fault fault) {
    switch (fault) {
        case Fault::DeviceRestarts:
            return "a device restarted";
        case Fault::DeviceStopsSending:
            return "a device stopped sending";
        case Fault::ConnectionReset:
            return "a reset";
        case Fault::DownloadCancelled:
            return "a download was cancelled";
        case Fault::ViewerMadeAgain:
            return "a viewer was made again";
        case Fault::ViewerMoved:
            return "SetURL moved a viewer";
    }
    return "a fault";
}

void RunFault(const FaultStep& step, ISoakRig& rig) {
    switch (step.fault) {
        case Fault::DeviceRestarts:
            rig.StopDevice(step.device);
            rig.Wait(500);
            rig.StartDevice(step.device, {});
            break;
        case Fault::DeviceStopsSending:
        case Fault::ConnectionReset:
            // The device comes back with the fault after 50 media chunks, keeps it a while, then
            // comes back whole.
            rig.StopDevice(step.device);
            rig.StartDevice(
                step.device,
                {"--media-fault", step.fault == Fault::DeviceStopsSending ? "stall" : "reset",
                 "--fault-after", "50"});
            rig.Wait(kFaultHoldMs);
            rig.StopDevice(step.device);
            rig.StartDevice(step.device, {});
            break;
        case Fault::DownloadCancelled:
            rig.CancelADownload();
            return;
        case Fault::ViewerMadeAgain:
            rig.MakeViewerAgain(step.viewer);
            break;
        case Fault::ViewerMoved:
            rig.MoveViewerToNextDevice(step.viewer);
            break;
    }
    rig.AllPlayAgain(Describe(step.fault));
}

ScheduleResult RunSchedule(ISoakRig& rig, double minutes) {
    const uint64_t runMs = static_cast<uint64_t>(minutes * 60000);
    const uint64_t warmUpMs = WarmUpMs(static_cast<uint32_t>(runMs));
    const uint64_t start = rig.NowMs();
    uint64_t nextFault = kFaultEveryMs, nextSample = 0;
    Resources first, last;
    bool haveFirst = false;
    ScheduleResult result;
    for (int fault = 0;;) {
        const uint64_t elapsed = rig.NowMs() - start;
        if (elapsed >= nextSample) {
            last = rig.TakeSample(elapsed / 60000.0, result.faults);
            if (!haveFirst && elapsed >= warmUpMs) {
                first = last;
                haveFirst = true;
            }
            nextSample += kSampleEveryMs;
        }
        if (elapsed >= runMs)
            break;
        if (elapsed >= nextFault) {
            RunFault(StepAt(fault++), rig);
            ++result.faults;
            nextFault += kFaultEveryMs;
        }
        rig.Wait(200);
    }
    if (!haveFirst)
        first = last;
    result.growth.memoryMiB = last.memoryMiB - first.memoryMiB;
    result.growth.handles = last.handles - first.handles;
    result.growth.gdi = last.gdi - first.gdi;
    result.growth.threads = last.threads - first.threads;
    return result;
}

std::string SummaryLine(const char* prefix, double minutes, const Growth& growth, long long faults,
                        long long errors) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s: %d minutes, memory growth %.1f MiB, handles %+ld, GDI %+ld, threads %+d, "
                  "%lld faults survived, %lld errors",
                  prefix, static_cast<int>(minutes + 0.5), growth.memoryMiB, growth.handles,
                  growth.gdi, growth.threads, faults, errors);
    return line;
}

}  // namespace fluxmere::testing::soak
