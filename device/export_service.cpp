// The clip export on port 80: "GET /command.cgi?stream&kelo&..." answered with a chunked clip,
// after as many "not ready" replies as the device was told to give.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "device/clip.h"
#include "device/device_internal.h"

namespace fluxmere::device {

using platform::SocketHandle;

namespace {

constexpr char kExportCommand[] = "GET /command.cgi?stream&kelo&";

class ClipSender {
public:
    ClipSender(Device::Impl* impl, SocketHandle s) : impl_(impl), socket_(s) {}

    // Sends the body; true when the whole clip and the closing zero-size chunk went out.
    bool SendBody() {
        const DeviceOptions& o = impl_->options;
        ClipSource clip(o.clipName, o.clipBytes, o.clipSeed);
        ChunkSizer sizer(o.clipSeed);
        std::vector<uint8_t> chunk(16 + 200 * 1024 + 2);
        bool stalled = false;
        start_ = platform::MonotonicMs();
        while (clip.remaining() > 0) {
            const size_t size =
                static_cast<size_t>(std::min<uint64_t>(sizer.Next(), clip.remaining()));
            int line = std::snprintf(reinterpret_cast<char*>(chunk.data()), 16, "%zx\r\n", size);
            clip.Read(chunk.data() + line, size);
            std::memcpy(chunk.data() + line + size, "\r\n", 2);
            size_t length = line + size + 2;
            // An early close cuts the body inside a chunk, as a broken transfer would.
            const bool cut = o.closeAfterBytes != 0 && clipSent_ + size >= o.closeAfterBytes;
            if (cut) {
                length = line + static_cast<size_t>(o.closeAfterBytes - clipSent_);
            }
            if (!SendPaced(chunk.data(), length)) {
                return false;
            }
            const uint64_t clipBytes = cut ? o.closeAfterBytes - clipSent_ : size;
            clipSent_ += clipBytes;
            impl_->AddClipBytes(clipBytes);
            if (cut) {
                return false;
            }
            if (o.bodyStallMs > 0 && !stalled && clipSent_ >= o.stallAfterBytes) {
                stalled = true;
                if (impl_->stopping.Wait(static_cast<uint32_t>(o.bodyStallMs)) ==
                    platform::WaitResult::Signaled) {
                    return false;
                }
                start_ += static_cast<uint64_t>(o.bodyStallMs);
            }
        }
        return SendPaced(reinterpret_cast<const uint8_t*>("0\r\n\r\n"), 5);
    }

private:
    // Without a rate: one send. With one: pieces of 4 KiB, each sent when the rate allows.
    bool SendPaced(const uint8_t* data, size_t length) {
        const uint32_t rate = impl_->options.bodyRate;
        if (rate == 0) {
            return platform::SendAll(socket_, data, static_cast<int>(length));
        }
        while (length > 0) {
            const size_t piece = std::min<size_t>(length, 4096);
            const uint64_t due = start_ + wireSent_ * 1000 / rate;
            const uint64_t now = platform::MonotonicMs();
            if (due > now && impl_->stopping.Wait(static_cast<uint32_t>(due - now)) ==
                                 platform::WaitResult::Signaled) {
                return false;
            }
            if (!platform::SendAll(socket_, data, static_cast<int>(piece))) {
                return false;
            }
            data += piece;
            length -= piece;
            wireSent_ += piece;
        }
        return true;
    }

    Device::Impl* impl_;
    SocketHandle socket_;
    uint64_t start_ = 0;
    uint64_t wireSent_ = 0;
    uint64_t clipSent_ = 0;
};

bool SendText(SocketHandle s, const std::string& text) {
    return platform::SendAll(s, text.data(), static_cast<int>(text.size()));
}

// Returns whether the clip went out whole.
bool Serve(Device::Impl* impl, SocketHandle s) {
    RequestReader reader(s);
    std::string request;
    if (!reader.Next(&request)) {
        return false;
    }
    const std::string line = FirstLine(request);
    impl->LogHttp(line);
    if (line.compare(0, sizeof kExportCommand - 1, kExportCommand) != 0) {
        SendText(s, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return false;
    }
    impl->Count(&DeviceCounters::exportRequests);
    bool notReady = false;
    {
        platform::ScopedLock hold(impl->lock);
        if (impl->notReadyLeft > 0) {
            --impl->notReadyLeft;
            notReady = true;
        }
    }
    if (notReady) {
        impl->Count(&DeviceCounters::notReadyReplies);
        const std::string body = "<?xml version=\"1.0\"?><status>preparing</status>";
        SendText(s, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return false;
    }
    if (impl->options.endlessHeader) {
        SendEndlessHeader(impl, s, "HTTP/1.1 200 OK\r\nX-Filler: ");
        return false;
    }
    impl->Count(&DeviceCounters::clipsStarted);
    if (!SendText(s,
                  "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Disposition: attachment; filename=\"" +
                      impl->options.clipName +
                      ".kelo\"\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n")) {
        return false;
    }
    ClipSender sender(impl, s);
    return sender.SendBody();
}

}  // namespace

void RunHttpConnection(Device::Impl* impl, SocketHandle s) {
    impl->Count(&DeviceCounters::httpConnections);
    const bool complete = Serve(impl, s);
    impl->sockets.Close(s);  // the device ends every transfer by closing
    if (complete) {
        impl->Count(&DeviceCounters::clipsCompleted);
    }
}

}  // namespace fluxmere::device
