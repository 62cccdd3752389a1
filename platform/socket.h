#pragma once
// TCP sockets with Winsock semantics on every backend: the same calls, the same error codes.
// Addresses are IPv4 in network byte order (as inet_addr gives them), ports in host order.

#include <cstddef>
#include <cstdint>

namespace fluxmere::platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;
constexpr uint32_t kInaddrAny = 0;
constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;

// The Winsock error codes the core reacts to. LastSocketError reports these on every backend.
enum SocketError : int {
    kSocketOk = 0,
    kWsaEIntr = 10004,
    kWsaEBadF = 10009,
    kWsaEAcces = 10013,
    kWsaEInval = 10022,
    kWsaENotSock = 10038,
    kWsaEWouldBlock = 10035,
    kWsaEInProgress = 10036,
    kWsaEAddrInUse = 10048,
    kWsaENetDown = 10050,
    kWsaEConnAborted = 10053,
    kWsaEConnReset = 10054,
    kWsaENotConn = 10057,
    kWsaETimedOut = 10060,
    kWsaEConnRefused = 10061,
};

constexpr int kSockStream = 1;  // SO_TYPE of a TCP socket

// A connection reset by the peer (10054) or aborted (10053). Winsock fails every later recv on
// such a connection with the same code, so a reader must treat it like the peer's close.
inline bool IsConnectionLost(int error) {
    return error == kWsaEConnReset || error == kWsaEConnAborted;
}

// Starts the socket library (WSAStartup 2.2 on Windows; nothing on POSIX). Safe to call often.
void InitSockets();

SocketHandle CreateTcpSocket();
bool BindSocket(SocketHandle s, uint32_t address, uint16_t port);
bool GetLocalPort(SocketHandle s, uint16_t* port);
bool ConnectSocket(SocketHandle s, uint32_t address, uint16_t port);
bool ListenSocket(SocketHandle s, int backlog);
// Blocks until a peer connects (or the listening socket is closed: kInvalidSocket).
SocketHandle AcceptSocket(SocketHandle listening, uint32_t* peerAddress = nullptr);
// SO_REUSEADDR, for servers that restart on a fixed port.
bool SetReuseAddress(SocketHandle s, bool on);

// One send call: bytes sent, or -1 on error (LastSocketError tells which).
int SendSocket(SocketHandle s, const void* data, int length);
// Loops until everything is sent; false on the first error.
bool SendAll(SocketHandle s, const void* data, int length);
// One recv call: bytes received, 0 when the peer closed, -1 on error. After a reset, every
// later call fails with kWsaEConnReset (as on Windows).
int RecvSocket(SocketHandle s, void* buffer, int length);

// Closes the handle. A thread blocked in RecvSocket on it returns promptly with an error (on
// POSIX kWsaENotSock; Windows has its own codes, Wine kWsaEInval). On POSIX later calls with the
// same handle report kWsaENotSock or kWsaEBadF, even if the OS reuses the underlying descriptor
// for a new socket; on Windows the handle is the SOCKET itself, whose number the system may give
// at once to the next socket or file any thread makes, so a later call may reach that one.
bool CloseSocket(SocketHandle s);
// Closes the handle with a reset (RST) instead of an orderly close, as a peer that crashes or
// reboots does; the other side's reads then fail with kWsaEConnReset.
bool AbortSocket(SocketHandle s);
// shutdown(SD_BOTH): wakes a blocked reader without releasing the handle.
bool ShutdownSocket(SocketHandle s);
// Bytes sent but not yet acknowledged by the peer; -1 where the system does not tell (Windows).
int UnsentBytes(SocketHandle s);

bool SetRecvTimeout(SocketHandle s, uint32_t ms);   // SO_RCVTIMEO; 0 = no time-out
bool SetRecvBufferSize(SocketHandle s, int bytes);  // SO_RCVBUF
bool SetNoDelay(SocketHandle s, bool on);           // TCP_NODELAY
// SO_TYPE: kSockStream for TCP; -1 when the handle is not a socket.
int GetSocketType(SocketHandle s);

// The Winsock code of the last failed socket call on this thread (mapped from errno on POSIX).
int LastSocketError();
// The system's own words for such a code ("Connection refused"): on POSIX those of the errno
// value the code stands for, on Windows the system's message for the code.
void SocketErrorText(int code, char* text, size_t size);

// inet_addr: the dotted IPv4 address in network byte order, kInaddrNone for anything else.
uint32_t InetAddr(const char* text);
// Dotted text of an address into a buffer of at least 16 bytes.
void FormatAddress(uint32_t address, char* text, size_t size);

}  // namespace fluxmere::platform
