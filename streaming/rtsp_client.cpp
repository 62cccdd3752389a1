#include "streaming/rtsp_client.h"

#include <cstdio>
#include <cstring>

#include "streaming/rtsp_text.h"

namespace fluxmere {

namespace {

using rtsp_text::Find;
using rtsp_text::ParseDecimal;

constexpr char kDescribeFormat[] =
    "DESCRIBE rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nAccept: application/sdp\r\n\r\n";
constexpr char kSetupFormat[] =
    "SETUP rtsp://%s/%s/%s RTSP/1.0\r\nCSeq: %d\r\nTransport: "
    "%s;unicast;queue=%d;client_port=%d\r\n\r\n";
constexpr char kPlayRangeFormat[] =
    "PLAY rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: 12345678\r\nRange: "
    "smpte=%02d:%02d:%02d:%02d-%02d:%02d:%02d:%02d\r\n\r\n";
constexpr char kPlayOpenStartFormat[] =
    "PLAY rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: 12345678\r\nRange: "
    "smpte=-%02d:%02d:%02d:%02d\r\n\r\n";
constexpr char kTeardownFormat[] =
    "TEARDOWN rtsp://%s/%s RTSP/1.0\r\nCSeq: %d\r\nSession: 12345678\r\n\r\n";

constexpr char kAudioMarker[] = "m=audio";
constexpr char kHeaderMarker[] = "a=pgmpu:data:application/kelo;base64,";
constexpr char kEventMarker[] = "Event-Type: 3";
constexpr char kEndOfStream[] = "End of stream";
constexpr char kError[] = "Error";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;  // "=" and every other character: zero bits, not counted
}

// The RTSP connection as the reply reader's byte source.
class SocketReplySource : public IReplySource {
public:
    explicit SocketReplySource(platform::SocketHandle socket) : socket_(socket) {}
    int Receive(char* buffer, int32_t length) override {
        return platform::RecvSocket(socket_, buffer, length);
    }

private:
    platform::SocketHandle socket_;
};

}  // namespace

// Holds the reader token for a scope; without wait it takes the token only when it is free.
class RTSPReaderTurn {
public:
    RTSPReaderTurn(CRTSPClient& client, bool wait)
        : client_(client),
          held_(client.readerToken_.Wait(wait ? platform::kInfinite : 0) ==
                platform::WaitResult::Signaled) {
        if (held_)
            client_.reading_.store(true);
    }
    ~RTSPReaderTurn() {
        if (!held_)
            return;
        client_.reading_.store(false);
        client_.readerToken_.Release();
    }
    RTSPReaderTurn(const RTSPReaderTurn&) = delete;
    RTSPReaderTurn& operator=(const RTSPReaderTurn&) = delete;
    bool held() const { return held_; }

private:
    CRTSPClient& client_;
    bool held_;
};

CRTSPCommon::~CRTSPCommon() = default;

CRTSPClient::CRTSPClient()
    : receiveBuffer_(new char[kBufferSize]),
      requestBuffer_(new char[kBufferSize]),
      readerToken_(1, 1) {}

CRTSPClient::~CRTSPClient() {
    delete[] receiveBuffer_;
    delete[] requestBuffer_;
}

void CRTSPClient::Attach(platform::SocketHandle socket) {
    platform::ScopedLock hold(sendLock_);
    if (socket != socket_)
        replies_.Forget();  // bytes kept from another connection
    socket_ = socket;
}

void CRTSPClient::SetReceiveTimeout(uint32_t ms) {
    platform::ScopedLock hold(sendLock_);
    if (socket_ != platform::kInvalidSocket)
        platform::SetRecvTimeout(socket_, ms);
}

bool CRTSPClient::CloseConnection() {
    platform::ScopedLock hold(sendLock_);
    if (socket_ == platform::kInvalidSocket)
        return false;
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
    return true;
}

int32_t CRTSPClient::NextCSeq() {
    return cseq_++;
}

int32_t CRTSPClient::FormatDescribe(char* output, int32_t outputSize) {
    platform::ScopedLock hold(sendLock_);
    if (output == nullptr || outputSize <= 0)
        return -1;
    const int n = std::snprintf(output, static_cast<size_t>(outputSize), kDescribeFormat, host_,
                                path_, cseq_);
    if (n < 0 || n >= outputSize)
        return -1;
    NextCSeq();
    return n;
}

int32_t CRTSPClient::FormatSetup(const char* trackName, char* output, int32_t clientPort, bool tcp,
                                 int32_t queue, int32_t outputSize) {
    platform::ScopedLock hold(sendLock_);
    if (trackName == nullptr || output == nullptr || outputSize <= 0)
        return -1;
    const int n =
        std::snprintf(output, static_cast<size_t>(outputSize), kSetupFormat, host_, path_,
                      trackName, cseq_, tcp ? "TCP/RTP/AVP" : "RTP/AVP/UDP", queue, clientPort);
    if (n < 0 || n >= outputSize)
        return -1;
    NextCSeq();
    return n;
}

bool CRTSPClient::SendRequest(int32_t length) {
    // The result is not examined: a lost connection shows up when the reply is read.
    if (length < 0 || socket_ == platform::kInvalidSocket)
        return false;
    platform::SendAll(socket_, requestBuffer_, length);
    return true;
}

bool CRTSPClient::SendDescribe() {
    platform::ScopedLock hold(sendLock_);
    return SendRequest(FormatDescribe(requestBuffer_, kBufferSize));
}

bool CRTSPClient::SendSetup(const char* trackName, int32_t clientPort, bool tcp, int32_t queue) {
    platform::ScopedLock hold(sendLock_);
    return SendRequest(FormatSetup(trackName, requestBuffer_, clientPort, tcp, queue, kBufferSize));
}

void CRTSPClient::SendTeardown() {
    platform::ScopedLock hold(sendLock_);
    const int n = std::snprintf(requestBuffer_, kBufferSize, kTeardownFormat, host_, path_, cseq_);
    if (n < 0 || n >= kBufferSize)
        return;
    NextCSeq();
    SendRequest(n);
}

RtspReply CRTSPClient::ReadReply(char* buffer, int32_t capacity) {
    platform::SocketHandle socket;
    {
        platform::ScopedLock hold(sendLock_);
        socket = socket_;
    }
    SocketReplySource source(socket);
    return replies_.Read(source, buffer, capacity);
}

int32_t CRTSPClient::ReadResponse(char* buffer, int32_t* headerLength, int32_t* contentLength,
                                  int32_t capacity) {
    RTSPReaderTurn turn(*this, true);
    const RtspReply reply = ReadReply(buffer, capacity);
    if (reply.status != 0) {
        if (headerLength != nullptr)
            *headerLength = reply.headerLength;
        if (contentLength != nullptr)
            *contentLength = reply.contentLength;
    }
    return reply.status;
}

bool CRTSPClient::FindServerPort(const char* buffer, int32_t headerLength, int32_t* port) {
    if (buffer == nullptr)
        return false;
    constexpr char kServerPort[] = "server_p";  // the first 8 characters of "server_port="
    const int32_t at = Find(buffer, headerLength, kServerPort);
    if (at < 0)
        return false;
    bool digits = false;
    const int32_t value =
        at + 12 < headerLength ? ParseDecimal(buffer + at + 12, buffer + headerLength, &digits) : 0;
    if (!digits)
        return false;
    if (port != nullptr)
        *port = value;
    return true;
}

int32_t CRTSPClient::DecodeBase64(const char* text, uint8_t* output, int32_t textLength,
                                  int32_t outputSize) {
    if (text == nullptr)
        return 0;
    if (output == nullptr)
        outputSize = 0;
    int32_t written = 0;
    for (int32_t group = 0; group < textLength; group += 4) {
        uint32_t bits = 0;
        int counted = 0;
        for (int k = 0; k < 4; ++k) {
            const int32_t at = group + k;
            const int value = at < textLength ? Base64Value(text[at]) : -1;
            if (value < 0)
                continue;
            bits |= static_cast<uint32_t>(value) << (18 - 6 * k);
            ++counted;
        }
        for (int b = 0; b < counted - 1; ++b) {
            if (written >= outputSize)
                return written;
            output[written++] = static_cast<uint8_t>(bits >> (16 - 8 * b));
        }
    }
    return written;
}

int32_t CRTSPClient::DecodedBase64Size(const char* text, int32_t textLength) {
    if (text == nullptr)
        return 0;
    int32_t size = 0;
    for (int32_t group = 0; group < textLength; group += 4) {
        int counted = 0;
        for (int32_t at = group; at < group + 4 && at < textLength; ++at) {
            if (Base64Value(text[at]) >= 0)
                ++counted;
        }
        if (counted > 1)
            size += counted - 1;
    }
    return size;
}

int32_t CRTSPClient::Open(const char* host, const char* path, platform::SocketHandle socket,
                          const RTSPOpenOptions& options) {
    // A longer host or path would be cut into a request that names another stream: refused.
    if (host == nullptr || path == nullptr || std::strlen(host) >= kNameSize ||
        std::strlen(path) >= kNameSize) {
        return -1;
    }
    {
        platform::ScopedLock hold(sendLock_);
        if (socket != platform::kInvalidSocket && socket != socket_) {
            replies_.Forget();
            socket_ = socket;
        }
        std::strcpy(host_, host);
        std::strcpy(path_, path);
    }

    RTSPReaderTurn turn(*this, true);
    SendDescribe();
    const RtspReply describe = ReadReply(receiveBuffer_, kBufferSize);
    if (describe.status != 200)
        return -1;

    bool audio = false;
    int32_t audioClientPort = options.audioClientPort;
    if (describe.contentLength != 0) {
        const char* body = receiveBuffer_ + describe.headerLength + 2;
        const int32_t bodyLength = describe.contentLength;
        if (Find(body, bodyLength, kAudioMarker) >= 0) {
            audio = true;
        } else {
            audioClientPort = 0;
        }
        if (options.headerBuffer != nullptr && options.headerLength != nullptr) {
            const int32_t at = Find(body, bodyLength, kHeaderMarker);
            if (at >= 0) {
                const char* text = body + at + (sizeof(kHeaderMarker) - 1);
                const int32_t available = static_cast<int32_t>(body + bodyLength - text);
                const int32_t end = Find(text, available, "\r\n");
                const int32_t textLength = end >= 0 ? end : available;
                // A truncated stream header would be parsed as another stream: refused.
                if (DecodedBase64Size(text, textLength) > options.headerCapacity)
                    return -1;
                *options.headerLength =
                    DecodeBase64(text, options.headerBuffer, textLength, options.headerCapacity);
            }
        }
    }
    if (options.hasAudio != nullptr)
        *options.hasAudio = audio;

    struct Track {
        const char* name;
        int32_t clientPort;
        int32_t* serverPort;
    };
    const Track tracks[] = {{"video", options.videoClientPort, options.videoServerPort},
                            {"audio", audioClientPort, options.audioServerPort},
                            {"status", options.statusClientPort, options.statusServerPort}};
    for (const Track& track : tracks) {
        if (track.clientPort == 0)
            continue;
        SendSetup(track.name, track.clientPort, options.tcp, options.queue);
        const RtspReply setup = ReadReply(receiveBuffer_, kBufferSize);
        if (setup.status != 200)
            return setup.status;
        int32_t port = 0;
        if (!FindServerPort(receiveBuffer_, setup.headerLength, &port))
            return -1;
        if (track.serverPort != nullptr)
            *track.serverPort = port;
    }
    return 0;
}

bool CRTSPClient::Play(const RTSPPlayRange& range) {
    const SmpteTime& start = range.start;
    const SmpteTime& end = range.end;
    {
        platform::ScopedLock hold(sendLock_);
        const int n =
            start.hours == -1
                ? std::snprintf(requestBuffer_, kBufferSize, kPlayOpenStartFormat, host_, path_,
                                cseq_, end.hours, end.minutes, end.seconds, end.frames)
                : std::snprintf(requestBuffer_, kBufferSize, kPlayRangeFormat, host_, path_, cseq_,
                                start.hours, start.minutes, start.seconds, start.frames, end.hours,
                                end.minutes, end.seconds, end.frames);
        if (n < 0 || n >= kBufferSize)
            return false;
        NextCSeq();
        SendRequest(n);
    }
    RTSPReaderTurn turn(*this, true);
    return ReadReply(receiveBuffer_, kBufferSize).status == 200;
}

bool CRTSPClient::Teardown(bool wait) {
    if (!wait) {
        SendTeardown();
        return true;
    }
    // Who reads the reply is settled before the request goes out: when another thread holds
    // the token, that reader (or the next) takes the reply; otherwise no one else can read
    // until this reply has been read here.
    RTSPReaderTurn turn(*this, false);
    SendTeardown();
    if (!turn.held())
        return true;
    return ReadReply(receiveBuffer_, kBufferSize).status == 200;
}

const char* CRTSPClient::WaitForEvent() {
    RTSPReaderTurn turn(*this, true);
    const RtspReply reply = ReadReply(receiveBuffer_, kBufferSize);
    if (reply.status == 200)
        return nullptr;
    const int32_t at = Find(receiveBuffer_, reply.received, kEventMarker);
    if (at < 0)
        return kEndOfStream;
    // The text follows the marker's line and the blank line: 13 + 2 + 2 characters on.
    const int32_t start = at + 17;
    int32_t cr = start;
    while (cr < reply.received && receiveBuffer_[cr] != '\r')
        ++cr;
    if (cr >= reply.received || cr - start >= 64)
        return kError;
    receiveBuffer_[cr] = '\0';
    return receiveBuffer_ + start;
}

}  // namespace fluxmere
