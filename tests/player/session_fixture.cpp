#include "tests/player/session_fixture.h"

#include <cmath>
#include <cstring>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "platform/thread.h"
#include "player/player_session.h"

#ifndef _WIN32
#include "device/device_arguments.h"
#endif

namespace fluxmere::testing {

bool TestDevice::Start(const std::string& address, const std::vector<std::string>& flags) {
    std::vector<std::string> arguments = {"--address", address, "--no-http"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
#ifndef _WIN32
    std::vector<const char*> argv = {"fluxmere-device"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    device::ProgramOptions options;
    if (!device::ParseDeviceArguments(static_cast<int>(argv.size()), argv.data(), &options,
                                      &error_)) {
        return false;
    }
    device_.reset(new device::Device(options.device));
    if (!device_->Start()) {
        error_ = device_->error();
        return false;
    }
    return true;
#else
    if (!process_.Start(arguments)) {
        error_ = process_.error();
        return false;
    }
    return true;
#endif
}

void TestDevice::Stop() {
#ifndef _WIN32
    if (device_)
        device_->Stop();
#else
    if (process_.running())
        process_.Stop();
#endif
}

ConnectionProbe::ConnectionProbe(uint32_t address) : address_(address) {
    platform::SocketHandle s = platform::CreateTcpSocket();
    platform::SetReuseAddress(s, true);
    if (platform::BindSocket(s, address, kRtspPort) && platform::ListenSocket(s, 8)) {
        listener_ = s;
    } else {
        platform::CloseSocket(s);
    }
}

ConnectionProbe::~ConnectionProbe() {
    if (listener_ != platform::kInvalidSocket)
        platform::CloseSocket(listener_);
}

bool ConnectionProbe::NobodyConnected() {
    platform::SocketHandle probe = platform::CreateTcpSocket();
    const char marker[] = "probe";
    bool first = false;
    if (platform::ConnectSocket(probe, address_, kRtspPort) &&
        platform::SendAll(probe, marker, sizeof marker)) {
        platform::SocketHandle accepted = platform::AcceptSocket(listener_);
        platform::SetRecvTimeout(accepted, 5000);
        char got[sizeof marker] = {};
        int have = 0;
        while (have < static_cast<int>(sizeof got)) {
            const int n = platform::RecvSocket(accepted, got + have, sizeof got - have);
            if (n <= 0)
                break;
            have += n;
        }
        first = have == static_cast<int>(sizeof got) && std::memcmp(got, marker, sizeof got) == 0;
        platform::CloseSocket(accepted);
    }
    platform::CloseSocket(probe);
    return first;
}

namespace {

std::string Base64(const uint8_t* data, size_t size) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t a = data[i];
        const uint32_t b = i + 1 < size ? data[i + 1] : 0;
        const uint32_t c = i + 2 < size ? data[i + 2] : 0;
        const uint32_t group = a << 16 | b << 8 | c;
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += i + 1 < size ? kAlphabet[group >> 6 & 63] : '=';
        text += i + 2 < size ? kAlphabet[group & 63] : '=';
    }
    return text;
}

}  // namespace

ScriptedRtspPeer::ScriptedRtspPeer(uint32_t address, int width, int height, int mediaPort)
    : mediaPort_(mediaPort) {
    CKelo stream;
    stream.version = 1;
    CKeloTrack track;
    track.mediaKind = kKindVideo;
    track.codecCode = kCodecMjpa;
    track.width = static_cast<uint32_t>(width);
    track.height = static_cast<uint32_t>(height);
    stream.tracks.push_back(track);
    std::vector<uint8_t> description(8 + StreamHeaderSize(stream));
    WriteStreamHeader(stream, description.data() + 8, description.size() - 8);
    sdp_ = "v=0\r\na=pgmpu:data:application/kelo;base64," +
           Base64(description.data(), description.size()) + "\r\nm=video 0 RTP/AVP 96\r\n";

    platform::SocketHandle s = platform::CreateTcpSocket();
    platform::SetReuseAddress(s, true);
    if (platform::BindSocket(s, address, kRtspPort) && platform::ListenSocket(s, 4)) {
        listener_ = s;
        thread_.Start(&ScriptedRtspPeer::Entry, this);
    } else {
        platform::CloseSocket(s);
    }
}

ScriptedRtspPeer::~ScriptedRtspPeer() {
    if (listener_ != platform::kInvalidSocket)
        platform::CloseSocket(listener_);
    thread_.Join(platform::kInfinite);
}

void ScriptedRtspPeer::Entry(void* context) {
    static_cast<ScriptedRtspPeer*>(context)->Serve();
}

void ScriptedRtspPeer::Serve() {
    platform::SocketHandle connection = platform::AcceptSocket(listener_);
    if (connection == platform::kInvalidSocket)
        return;
    platform::SetRecvTimeout(connection, 20000);  // bounds the peer's life if the viewer hangs
    std::string pending;
    char chunk[4096];
    for (;;) {
        const size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            const int n = platform::RecvSocket(connection, chunk, sizeof chunk);
            if (n <= 0)
                break;
            pending.append(chunk, static_cast<size_t>(n));
            continue;
        }
        const std::string request = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        const std::string method = request.substr(0, request.find(' '));
        std::string cseq = "0";
        const size_t at = request.find("CSeq: ");
        if (at != std::string::npos)
            cseq = request.substr(at + 6, request.find('\r', at) - at - 6);
        {
            std::lock_guard<std::mutex> hold(lock_);
            methods_.push_back(method);
        }
        std::string reply = "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\n";
        if (method == "DESCRIBE") {
            reply += "Content-Length: " + std::to_string(sdp_.size()) + "\r\n\r\n" + sdp_;
        } else if (method == "SETUP") {
            reply += "Transport: TCP/RTP/AVP;unicast;server_port=" + std::to_string(mediaPort_) +
                     "\r\n\r\n";
        } else {
            reply += "Session: 12345678\r\n\r\n";
        }
        if (!platform::SendAll(connection, reply.data(), static_cast<int>(reply.size())))
            break;
    }
    platform::CloseSocket(connection);
}

std::vector<std::string> ScriptedRtspPeer::Methods() {
    thread_.Join(30000);
    std::lock_guard<std::mutex> hold(lock_);
    return methods_;
}

void StatusRecorder::Invalidate(const PlayerRect*) {
    std::lock_guard<std::mutex> hold(lock_);
    ++invalidations_;
    if (session_ == nullptr)
        return;
    const int32_t status = session_->Status();  // registryLock is held: no change meanwhile
    if (statuses_.empty() || statuses_.back() != status)
        statuses_.push_back(status);
}

std::vector<int32_t> StatusRecorder::Statuses() const {
    std::lock_guard<std::mutex> hold(lock_);
    return statuses_;
}

int StatusRecorder::Invalidations() const {
    std::lock_guard<std::mutex> hold(lock_);
    return invalidations_;
}

bool WaitForStatus(const CPlayerSession& session, PlayerStatus status, uint32_t limitMs) {
    const uint64_t end = platform::MonotonicMs() + limitMs;
    while (session.Status() != static_cast<int32_t>(status)) {
        if (platform::MonotonicMs() >= end)
            return false;
        platform::SleepMs(10);
    }
    return true;
}

bool WaitForRecorded(const StatusRecorder& recorder, size_t count, uint32_t limitMs) {
    const uint64_t end = platform::MonotonicMs() + limitMs;
    while (recorder.Statuses().size() < count) {
        if (platform::MonotonicMs() >= end)
            return false;
        platform::SleepMs(10);
    }
    return true;
}

double PsnrBgrAgainstRgb(const RenderedPicture& picture, const uint8_t* rgb) {
    double squares = 0;
    for (int y = 0; y < picture.height; ++y) {
        const uint8_t* row = picture.pixels + static_cast<size_t>(y) * picture.stride;
        const uint8_t* expected = rgb + static_cast<size_t>(y) * picture.width * 3;
        for (int x = 0; x < picture.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(row[3 * x + 2 - c]) - expected[3 * x + c];
                squares += d * d;
            }
        }
    }
    const double mse = squares / (3.0 * picture.width * picture.height);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace fluxmere::testing
