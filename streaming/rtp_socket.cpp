#include "streaming/rtp_socket.h"

#include <cstdio>

namespace fluxmere {

CRTPSocket::CRTPSocket() : startRequest_(0, 1), startDone_(0, 1) {}

CRTPSocket::~CRTPSocket() {
    Close();
}

platform::SocketHandle CRTPSocket::Open(int32_t localPort, int32_t* localPortOut) {
    platform::ScopedLock hold(lock_);
    if (mediaSocket_ == platform::kInvalidSocket) {
        platform::InitSockets();
        const platform::SocketHandle s = platform::CreateTcpSocket();
        if (s == platform::kInvalidSocket)
            return platform::kInvalidSocket;
        if (localPort < 0 || localPort > 65535 ||
            !platform::BindSocket(s, platform::kInaddrAny, static_cast<uint16_t>(localPort))) {
            platform::CloseSocket(s);
            return platform::kInvalidSocket;
        }
        mediaSocket_ = s;
    }
    uint16_t bound = 0;
    if (platform::GetLocalPort(mediaSocket_, &bound))
        localPort_ = bound;
    if (localPortOut != nullptr)
        *localPortOut = localPort_;
    return mediaSocket_;
}

void CRTPSocket::Connect(int32_t port, uint32_t address) {
    platform::SocketHandle s;
    {
        platform::ScopedLock hold(lock_);
        s = mediaSocket_;
        dataSocket_ = mediaSocket_;
        peerAddress_ = address;
    }
    // The connect itself runs outside the lock so that Close can still interrupt it.
    const uint16_t wirePort = static_cast<uint16_t>(port);
    if (!platform::ConnectSocket(s, address, wirePort)) {
        std::printf("failed connect (%d) -port %d\n", platform::LastSocketError(), port);
        std::fflush(stdout);
        if (!platform::ConnectSocket(s, address, wirePort)) {
            std::printf("failed connect second time (%d) -port %d\n", platform::LastSocketError(),
                        port);
            std::fflush(stdout);
        }
    }
}

void CRTPSocket::RequestStart() {
    startDone_.Drain();
    startRequest_.Release();
    startDone_.Wait(platform::kInfinite);
}

bool CRTPSocket::WaitStart() {
    if (startRequest_.Wait(10000) != platform::WaitResult::Signaled)
        return false;
    startRequest_.Drain();
    startDone_.Release();
    return true;
}

bool CRTPSocket::Close() {
    platform::ScopedLock hold(lock_);
    if (mediaSocket_ != platform::kInvalidSocket)
        platform::CloseSocket(mediaSocket_);
    mediaSocket_ = platform::kInvalidSocket;
    dataSocket_ = platform::kInvalidSocket;
    return true;
}

platform::SocketHandle CRTPSocket::MediaSocket() const {
    platform::ScopedLock hold(lock_);
    return mediaSocket_;
}

platform::SocketHandle CRTPSocket::DataSocket() const {
    platform::ScopedLock hold(lock_);
    return dataSocket_;
}

int32_t CRTPSocket::LocalPort() const {
    platform::ScopedLock hold(lock_);
    return localPort_;
}

uint32_t CRTPSocket::PeerAddress() const {
    platform::ScopedLock hold(lock_);
    return peerAddress_;
}

}  // namespace fluxmere
