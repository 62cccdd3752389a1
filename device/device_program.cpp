// The device stand-in as a program: prints one ready line (the ports it listens on and its
// process id) and serves until SIGTERM, SIGINT or the end of --for. Shared by fluxmere-device
// and "fluxmere device".

#include "device/device_program.h"

#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "device/device.h"
#include "device/device_arguments.h"
#include "platform/thread.h"

namespace fluxmere::device {

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

int RunDeviceProgram(int argc, char** argv, const char* name) {
    ProgramOptions options;
    std::string error;
    if (!ParseDeviceArguments(argc, argv, &options, &error)) {
        std::fprintf(stderr, "%s: %s\n%s", name, error.c_str(), DeviceUsage());
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
        std::fprintf(stderr, "%s: %s\n", name, device.error().c_str());
        return 1;
    }
    const std::string line = device.ReadyLine() + " pid=" + std::to_string(getpid());
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (!options.readyFile.empty() && !WriteLineFile(options.readyFile, line)) {
        std::fprintf(stderr, "%s: cannot write %s\n", name, options.readyFile.c_str());
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
    const uint64_t start = platform::MonotonicMs();
    const uint64_t limitMs = static_cast<uint64_t>(options.forSeconds * 1000);
    while (!stopRequested && (limitMs == 0 || platform::MonotonicMs() - start < limitMs)) {
        publishCounters();
        platform::SleepMs(20);
    }
    device.Stop();
    publishCounters();
    // Removing the ready file tells a waiting test (also one under Wine) that the device is gone;
    // the counters file stays for it to read.
    if (!options.readyFile.empty()) {
        std::remove(options.readyFile.c_str());
    }
    std::printf("%s stopped\n", name);
    return 0;
}

}  // namespace fluxmere::device
