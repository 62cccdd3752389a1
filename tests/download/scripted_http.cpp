#include "tests/download/scripted_http.h"

#include <cstdio>

namespace fluxmere::testing {

std::string ChunkedBody(const std::string& clip, const std::vector<size_t>& sizes, bool terminate) {
    std::string body;
    size_t offset = 0;
    for (size_t i = 0; offset < clip.size(); ++i) {
        const size_t wanted = sizes[i < sizes.size() ? i : sizes.size() - 1];
        const size_t size = wanted < clip.size() - offset ? wanted : clip.size() - offset;
        char line[32];
        std::snprintf(line, sizeof line, "%zx\r\n", size);
        if (offset != 0)
            body += "\r\n";
        body += line;
        body.append(clip, offset, size);
        offset += size;
    }
    if (terminate)
        body += offset != 0 ? "\r\n0\r\n\r\n" : "0\r\n\r\n";
    return body;
}

std::string ReadyHeader(const std::string& fileName) {
    std::string header = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n";
    if (!fileName.empty())
        header += "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n";
    return header + "Transfer-Encoding: chunked\r\n\r\n";
}

std::string PatternClip(size_t size, uint32_t seed) {
    std::string clip(size, '\0');
    uint32_t state = seed;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        clip[i] = static_cast<char>((state >> 24) ^ (i >> 16));
    }
    return clip;
}

ScriptedHttpServer::ScriptedHttpServer(std::vector<ScriptedReply> replies)
    : replies_(std::move(replies)) {}

ScriptedHttpServer::~ScriptedHttpServer() {
    Stop();
}

bool ScriptedHttpServer::Start(uint32_t address, uint16_t port) {
    platform::InitSockets();
    listening_ = platform::CreateTcpSocket();
    if (listening_ == platform::kInvalidSocket)
        return false;
    platform::SetReuseAddress(listening_, true);
    if (!platform::BindSocket(listening_, address, port) ||
        !platform::ListenSocket(listening_, 8)) {
        platform::CloseSocket(listening_);
        listening_ = platform::kInvalidSocket;
        return false;
    }
    return thread_.Start(Serve, this);
}

void ScriptedHttpServer::Stop() {
    stopping_.store(true);
    if (listening_ != platform::kInvalidSocket) {
        platform::CloseSocket(listening_);
        listening_ = platform::kInvalidSocket;
    }
    thread_.Join(platform::kInfinite);
}

std::vector<std::string> ScriptedHttpServer::Requests() {
    platform::ScopedLock lock(lock_);
    return requests_;
}

void ScriptedHttpServer::Serve(void* context) {
    auto* server = static_cast<ScriptedHttpServer*>(context);
    const platform::SocketHandle listening = server->listening_;
    for (size_t index = 0;; ++index) {
        const platform::SocketHandle connection = platform::AcceptSocket(listening);
        if (connection == platform::kInvalidSocket) {
            // Only Stop ends the peer: a connection that failed on its way in must not leave the
            // clients queued behind it waiting for an answer without end.
            if (server->stopping_.load())
                return;
            platform::SleepMs(1);
            --index;
            continue;
        }
        const size_t last = server->replies_.size() - 1;
        const ScriptedReply& reply = server->replies_[index < last ? index : last];
        server->ServeOne(connection, reply);
        if (reply.reset) {
            platform::SleepMs(300);
            platform::AbortSocket(connection);
        } else {
            platform::CloseSocket(connection);
        }
    }
}

void ScriptedHttpServer::ServeOne(platform::SocketHandle connection, const ScriptedReply& reply) {
    // The request is read in whole pieces, not byte by byte: under 32-bit Wine, a long run of
    // one-byte blocking reads on a busy machine has stalled with the rest of the request
    // already received. A client sends one request per connection, so nothing follows it.
    std::string request;
    char piece[1024];
    size_t end = std::string::npos;
    while ((end = request.find("\r\n\r\n")) == std::string::npos) {
        const int received = platform::RecvSocket(connection, piece, sizeof piece);
        if (received <= 0)
            return;
        request.append(piece, static_cast<size_t>(received));
    }
    request.resize(end + 4);
    {
        platform::ScopedLock lock(lock_);
        requests_.push_back(request);
    }
    const std::string bytes = reply.header + reply.body;
    if (!platform::SendAll(connection, bytes.data(), static_cast<int>(bytes.size())))
        return;
    if (reply.holdOpen) {
        while (platform::RecvSocket(connection, piece, sizeof piece) > 0) {
        }
    }
}

}  // namespace fluxmere::testing
