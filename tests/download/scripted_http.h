#pragma once
// A minimal HTTP peer on ADDRESS:80 that answers each connection with the next scripted reply
// (the last one repeats), for the exchanges the device stand-in does not show on demand: exact
// request text, odd headers, bodies cut at a chosen byte, a connection held open.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace fluxmere::testing {

struct ScriptedReply {
    std::string header;  // sent as is, CR LF CR LF included
    std::string body;    // sent as is (compose the chunked coding with ChunkedBody)
    // After the body, keep the connection open until the client closes it.
    bool holdOpen = false;
    // After the body (and a pause that lets the client read it), reset the connection.
    bool reset = false;
};

// The clip in chunks of the given sizes (repeating the last), then the terminating chunk unless
// cut is set.
std::string ChunkedBody(const std::string& clip, const std::vector<size_t>& sizes,
                        bool terminate = true);

// Header of a ready clip; with an empty name, no filename= text.
std::string ReadyHeader(const std::string& fileName);

// Clip bytes whose value depends on their position, so a lost, doubled or moved byte shows.
std::string PatternClip(size_t size, uint32_t seed = 7);

class ScriptedHttpServer {
public:
    explicit ScriptedHttpServer(std::vector<ScriptedReply> replies);
    ~ScriptedHttpServer();  // stops

    bool Start(uint32_t address, uint16_t port = 80);
    void Stop();

    // Requests received so far (each up to and including its blank line).
    std::vector<std::string> Requests();

private:
    static void Serve(void* context);
    void ServeOne(platform::SocketHandle connection, const ScriptedReply& reply);

    std::vector<ScriptedReply> replies_;
    platform::SocketHandle listening_ = platform::kInvalidSocket;
    platform::Thread thread_;
    platform::CriticalSection lock_;
    std::vector<std::string> requests_;
};

}  // namespace fluxmere::testing
