// The device's RTSP dialect on port 554 and the media connection that each session sets up.

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "device/device_internal.h"
#include "device/media_frames.h"

namespace fluxmere::device {

using platform::kInvalidSocket;
using platform::SocketHandle;

namespace {

// The media side of one session: a listener on an ephemeral port (announced in the SETUP reply),
// the one connection accepted on it, and the thread that sends a chunk per combined frame once
// PLAY has arrived.
class MediaSession {
public:
    explicit MediaSession(Device::Impl* impl) : impl_(impl) {}
    ~MediaSession() { End(); }

    bool active() const { return active_; }
    uint16_t port() const { return port_; }

    // Opens the listener and starts the sender thread.
    bool Begin() {
        SocketHandle listener = platform::CreateTcpSocket();
        if (listener == kInvalidSocket) {
            return false;
        }
        if (!platform::BindSocket(listener, impl_->address, 0) ||
            !platform::ListenSocket(listener, 1) || !platform::GetLocalPort(listener, &port_) ||
            !impl_->sockets.Add(listener)) {
            platform::CloseSocket(listener);
            return false;
        }
        listener_ = listener;
        play_.Reset();
        end_.Reset();
        if (!thread_.Start(Entry, this)) {
            impl_->sockets.Close(listener_);
            return false;
        }
        active_ = true;
        return true;
    }

    void Play() { play_.Set(); }

    // Stops sending, closes the media connection and waits for the sender.
    void End() {
        if (!active_) {
            return;
        }
        end_.Set();
        {
            platform::ScopedLock hold(lock_);
            impl_->sockets.Close(listener_);
            impl_->sockets.Close(media_);
        }
        thread_.Join(platform::kInfinite);
        active_ = false;
    }

private:
    static void Entry(void* context) { static_cast<MediaSession*>(context)->Run(); }

    void Run() {
        SocketHandle listener;
        {
            platform::ScopedLock hold(lock_);
            listener = listener_;
        }
        SocketHandle media = platform::AcceptSocket(listener);
        {
            platform::ScopedLock hold(lock_);
            impl_->sockets.Close(listener_);
            if (media == kInvalidSocket) {
                return;
            }
            if (end_.IsSet() || !impl_->sockets.Add(media)) {
                platform::CloseSocket(media);
                return;
            }
            media_ = media;
        }
        platform::SetNoDelay(media, true);
        impl_->Count(&DeviceCounters::mediaConnections);
        if (platform::WaitForEither(end_, play_, platform::kInfinite) == 1) {
            Stream(media);
        }
        platform::ScopedLock hold(lock_);
        impl_->sockets.Close(media_);
    }

    // Sends frames at the stream's rate until the session ends or a fault says otherwise.
    void Stream(SocketHandle media) {
        const DeviceOptions& o = impl_->options;
        FrameBuilder builder(o);
        std::vector<uint8_t> chunk;
        chunk.reserve((1u << 20) + 32);
        const int fps = std::max(1, o.fps);
        uint64_t start = platform::MonotonicMs();
        for (uint32_t i = 0;; ++i) {
            if (o.maxFrames > 0 && i >= static_cast<uint32_t>(o.maxFrames)) {
                return;
            }
            if (o.mediaFault != MediaFault::None &&
                i == static_cast<uint32_t>(o.mediaFramesBeforeFault)) {
                if (o.mediaFault == MediaFault::Silence) {
                    end_.Wait(platform::kInfinite);
                    return;
                }
                if (o.mediaFault == MediaFault::Close) {
                    return;
                }
                if (o.mediaFault == MediaFault::Reset) {
                    platform::ScopedLock hold(lock_);
                    impl_->sockets.Abort(media_);
                    return;
                }
                if (o.mediaFault == MediaFault::Trickle) {
                    Trickle(media);
                    return;
                }
                if (end_.Wait(static_cast<uint32_t>(std::max(0, o.stallMs))) ==
                    platform::WaitResult::Signaled) {
                    return;
                }
                start += static_cast<uint64_t>(std::max(0, o.stallMs));
            }
            const uint64_t due = start + uint64_t{i} * 1000 / fps;
            const uint64_t now = platform::MonotonicMs();
            if (due > now &&
                end_.Wait(static_cast<uint32_t>(due - now)) == platform::WaitResult::Signaled) {
                return;
            }
            const std::vector<uint8_t>& frame =
                i < impl_->scriptedFrames.size() ? impl_->scriptedFrames[i] : builder.Build(i);
            char line[16];
            int lineLength = std::snprintf(line, sizeof line, "%zx\r\n", frame.size());
            chunk.assign(line, line + lineLength);
            chunk.insert(chunk.end(), frame.begin(), frame.end());
            chunk.push_back('\r');
            chunk.push_back('\n');
            if (!platform::SendAll(media, chunk.data(), static_cast<int>(chunk.size()))) {
                return;
            }
            impl_->Count(&DeviceCounters::framesSent);
        }
    }

    // The size line of a chunk of 8192 bytes, then one byte of it every 500 ms until the session
    // ends: the media connection is never silent for long, yet no frame completes for an hour.
    void Trickle(SocketHandle media) {
        static const char kSizeLine[] = "2000\r\n";
        if (!platform::SendAll(media, kSizeLine, static_cast<int>(sizeof kSizeLine - 1)))
            return;
        const char byte = 0;
        while (end_.Wait(500) != platform::WaitResult::Signaled) {
            if (!platform::SendAll(media, &byte, 1))
                return;
        }
    }

    Device::Impl* impl_;
    platform::Thread thread_;
    platform::Event play_{true, false};
    platform::Event end_{true, false};
    platform::CriticalSection lock_;  // guards the two handles below
    SocketHandle listener_ = kInvalidSocket;
    SocketHandle media_ = kInvalidSocket;
    uint16_t port_ = 0;
    bool active_ = false;
};

class RtspConnection {
public:
    RtspConnection(Device::Impl* impl, SocketHandle s)
        : impl_(impl), socket_(s), reader_(s), media_(impl) {}

    void Run() {
        impl_->Count(&DeviceCounters::rtspConnections);
        std::string request;
        for (;;) {
            if (!ArmEventTimer()) {
                break;
            }
            if (!reader_.Next(&request)) {
                if (reader_.timedOut()) {
                    continue;  // the event is due
                }
                break;
            }
            if (!Handle(request)) {
                break;
            }
        }
        media_.End();
        SetHolding(false);
    }

private:
    // Sends the event when it is due, or sets the receive time-out so that the wait for the next
    // request ends when it is. False when the connection failed.
    bool ArmEventTimer() {
        const int after = impl_->options.eventAfterMs;
        if (!playing_ || after < 0 || eventSent_) {
            SetTimeout(0);  // e.g. a TEARDOWN came first: wait for requests without limit again
            return true;
        }
        const uint64_t due = playAt_ + static_cast<uint64_t>(after);
        const uint64_t now = platform::MonotonicMs();
        if (now < due) {
            SetTimeout(static_cast<uint32_t>(due - now));
            return true;
        }
        SetTimeout(0);
        return Send(EventMessage());
    }

    // The device's "recording stopped" event.
    std::string EventMessage() {
        eventSent_ = true;
        const std::string text = "Recording stopped\r\n";
        std::string message = "ANNOUNCE rtsp://" + impl_->addressText + "/live RTSP/1.0\r\n";
        if (!impl_->options.noCSeq) {
            message += "CSeq: " + std::to_string(++eventCSeq_) + "\r\n";
        }
        message +=
            "Content-Length: " + std::to_string(text.size()) + "\r\nEvent-Type: 3\r\n\r\n" + text;
        impl_->Count(&DeviceCounters::eventsSent);
        return message;
    }

    void SetTimeout(uint32_t ms) {
        if (ms != timeoutMs_) {
            platform::SetRecvTimeout(socket_, ms);
            timeoutMs_ = ms;
        }
    }

    // With replyByteMs, one byte at a time (the device's stop ends the trickle).
    bool Send(const std::string& text) {
        const int pause = impl_->options.replyByteMs;
        if (pause <= 0) {
            return platform::SendAll(socket_, text.data(), static_cast<int>(text.size()));
        }
        for (char byte : text) {
            if (!platform::SendAll(socket_, &byte, 1) ||
                impl_->stopping.Wait(static_cast<uint32_t>(pause)) ==
                    platform::WaitResult::Signaled) {
                return false;
            }
        }
        return true;
    }

    bool IsSilentOn(const std::string& method) const {
        const std::string& list = impl_->options.silentOn;
        size_t start = 0;
        while (start <= list.size()) {
            const size_t end = std::min(list.find(',', start), list.size());
            if (list.compare(start, end - start, method) == 0) {
                return true;
            }
            start = end + 1;
        }
        return false;
    }

    std::string StatusLine(int status, const char* reason, const std::string& cseq) const {
        std::string line = "RTSP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
        if (!impl_->options.noCSeq) {
            line += "CSeq: " + cseq + "\r\n";
        }
        return line;
    }

    // A session holds the device from its SETUP to its TEARDOWN or the end of its connection.
    void SetHolding(bool holding) {
        if (holding == holding_) {
            return;
        }
        holding_ = holding;
        platform::ScopedLock hold(impl_->lock);
        impl_->holdingSessions += holding ? 1 : -1;
    }

    bool AnotherSessionHolds() const {
        platform::ScopedLock hold(impl_->lock);
        return impl_->holdingSessions > (holding_ ? 1 : 0);
    }

    // False ends the connection.
    bool Handle(const std::string& request) {
        impl_->LogRtsp(request);
        const DeviceOptions& o = impl_->options;
        const std::string method = request.substr(0, request.find(' '));
        const std::string cseq = HeaderValue(request, "CSeq");
        Count(method);
        if (IsSilentOn(method)) {
            return true;  // never answered; the connection stays open
        }
        if (method == "DESCRIBE") {
            if (o.refuseDescribe) {
                return Send(StatusLine(404, "Not Found", cseq) + "\r\n");
            }
            if (o.endlessHeader) {
                SendEndlessHeader(impl_, socket_, StatusLine(200, "OK", cseq) + "X-Filler: ");
                return false;
            }
            const std::string sdp = BuildSdp(o, impl_->addressText);
            return Send(StatusLine(200, "OK", cseq) +
                        "Content-Type: application/sdp\r\nContent-Length: " +
                        std::to_string(sdp.size()) + "\r\n\r\n" + sdp);
        }
        if (method == "SETUP") {
            const std::string transport = HeaderValue(request, "Transport");
            const size_t clientPort = transport.find("client_port=");
            if (clientPort != std::string::npos) {
                const int port = std::atoi(transport.c_str() + clientPort + 12);
                platform::ScopedLock hold(impl_->lock);
                impl_->counters.lastSetupClientPort = port;
            }
            if (o.busy || (o.exclusive && AnotherSessionHolds())) {
                return Send(StatusLine(503, "Service Unavailable", cseq) + "\r\n");
            }
            // One media connection carries video and sound; every track gets its port.
            if (!media_.active() && !media_.Begin()) {
                return Send(StatusLine(500, "Internal Server Error", cseq) + "\r\n");
            }
            SetHolding(true);
            std::string reply =
                StatusLine(200, "OK", cseq) + "Session: 12345678\r\nTransport: " +
                (transport.empty() ? std::string("TCP/RTP/AVP;unicast") : transport);
            if (!o.setupWithoutServerPort) {
                reply += ";server_port=" + std::to_string(media_.port()) + "-" +
                         std::to_string(media_.port() + 1);
            }
            return Send(reply + "\r\n\r\n");
        }
        if (method == "PLAY") {
            std::string reply = StatusLine(200, "OK", cseq) + "Session: 12345678\r\n\r\n";
            if (o.eventWithPlay) {
                reply += EventMessage();  // in the same send: one segment on the wire
            }
            if (!Send(reply)) {
                return false;
            }
            playing_ = true;
            eventSent_ = o.eventWithPlay;
            playAt_ = platform::MonotonicMs();
            media_.Play();
            return true;
        }
        if (method == "TEARDOWN") {
            media_.End();
            playing_ = false;
            SetHolding(false);
            return Send(StatusLine(200, "OK", cseq) + "Session: 12345678\r\n\r\n");
        }
        if (method == "OPTIONS") {
            return Send(StatusLine(200, "OK", cseq) +
                        "Public: DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n");
        }
        return Send(StatusLine(501, "Not Implemented", cseq) + "\r\n");
    }

    void Count(const std::string& method) {
        if (method == "DESCRIBE") {
            impl_->Count(&DeviceCounters::describes);
        } else if (method == "SETUP") {
            impl_->Count(&DeviceCounters::setups);
        } else if (method == "PLAY") {
            impl_->Count(&DeviceCounters::plays);
        } else if (method == "TEARDOWN") {
            impl_->Count(&DeviceCounters::teardowns);
        }
    }

    Device::Impl* impl_;
    SocketHandle socket_;
    RequestReader reader_;
    MediaSession media_;
    bool holding_ = false;
    bool playing_ = false;
    bool eventSent_ = false;
    uint64_t playAt_ = 0;
    int eventCSeq_ = 0;
    uint32_t timeoutMs_ = 0;  // receive time-out now set on the socket
};

}  // namespace

void RunRtspConnection(Device::Impl* impl, SocketHandle s) {
    {
        RtspConnection connection(impl, s);
        connection.Run();
    }
    impl->sockets.Close(s);
}

}  // namespace fluxmere::device
