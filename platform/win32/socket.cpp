// Winsock sockets: the interface is Winsock's own, so this is mostly a pass-through.

#include "platform/socket.h"

#include "platform/file.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace fluxmere::platform {

namespace {

SOCKET Native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(port);
    return result;
}

}  // namespace

void InitSockets() {
    // WSAStartup counts its callers; one start for the life of the process is enough.
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SocketHandle CreateTcpSocket() {
    InitSockets();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool BindSocket(SocketHandle s, uint32_t address, uint16_t port) {
    const sockaddr_in local = MakeAddress(address, port);
    return bind(Native(s), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool GetLocalPort(SocketHandle s, uint16_t* port) {
    sockaddr_in local{};
    int length = sizeof local;
    if (getsockname(Native(s), reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    if (port != nullptr)
        *port = ntohs(local.sin_port);
    return true;
}

bool ConnectSocket(SocketHandle s, uint32_t address, uint16_t port) {
    const sockaddr_in remote = MakeAddress(address, port);
    return connect(Native(s), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0;
}

bool ListenSocket(SocketHandle s, int backlog) {
    return listen(Native(s), backlog) == 0;
}

SocketHandle AcceptSocket(SocketHandle listening, uint32_t* peerAddress) {
    sockaddr_in peer{};
    int length = sizeof peer;
    const SOCKET s = accept(Native(listening), reinterpret_cast<sockaddr*>(&peer), &length);
    if (s == INVALID_SOCKET)
        return kInvalidSocket;
    if (peerAddress != nullptr)
        *peerAddress = peer.sin_addr.s_addr;
    return static_cast<SocketHandle>(s);
}

bool SetReuseAddress(SocketHandle s, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return setsockopt(Native(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

int SendSocket(SocketHandle s, const void* data, int length) {
    const int sent = send(Native(s), static_cast<const char*>(data), length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int RecvSocket(SocketHandle s, void* buffer, int length) {
    const int received = recv(Native(s), static_cast<char*>(buffer), length, 0);
    return received == SOCKET_ERROR ? -1 : received;
}

bool CloseSocket(SocketHandle s) {
    return closesocket(Native(s)) == 0;
}

bool AbortSocket(SocketHandle s) {
    const linger value{1, 0};  // on, no time: the close sends RST
    setsockopt(Native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&value),
               sizeof value);
    return closesocket(Native(s)) == 0;
}

bool ShutdownSocket(SocketHandle s) {
    return shutdown(Native(s), SD_BOTH) == 0;
}

int UnsentBytes(SocketHandle) {
    return -1;  // Winsock does not tell
}

bool SetRecvTimeout(SocketHandle s, uint32_t ms) {
    const DWORD value = ms;
    return setsockopt(Native(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

bool SetRecvBufferSize(SocketHandle s, int bytes) {
    return setsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                      sizeof bytes) == 0;
}

bool SetNoDelay(SocketHandle s, bool on) {
    const BOOL value = on ? TRUE : FALSE;
    return setsockopt(Native(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

int GetSocketType(SocketHandle s) {
    int type = 0;
    int length = sizeof type;
    if (getsockopt(Native(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0)
        return -1;
    return type;
}

int LastSocketError() {
    return WSAGetLastError();
}

void SocketErrorText(int code, char* text, size_t size) {
    FileErrorText(code, text, size);  // Winsock codes are system message numbers
}

uint32_t InetAddr(const char* text) {
    if (text == nullptr)
        return kInaddrNone;
    InitSockets();
    return inet_addr(text);
}

}  // namespace fluxmere::platform
