#pragma once
// The viewer's media transport: creates, binds, connects and closes the media socket, and hands
// the connected socket from the session thread to the receiver thread (the start rendezvous).
//
// Threads: Open, Connect and RequestStart run on the session thread, WaitStart and the
// receiver on the receiver thread. Close may be called from both (the receiver's chunk callback
// closes the socket to end the loop, the session closes it when it ends): it is serialised and
// closes a socket only once.

#include <cstdint>

#include "platform/socket.h"
#include "platform/sync.h"
#include "streaming/rtp_receiver.h"

namespace fluxmere {

class CRTPSocket {
public:
    CRTPSocket();
    virtual ~CRTPSocket();  // closes the media socket if it is still open
    CRTPSocket(const CRTPSocket&) = delete;
    CRTPSocket& operator=(const CRTPSocket&) = delete;

    // Creates the media socket and binds it to any address and localPort (0: ephemeral), or
    // reuses the existing one without binding again. Stores the bound port (host order) and
    // writes it to localPortOut (may be null). Returns the socket; kInvalidSocket when it cannot
    // be created or bound.
    platform::SocketHandle Open(int32_t localPort, int32_t* localPortOut);

    // Connects the media socket to (address, port), trying once more when it fails, with the
    // two lines "failed connect (%d) -port %d" and "failed connect second time (%d) -port %d"
    // on the standard output. Either way the media socket becomes the data socket; a failed
    // connect shows up as a read error in the receiver.
    void Connect(int32_t port, uint32_t address);

    // Session thread: releases the receiver thread from WaitStart and waits until it has left.
    void RequestStart();
    // Receiver thread: waits up to 10000 ms for RequestStart. False on time-out.
    bool WaitStart();

    // Closes the media socket (and so the data socket) once. Returns true.
    bool Close();

    platform::SocketHandle MediaSocket() const;
    platform::SocketHandle DataSocket() const;
    int32_t LocalPort() const;
    uint32_t PeerAddress() const;
    CRTPReceiver& Receiver() { return receiver_; }

private:
    mutable platform::CriticalSection lock_;  // the handle fields
    platform::SocketHandle mediaSocket_ = platform::kInvalidSocket;
    platform::SocketHandle dataSocket_ = platform::kInvalidSocket;
    int32_t localPort_ = 0;
    uint32_t peerAddress_ = 0;
    platform::Semaphore startRequest_;
    platform::Semaphore startDone_;
    CRTPReceiver receiver_;
};

}  // namespace fluxmere
