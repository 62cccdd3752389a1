#pragma once
// The recording-device stand-in: RTSP on ADDRESS:554, a media server per session on the port its
// SETUP reply announces, and the clip export over HTTP on ADDRESS:80. Native tests run it
// in-process; the fluxmere-device program wraps it for scripts and for tests under Wine.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/device_options.h"

namespace fluxmere::device {

// What the device has received and sent so far. A snapshot; counters only grow.
struct DeviceCounters {
    int rtspConnections = 0;
    int describes = 0;
    int setups = 0;
    int plays = 0;
    int teardowns = 0;
    int mediaConnections = 0;
    int framesSent = 0;
    int eventsSent = 0;
    int httpConnections = 0;
    int exportRequests = 0;
    int notReadyReplies = 0;
    int clipsStarted = 0;
    int clipsCompleted = 0;      // whole body sent, connection closed by the device
    uint64_t clipBytesSent = 0;  // clip bytes (not chunk framing) of all exports
    int lastSetupClientPort = 0;
};

// Start, Stop and the accessors below are meant for the one thread that owns the device (the
// test's); the device's own threads only serve connections.
class Device {
public:
    explicit Device(DeviceOptions options);
    ~Device();  // stops
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Binds and starts listening. False, with error() telling why, when a port cannot be bound.
    bool Start();
    // Closes every listener and connection and waits for all of the device's threads.
    void Stop();

    const std::string& error() const { return error_; }
    const DeviceOptions& options() const { return options_; }
    uint16_t rtspPort() const { return rtspPort_; }
    uint16_t httpPort() const { return httpPort_; }
    // "fluxmere-device ready rtsp=A:P http=A:P" (with " pid=N" added by the program).
    std::string ReadyLine() const;

    // Counters and logs stay readable after Stop.
    DeviceCounters Counters() const;
    // The counters as one line of name=value pairs ("describes=1 setups=1 ..."), for scripts and
    // for tests that run the device as a separate process.
    std::string CountersText() const;
    // Polls the counters until the condition holds or timeoutMs passes; true when it held.
    bool WaitFor(const std::function<bool(const DeviceCounters&)>& condition,
                 uint32_t timeoutMs) const;
    // The request lines (first line of each request) received on port 554, oldest first
    // (the latest 256 only), and the full text of the latest RTSP requests the same way.
    std::vector<std::string> RtspRequestLines() const;
    std::vector<std::string> RtspRequests() const;
    // The request lines received on port 80 (the latest 256 only).
    std::vector<std::string> HttpRequestLines() const;

    struct Impl;

private:
    DeviceOptions options_;
    std::string error_;
    uint16_t rtspPort_ = 0;
    uint16_t httpPort_ = 0;
    std::unique_ptr<Impl> impl_;
    DeviceCounters finalCounters_;
    std::vector<std::string> finalRtspLog_;
    std::vector<std::string> finalHttpLog_;
};

}  // namespace fluxmere::device
