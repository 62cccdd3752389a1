#pragma once
// Shared state of a running device: the connection pool, the sockets that Stop must wake, the
// counters and the request logs. Used by device.cpp and the two services.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "device/device.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace fluxmere::device {

// Every socket the device opens is registered here, so that Stop can wake any thread blocked on
// one. Registration fails once the device is stopping, so no thread can block after Stop.
class SocketRegistry {
public:
    bool Add(platform::SocketHandle s);
    // Closes a registered socket (once; the handle is set to invalid).
    void Close(platform::SocketHandle& s);
    // The same with a reset (RST) instead of an orderly close.
    void Abort(platform::SocketHandle& s);
    // Marks the registry as stopping and shuts every registered socket down.
    void ShutdownAll();

private:
    void Remove(platform::SocketHandle& s, bool reset);

    static constexpr int kCapacity = 128;
    platform::CriticalSection lock_;
    platform::SocketHandle sockets_[kCapacity] = {};
    int count_ = 0;
    bool stopping_ = false;
};

// Reads one request header (up to CR LF CR LF) at a time from a connection; bytes that follow a
// header stay for the next call.
class RequestReader {
public:
    explicit RequestReader(platform::SocketHandle s) : socket_(s) {}
    // The next header, CR LF CR LF included. False when the connection ends, fails, or sends a
    // header longer than the buffer. A receive time-out set on the socket makes it return false
    // with timedOut() true; the partial request is kept.
    bool Next(std::string* header);
    bool timedOut() const { return timedOut_; }

private:
    platform::SocketHandle socket_;
    char buffer_[16384];
    size_t held_ = 0;
    bool timedOut_ = false;
};

// Request text helpers.
std::string FirstLine(const std::string& request);
// The value of a header line ("CSeq" gives the text after "CSeq:" up to CR), or empty.
std::string HeaderValue(const std::string& request, const char* name);

struct Device::Impl {
    explicit Impl(const DeviceOptions& options);

    // Takes a free connection slot and runs `entry` for the accepted socket on its thread.
    // Returns false (and closes the socket) when all slots are busy or the device is stopping.
    bool Dispatch(platform::SocketHandle s, void (*entry)(Impl*, platform::SocketHandle));

    void Count(int DeviceCounters::*field, int delta = 1);
    void AddClipBytes(uint64_t bytes);
    void LogRtsp(const std::string& request);
    void LogHttp(const std::string& requestLine);

    DeviceOptions options;
    // Frames of a short scripted run, built before the device is ready (media_frames.h).
    std::vector<std::vector<uint8_t>> scriptedFrames;
    uint32_t address = 0;
    std::string addressText;
    platform::Event stopping{true, false};
    SocketRegistry sockets;

    platform::SocketHandle rtspListener = platform::kInvalidSocket;
    platform::SocketHandle httpListener = platform::kInvalidSocket;
    platform::Thread rtspAcceptThread;
    platform::Thread httpAcceptThread;

    static constexpr int kSlots = 24;
    struct Slot {
        platform::Thread thread;
        Impl* impl = nullptr;
        platform::SocketHandle socket = platform::kInvalidSocket;
        void (*entry)(Impl*, platform::SocketHandle) = nullptr;
    };
    Slot slots[kSlots];

    mutable platform::CriticalSection lock;  // guards what follows
    DeviceCounters counters;
    std::deque<std::string> rtspLog;
    std::deque<std::string> httpLog;
    int notReadyLeft = 0;
    int holdingSessions = 0;
};

// The services: each runs one accepted connection to its end.
void RunRtspConnection(Device::Impl* impl, platform::SocketHandle s);
void RunHttpConnection(Device::Impl* impl, platform::SocketHandle s);

// Sends `prefix`, then filler bytes without any line end, until the peer goes away, the device
// stops, or 16 MiB have gone: a header that never ends.
void SendEndlessHeader(Device::Impl* impl, platform::SocketHandle s, const std::string& prefix);

}  // namespace fluxmere::device
