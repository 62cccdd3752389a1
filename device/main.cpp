// fluxmere-device: the recording-device stand-in as a program. Prints one ready line (the ports
// it listens on and its process id) and serves until SIGTERM, SIGINT or the end of --for.

#include <csignal>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "device/device.h"
#include "device/device_arguments.h"
#include "platform/thread.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) {
    stopRequested = 1;
}

// Written to a temporary name and renamed, so a reader never sees half a line.
bool WriteLineFile(const std::string& path, const std::string& line) {
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fprintf(f, "%s\n", line.c_str()) > 0;
    const bool closed = std::fclose(f) == 0;
    return written && closed && std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace fluxmere::device;
    ProgramOptions options;
    std::string error;
    if (!ParseDeviceArguments(argc, argv, &options, &error)) {
        std::fprintf(stderr, "fluxmere-device: %s\n%s", error.c_str(), DeviceUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(DeviceUsage(), stdout);
        return 0;
    }
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);

    Device device(options.device);
    if (!device.Start()) {
        std::fprintf(stderr, "fluxmere-device: %s\n", device.error().c_str());
        return 1;
    }
    const std::string line = device.ReadyLine() + " pid=" + std::to_string(getpid());
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (!options.readyFile.empty() && !WriteLineFile(options.readyFile, line)) {
        std::fprintf(stderr, "fluxmere-device: cannot write %s\n", options.readyFile.c_str());
        device.Stop();
        return 1;
    }

    // Next to the ready file, the counters are kept up to date for tests in another process.
    const std::string countersFile =
        options.readyFile.empty() ? "" : options.readyFile + ".counters";
    std::string countersWritten;
    auto publishCounters = [&] {
        const std::string text = device.CountersText();
        if (!countersFile.empty() && text != countersWritten && WriteLineFile(countersFile, text)) {
            countersWritten = text;
        }
    };
    const uint64_t start = fluxmere::platform::MonotonicMs();
    const uint64_t limitMs = static_cast<uint64_t>(options.forSeconds * 1000);
    while (!stopRequested &&
           (limitMs == 0 || fluxmere::platform::MonotonicMs() - start < limitMs)) {
        publishCounters();
        fluxmere::platform::SleepMs(20);
    }
    device.Stop();
    publishCounters();
    // Removing the ready file tells a waiting test (also one under Wine) that the device is gone;
    // the counters file stays for it to read.
    if (!options.readyFile.empty()) {
        std::remove(options.readyFile.c_str());
    }
    std::printf("fluxmere-device stopped\n");
    return 0;
}
