#include "tests/soak/soak_schedule.h"

#include <algorithm>
#include <cstdio>

#include "tests/support/loopback.h"

namespace fluxmere::testing::soak {

uint32_t WarmUpMs(uint32_t runMs) {
    return std::min<uint32_t>(300000, runMs / 3);
}

namespace {

constexpr int kDownloadDevice = kDevices + 1;

std::string ForSeconds(double minutes) {
    // Longer than the run and its end, so that no device ends before the harness stops it.
    return std::to_string(static_cast<int>(minutes * 60) + 900);
}

}  // namespace

std::string ViewerUrl(int device) {
    return "rtsp://" + LoopbackText(Suite::Soak, 1 + device) + "/live";
}

std::vector<std::string> ViewerDeviceArguments(int device, double minutes,
                                               const std::vector<std::string>& fault) {
    std::vector<std::string> arguments = {"--address",        LoopbackText(Suite::Soak, 1 + device),
                                          "--no-http",        "--size",
                                          "352x288",          "--for",
                                          ForSeconds(minutes)};
    arguments.insert(arguments.end(), fault.begin(), fault.end());
    return arguments;
}

std::string DownloadUrl() {
    return "http://" + LoopbackText(Suite::Soak, kDownloadDevice) +
           "/command.cgi?stream&kelo&codec=DV&queue=1";
}

std::vector<std::string> DownloadDeviceArguments(double minutes) {
    return {"--address",
            LoopbackText(Suite::Soak, kDownloadDevice),
            "--no-rtsp",
            "--clip-name",
            kClipName,
            "--clip-bytes",
            std::to_string(kClipBytes),
            "--clip-seed",
            std::to_string(kClipSeed),
            "--body-rate",
            std::to_string(kClipBodyRate),
            "--for",
            ForSeconds(minutes)};
}

void AllPlayAgain(ISoakRig& rig, const char* after) {
    const uint64_t start = rig.NowMs();
    uint64_t lastSet[kViewers] = {};
    for (;;) {
        bool all = true;
        for (int i = 0; i < kViewers; ++i) {
            if (rig.Playing(i))
                continue;
            all = false;
            if (rig.NowMs() - lastSet[i] > 3000) {
                rig.SetUrlAgain(i);
                lastSet[i] = rig.NowMs();
            }
        }
        if (all)
            return;
        if (rig.NowMs() - start > kPlayAgainMs) {
            rig.Error(std::string("a viewer did not play again after ") + after);
            return;
        }
        rig.Wait(100);
    }
}

void LetDownloadsEnd(ISoakRig& rig) {
    rig.HoldDownloads(true);
    const uint64_t start = rig.NowMs();
    while (rig.DownloadsRunning() > 0) {
        if (rig.NowMs() - start > kDownloadEndMs) {
            rig.Error("a download did not end");
            return;
        }
        rig.Wait(100);
    }
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
    AllPlayAgain(rig, Describe(step.fault));
}

ScheduleResult RunSchedule(ISoakRig& rig, double minutes, bool faults) {
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
            LetDownloadsEnd(rig);
            last = rig.TakeSample((rig.NowMs() - start) / 60000.0, result.faults);
            rig.HoldDownloads(false);
            if (!haveFirst && elapsed >= warmUpMs) {
                first = last;
                haveFirst = true;
            }
            nextSample += kSampleEveryMs;
        }
        if (elapsed >= runMs)
            break;
        if (faults && elapsed >= nextFault) {
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
