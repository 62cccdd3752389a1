#pragma once
// The viewer's session with the device: everything of the viewer control except its COM shell,
// its drawing and the frame hand-off itself (frame_handoff.h). The Windows control and the
// command-line tool both drive a CPlayerSession: SetURL / Stop / SetRectangle from the page's
// thread, RenderFrame from the thread that paints (the render path itself is a FrameRenderer,
// frame_renderer.h), and the status and panel fields for the status screens.
//
// Threads: SetURL starts the session thread (RTSP exchange, then it waits for the device's next
// message); the session thread starts the receiver thread, which reads the media connection and
// passes every chunk to the frame hand-off, then shows "playing" for a frame it took. The
// hand-off's lock guards the newest frame between the receiver and the painter; registryLock
// (player_registry.h) guards every status change. The two are never held together.
//
// Sizes: pictures up to kMaxPictureWidth x kMaxPictureHeight, as source and as target. Buffers
// grow when a session learns its stream's size and when SetRectangle changes the target, never
// per frame.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "container/kelo.h"
#include "platform/socket.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "player/audio_output.h"
#include "player/frame_handoff.h"
#include "player/frame_renderer.h"
#include "player/player_registry.h"
#include "player/player_status.h"
#include "streaming/rtp_socket.h"
#include "streaming/rtsp_client.h"

namespace fluxmere {

constexpr int32_t kHeaderBufferBytes = 512;
constexpr uint16_t kRtspPort = 554;

struct PlayerRect {
    int32_t left, top, right, bottom;
};

// What the session needs of the control that shows it.
class IPlayerHost {
public:
    // A repaint of rect (nullptr: the whole control), without erasing. Called from any thread
    // with registryLock held; must not block on the painting thread.
    virtual void Invalidate(const PlayerRect* rect) = 0;
    // First and last thing the receiver thread does (the control sets up COM there).
    virtual void OnReceiverThreadStart() {}
    virtual void OnReceiverThreadEnd() {}

protected:
    ~IPlayerHost() = default;
};

// What a session has handled since the viewer was made (for tools and diagnostics).
struct SessionCounters {
    int64_t framesDelivered = 0;  // combined frames that became the current frame
    int64_t framesDropped = 0;    // combined frames refused by the hand-off's checks
    int64_t audioBlocksQueued = 0;
    int64_t audioBlocksDropped = 0;
};

// Stop (and so SetURL and destruction) returns after at most this long whatever the device
// does: the session's threads get it to end once their connections are closed.
constexpr uint32_t kStopLimitMs = 1500;

// How long a session waits; the defaults are the product's.
struct SessionTiming {
    // Stop: how long the device may take to answer the TEARDOWN before both connections are
    // closed (Stop returns within kStopLimitMs all the same).
    uint32_t stopGraceMs = 500;
};

class CPlayerSession : public IDownloadPanel {
public:
    // host may be null (no repaint requests). audio and host must outlive the session.
    CPlayerSession(IAudioOutput& audio, IPlayerHost* host,
                   const SessionTiming& timing = SessionTiming());
    virtual ~CPlayerSession();
    CPlayerSession(const CPlayerSession&) = delete;
    CPlayerSession& operator=(const CPlayerSession&) = delete;

    // False when the buffers made at construction could not be allocated.
    bool IsValid() const { return valid_; }

    // --- The page's methods ---
    // Stops a session that still runs, opens the audio output and starts a session for url.
    // False (nothing started) only when the URL cannot be copied.
    bool SetURL(const char* url);
    // Sends TEARDOWN when connected and gives the device a short grace to answer it; then closes
    // both connections, which ends the session's threads whatever the device does. Returns within
    // 1.5 s, after closing the audio output; at once when no session ran.
    void Stop();
    // "x1,y1,x2,y2": the target becomes (x2 - x1) x (y2 - y1). Ignored when the text does not
    // give four numbers or the size is zero or negative; refused (no change) when it is larger
    // than the supported maximum or the picture buffer cannot grow.
    void SetRectangle(const char* text);

    // --- Painting ---
    // The video path: the hand-off copies the newest frame's video payload into the renderer,
    // which then decodes, converts and scales it to the target size. False when there is no
    // frame or its codec is not "mjpa" (nothing to paint). The picture stays valid until the next
    // call or SetRectangle; call from one painting thread.
    bool RenderFrame(RenderedPicture* picture);
    // The control, at the start of every paint (before it reads anything for it): bounds become
    // the last paint's bounds, which repaints and the Cancel button measure from; and a download
    // panel that shows a job not yet started shows 0 bytes from then on.
    void NotePaint(const PlayerRect& bounds);

    int32_t Status() const { return status_.load(std::memory_order_acquire); }
    // From SetURL until the session's thread has ended (whatever it ended with).
    bool IsSessionRunning() const { return !sessionDone_.IsSet(); }
    // On at construction; off closes the sound output until it is switched on again.
    void SetSoundOn(bool on) { audio_.SetSoundOn(on); }
    bool SoundOn() const { return audio_.SoundOn(); }
    int32_t SourceWidth() const { return renderer_.SourceWidth(); }
    int32_t SourceHeight() const { return renderer_.SourceHeight(); }
    int32_t TargetWidth() const { return renderer_.TargetWidth(); }
    int32_t TargetHeight() const { return renderer_.TargetHeight(); }
    // Set by SetRectangle, cleared by this call (the painter whitens its bitmap once).
    bool ConsumeRectangleChanged() { return rectangleChanged_.exchange(false); }
    // The bounds of the last paint (all 0 before the first); SetStatus invalidates them.
    PlayerRect LastBounds() const;

    // The download panel.
    int32_t DownloadStateValue() const { return downloadState_.load(std::memory_order_acquire); }
    int32_t DownloadCodecValue() const { return downloadCodec_.load(std::memory_order_acquire); }
    int64_t DownloadBytes() const { return downloadBytes_.load(std::memory_order_acquire); }
    bool HasDownloadJob() const;
    // The Cancel button: cancels the job the panel shows, if any.
    void CancelDownload();

    SessionCounters Counters() const;

    // IDownloadPanel (registryLock held).
    IDownloadJob* OnDownloadState(DownloadState state, CodecKind codec, IDownloadJob* job) override;
    void OnDownloadProgress(int64_t bytes) override;

private:
    // Called once per chunk on the receiver thread. size 0: the media connection timed out or
    // closed; both connections are closed and the receive loop will end. Otherwise the chunk
    // goes to the hand-off, and a frame it takes shows "playing"; returns what the hand-off
    // returns.
    static uint8_t* OnChunk(uint8_t* data, int32_t size, void* context);
    // Prepares the renderer and the hand-off for a stream of width x height with header version,
    // when the session learns the stream. False when the size is unsupported or the buffers
    // cannot grow.
    bool PrepareForStream(int32_t width, int32_t height, uint32_t version);
    // Takes registryLock (recursive: callers that hold it already may call it).
    void SetStatus(PlayerStatus status);

    static void SessionEntry(void* context);
    static void ReceiverEntry(void* context);
    void RunSession();
    void RunReceiver();
    // The closing steps shared by every way a session ends after the RTSP connect.
    void EndSession(PlayerStatus status);
    void InvalidateLastBounds();
    // Socket bookkeeping shared by the three threads (socketLock_).
    bool PublishRtspSocket(platform::SocketHandle socket);
    void MarkRtspConnected();
    void CloseConnections();
    void TeardownWithoutReply();
    bool RtspUsable();
    // Ends the threads of the last session for good: closes its sockets if it still runs, then
    // waits for both threads without limit.
    void JoinSessionThreads();

    IPlayerHost* const host_;
    const SessionTiming timing_;
    CAudioRing audio_;
    FrameHandOff handOff_{audio_};
    bool valid_ = false;

    std::atomic<int32_t> status_{static_cast<int32_t>(PlayerStatus::NotConnected)};
    platform::Event sessionDone_{true, true};
    platform::Event receiverStarted_{true, false};
    platform::Event receiverReady_{true, false};
    platform::Event receiverDone_{true, true};

    uint8_t headerBuffer_[kHeaderBufferBytes] = {};
    int32_t headerLength_ = 0;

    // The painting side, guarded by renderLock_ (held for a whole paint; the session thread takes
    // it to reconfigure for a new stream, SetRectangle to change the target). The hand-off's
    // payload limit is the renderer's payload capacity, set when both are prepared for a stream.
    platform::CriticalSection renderLock_;
    FrameRenderer renderer_;
    std::atomic<bool> rectangleChanged_{false};
    std::atomic<int32_t> lastBounds_[4] = {};

    std::atomic<int32_t> downloadState_{0};
    std::atomic<int32_t> downloadCodec_{0};
    std::atomic<int64_t> downloadBytes_{0};
    IDownloadJob* downloadJob_ = nullptr;  // a counted reference, under registryLock

    // Session objects, reused by every session.
    std::unique_ptr<char[]> url_;
    platform::Thread sessionThread_;
    platform::Thread receiverThread_;
    bool sessionStarted_ = false;  // page's thread only
    CRTSPClient rtsp_;
    CRTPSocket transport_;
    CKelo kelo_;
    uint32_t deviceAddress_ = 0;

    // The RTSP socket's state, shared by the session, receiver and page threads.
    platform::CriticalSection socketLock_;
    bool rtspConnected_ = false;
    bool connectionsClosed_ = true;
    std::atomic<bool> stopRequested_{false};
    bool sessionClosing_ = false;  // under registryLock: frames no longer set Playing
};

}  // namespace fluxmere
