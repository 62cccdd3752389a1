#pragma once
// What the player's session tests share: the device stand-in (in-process natively, the native
// program under Wine), a listener that tells whether anyone connected, and a host that records
// the statuses a session shows.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/thread.h"
#include "player/player_session.h"

#ifndef _WIN32
#include "device/device.h"
#else
#include "tests/support/device_process.h"
#endif

namespace fluxmere::testing {

// The device on its own loopback address, configured with the program's flags ("--busy", ...).
class TestDevice {
public:
    TestDevice() = default;
    ~TestDevice() { Stop(); }
    bool Start(const std::string& address, const std::vector<std::string>& flags);
    void Stop();
    const std::string& error() const { return error_; }

#ifndef _WIN32
    // What the device received (native builds only: under Wine it is another process).
    device::Device& Native() {
        return *device_;
    }
#endif

private:
    std::string error_;
#ifndef _WIN32
    std::unique_ptr<device::Device> device_;
#else
    DeviceProcess process_;
#endif
};

// Listens on address:554 and says whether a connection arrived, without waiting for one: it
// connects a probe of its own and checks that the probe is the first connection accepted.
class ConnectionProbe {
public:
    explicit ConnectionProbe(uint32_t address);
    ~ConnectionProbe();
    bool listening() const { return listener_ != platform::kInvalidSocket; }
    bool NobodyConnected();

private:
    uint32_t address_;
    platform::SocketHandle listener_ = platform::kInvalidSocket;
};

// A device that only speaks RTSP: it answers every request with 200 (DESCRIBE with a stream
// header for width x height, SETUP with mediaPort as server port) and records the methods, until
// the viewer closes the connection. Serves one connection.
class ScriptedRtspPeer {
public:
    ScriptedRtspPeer(uint32_t address, int width, int height, int mediaPort);
    ~ScriptedRtspPeer();
    bool listening() const { return listener_ != platform::kInvalidSocket; }
    // Waits (bounded) for the viewer to close the connection; the methods received, in order.
    std::vector<std::string> Methods();

private:
    static void Entry(void* context);
    void Serve();

    platform::SocketHandle listener_ = platform::kInvalidSocket;
    std::string sdp_;
    int mediaPort_;
    std::mutex lock_;
    std::vector<std::string> methods_;
    platform::Thread thread_;
};

// Records each status a session shows, in order, leaving out repeats.
class StatusRecorder : public IPlayerHost {
public:
    void Attach(const CPlayerSession* session) { session_ = session; }
    void Invalidate(const PlayerRect* rect) override;
    std::vector<int32_t> Statuses() const;
    int Invalidations() const;

private:
    const CPlayerSession* session_ = nullptr;
    mutable std::mutex lock_;
    std::vector<int32_t> statuses_;
    int invalidations_ = 0;
};

// Polls until the session shows status (bounded, so a broken session fails instead of hanging).
// The limit only matters when something is broken, so it is generous: a device stand-in built
// with sanitizers encodes a 1920 x 1080 picture in seconds on a loaded machine.
constexpr uint32_t kStatusLimitMs = 60000;
bool WaitForStatus(const CPlayerSession& session, PlayerStatus status,
                   uint32_t limitMs = kStatusLimitMs);
bool WaitForRecorded(const StatusRecorder& recorder, size_t count,
                     uint32_t limitMs = kStatusLimitMs);

// Peak signal-to-noise ratio of a B, G, R picture against packed R, G, B pixels of the same size.
double PsnrBgrAgainstRgb(const RenderedPicture& picture, const uint8_t* rgb);

inline int32_t S(PlayerStatus status) {
    return static_cast<int32_t>(status);
}

}  // namespace fluxmere::testing
