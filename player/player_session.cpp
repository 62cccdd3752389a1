#include "player/player_session.h"

#include <algorithm>
#include <cstring>

#include "player/rectangle_text.h"
#include "player/stream_url.h"
#include "streaming/device_address.h"

namespace fluxmere {

namespace {

// The RTSP socket has no receive time-out while the session runs (the device's next message
// may come at any time); the closing TEARDOWN's reply is given this long.
constexpr uint32_t kClosingReplyMs = 2000;
constexpr int kMediaReceiveBufferBytes = 1048576;
constexpr uint32_t kMediaFirstTimeoutMs = 30000;
constexpr uint32_t kMediaTimeoutMs = 2000;
// What a stream announcing a width or height of 0 has: the decoder's 320 x 240.
constexpr uint32_t kZeroSizeWidth = 320;
constexpr uint32_t kZeroSizeHeight = 240;

// Waits for event until limitMs have passed since start.
void WaitUntil(platform::Event& event, uint64_t start, uint32_t limitMs) {
    const uint64_t elapsed = platform::MonotonicMs() - start;
    event.Wait(elapsed >= limitMs ? 0 : static_cast<uint32_t>(limitMs - elapsed));
}

}  // namespace

CPlayerSession::CPlayerSession(IAudioOutput& audio, IPlayerHost* host, const SessionTiming& timing)
    : host_(host), timing_(timing), audio_(audio) {
    RegistryLock();  // the first viewer of the process makes the process-wide lock
    valid_ = audio_.IsValid() && handOff_.IsValid() && renderer_.IsValid();
}

CPlayerSession::~CPlayerSession() {
    PlayerRegistry::Process().RemoveViewer(this);
    Stop();
    JoinSessionThreads();
    // A session thread that was still starting may have entered this viewer again.
    PlayerRegistry::Process().RemoveViewer(this);
    IDownloadJob* job = nullptr;
    {
        platform::ScopedLock hold(RegistryLock());
        std::swap(job, downloadJob_);
    }
    if (job != nullptr)
        job->Release();
}

// ---------------------------------------------------------------------------------------------
// The page's methods

bool CPlayerSession::SetURL(const char* url) {
    const char* text = url != nullptr ? url : "";
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (!copy)
        return false;
    std::memcpy(copy.get(), text, length + 1);

    // One session at a time: the running one ends before the next one starts. This also closes
    // the audio output, so the next OpenAudio never finds the first device still holding the
    // buffers.
    if (sessionStarted_) {
        Stop();
        JoinSessionThreads();
        sessionStarted_ = false;
    }
    url_ = std::move(copy);
    stopRequested_.store(false);
    audio_.OpenAudio();
    // Reset before the thread starts, so that a Stop right after SetURL waits for it.
    sessionDone_.Reset();
    sessionStarted_ = sessionThread_.Start(&CPlayerSession::SessionEntry, this);
    if (!sessionStarted_)
        sessionDone_.Set();
    return true;
}

void CPlayerSession::Stop() {
    const uint64_t start = platform::MonotonicMs();
    stopRequested_.store(true);
    TeardownWithoutReply();  // only when an RTSP connection exists
    // A device that answers ends the session within the grace. One that does not answer, answers
    // a byte at a time or never took the connection must not hold the page's thread: closing
    // both connections wakes every read, send and connect of the session's two threads.
    if (sessionDone_.Wait(timing_.stopGraceMs) != platform::WaitResult::Signaled)
        CloseConnections();
    WaitUntil(sessionDone_, start, kStopLimitMs);
    WaitUntil(receiverDone_, start, kStopLimitMs);
    audio_.CloseAudio();  // serialised with the receiver's queueing by the ring's lock
}

void CPlayerSession::SetRectangle(const char* text) {
    TextRectangle rect;
    if (!ParseRectangleText(text, &rect))
        return;
    const int64_t width = static_cast<int64_t>(rect.x2) - rect.x1;
    const int64_t height = static_cast<int64_t>(rect.y2) - rect.y1;
    if (width <= 0 || height <= 0)
        return;
    if (width > kMaxPictureWidth || height > kMaxPictureHeight)
        return;
    platform::ScopedLock render(renderLock_);
    if (!renderer_.SetTarget(static_cast<int32_t>(width), static_cast<int32_t>(height)))
        return;
    rectangleChanged_.store(true);
}

// ---------------------------------------------------------------------------------------------
// Status and the download panel

void CPlayerSession::SetStatus(PlayerStatus status) {
    platform::ScopedLock hold(RegistryLock());
    status_.store(static_cast<int32_t>(status), std::memory_order_release);
    InvalidateLastBounds();
}

void CPlayerSession::InvalidateLastBounds() {
    if (host_ == nullptr)
        return;
    const PlayerRect bounds = LastBounds();
    host_->Invalidate(bounds.top == 0 && bounds.bottom == 0 ? nullptr : &bounds);
}

void CPlayerSession::NotePaint(const PlayerRect& bounds) {
    lastBounds_[0].store(bounds.left, std::memory_order_relaxed);
    lastBounds_[1].store(bounds.top, std::memory_order_relaxed);
    lastBounds_[2].store(bounds.right, std::memory_order_relaxed);
    lastBounds_[3].store(bounds.bottom, std::memory_order_relaxed);
    // A job that has not started yet has transferred nothing, whatever the last job left.
    const int32_t state = DownloadStateValue();
    if (Status() == static_cast<int32_t>(PlayerStatus::Downloading) &&
        (state == static_cast<int32_t>(DownloadState::Initializing) ||
         state == static_cast<int32_t>(DownloadState::AwaitingStart))) {
        downloadBytes_.store(0, std::memory_order_release);
    }
}

PlayerRect CPlayerSession::LastBounds() const {
    return {lastBounds_[0].load(std::memory_order_relaxed),
            lastBounds_[1].load(std::memory_order_relaxed),
            lastBounds_[2].load(std::memory_order_relaxed),
            lastBounds_[3].load(std::memory_order_relaxed)};
}

IDownloadJob* CPlayerSession::OnDownloadState(DownloadState state, CodecKind codec,
                                              IDownloadJob* job) {
    downloadState_.store(static_cast<int32_t>(state), std::memory_order_release);
    downloadCodec_.store(static_cast<int32_t>(codec), std::memory_order_release);
    SetStatus(PlayerStatus::Downloading);
    if (job != nullptr)
        job->AddRef();
    IDownloadJob* displaced = downloadJob_;
    downloadJob_ = job;
    return displaced;
}

void CPlayerSession::OnDownloadProgress(int64_t bytes) {
    downloadBytes_.store(bytes, std::memory_order_release);
    InvalidateLastBounds();
}

bool CPlayerSession::HasDownloadJob() const {
    platform::ScopedLock hold(RegistryLock());
    return downloadJob_ != nullptr;
}

void CPlayerSession::CancelDownload() {
    IDownloadJob* job = nullptr;
    {
        platform::ScopedLock hold(RegistryLock());
        job = downloadJob_;
        if (job != nullptr)
            job->AddRef();  // a notification may replace it meanwhile
    }
    if (job == nullptr)
        return;
    job->Cancel();
    job->Release();
}

// ---------------------------------------------------------------------------------------------
// The session thread

void CPlayerSession::SessionEntry(void* context) {
    static_cast<CPlayerSession*>(context)->RunSession();
}

void CPlayerSession::RunSession() {
    SetStatus(PlayerStatus::Connecting);
    StreamUrl url;
    if (!ParseStreamUrl(url_.get(), &url)) {
        sessionDone_.Set();  // rejected: no traffic, "Connecting" stays
        return;
    }
    uint32_t address = HostAddress(url);
    PlayerRegistry::Process().Enter(address, this);
    if (address == platform::kInaddrNone)
        address = DefaultDeviceAddress();
    deviceAddress_ = address;

    const platform::SocketHandle rtsp = platform::CreateTcpSocket();
    if (rtsp == platform::kInvalidSocket) {
        SetStatus(PlayerStatus::CannotConnect);
        sessionDone_.Set();
        return;
    }
    platform::BindSocket(rtsp, platform::kInaddrAny, 0);
    if (!PublishRtspSocket(rtsp)) {  // Stop came first
        SetStatus(PlayerStatus::NotConnected);
        sessionDone_.Set();
        return;
    }
    if (!platform::ConnectSocket(rtsp, address, kRtspPort)) {
        EndSession(PlayerStatus::CannotConnect);
        return;
    }
    MarkRtspConnected();  // from here on Stop sends its TEARDOWN
    if (stopRequested_.load()) {
        EndSession(PlayerStatus::NotConnected);
        return;
    }

    int32_t clientPort = 0;
    const platform::SocketHandle media = transport_.Open(0, &clientPort);
    if (media == platform::kInvalidSocket) {
        EndSession(PlayerStatus::CannotConnect);
        return;
    }
    platform::SetRecvBufferSize(media, kMediaReceiveBufferBytes);
    platform::SetRecvTimeout(media, kMediaFirstTimeoutMs);

    headerLength_ = 0;  // a description without a stream header must not reuse the last one
    int32_t serverPort = 0;
    RTSPOpenOptions open;
    open.videoClientPort = clientPort;
    open.videoServerPort = &serverPort;
    open.tcp = true;
    open.headerBuffer = headerBuffer_;
    open.headerCapacity = kHeaderBufferBytes;
    open.headerLength = &headerLength_;
    // The client took the socket when it was published (kInvalidSocket: keep it), so a Stop
    // before this point has already sent its TEARDOWN there, or closed it.
    const int32_t opened = rtsp_.Open(url.host, url.path, platform::kInvalidSocket, open);
    if (opened == 503) {
        EndSession(PlayerStatus::InUseByOtherUser);
        return;
    }
    // Any other failure leaves no valid stream header or server port: the session cannot go on.
    if (opened != 0 || serverPort <= 0 || serverPort > 65535) {
        EndSession(PlayerStatus::CannotConnect);
        return;
    }
    const int32_t headerLength = std::min(headerLength_, kHeaderBufferBytes);
    const size_t lead = kStreamDescriptionLead;
    if (headerLength <= static_cast<int32_t>(lead) ||
        !kelo_.ParseHeader(headerBuffer_ + lead, static_cast<size_t>(headerLength) - lead) ||
        kelo_.tracks.empty()) {
        EndSession(PlayerStatus::CannotConnect);
        return;
    }
    // The decoder reads a width or height of 0 as 320 or 240; the whole session does the same.
    const CKeloTrack& track = kelo_.tracks.front();
    const uint32_t width = track.width == 0 ? kZeroSizeWidth : track.width;
    const uint32_t height = track.height == 0 ? kZeroSizeHeight : track.height;
    if (width > static_cast<uint32_t>(kMaxPictureWidth) ||
        height > static_cast<uint32_t>(kMaxPictureHeight) ||
        !PrepareForStream(static_cast<int32_t>(width), static_cast<int32_t>(height),
                          kelo_.version)) {
        EndSession(PlayerStatus::CannotConnect);
        return;
    }
    if (stopRequested_.load()) {
        EndSession(PlayerStatus::NotConnected);
        return;
    }

    // The rendezvous: receiver running, media connected and receiver released, callback in
    // place. Only then PLAY, so no chunk arrives before OnChunk is installed.
    receiverStarted_.Reset();
    receiverReady_.Reset();
    {
        platform::ScopedLock hold(RegistryLock());
        sessionClosing_ = false;
    }
    if (!receiverThread_.Start(&CPlayerSession::ReceiverEntry, this)) {
        EndSession(PlayerStatus::NotConnected);
        return;
    }
    receiverThread_.SetPriority(platform::ThreadPriority::TimeCritical);
    receiverStarted_.Wait(platform::kInfinite);
    transport_.Connect(serverPort, address);
    platform::SetRecvTimeout(media, kMediaTimeoutMs);
    transport_.RequestStart();
    // The receive loop may already have ended (a failed media connect) and reset receiverReady.
    platform::WaitForEither(receiverReady_, receiverDone_, platform::kInfinite);

    if (!stopRequested_.load())
        rtsp_.Play(RTSPPlayRange());  // the live stream's open range
    // Whatever comes next on the RTSP connection ends the session: the reply to Stop's or the
    // receiver's TEARDOWN, a device event, or the connection's end. This thread is the only
    // reader of the connection; the other threads send without reading. A receive loop that has
    // already ended sent its TEARDOWN before that: its reply may have come in with PLAY's and
    // been read with it, so there is nothing more to wait for.
    if (!stopRequested_.load() && !receiverDone_.IsSet())
        rtsp_.WaitForEvent();

    {
        platform::ScopedLock hold(RegistryLock());
        sessionClosing_ = true;
        SetStatus(PlayerStatus::NotConnected);
    }
    // Stop has sent its TEARDOWN already (and closes the connection if no answer comes).
    if (!stopRequested_.load() && RtspUsable()) {
        rtsp_.SetReceiveTimeout(kClosingReplyMs);
        rtsp_.Teardown(true);
    }
    // Closing the media socket ends the receive loop at its next read whatever the device
    // sends; Stop then only confirms the end.
    CloseConnections();
    transport_.Receiver().Stop();
    receiverThread_.Join(platform::kInfinite);
    sessionDone_.Set();
}

void CPlayerSession::EndSession(PlayerStatus status) {
    // A session ended by Stop shows "Not connected", whatever its exchange then failed with.
    SetStatus(stopRequested_.load() ? PlayerStatus::NotConnected : status);
    CloseConnections();
    sessionDone_.Set();
}

// ---------------------------------------------------------------------------------------------
// The receiver thread and the hand-off

void CPlayerSession::ReceiverEntry(void* context) {
    static_cast<CPlayerSession*>(context)->RunReceiver();
}

void CPlayerSession::RunReceiver() {
    receiverDone_.Reset();
    if (host_ != nullptr)
        host_->OnReceiverThreadStart();
    receiverStarted_.Set();
    while (!transport_.WaitStart()) {
    }
    CRTPReceiver& receiver = transport_.Receiver();
    receiver.SetCallback(&CPlayerSession::OnChunk, this);
    receiverReady_.Set();
    receiver.SetBuffer(handOff_.FirstBuffer(), handOff_.BufferBytes());
    receiver.Run(transport_.DataSocket());
    receiverReady_.Reset();
    receiverDone_.Set();
    // Makes the device answer, which ends the session thread's wait on the RTSP connection.
    TeardownWithoutReply();
    if (host_ != nullptr)
        host_->OnReceiverThreadEnd();
}

uint8_t* CPlayerSession::OnChunk(uint8_t* data, int32_t size, void* context) {
    CPlayerSession* self = static_cast<CPlayerSession*>(context);
    if (size == 0) {
        // Silence or a closed media connection: closing both connections ends the receive loop
        // (its next read fails) and the session thread's wait.
        self->CloseConnections();
        return nullptr;
    }
    uint8_t* next = self->handOff_.Deliver(data, size);
    if (next == nullptr)
        return nullptr;  // dropped: the status stays as it was
    {
        // Frames that arrive while the session closes must not paint over "Not connected".
        platform::ScopedLock hold(RegistryLock());
        if (!self->sessionClosing_)
            self->SetStatus(PlayerStatus::Playing);
    }
    return next;
}

SessionCounters CPlayerSession::Counters() const {
    SessionCounters counters;
    const HandOffCounters handOff = handOff_.Counters();
    counters.framesDelivered = handOff.framesDelivered;
    counters.framesDropped = handOff.framesDropped;
    counters.audioBlocksQueued = static_cast<int64_t>(audio_.BlocksQueued());
    counters.audioBlocksDropped = static_cast<int64_t>(audio_.BlocksDropped());
    return counters;
}

// ---------------------------------------------------------------------------------------------
// Sizes and rendering

bool CPlayerSession::PrepareForStream(int32_t width, int32_t height, uint32_t version) {
    if (width <= 0 || height <= 0 || width > kMaxPictureWidth || height > kMaxPictureHeight) {
        return false;
    }
    platform::ScopedLock render(renderLock_);
    const bool rendererReady = renderer_.PrepareSource(width, height);
    // The hand-off refuses every frame the renderer could not take.
    const bool handOffReady =
        handOff_.PrepareForStream(version, rendererReady ? renderer_.PayloadCapacity() : 0);
    return rendererReady && handOffReady;
}

bool CPlayerSession::RenderFrame(RenderedPicture* picture) {
    if (picture == nullptr)
        return false;
    platform::ScopedLock render(renderLock_);
    return handOff_.CopyNewestVideo(kCodecMjpa, renderer_) && renderer_.Render(picture);
}

// ---------------------------------------------------------------------------------------------
// Connections shared by three threads

bool CPlayerSession::PublishRtspSocket(platform::SocketHandle socket) {
    platform::ScopedLock hold(socketLock_);
    if (stopRequested_.load()) {
        platform::CloseSocket(socket);
        return false;
    }
    // Attached now, so that every request from here on (Stop's TEARDOWN too) goes to this
    // connection and never to the last session's closed handle.
    rtsp_.Attach(socket);
    rtspConnected_ = false;
    connectionsClosed_ = false;
    return true;
}

void CPlayerSession::MarkRtspConnected() {
    platform::ScopedLock hold(socketLock_);
    if (!connectionsClosed_)
        rtspConnected_ = true;
}

bool CPlayerSession::RtspUsable() {
    platform::ScopedLock hold(socketLock_);
    return rtspConnected_ && !connectionsClosed_;
}

void CPlayerSession::TeardownWithoutReply() {
    platform::ScopedLock hold(socketLock_);
    if (rtspConnected_ && !connectionsClosed_)
        rtsp_.Teardown(false);
}

void CPlayerSession::CloseConnections() {
    platform::ScopedLock hold(socketLock_);
    // The transport closes its media socket once, also when the session thread made it after an
    // earlier close here.
    transport_.Close();
    if (connectionsClosed_)
        return;  // a socket is closed once, by whichever thread comes first
    connectionsClosed_ = true;
    rtspConnected_ = false;
    // Through the client: a TEARDOWN being sent on another thread finishes first, and none is
    // sent after.
    rtsp_.CloseConnection();
}

void CPlayerSession::JoinSessionThreads() {
    if (!sessionThread_.Join(0)) {
        // Stop's waits expired: closing the connections wakes every blocked read, so both
        // threads end and nothing they use is freed under them.
        stopRequested_.store(true);
        CloseConnections();
        sessionThread_.Join(platform::kInfinite);
    }
    receiverThread_.Join(platform::kInfinite);
}

}  // namespace fluxmere
