#include "tests/streaming/scripted_peer.h"

#include <chrono>
#include <cstdio>

namespace fluxmere::testing {

void NoticeGate::Notify() {
    std::lock_guard<std::mutex> hold(mutex_);
    ++count_;
    changed_.notify_all();
}

int NoticeGate::Count() {
    std::lock_guard<std::mutex> hold(mutex_);
    return count_;
}

bool NoticeGate::WaitTwoBeyond(int count) {
    // The bound only keeps a broken test from hanging; a working reader is far quicker.
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return count_ >= count + 2; });
}

ScriptedPeer::ScriptedPeer(uint32_t address) : address_(address) {
    platform::InitSockets();
    listening_ = platform::CreateTcpSocket();
    platform::SetReuseAddress(listening_, true);
    if (!platform::BindSocket(listening_, address, 0) ||
        !platform::GetLocalPort(listening_, &port_) || !platform::ListenSocket(listening_, 4)) {
        std::fprintf(stderr, "scripted peer cannot listen\n");
        ok_ = false;
    }
}

ScriptedPeer::~ScriptedPeer() {
    platform::CloseSocket(listening_);
    const platform::SocketHandle connection = connection_.exchange(platform::kInvalidSocket);
    if (connection != platform::kInvalidSocket)
        platform::CloseSocket(connection);
    thread_.Join(platform::kInfinite);
}

ScriptedPeer& ScriptedPeer::Send(const std::string& bytes) {
    steps_.push_back([this, bytes] {
        return platform::SendAll(connection_.load(), bytes.data(), static_cast<int>(bytes.size()));
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::SendPieces(const std::string& bytes, const std::vector<size_t>& cuts) {
    size_t from = 0;
    for (size_t cut : cuts) {
        Send(bytes.substr(from, cut - from));
        steps_.push_back([] {
            platform::SleepMs(20);
            return true;
        });
        from = cut;
    }
    return Send(bytes.substr(from));
}

ScriptedPeer& ScriptedPeer::Drip(const std::string& bytes) {
    steps_.push_back([this, bytes] {
        for (char c : bytes) {
            if (!platform::SendAll(connection_.load(), &c, 1))
                return false;
            platform::SleepMs(1);
        }
        return true;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadRequest() {
    steps_.push_back([this] { return ReadOneRequest(); });
    return *this;
}

ScriptedPeer& ScriptedPeer::ReadUntilClosed() {
    steps_.push_back([this] {
        char piece[4096];
        int got;
        while ((got = platform::RecvSocket(connection_.load(), piece, sizeof piece)) > 0) {
            std::lock_guard<std::mutex> hold(mutex_);
            pending_.append(piece, static_cast<size_t>(got));
        }
        return true;
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::WaitDrained(NoticeGate& gate) {
    steps_.push_back([&gate] { return gate.WaitTwoBeyond(gate.Count()); });
    return *this;
}

ScriptedPeer& ScriptedPeer::WaitFor(platform::Event& event) {
    steps_.push_back([&event] { return event.Wait(60000) == platform::WaitResult::Signaled; });
    return *this;
}

ScriptedPeer& ScriptedPeer::ShutdownSend() {
    steps_.push_back([this] { return platform::ShutdownSocket(connection_.load()); });
    return *this;
}

ScriptedPeer& ScriptedPeer::Close() {
    steps_.push_back([this] {
        const platform::SocketHandle connection = connection_.exchange(platform::kInvalidSocket);
        return connection == platform::kInvalidSocket || platform::CloseSocket(connection);
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Reset() {
    steps_.push_back([this] {
        const platform::SocketHandle connection = connection_.exchange(platform::kInvalidSocket);
        return connection == platform::kInvalidSocket || platform::AbortSocket(connection);
    });
    return *this;
}

ScriptedPeer& ScriptedPeer::Do(std::function<void()> action) {
    steps_.push_back([action] {
        action();
        return true;
    });
    return *this;
}

void ScriptedPeer::Start() {
    thread_.Start(&ScriptedPeer::Main, this);
}

bool ScriptedPeer::Finish() {
    thread_.Join(platform::kInfinite);
    return ok_.load();
}

void ScriptedPeer::Main(void* self) {
    static_cast<ScriptedPeer*>(self)->Play();
}

void ScriptedPeer::Play() {
    const platform::SocketHandle accepted = platform::AcceptSocket(listening_);
    if (accepted == platform::kInvalidSocket) {
        ok_ = false;
        return;
    }
    connection_.store(accepted);
    for (auto& step : steps_) {
        if (!step()) {
            ok_ = false;
            return;
        }
    }
}

bool ScriptedPeer::ReadOneRequest() {
    char piece[4096];
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            const size_t end = pending_.find("\r\n\r\n");
            if (end != std::string::npos) {
                requests_.push_back(pending_.substr(0, end + 4));
                pending_.erase(0, end + 4);
                return true;
            }
        }
        const int got = platform::RecvSocket(connection_.load(), piece, sizeof piece);
        if (got <= 0)
            return false;
        std::lock_guard<std::mutex> hold(mutex_);
        pending_.append(piece, static_cast<size_t>(got));
    }
}

platform::SocketHandle ScriptedPeer::ConnectClient() const {
    const platform::SocketHandle s = platform::CreateTcpSocket();
    if (!platform::ConnectSocket(s, address_, port_)) {
        platform::CloseSocket(s);
        return platform::kInvalidSocket;
    }
    return s;
}

std::vector<std::string> ScriptedPeer::Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::string ScriptedPeer::Unread() {
    std::lock_guard<std::mutex> hold(mutex_);
    return pending_;
}

std::string Chunk(const std::string& data, bool upperCase) {
    char line[32];
    std::snprintf(line, sizeof line, upperCase ? "%lX\r\n" : "%lx\r\n",
                  static_cast<unsigned long>(data.size()));
    return line + data + "\r\n";
}

std::string Pattern(size_t size, int seed) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((seed + i * 7) & 0xFF);
    return data;
}

}  // namespace fluxmere::testing
