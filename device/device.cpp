#include "device/device.h"

#include <cstring>

#include "device/device_internal.h"
#include "device/media_frames.h"

namespace fluxmere::device {

using platform::kInvalidSocket;
using platform::SocketHandle;

namespace {

constexpr size_t kLogLimit = 256;

void Remember(std::deque<std::string>& log, const std::string& entry) {
    if (log.size() == kLogLimit) {
        log.pop_front();
    }
    log.push_back(entry);
}

void AcceptLoop(Device::Impl* impl, SocketHandle listener,
                void (*entry)(Device::Impl*, SocketHandle)) {
    for (;;) {
        SocketHandle s = platform::AcceptSocket(listener);
        if (s == kInvalidSocket) {
            if (impl->stopping.IsSet()) {
                return;
            }
            platform::SleepMs(10);  // a transient failure (e.g. out of descriptors)
            continue;
        }
        platform::SetNoDelay(s, true);
        impl->Dispatch(s, entry);
    }
}

void RtspAcceptEntry(void* context) {
    auto* impl = static_cast<Device::Impl*>(context);
    if (impl->options.acceptNothing) {
        // Connections wait in the listener's backlog: connect succeeds, nothing ever answers.
        impl->stopping.Wait(platform::kInfinite);
        return;
    }
    AcceptLoop(impl, impl->rtspListener, RunRtspConnection);
}

void HttpAcceptEntry(void* context) {
    auto* impl = static_cast<Device::Impl*>(context);
    AcceptLoop(impl, impl->httpListener, RunHttpConnection);
}

void SlotEntry(void* context) {
    auto* slot = static_cast<Device::Impl::Slot*>(context);
    slot->entry(slot->impl, slot->socket);
}

bool Listen(Device::Impl* impl, uint16_t port, SocketHandle* listener, uint16_t* boundPort,
            std::string* error) {
    SocketHandle s = platform::CreateTcpSocket();
    if (s == kInvalidSocket) {
        *error = "cannot create a socket";
        return false;
    }
    platform::SetReuseAddress(s, true);
    if (!platform::BindSocket(s, impl->address, port) || !platform::ListenSocket(s, 16) ||
        !platform::GetLocalPort(s, boundPort)) {
        const int code = platform::LastSocketError();
        char reason[128];
        platform::SocketErrorText(code, reason, sizeof reason);
        *error =
            "cannot listen on " + impl->addressText + ":" + std::to_string(port) + ": " + reason;
        if (code == platform::kWsaEAcces)  // a port below 1024 without the right
            *error += " (ports 554 and 80 need root or CAP_NET_BIND_SERVICE)";
        platform::CloseSocket(s);
        return false;
    }
    impl->sockets.Add(s);
    *listener = s;
    return true;
}

}  // namespace

bool SocketRegistry::Add(SocketHandle s) {
    platform::ScopedLock hold(lock_);
    if (stopping_ || count_ == kCapacity) {
        return false;
    }
    sockets_[count_++] = s;
    return true;
}

void SocketRegistry::Close(SocketHandle& s) {
    Remove(s, false);
}

void SocketRegistry::Abort(SocketHandle& s) {
    Remove(s, true);
}

void SocketRegistry::Remove(SocketHandle& s, bool reset) {
    if (s == kInvalidSocket) {
        return;
    }
    platform::ScopedLock hold(lock_);
    for (int i = 0; i < count_; ++i) {
        if (sockets_[i] == s) {
            sockets_[i] = sockets_[--count_];
            break;
        }
    }
    if (reset) {
        platform::AbortSocket(s);
    } else {
        platform::CloseSocket(s);
    }
    s = kInvalidSocket;
}

void SocketRegistry::ShutdownAll() {
    platform::ScopedLock hold(lock_);
    stopping_ = true;
    for (int i = 0; i < count_; ++i) {
        // Closing wakes accept, recv and send alike; the owner's later Close finds it gone.
        platform::CloseSocket(sockets_[i]);
    }
    count_ = 0;
}

bool RequestReader::Next(std::string* header) {
    timedOut_ = false;
    for (;;) {
        const char* end = nullptr;
        for (size_t i = 3; i < held_; ++i) {
            if (std::memcmp(buffer_ + i - 3, "\r\n\r\n", 4) == 0) {
                end = buffer_ + i + 1;
                break;
            }
        }
        if (end != nullptr) {
            const size_t length = static_cast<size_t>(end - buffer_);
            header->assign(buffer_, length);
            std::memmove(buffer_, end, held_ - length);
            held_ -= length;
            return true;
        }
        if (held_ == sizeof buffer_) {
            return false;
        }
        int got = platform::RecvSocket(socket_, buffer_ + held_,
                                       static_cast<int>(sizeof buffer_ - held_));
        if (got <= 0) {
            timedOut_ = got < 0 && platform::LastSocketError() == platform::kWsaETimedOut;
            return false;
        }
        held_ += static_cast<size_t>(got);
    }
}

std::string FirstLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

std::string HeaderValue(const std::string& request, const char* name) {
    const std::string key = std::string("\r\n") + name + ":";
    size_t at = request.find(key);
    if (at == std::string::npos) {
        return std::string();
    }
    size_t start = request.find_first_not_of(' ', at + key.size());
    size_t end = request.find("\r\n", start);
    return request.substr(start, end - start);
}

void SendEndlessHeader(Device::Impl* impl, SocketHandle s, const std::string& prefix) {
    if (!platform::SendAll(s, prefix.data(), static_cast<int>(prefix.size()))) {
        return;
    }
    char filler[4096];
    std::memset(filler, 'a', sizeof filler);
    for (int sent = 0; sent < 4096 && !impl->stopping.IsSet(); ++sent) {
        if (!platform::SendAll(s, filler, sizeof filler)) {
            return;
        }
    }
}

Device::Impl::Impl(const DeviceOptions& o) : options(o), addressText(o.address) {
    address = platform::InetAddr(o.address.c_str());
    notReadyLeft = o.notReady;
    for (Slot& slot : slots) {
        slot.impl = this;
    }
}

bool Device::Impl::Dispatch(SocketHandle s, void (*entry)(Impl*, SocketHandle)) {
    if (!sockets.Add(s)) {
        platform::CloseSocket(s);
        return false;
    }
    for (Slot& slot : slots) {
        if (slot.thread.IsRunning()) {
            continue;
        }
        slot.thread.Join(platform::kInfinite);  // reaps the finished thread
        slot.socket = s;
        slot.entry = entry;
        if (slot.thread.Start(SlotEntry, &slot)) {
            return true;
        }
    }
    sockets.Close(s);
    return false;
}

void Device::Impl::Count(int DeviceCounters::*field, int delta) {
    platform::ScopedLock hold(lock);
    counters.*field += delta;
}

void Device::Impl::AddClipBytes(uint64_t bytes) {
    platform::ScopedLock hold(lock);
    counters.clipBytesSent += bytes;
}

void Device::Impl::LogRtsp(const std::string& request) {
    platform::ScopedLock hold(lock);
    Remember(rtspLog, request);
}

void Device::Impl::LogHttp(const std::string& requestLine) {
    platform::ScopedLock hold(lock);
    Remember(httpLog, requestLine);
}

Device::Device(DeviceOptions options) : options_(std::move(options)) {}

Device::~Device() {
    Stop();
}

bool Device::Start() {
    if (impl_) {
        error_ = "already started";
        return false;
    }
    platform::InitSockets();
    impl_ = std::make_unique<Impl>(options_);
    if (impl_->address == platform::kInaddrNone) {
        error_ = "not a dotted IPv4 address: " + options_.address;
        impl_.reset();
        return false;
    }
    if (options_.serveRtsp) {
        impl_->scriptedFrames = BuildScriptedFrames(options_);
    }
    bool ok = (!options_.serveRtsp ||
               Listen(impl_.get(), options_.rtspPort, &impl_->rtspListener, &rtspPort_, &error_)) &&
              (!options_.serveHttp ||
               Listen(impl_.get(), options_.httpPort, &impl_->httpListener, &httpPort_, &error_));
    if (ok && options_.serveRtsp) {
        ok = impl_->rtspAcceptThread.Start(RtspAcceptEntry, impl_.get());
    }
    if (ok && options_.serveHttp) {
        ok = impl_->httpAcceptThread.Start(HttpAcceptEntry, impl_.get());
    }
    if (!ok) {
        if (error_.empty()) {
            error_ = "cannot start a thread";
        }
        Stop();
        return false;
    }
    return true;
}

void Device::Stop() {
    if (!impl_) {
        return;
    }
    impl_->stopping.Set();
    impl_->sockets.ShutdownAll();
    impl_->rtspAcceptThread.Join(platform::kInfinite);
    impl_->httpAcceptThread.Join(platform::kInfinite);
    for (Impl::Slot& slot : impl_->slots) {
        slot.thread.Join(platform::kInfinite);
    }
    // What happened stays readable after the stop.
    finalCounters_ = Counters();
    finalRtspLog_ = RtspRequests();
    finalHttpLog_ = HttpRequestLines();
    impl_.reset();
}

std::string Device::ReadyLine() const {
    auto endpoint = [this](bool on, uint16_t port) {
        return on ? options_.address + ":" + std::to_string(port) : std::string("off");
    };
    return "fluxmere-device ready rtsp=" + endpoint(options_.serveRtsp, rtspPort_) +
           " http=" + endpoint(options_.serveHttp, httpPort_);
}

DeviceCounters Device::Counters() const {
    if (!impl_) {
        return finalCounters_;
    }
    platform::ScopedLock hold(impl_->lock);
    return impl_->counters;
}

std::string Device::CountersText() const {
    const DeviceCounters c = Counters();
    const std::pair<const char*, uint64_t> fields[] = {
        {"rtspConnections", uint64_t(c.rtspConnections)},
        {"describes", uint64_t(c.describes)},
        {"setups", uint64_t(c.setups)},
        {"plays", uint64_t(c.plays)},
        {"teardowns", uint64_t(c.teardowns)},
        {"mediaConnections", uint64_t(c.mediaConnections)},
        {"framesSent", uint64_t(c.framesSent)},
        {"eventsSent", uint64_t(c.eventsSent)},
        {"httpConnections", uint64_t(c.httpConnections)},
        {"exportRequests", uint64_t(c.exportRequests)},
        {"notReadyReplies", uint64_t(c.notReadyReplies)},
        {"clipsStarted", uint64_t(c.clipsStarted)},
        {"clipsCompleted", uint64_t(c.clipsCompleted)},
        {"clipBytesSent", c.clipBytesSent},
        {"lastSetupClientPort", uint64_t(c.lastSetupClientPort)},
    };
    std::string text;
    for (const auto& [name, value] : fields) {
        text += (text.empty() ? "" : " ") + std::string(name) + "=" + std::to_string(value);
    }
    return text;
}

bool Device::WaitFor(const std::function<bool(const DeviceCounters&)>& condition,
                     uint32_t timeoutMs) const {
    const uint64_t deadline = platform::MonotonicMs() + timeoutMs;
    for (;;) {
        if (condition(Counters())) {
            return true;
        }
        if (platform::MonotonicMs() >= deadline) {
            return false;
        }
        platform::SleepMs(5);
    }
}

std::vector<std::string> Device::RtspRequestLines() const {
    std::vector<std::string> lines;
    for (const std::string& request : RtspRequests()) {
        lines.push_back(FirstLine(request));
    }
    return lines;
}

std::vector<std::string> Device::RtspRequests() const {
    if (!impl_) {
        return finalRtspLog_;
    }
    platform::ScopedLock hold(impl_->lock);
    return std::vector<std::string>(impl_->rtspLog.begin(), impl_->rtspLog.end());
}

std::vector<std::string> Device::HttpRequestLines() const {
    if (!impl_) {
        return finalHttpLog_;
    }
    platform::ScopedLock hold(impl_->lock);
    return std::vector<std::string>(impl_->httpLog.begin(), impl_->httpLog.end());
}

}  // namespace fluxmere::device
