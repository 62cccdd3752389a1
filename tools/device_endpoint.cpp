#include "tools/device_endpoint.h"

#include <atomic>

#include "platform/socket.h"
#include "platform/thread.h"
#include "streaming/device_address.h"

namespace fluxmere::cli {

const FlagSpec kDefaultDeviceFlag = {
    "default-device", true,
    "A       device address used when the URL's host is not a dotted address"};

bool ApplyDefaultDevice(Args* args) {
    if (!args->Has("default-device"))
        return true;
    const uint32_t address = platform::InetAddr(args->Get("default-device").c_str());
    if (address == platform::kInaddrNone)
        return args->Fail("--default-device needs a dotted IPv4 address, not '" +
                          args->Get("default-device") + "'");
    SetDefaultDeviceAddress(address);
    return true;
}

uint32_t ConnectAddress(uint32_t hostAddress) {
    return hostAddress == platform::kInaddrNone ? DefaultDeviceAddress() : hostAddress;
}

std::string EndpointText(uint32_t address, uint16_t port) {
    char text[16];
    platform::FormatAddress(address, text, sizeof text);
    return std::string(text) + " port " + std::to_string(port);
}

namespace {

struct Attempt {
    platform::SocketHandle socket = platform::kInvalidSocket;
    uint32_t address = 0;
    uint16_t port = 0;
    std::atomic<bool> connected{false};
    std::atomic<int> error{0};

    static void Run(void* context) {
        auto* attempt = static_cast<Attempt*>(context);
        if (platform::ConnectSocket(attempt->socket, attempt->address, attempt->port))
            attempt->connected = true;
        else
            attempt->error = platform::LastSocketError();
    }
};

}  // namespace

std::string ConnectFailure(uint32_t address, uint16_t port, uint32_t timeoutMs) {
    platform::InitSockets();
    Attempt attempt;
    attempt.socket = platform::CreateTcpSocket();
    attempt.address = address;
    attempt.port = port;
    char reason[128];
    if (attempt.socket == platform::kInvalidSocket) {
        platform::SocketErrorText(platform::LastSocketError(), reason, sizeof reason);
        return reason;
    }
    platform::Thread thread;
    if (!thread.Start(&Attempt::Run, &attempt)) {
        platform::CloseSocket(attempt.socket);
        return "no thread for a connection attempt";
    }
    const bool answered = thread.Join(timeoutMs);
    platform::CloseSocket(attempt.socket);  // also ends an attempt that is still waiting
    thread.Join(platform::kInfinite);
    if (!answered)
        return "no answer within " + std::to_string((timeoutMs + 999) / 1000) + " s";
    if (attempt.connected)
        return std::string();
    platform::SocketErrorText(attempt.error, reason, sizeof reason);
    return reason;
}

}  // namespace fluxmere::cli
