#pragma once
// Runs the native device program (fluxmere-device) as a separate process for a test: natively
// with posix_spawn, and from a Windows test under Wine through CreateProcessA of the Unix path
// (Wine starts Unix executables that way). The binary comes from the environment variable
// FLUXMERE_DEVICE_BIN. The device writes its ready line, with its Unix pid, to a ready file; Stop
// sends it SIGTERM by that pid and waits until it has removed the file on its way out.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace fluxmere::testing {

class DeviceProcess {
public:
    DeviceProcess() = default;
    ~DeviceProcess();  // stops a device that is still running
    DeviceProcess(const DeviceProcess&) = delete;
    DeviceProcess& operator=(const DeviceProcess&) = delete;

    // Starts the device with `arguments` (e.g. {"--address", "127.20.6.1", "--not-ready", "2"})
    // and waits up to timeoutMs for its ready line. "--ready-file" is added, and "--for 300"
    // unless the arguments bound the device's life themselves. False with error() on failure.
    bool Start(const std::vector<std::string>& arguments, uint32_t timeoutMs = 20000);

    // SIGTERM by pid, then waits up to timeoutMs for the device to end. True when it ended
    // cleanly (natively: exit status 0; under Wine: it removed its ready file).
    bool Stop(uint32_t timeoutMs = 20000);

    // The device's counters (names as in device/device.h: "plays", "exportRequests", ...), as
    // the device last published them: kept current while it runs, final after Stop. -1 for a
    // name it has not published.
    long long Counter(const std::string& name);

    // Unix programs this process has started (the devices, and the kill that stops one). Under
    // Wine each leaves a handle in this process that nothing can close: leak checks count it.
    static long UnixProgramsStarted();

    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }
    const std::string& readyLine() const { return readyLine_; }
    const std::string& error() const { return error_; }

private:
    bool ReadReadyFile();

    int pid_ = 0;
    std::string readyLine_;
    std::string error_;
    std::string readyPath_;       // Unix path given to the device
    std::string readyPathLocal_;  // the same file as this process opens it
};

}  // namespace fluxmere::testing
