#include "tests/device/raw_client.h"

#include <cstdlib>
#include <cstring>

namespace fluxmere::testing {

RawConnection::~RawConnection() {
    Close();
}

bool RawConnection::Connect(const std::string& address, uint16_t port, uint32_t recvTimeoutMs) {
    platform::InitSockets();
    Close();
    socket_ = platform::CreateTcpSocket();
    if (socket_ == platform::kInvalidSocket) {
        return false;
    }
    platform::SetRecvTimeout(socket_, recvTimeoutMs);
    return platform::ConnectSocket(socket_, platform::InetAddr(address.c_str()), port);
}

void RawConnection::Close() {
    if (socket_ != platform::kInvalidSocket) {
        platform::CloseSocket(socket_);
        socket_ = platform::kInvalidSocket;
    }
    buffered_.clear();
}

bool RawConnection::Send(const std::string& text) {
    return platform::SendAll(socket_, text.data(), static_cast<int>(text.size()));
}

bool RawConnection::Fill() {
    char buffer[65536];
    lastRecv_ = platform::RecvSocket(socket_, buffer, sizeof buffer);
    if (lastRecv_ <= 0) {
        lastError_ = lastRecv_ < 0 ? platform::LastSocketError() : 0;
        return false;
    }
    buffered_.append(buffer, static_cast<size_t>(lastRecv_));
    return true;
}

bool RawConnection::ReadHeader(std::string* header, size_t maxBytes) {
    for (;;) {
        const size_t end = buffered_.find("\r\n\r\n");
        if (end != std::string::npos && end + 4 <= maxBytes) {
            *header = buffered_.substr(0, end + 4);
            buffered_.erase(0, end + 4);
            return true;
        }
        if (buffered_.size() >= maxBytes || !Fill()) {
            return false;
        }
    }
}

bool RawConnection::ReadExactly(size_t n, std::string* out) {
    while (buffered_.size() < n) {
        if (!Fill()) {
            return false;
        }
    }
    *out = buffered_.substr(0, n);
    buffered_.erase(0, n);
    return true;
}

bool RawConnection::ReadLine(std::string* line) {
    for (;;) {
        const size_t end = buffered_.find("\r\n");
        if (end != std::string::npos) {
            *line = buffered_.substr(0, end);
            buffered_.erase(0, end + 2);
            return true;
        }
        if (buffered_.size() > 64 || !Fill()) {
            return false;
        }
    }
}

int RawConnection::ReadRtspReply(std::string* header, std::string* body) {
    if (!ReadHeader(header)) {
        return 0;
    }
    const long length = HeaderNumber(*header, "Content-Length");
    body->clear();
    if (length > 0 && !ReadExactly(static_cast<size_t>(length), body)) {
        return 0;
    }
    const size_t blank = header->find(' ');
    return blank == std::string::npos ? 0 : std::atoi(header->c_str() + blank + 1);
}

bool RawConnection::ReadChunk(std::string* data, size_t* announcedSize, size_t maxSize) {
    std::string line;
    if (!ReadLine(&line) || line.empty()) {
        return false;
    }
    lastSizeLine_ = line;
    char* end = nullptr;
    const unsigned long size = std::strtoul(line.c_str(), &end, 16);
    while (*end == ' ' || *end == '\t') {
        ++end;
    }
    if (*end != '\0' && *end != ';') {  // extensions follow a semicolon
        return false;
    }
    if (announcedSize != nullptr) {
        *announcedSize = size;
    }
    if (size > maxSize) {
        return false;
    }
    std::string crlf;
    if (!ReadExactly(size, data) || !ReadExactly(2, &crlf) || crlf != "\r\n") {
        return false;
    }
    return true;
}

bool RawConnection::PeerClosed() {
    if (!buffered_.empty()) {
        return false;
    }
    return !Fill() && lastRecv_ == 0;
}

bool RawConnection::SilentUntilTimeout() {
    if (!buffered_.empty() || Fill()) {
        return false;
    }
    return lastRecv_ < 0 && platform::LastSocketError() == platform::kWsaETimedOut;
}

long HeaderNumber(const std::string& header, const std::string& name) {
    const size_t at = header.find("\r\n" + name + ": ");
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(header.c_str() + at + name.size() + 4, nullptr, 10);
}

std::vector<uint8_t> DecodeBase64(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<uint8_t> out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const size_t v = alphabet.find(c);
        if (v == std::string::npos) {
            continue;  // padding
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<uint8_t>(bits >> count));
        }
    }
    return out;
}

}  // namespace fluxmere::testing
