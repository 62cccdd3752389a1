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
// Chunk extensions of HTTP/1.1, taken in turn by the size lines when the device uses them.
constexpr const char* kExtensions[] = {";q", " ;name=value", ";a=\"1\";b"};

class ClipSender {
public:
    ClipSender(Device::Impl* impl, SocketHandle s) : impl_(impl), socket_(s) {}

    // Sends the body; true when the whole clip (and the closing zero-size chunk, unless the
    // device is told to leave it out) went out. A reset (resetAfterBytes) sets reset().
    bool SendBody() {
        const DeviceOptions& o = impl_->options;
        ClipSource clip(o.clipName, o.clipBytes, o.clipSeed);
        ChunkSizer sizer(o.clipSeed);
        std::vector<uint8_t> chunk(32 + 200 * 1024 + 2);
        bool stalled = false;
        start_ = platform::MonotonicMs();
        const uint64_t cutAt = std::min(o.closeAfterBytes != 0 ? o.closeAfterBytes : UINT64_MAX,
                                        o.resetAfterBytes != 0 ? o.resetAfterBytes : UINT64_MAX);
        for (int index = 0; clip.remaining() > 0; ++index) {
            const size_t size =
                static_cast<size_t>(std::min<uint64_t>(sizer.Next(), clip.remaining()));
            int line = 0;
            if (!o.contentLengthBody) {
                line = std::snprintf(reinterpret_cast<char*>(chunk.data()), 32, "%zx%s\r\n", size,
                                     o.chunkExtensions ? kExtensions[index % 3] : "");
            }
            clip.Read(chunk.data() + line, size);
            size_t length = line + size;
            if (!o.contentLengthBody) {
                std::memcpy(chunk.data() + line + size, "\r\n", 2);
                length += 2;
            }
            // An early close or reset cuts the body inside a chunk, as a broken transfer would.
            const bool cut = clipSent_ + size >= cutAt;
            if (cut) {
                length = line + static_cast<size_t>(cutAt - clipSent_);
            }
            if (!SendPaced(chunk.data(), length)) {
                return false;
            }
            const uint64_t clipBytes = cut ? cutAt - clipSent_ : size;
            clipSent_ += clipBytes;
            impl_->AddClipBytes(clipBytes);
            if (cut) {
                reset_ = cutAt == o.resetAfterBytes;
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
        if (o.contentLengthBody || o.noLastChunk) {
            return true;
        }
        return SendPaced(reinterpret_cast<const uint8_t*>("0\r\n\r\n"), 5);
    }

    bool reset() const { return reset_; }

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
    bool reset_ = false;
};

// A reset discards what the receiver's system holds unread (Wine then even reports an orderly
// close), so a reset right after the send could end the body at the last whole chunk. The cut
// chunk's bytes are let reach the receiver first: the send queue drains (the peer acknowledged
// them, bounded by kResetDrainMs), then the receiver gets kResetPauseMs to read them.
void LetTheCutChunkArrive(Device::Impl* impl, SocketHandle s) {
    constexpr uint32_t kResetDrainMs = 2000;
    constexpr uint32_t kResetPauseMs = 300;
    const uint64_t start = platform::MonotonicMs();
    while (platform::UnsentBytes(s) > 0 && platform::MonotonicMs() - start < kResetDrainMs) {
        if (impl->stopping.Wait(5) == platform::WaitResult::Signaled) {
            return;
        }
    }
    impl->stopping.Wait(kResetPauseMs);
}

bool SendText(SocketHandle s, const std::string& text) {
    return platform::SendAll(s, text.data(), static_cast<int>(text.size()));
}

// Returns whether the clip went out whole.
bool Serve(Device::Impl* impl, SocketHandle& s) {
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
    const DeviceOptions& o = impl->options;
    if (o.exportStatus < 200 || o.exportStatus > 299) {
        // An error page, in chunked coding like a clip.
        const std::string page = "<html><body>No such clip</body></html>";
        char size[16];
        std::snprintf(size, sizeof size, "%zx", page.size());
        SendText(s, "HTTP/1.1 " + std::to_string(o.exportStatus) +
                        " Not Found\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n"
                        "Connection: close\r\n\r\n" +
                        size + "\r\n" + page + "\r\n0\r\n\r\n");
        return false;
    }
    impl->Count(&DeviceCounters::clipsStarted);
    const std::string framing = o.contentLengthBody
                                    ? "Content-Length: " + std::to_string(o.clipBytes)
                                    : std::string("Transfer-Encoding: chunked");
    if (!SendText(s,
                  "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                  "Content-Disposition: attachment; filename=\"" +
                      o.clipName + ".kelo\"\r\n" + framing + "\r\nConnection: close\r\n\r\n")) {
        return false;
    }
    ClipSender sender(impl, s);
    const bool complete = sender.SendBody();
    if (sender.reset()) {
        LetTheCutChunkArrive(impl, s);
        impl->sockets.Abort(s);
    }
    return complete;
}

}  // namespace

void RunHttpConnection(Device::Impl* impl, SocketHandle s) {
    impl->Count(&DeviceCounters::httpConnections);
    const bool complete = Serve(impl, s);
    impl->sockets.Close(s);  // the device ends every transfer by closing (unless it reset it)
    if (complete) {
        impl->Count(&DeviceCounters::clipsCompleted);
    }
}

}  // namespace fluxmere::device
