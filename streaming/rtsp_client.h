#pragma once
// The device's dialect of RTSP/1.0 over a connection its user has already opened to port 554.
//
// Sharing one client between threads (the viewer uses it from three):
// - Sending: every request is formatted into the request buffer and sent under the send lock,
//   so requests go out whole and one at a time, each with its own CSeq, from any thread.
// - Reading: one reply is read by one thread only. Reads take the reader token: Open, Play,
//   WaitForEvent and ReadResponse wait for it; Teardown(true) only tries to take it, before it
//   sends. When another thread holds the token at that moment (for example the session thread
//   blocked in WaitForEvent), Teardown(true) sends its TEARDOWN, leaves the reply to that
//   reader (or the next one) and returns true; otherwise it keeps the token until it has read
//   its own reply, so no other thread can take it.
//   The simplest safe use: the session thread is the only reader; the other threads call
//   Teardown(false) (a send without a read).
//   Open holds the token from its DESCRIBE to its last SETUP reply.
// - The socket belongs to the user. A user that closes it while other threads may still send
//   closes it through CloseConnection: the close and every send take the send lock, so no
//   request ever goes to a closed handle (or to whatever socket the system gave its number
//   since). A reader blocked on it then returns 0.
// - The text WaitForEvent returns lies in the receive buffer and stays valid until the next
//   read.

#include <atomic>
#include <cstdint>

#include "platform/socket.h"
#include "platform/sync.h"
#include "streaming/rtsp_reply_reader.h"

namespace fluxmere {

// What Open asks for and where it puts what it learns. A client port of 0 skips that track's
// SETUP. Every out pointer may be null and is written only when its value was learned;
// headerBuffer and headerLength are only used together.
struct RTSPOpenOptions {
    int32_t videoClientPort = 0;
    int32_t* videoServerPort = nullptr;
    int32_t audioClientPort = 0;
    int32_t* audioServerPort = nullptr;
    int32_t statusClientPort = 0;
    int32_t* statusServerPort = nullptr;
    bool tcp = false;
    bool* hasAudio = nullptr;
    int32_t queue = 0;
    uint8_t* headerBuffer = nullptr;  // the stream header from the description
    int32_t headerCapacity = 0;
    int32_t* headerLength = nullptr;
};

// A position in SMPTE time.
struct SmpteTime {
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t frames = 0;
};

// The range PLAY asks for. start.hours -1 sends the open-start range with the end time only;
// the default is the open range "--1:00:00:00" (the live stream).
struct RTSPPlayRange {
    SmpteTime start{-1, 0, 0, 0};
    SmpteTime end{-1, 0, 0, 0};
};

class CRTSPCommon {
public:
    virtual ~CRTSPCommon();
};

class CRTSPClient : public CRTSPCommon {
public:
    static constexpr int32_t kBufferSize = 16384;  // receive buffer and request buffer
    static constexpr int32_t kNameSize = 256;      // host and path, terminator included

    CRTSPClient();
    ~CRTSPClient() override;
    CRTSPClient(const CRTSPClient&) = delete;
    CRTSPClient& operator=(const CRTSPClient&) = delete;

    // DESCRIBE, the stream header from the description, then SETUP of every track whose client
    // port is not 0 ("video", "audio", "status"). Returns 0 when every step succeeded; -1 when
    // the DESCRIBE was not answered with 200, a SETUP reply has no server port, host or path
    // are longer than 255 characters (nothing is sent then), or the stream header does not fit
    // headerCapacity bytes; otherwise the status of the first SETUP that was not 200 (503 when
    // the device is busy; 0 when no reply could be read). socket kInvalidSocket keeps the
    // attached one (which may have been closed since: then nothing is sent and Open fails).
    int32_t Open(const char* host, const char* path, platform::SocketHandle socket,
                 const RTSPOpenOptions& options);

    // Uses socket for the exchanges that follow, without DESCRIBE and SETUP (Open does this
    // itself).
    void Attach(platform::SocketHandle socket);
    // SO_RCVTIMEO of the attached socket, under the send lock (never on a closed handle).
    void SetReceiveTimeout(uint32_t ms);
    // Closes the attached socket, if any; requests are then dropped until the next Attach or
    // Open. True when a socket was closed.
    bool CloseConnection();
    // True while a thread holds the reader token (for diagnostics and tests).
    bool IsReading() const { return reading_.load(); }

    // PLAY of range. True on 200.
    bool Play(const RTSPPlayRange& range);

    // TEARDOWN. With wait: reads the reply (see the reader token above) and returns true only
    // for 200. Without: true at once.
    bool Teardown(bool wait);

    // Reads the next message. nullptr for a 200 reply; "End of stream" when the message has no
    // "Event-Type: 3" (also when nothing could be read); "Error" when the event text does not
    // end with a CR within 64 characters; otherwise the event text.
    const char* WaitForEvent();

    // Reads one reply into buffer (capacity bytes, at most kBufferSize are used). Returns its
    // status code, or 0 when nothing usable arrived: a failed read, no "CSeq", a header that
    // fills the buffer without its end, a body that does not fit or is short after one extra
    // read. headerLength is the offset of the CR LF that ends the header (the body starts 2
    // bytes later). Bytes that arrived behind the reply are kept for the next read of any kind.
    int32_t ReadResponse(char* buffer, int32_t* headerLength, int32_t* contentLength,
                         int32_t capacity = kBufferSize);

    // The decimal number after the first "server_port=" within the header; only the first
    // number of a range. False when there is none.
    static bool FindServerPort(const char* buffer, int32_t headerLength, int32_t* port);

    // Base64 in groups of four; "=" and foreign characters count as zero bits and not as
    // characters. Writes at most outputSize bytes and returns the number written.
    static int32_t DecodeBase64(const char* text, uint8_t* output, int32_t textLength,
                                int32_t outputSize);
    // Bytes the whole text decodes to (what DecodeBase64 writes with unlimited room).
    static int32_t DecodedBase64Size(const char* text, int32_t textLength);

    // Format a request for the stream given to Open into output and take the next CSeq.
    // Return the text's length, or -1 (no CSeq taken) when it does not fit outputSize.
    int32_t FormatDescribe(char* output, int32_t outputSize);
    int32_t FormatSetup(const char* trackName, char* output, int32_t clientPort, bool tcp,
                        int32_t queue, int32_t outputSize);

private:
    // The reply reader without the token; the caller holds it.
    RtspReply ReadReply(char* buffer, int32_t capacity);
    bool SendDescribe();
    bool SendSetup(const char* trackName, int32_t clientPort, bool tcp, int32_t queue);
    bool SendRequest(int32_t length);
    void SendTeardown();
    int32_t NextCSeq();
    friend class RTSPReaderTurn;

    platform::SocketHandle socket_ = platform::kInvalidSocket;
    char* receiveBuffer_;
    char* requestBuffer_;
    int32_t cseq_ = 1;
    char path_[kNameSize] = {};
    char host_[kNameSize] = {};
    platform::CriticalSection sendLock_;  // request buffer, cseq, socket, host, path
    platform::Semaphore readerToken_;     // one reader per reply
    std::atomic<bool> reading_{false};
    RtspReplyReader replies_;  // bytes behind a reply, under the reader token
};

}  // namespace fluxmere
