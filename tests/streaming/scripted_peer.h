#pragma once
// A scripted loopback peer for the streaming tests: it accepts one connection and plays a
// script of canned byte sequences, request reads, half-closes and waits, on a thread of its own.
//
// Exact read boundaries: a reader with a short receive time-out reports each time-out to a
// NoticeGate; WaitDrained holds the script until two more time-outs have been seen, which
// proves the reader has taken every byte sent so far, so the next Send arrives as a read of its
// own (pieces of up to 64 KiB travel loopback in one segment).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace fluxmere::testing {

// Counts read time-outs reported from a chunk callback.
class NoticeGate {
public:
    void Notify();
    int Count();
    // Waits until the count has passed count by at least two; false when that never comes.
    bool WaitTwoBeyond(int count);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

class ScriptedPeer {
public:
    // Listens on (address, any free port) at once.
    explicit ScriptedPeer(uint32_t address);
    ~ScriptedPeer();  // ends the script, closes every socket and joins the thread
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t Port() const { return port_; }
    uint32_t Address() const { return address_; }

    // Script steps, played in order once Start has been called.
    ScriptedPeer& Send(const std::string& bytes);
    // The bytes as several sends, cut before each offset in cuts, with a short pause between
    // them so that a reader waiting in recv usually sees each piece as a read of its own.
    ScriptedPeer& SendPieces(const std::string& bytes, const std::vector<size_t>& cuts);
    // One byte per send.
    ScriptedPeer& Drip(const std::string& bytes);
    // Reads one request (up to and including its blank line) and keeps its text.
    ScriptedPeer& ReadRequest();
    // Reads until the other side closes; the bytes go to Unread.
    ScriptedPeer& ReadUntilClosed();
    ScriptedPeer& WaitDrained(NoticeGate& gate);
    ScriptedPeer& WaitFor(platform::Event& event);
    ScriptedPeer& ShutdownSend();  // the reader then sees the peer's close
    ScriptedPeer& Close();
    ScriptedPeer& Reset();  // closes with RST, as a device that reboots
    ScriptedPeer& Do(std::function<void()> action);

    void Start();
    // Waits for the script's end; false when a step failed (the connection broke).
    bool Finish();

    // Connects a new client socket to the peer (for tests that play the client).
    platform::SocketHandle ConnectClient() const;

    std::vector<std::string> Requests();
    // Everything read from the connection that did not end a request yet.
    std::string Unread();

private:
    static void Main(void* self);
    void Play();
    bool ReadOneRequest();

    uint32_t address_;
    uint16_t port_ = 0;
    platform::SocketHandle listening_ = platform::kInvalidSocket;
    std::atomic<platform::SocketHandle> connection_{platform::kInvalidSocket};
    std::vector<std::function<bool()>> steps_;
    platform::Thread thread_;
    std::atomic<bool> ok_{true};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::string pending_;
};

// Builds one chunk of the media connection: the size line in hex, the data and the CR LF.
std::string Chunk(const std::string& data, bool upperCase = false);
// Data of size bytes in a repeating pattern that starts at seed.
std::string Pattern(size_t size, int seed);

}  // namespace fluxmere::testing
