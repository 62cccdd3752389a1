// Winsock-compatible TCP sockets on POSIX.
//
// Handles are not descriptors: they index a fixed table whose slots carry a generation number,
// so a handle that was closed never reaches a descriptor the OS has handed out again. Each call
// pins its slot while it uses the descriptor; CloseSocket shuts the socket down (waking blocked
// calls) and the descriptor is closed only when the last pinned call has left.

#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace fluxmere::platform {

namespace {

thread_local int lastSocketError = kSocketOk;

int Fail(int code) {
    lastSocketError = code;
    return -1;
}

// errno values and the Winsock codes Windows reports for the same condition.
struct ErrorMapping {
    int errnoValue;
    int winsockCode;
};
constexpr ErrorMapping kErrorMap[] = {
    {ENOTSOCK, kWsaENotSock},
    {EBADF, kWsaENotSock},  // descriptors are hidden behind handles: a bad one is no socket
    {EINTR, kWsaEIntr},
    {EACCES, kWsaEAcces},
    {EFAULT, 10014},  // WSAEFAULT
    {EINVAL, kWsaEInval},
    {EMFILE, 10024},  // WSAEMFILE
    {ENFILE, 10024},
    {EINPROGRESS, kWsaEInProgress},
    {EALREADY, 10037},      // WSAEALREADY
    {EMSGSIZE, 10040},      // WSAEMSGSIZE
    {EAFNOSUPPORT, 10047},  // WSAEAFNOSUPPORT
    {EADDRINUSE, kWsaEAddrInUse},
    {EADDRNOTAVAIL, 10049},  // WSAEADDRNOTAVAIL
    {ENETDOWN, kWsaENetDown},
    {ENETUNREACH, 10051},   // WSAENETUNREACH
    {ECONNABORTED, 10053},  // WSAECONNABORTED
    {ECONNRESET, kWsaEConnReset},
    {EPIPE, kWsaEConnReset},  // sending to a peer that reset the connection
    {ENOBUFS, 10055},         // WSAENOBUFS
    {ENOMEM, 10055},
    {EISCONN, 10056},  // WSAEISCONN
    {ENOTCONN, kWsaENotConn},
    {ETIMEDOUT, kWsaETimedOut},
    {EAGAIN, kWsaETimedOut},  // a blocking socket sees EAGAIN only when SO_RCVTIMEO expires
    {ECONNREFUSED, kWsaEConnRefused},
    {EHOSTUNREACH, 10065},  // WSAEHOSTUNREACH
};

int WinsockCode(int error) {
    for (const ErrorMapping& mapping : kErrorMap) {
        if (mapping.errnoValue == error)
            return mapping.winsockCode;
    }
    return kWsaEInval;  // nothing the core reacts to
}

// The errno value a Winsock code stands for: the first one mapped to it.
int ErrnoOf(int code) {
    for (const ErrorMapping& mapping : kErrorMap) {
        if (mapping.winsockCode == code)
            return mapping.errnoValue;
    }
    return 0;
}

int FailErrno() {
    return Fail(WinsockCode(errno));
}

// Handle layout: the low bits select the slot, the bits above hold the slot's generation.
constexpr int kSlotBits = 10;
constexpr int kSlotCount = 1 << kSlotBits;
constexpr uintptr_t kGenerationMask = 0xFFFFF;  // keeps handles positive on 32-bit builds

struct Slot {
    int fd = -1;              // -1: free
    uint32_t generation = 1;  // never 0, so no live handle is 0
    int pins = 0;             // calls currently using fd
    bool closing = false;     // closed by the owner; fd goes when the last pin is released
    bool reset = false;       // the peer reset the connection: every later recv fails
};

class SocketTable {
public:
    SocketTable() { pthread_mutex_init(&mutex_, nullptr); }

    SocketHandle Add(int fd) {
        pthread_mutex_lock(&mutex_);
        // Start after the slot used last, so slots (and their handles) come back rarely.
        for (int step = 0; step < kSlotCount; ++step) {
            const int index = (cursor_ + step) % kSlotCount;
            Slot& slot = slots_[index];
            if (slot.fd == -1) {
                slot.fd = fd;
                slot.pins = 0;
                slot.closing = false;
                slot.reset = false;
                cursor_ = (index + 1) % kSlotCount;
                const SocketHandle handle = MakeHandle(index, slot.generation);
                pthread_mutex_unlock(&mutex_);
                return handle;
            }
        }
        pthread_mutex_unlock(&mutex_);
        return kInvalidSocket;
    }

    // The descriptor of a live handle, pinned until Unpin; -1 when the handle is stale.
    int Pin(SocketHandle handle) {
        int fd = -1;
        pthread_mutex_lock(&mutex_);
        if (Slot* slot = Find(handle)) {
            ++slot->pins;
            fd = slot->fd;
        }
        pthread_mutex_unlock(&mutex_);
        return fd;
    }

    // Releases a pin. True when the handle was closed while pinned.
    bool Unpin(SocketHandle handle) {
        pthread_mutex_lock(&mutex_);
        Slot& slot = slots_[SlotIndex(handle)];
        const bool closed = slot.closing;
        --slot.pins;
        if (slot.closing && slot.pins == 0)
            Free(slot);
        pthread_mutex_unlock(&mutex_);
        return closed;
    }

    // Linux reports a reset once and then a close; Winsock keeps failing. The slot remembers.
    void MarkReset(SocketHandle handle) {
        pthread_mutex_lock(&mutex_);
        if (Slot* slot = Find(handle))
            slot->reset = true;
        pthread_mutex_unlock(&mutex_);
    }
    bool WasReset(SocketHandle handle) {
        pthread_mutex_lock(&mutex_);
        const Slot* slot = Find(handle);
        const bool reset = slot != nullptr && slot->reset;
        pthread_mutex_unlock(&mutex_);
        return reset;
    }

    bool Close(SocketHandle handle) {
        pthread_mutex_lock(&mutex_);
        Slot* slot = Find(handle);
        if (slot == nullptr) {
            pthread_mutex_unlock(&mutex_);
            return false;
        }
        // A new generation makes every copy of the handle stale at once.
        slot->closing = true;
        slot->generation = NextGeneration(slot->generation);
        if (slot->pins == 0) {
            Free(*slot);
        } else {
            shutdown(slot->fd, SHUT_RDWR);  // wakes recv, send and accept on the descriptor
        }
        pthread_mutex_unlock(&mutex_);
        return true;
    }

private:
    static SocketHandle MakeHandle(int index, uint32_t generation) {
        return static_cast<SocketHandle>((static_cast<uintptr_t>(generation) << kSlotBits) |
                                         static_cast<uintptr_t>(index));
    }
    static int SlotIndex(SocketHandle handle) {
        return static_cast<int>(static_cast<uintptr_t>(handle) & (kSlotCount - 1));
    }
    static uint32_t NextGeneration(uint32_t generation) {
        const uint32_t next = (generation + 1) & kGenerationMask;
        return next == 0 ? 1 : next;
    }

    Slot* Find(SocketHandle handle) {
        if (handle <= 0)
            return nullptr;
        Slot& slot = slots_[SlotIndex(handle)];
        if (slot.fd == -1 || slot.closing ||
            MakeHandle(SlotIndex(handle), slot.generation) != handle)
            return nullptr;
        return &slot;
    }

    static void Free(Slot& slot) {
        close(slot.fd);
        slot.fd = -1;
        slot.closing = false;
    }

    pthread_mutex_t mutex_;
    Slot slots_[kSlotCount];
    int cursor_ = 0;
};

SocketTable& Table() {
    static SocketTable table;
    return table;
}

// Pins a handle's descriptor for the length of one call.
class PinnedSocket {
public:
    explicit PinnedSocket(SocketHandle handle) : handle_(handle), fd_(Table().Pin(handle)) {}
    ~PinnedSocket() {
        if (fd_ != -1)
            Table().Unpin(handle_);
    }
    PinnedSocket(const PinnedSocket&) = delete;
    PinnedSocket& operator=(const PinnedSocket&) = delete;

    bool valid() const { return fd_ != -1; }
    int fd() const { return fd_; }
    // True when another thread closed the handle during the call.
    bool ReleaseAndCheckClosed() {
        const bool closed = Table().Unpin(handle_);
        fd_ = -1;
        return closed;
    }

private:
    SocketHandle handle_;
    int fd_;
};

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(port);
    return result;
}

bool Check(int rc) {
    if (rc == 0)
        return true;
    FailErrno();
    return false;
}

}  // namespace

void InitSockets() {}

SocketHandle CreateTcpSocket() {
    // Close-on-exec: device processes started by tests must not inherit the sockets.
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd == -1) {
        FailErrno();
        return kInvalidSocket;
    }
    const SocketHandle handle = Table().Add(fd);
    if (handle == kInvalidSocket) {
        close(fd);
        Fail(10024);  // WSAEMFILE
    }
    return handle;
}

bool BindSocket(SocketHandle s, uint32_t address, uint16_t port) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    const sockaddr_in local = MakeAddress(address, port);
    return Check(bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local));
}

bool GetLocalPort(SocketHandle s, uint16_t* port) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (!Check(getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&local), &length)))
        return false;
    if (port != nullptr)
        *port = ntohs(local.sin_port);
    return true;
}

bool ConnectSocket(SocketHandle s, uint32_t address, uint16_t port) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    const sockaddr_in remote = MakeAddress(address, port);
    // Not repeated on EINTR: the interrupted attempt goes on in the background.
    const int rc = connect(socket.fd(), reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
    const int connectError = errno;
    if (socket.ReleaseAndCheckClosed())
        return Fail(kWsaENotSock), false;
    if (rc != 0)
        return Fail(WinsockCode(connectError)), false;
    return true;
}

bool ListenSocket(SocketHandle s, int backlog) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    return Check(listen(socket.fd(), backlog));
}

SocketHandle AcceptSocket(SocketHandle listening, uint32_t* peerAddress) {
    PinnedSocket socket(listening);
    if (!socket.valid())
        return Fail(kWsaENotSock), kInvalidSocket;
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd;
    do {
        fd = accept4(socket.fd(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    } while (fd == -1 && errno == EINTR);
    const int acceptError = errno;
    if (socket.ReleaseAndCheckClosed()) {
        if (fd != -1)
            close(fd);
        return Fail(kWsaENotSock), kInvalidSocket;
    }
    if (fd == -1)
        return Fail(WinsockCode(acceptError)), kInvalidSocket;
    const SocketHandle handle = Table().Add(fd);
    if (handle == kInvalidSocket) {
        close(fd);
        return Fail(10024), kInvalidSocket;  // WSAEMFILE
    }
    if (peerAddress != nullptr)
        *peerAddress = peer.sin_addr.s_addr;
    return handle;
}

bool SetReuseAddress(SocketHandle s, bool on) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    const int value = on ? 1 : 0;
    return Check(setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &value, sizeof value));
}

int SendSocket(SocketHandle s, const void* data, int length) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock);
    if (length < 0)
        return Fail(kWsaEInval);
    ssize_t sent;
    do {
        // MSG_NOSIGNAL: a peer that went away is an error code, not a SIGPIPE.
        sent = send(socket.fd(), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (sent == -1 && errno == EINTR);
    const int sendError = errno;
    if (socket.ReleaseAndCheckClosed() && sent <= 0)
        return Fail(kWsaENotSock);
    if (sent == -1)
        return Fail(WinsockCode(sendError));
    return static_cast<int>(sent);
}

int RecvSocket(SocketHandle s, void* buffer, int length) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock);
    if (length < 0)
        return Fail(kWsaEInval);
    if (Table().WasReset(s))
        return Fail(kWsaEConnReset);
    ssize_t received;
    do {
        received = recv(socket.fd(), buffer, static_cast<size_t>(length), 0);
    } while (received == -1 && errno == EINTR);
    const int recvError = errno;
    // The shutdown in CloseSocket makes a blocked recv return 0 like a peer close; the caller
    // must see an error instead. Data that arrived before the close is still handed out.
    if (socket.ReleaseAndCheckClosed() && received <= 0)
        return Fail(kWsaENotSock);
    if (received == -1) {
        if (recvError == ECONNRESET)
            Table().MarkReset(s);
        return Fail(WinsockCode(recvError));
    }
    return static_cast<int>(received);
}

bool CloseSocket(SocketHandle s) {
    if (!Table().Close(s))
        return Fail(kWsaENotSock), false;
    return true;
}

bool AbortSocket(SocketHandle s) {
    {
        PinnedSocket socket(s);
        if (!socket.valid())
            return Fail(kWsaENotSock), false;
        const linger value{1, 0};  // on, no time: the close sends RST
        setsockopt(socket.fd(), SOL_SOCKET, SO_LINGER, &value, sizeof value);
    }
    return CloseSocket(s);
}

bool ShutdownSocket(SocketHandle s) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    return Check(shutdown(socket.fd(), SHUT_RDWR));
}

int UnsentBytes(SocketHandle s) {
    PinnedSocket socket(s);
    int bytes = 0;
    if (!socket.valid() || ioctl(socket.fd(), SIOCOUTQ, &bytes) != 0)
        return -1;
    return bytes;
}

bool SetRecvTimeout(SocketHandle s, uint32_t ms) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    timeval value{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000) * 1000};
    return Check(setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value));
}

bool SetRecvBufferSize(SocketHandle s, int bytes) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    return Check(setsockopt(socket.fd(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes));
}

bool SetNoDelay(SocketHandle s, bool on) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock), false;
    const int value = on ? 1 : 0;
    return Check(setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value));
}

int GetSocketType(SocketHandle s) {
    PinnedSocket socket(s);
    if (!socket.valid())
        return Fail(kWsaENotSock);
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(socket.fd(), SOL_SOCKET, SO_TYPE, &type, &length) != 0)
        return FailErrno();
    return type == SOCK_STREAM ? kSockStream : type;
}

int LastSocketError() {
    return lastSocketError;
}

void SocketErrorText(int code, char* text, size_t size) {
    if (text == nullptr || size == 0)
        return;
    const int value = ErrnoOf(code);
    if (value == 0) {
        std::snprintf(text, size, "error %d", code);
        return;
    }
    char buffer[128];
    std::snprintf(text, size, "%s", strerror_r(value, buffer, sizeof buffer));
}

uint32_t InetAddr(const char* text) {
    if (text == nullptr)
        return kInaddrNone;
    return inet_addr(text);
}

}  // namespace fluxmere::platform
