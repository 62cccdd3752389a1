#include "player/player_session.h"

#include <algorithm>
#include <cstring>

#include "container/combined_frame.h"
#include "decode/resize/resize.h"
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
constexpr size_t kDecoderWorkBytes = 32768;
// Room for a block's length field and a media frame header with a parameter list.
constexpr size_t kBlockHeaderBytes = 4 + 4096;
// A chunk's size line (hex digits, CR LF) and the CR LF that ends the chunk before it.
constexpr size_t kChunkFramingBytes = 32;

// The buffers made at construction, as the control always had them: they hold a 352 x 288
// stream and a 320 x 240 target.
constexpr size_t kInitialPlaneBytes = 216576;
constexpr size_t kInitialRgbBytes = 324864;

int32_t RoundedWidth(int32_t width) { return (width + 15) / 16 * 16; }

// R, G, B pixels to the B, G, R order of a 24-bit device-independent bitmap.
void SwapRedAndBlue(uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* p = pixels + static_cast<size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x, p += 3) {
            const uint8_t red = p[0];
            p[0] = p[2];
            p[2] = red;
        }
    }
}

}  // namespace

CPlayerSession::CPlayerSession(IAudioOutput& audio, IPlayerHost* host)
    : host_(host), audio_(audio) {
    RegistryLock();  // the first viewer of the process makes the process-wide lock
    valid_ = audio_.IsValid() && receiveA_.Reserve(kMinFrameBufferBytes) &&
             receiveB_.Reserve(kMinFrameBufferBytes) && copy_.Reserve(kMinFrameBufferBytes) &&
             decoderWork_.Reserve(kDecoderWorkBytes) && planes_.Reserve(kInitialPlaneBytes) &&
             rgb_.Reserve(kInitialRgbBytes) &&
             ReservePicture(kDefaultTargetWidth, kDefaultTargetHeight);
}

CPlayerSession::~CPlayerSession() {
    PlayerRegistry::RemoveViewer(this);
    Stop();
    JoinSessionThreads();
    // A session thread that was still starting may have entered this viewer again.
    PlayerRegistry::RemoveViewer(this);
    IDownloadJob* job = nullptr;
    {
        platform::ScopedLock hold(RegistryLock());
        std::swap(job, downloadJob_);
    }
    if (job != nullptr) job->Release();
}

// ---------------------------------------------------------------------------------------------
// The page's methods

bool CPlayerSession::SetURL(const char* url) {
    const char* text = url != nullptr ? url : "";
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[length + 1]);
    if (!copy) return false;
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
    if (!sessionStarted_) sessionDone_.Set();
    return true;
}

void CPlayerSession::Stop() {
    stopRequested_.store(true);
    TeardownWithoutReply();  // only when an RTSP connection exists
    sessionDone_.Wait(stopWaitMs_);
    receiverDone_.Wait(stopWaitMs_);
    audio_.CloseAudio();  // serialised with the receiver's queueing by the ring's lock
}

void CPlayerSession::SetRectangle(const char* text) {
    TextRectangle rect;
    if (!ParseRectangleText(text, &rect)) return;
    const int64_t width = static_cast<int64_t>(rect.x2) - rect.x1;
    const int64_t height = static_cast<int64_t>(rect.y2) - rect.y1;
    if (width <= 0 || height <= 0) return;
    if (width > kMaxPictureWidth || height > kMaxPictureHeight) return;
    platform::ScopedLock render(renderLock_);
    if (!ReservePicture(static_cast<int32_t>(width), static_cast<int32_t>(height))) return;
    targetWidth_.store(static_cast<int32_t>(width), std::memory_order_release);
    targetHeight_.store(static_cast<int32_t>(height), std::memory_order_release);
    rectangleChanged_.store(true);
}

// ---------------------------------------------------------------------------------------------
// Status and the download panel

void CPlayerSession::SetStatus(PlayerStatus status, bool lock) {
    if (lock) RegistryLock().Enter();
    status_.store(static_cast<int32_t>(status), std::memory_order_release);
    InvalidateLastBounds();
    if (lock) RegistryLock().Leave();
}

void CPlayerSession::InvalidateLastBounds() {
    if (host_ == nullptr) return;
    const PlayerRect bounds = LastBounds();
    host_->Invalidate(bounds.top == 0 && bounds.bottom == 0 ? nullptr : &bounds);
}

void CPlayerSession::SetLastBounds(const PlayerRect& bounds) {
    lastBounds_[0].store(bounds.left, std::memory_order_relaxed);
    lastBounds_[1].store(bounds.top, std::memory_order_relaxed);
    lastBounds_[2].store(bounds.right, std::memory_order_relaxed);
    lastBounds_[3].store(bounds.bottom, std::memory_order_relaxed);
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
    SetStatus(PlayerStatus::Downloading, false);
    if (job != nullptr) job->AddRef();
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
        if (job != nullptr) job->AddRef();  // a notification may replace it meanwhile
    }
    if (job == nullptr) return;
    job->Cancel();
    job->Release();
}

// ---------------------------------------------------------------------------------------------
// The session thread

void CPlayerSession::SessionEntry(void* context) {
    static_cast<CPlayerSession*>(context)->RunSession();
}

void CPlayerSession::RunSession() {
    SetStatus(PlayerStatus::Connecting, true);
    StreamUrl url;
    if (!ParseStreamUrl(url_.get(), &url)) {
        sessionDone_.Set();  // rejected: no traffic, "Connecting" stays
        return;
    }
    uint32_t address = HostAddress(url);
    PlayerRegistry::Enter(address, this);
    if (address == platform::kInaddrNone) address = DefaultDeviceAddress();
    deviceAddress_ = address;

    const platform::SocketHandle rtsp = platform::CreateTcpSocket();
    if (rtsp == platform::kInvalidSocket) {
        SetStatus(PlayerStatus::CannotConnect, true);
        sessionDone_.Set();
        return;
    }
    platform::BindSocket(rtsp, platform::kInaddrAny, 0);
    if (!PublishRtspSocket(rtsp)) {  // Stop came first
        SetStatus(PlayerStatus::NotConnected, true);
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
    const int32_t opened = rtsp_.Open(url.host, url.path, rtsp, clientPort, &serverPort, 0,
                                      nullptr, 0, nullptr, true, nullptr, 0, headerBuffer_,
                                      kHeaderBufferBytes, &headerLength_);
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
    const CKeloTrack track = kelo_.tracks.front();
    if (track.width == 0 || track.height == 0 ||
        track.width > static_cast<uint32_t>(kMaxPictureWidth) ||
        track.height > static_cast<uint32_t>(kMaxPictureHeight) ||
        !PrepareForStream(static_cast<int32_t>(track.width), static_cast<int32_t>(track.height),
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

    if (!stopRequested_.load()) rtsp_.Play(-1, 0, 0, 0, -1, 0, 0, 0);
    // Whatever comes next on the RTSP connection ends the session: the reply to Stop's or the
    // receiver's TEARDOWN, a device event, or the connection's end. This thread is the only
    // reader of the connection; the other threads send without reading. A receive loop that has
    // already ended sent its TEARDOWN before that: its reply may have come in with PLAY's and
    // been read with it, so there is nothing more to wait for.
    if (!stopRequested_.load() && !receiverDone_.IsSet()) rtsp_.WaitForEvent();

    {
        platform::ScopedLock hold(RegistryLock());
        sessionClosing_ = true;
        SetStatus(PlayerStatus::NotConnected, false);
    }
    if (RtspUsable()) {
        platform::SetRecvTimeout(rtsp, kClosingReplyMs);
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
    SetStatus(stopRequested_.load() ? PlayerStatus::NotConnected : status, true);
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
    if (host_ != nullptr) host_->OnReceiverThreadStart();
    receiverStarted_.Set();
    while (!transport_.WaitStart()) {
    }
    CRTPReceiver& receiver = transport_.Receiver();
    receiver.SetCallback(&CPlayerSession::OnChunk, this);
    receiverReady_.Set();
    receiver.SetBuffer(receiveA_.data(), ReceiveBufferBytes());
    receiver.Run(transport_.DataSocket());
    receiverReady_.Reset();
    receiverDone_.Set();
    // Makes the device answer, which ends the session thread's wait on the RTSP connection.
    TeardownWithoutReply();
    if (host_ != nullptr) host_->OnReceiverThreadEnd();
}

uint8_t* CPlayerSession::OnChunk(uint8_t* data, int32_t size, void* context) {
    CPlayerSession* self = static_cast<CPlayerSession*>(context);
    if (size != 0) return self->DeliverFrame(data, size);
    // Silence or a closed media connection: closing both connections ends the receive loop
    // (its next read fails) and the session thread's wait.
    self->CloseConnections();
    return nullptr;
}

uint8_t* CPlayerSession::DeliverFrame(uint8_t* data, int32_t size) {
    if (data == nullptr || size <= 0) return nullptr;
    handOffLock_.Wait(platform::kInfinite);
    CombinedFrameSpans spans;
    const bool usable =
        SplitCombinedFrame(data, static_cast<size_t>(size), videoFrame_, audioFrame_, &spans) &&
        spans.videoPayloadSize <= copy_.capacity();
    if (!usable) {
        // Dropped: the current frame, the audio and the status stay as they were.
        handOffLock_.Release();
        framesDropped_.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    currentFrame_ = data;
    currentFrameSize_ = size;
    audio_.QueueAudioBlock(audioFrame_, spans.audioPayload);
    handOffLock_.Release();
    framesDelivered_.fetch_add(1, std::memory_order_relaxed);
    {
        // Frames that arrive while the session closes must not paint over "Not connected".
        platform::ScopedLock hold(RegistryLock());
        if (!sessionClosing_) SetStatus(PlayerStatus::Playing, false);
    }
    // The receiver reads on into the other buffer, so this frame stays put until the next
    // delivered frame has become the current one.
    return receiveA_.Contains(data) ? receiveB_.data() : receiveA_.data();
}

SessionCounters CPlayerSession::Counters() const {
    SessionCounters counters;
    counters.framesDelivered = framesDelivered_.load(std::memory_order_relaxed);
    counters.framesDropped = framesDropped_.load(std::memory_order_relaxed);
    counters.audioBlocksQueued = static_cast<int64_t>(audio_.BlocksQueued());
    counters.audioBlocksDropped = static_cast<int64_t>(audio_.BlocksDropped());
    return counters;
}

// ---------------------------------------------------------------------------------------------
// Sizes and rendering

size_t CPlayerSession::FramePayloadBytes(int32_t width, int32_t height) {
    // A Motion-JPEG picture is never larger than its raw 4:2:2 samples (2 bytes a pixel) unless
    // it is garbage; anything larger is dropped.
    return std::max(kMinFrameBufferBytes,
                    static_cast<size_t>(RoundedWidth(width)) * static_cast<size_t>(height) * 2);
}

bool CPlayerSession::ReservePicture(int32_t width, int32_t height) {
    size_t workBytes = 0;
    return picture_.Reserve(static_cast<size_t>(PictureStride(width)) *
                            static_cast<size_t>(height)) &&
           ResizeWorkSize(kMaxPictureWidth, width, height, &workBytes) == StatusOk &&
           resizeWork_.Reserve(workBytes);
}

bool CPlayerSession::PrepareForStream(int32_t width, int32_t height, uint32_t version) {
    if (width <= 0 || height <= 0 || width > kMaxPictureWidth || height > kMaxPictureHeight) {
        return false;
    }
    const int32_t w16 = RoundedWidth(width);
    const size_t payload = FramePayloadBytes(width, height);
    const size_t chunk = kBlockHeaderBytes + payload + kBlockHeaderBytes + kAudioBufferBytes;
    const size_t receive = std::max(kMinFrameBufferBytes,
                                    chunk + kChunkFramingBytes + CRTPReceiver::kReadSize);

    platform::ScopedLock render(renderLock_);
    handOffLock_.Wait(platform::kInfinite);
    // The last session's frame belongs to another stream: nothing to paint until a new one.
    currentFrame_ = nullptr;
    currentFrameSize_ = 0;
    videoFrame_.version = version;
    audioFrame_.version = version;
    const bool buffers =
        copy_.Reserve(payload) && receiveA_.Reserve(receive) && receiveB_.Reserve(receive);
    handOffLock_.Release();

    paintFrame_.version = version;
    streamVersion_ = version;
    const size_t lumaBytes = static_cast<size_t>(w16) * static_cast<size_t>(height);
    const size_t chromaBytes = lumaBytes / 2;
    if (!buffers || !planes_.Reserve(lumaBytes + 2 * chromaBytes) ||
        !rgb_.Reserve(lumaBytes * 3)) {
        return false;
    }
    PlaneCapacities capacities;
    capacities.luma = static_cast<int32_t>(lumaBytes);
    capacities.firstChroma = static_cast<int32_t>(chromaBytes);
    capacities.secondChroma = static_cast<int32_t>(chromaBytes);
    if (decoder_.Configure(width, height, w16, reinterpret_cast<int16_t*>(decoderWork_.data()),
                           capacities) != StatusOk) {
        return false;
    }
    sourceWidth_.store(width, std::memory_order_release);
    sourceHeight_.store(height, std::memory_order_release);
    return true;
}

bool CPlayerSession::RenderFrame(RenderedPicture* picture) {
    if (picture == nullptr) return false;
    platform::ScopedLock render(renderLock_);

    // Hand-off: under the lock only the header parse and the copy of the video payload.
    handOffLock_.Wait(platform::kInfinite);
    uint32_t payloadSize = 0;
    bool copied = false;
    if (currentFrame_ != nullptr && currentFrameSize_ > 4) {
        const uint8_t* frame = currentFrame_;
        const size_t size = static_cast<size_t>(currentFrameSize_);
        const size_t headerLength = (static_cast<size_t>(frame[0]) << 24) |
                                    (static_cast<size_t>(frame[1]) << 16) |
                                    (static_cast<size_t>(frame[2]) << 8) | frame[3];
        if (headerLength <= size - 4 &&
            paintFrame_.ParseHeader(frame + 4, headerLength, &payloadSize) &&
            paintFrame_.codecCode == kCodecMjpa && payloadSize <= copy_.capacity() &&
            payloadSize <= size - 4 - headerLength) {
            std::memcpy(copy_.data(), frame + 4 + headerLength, payloadSize);
            copied = true;
        }
    }
    handOffLock_.Release();
    if (!copied) return false;
    // No zero fill behind the payload: the decoder reads only the payload's own bytes.

    const int32_t sourceWidth = SourceWidth();
    const int32_t sourceHeight = SourceHeight();
    if (sourceWidth <= 0 || sourceHeight <= 0) return false;  // no stream prepared
    const int32_t targetWidth = TargetWidth();
    const int32_t targetHeight = TargetHeight();
    const int32_t w16 = RoundedWidth(sourceWidth);
    uint8_t* luma = planes_.data();
    uint8_t* cb = luma + static_cast<size_t>(w16) * sourceHeight;
    uint8_t* cr = cb + static_cast<size_t>(w16 / 2) * sourceHeight;

    CCompressedSample sample;
    sample.data = copy_.data();
    sample.size = static_cast<int32_t>(payloadSize);
    uint8_t* const decoded[3] = {luma, cb, cr};
    decoder_.Decode(decoded, &sample);

    // The planes go to the converter in their own order. Handing it Cr as Cb and Cb as Cr would
    // also put the bytes in B, G, R order, but through the wrong coefficients (blue would get
    // red's 1.596 instead of 2.017, and green would mix the two up): visibly wrong colours. The
    // bytes are put in B, G, R order after scaling instead, on the smaller picture.
    const uint8_t* const ordered[3] = {luma, cb, cr};
    const int32_t strides[3] = {w16, w16 / 2, w16 / 2};
    const int32_t stride = PictureStride(targetWidth);
    if (targetWidth == sourceWidth && targetHeight == sourceHeight) {
        // The cubic scale by 1 would be an exact copy of the picture: convert straight into it.
        YCbCr422ToRGB(ordered, strides, picture_.data(), stride, sourceWidth, sourceHeight);
    } else {
        YCbCr422ToRGB(ordered, strides, rgb_.data(), 3 * w16, w16, sourceHeight);
        ResizeRGBWithWork(rgb_.data(), w16, sourceHeight, 3 * w16, 0, 0, sourceWidth,
                          sourceHeight, picture_.data(), stride, targetWidth, targetHeight,
                          static_cast<double>(targetWidth) / sourceWidth,
                          static_cast<double>(targetHeight) / sourceHeight, CubicMode,
                          resizeWork_.data(), resizeWork_.capacity());
    }
    SwapRedAndBlue(picture_.data(), targetWidth, targetHeight, stride);
    picture->pixels = picture_.data();
    picture->width = targetWidth;
    picture->height = targetHeight;
    picture->stride = stride;
    return true;
}

size_t CPlayerSession::ReceiveBufferBytes() const {
    return std::min(receiveA_.capacity(), receiveB_.capacity());
}

// ---------------------------------------------------------------------------------------------
// Connections shared by three threads

bool CPlayerSession::PublishRtspSocket(platform::SocketHandle socket) {
    platform::ScopedLock hold(socketLock_);
    if (stopRequested_.load()) {
        platform::CloseSocket(socket);
        return false;
    }
    rtspSocket_ = socket;
    rtspConnected_ = false;
    connectionsClosed_ = false;
    return true;
}

void CPlayerSession::MarkRtspConnected() {
    platform::ScopedLock hold(socketLock_);
    if (!connectionsClosed_) rtspConnected_ = true;
}

bool CPlayerSession::RtspUsable() {
    platform::ScopedLock hold(socketLock_);
    return rtspConnected_ && !connectionsClosed_;
}

void CPlayerSession::TeardownWithoutReply() {
    platform::ScopedLock hold(socketLock_);
    if (rtspConnected_ && !connectionsClosed_) rtsp_.Teardown(false);
}

void CPlayerSession::CloseConnections() {
    platform::ScopedLock hold(socketLock_);
    // The transport closes its media socket once, also when the session thread made it after an
    // earlier close here.
    transport_.Close();
    if (connectionsClosed_) return;  // a socket is closed once, by whichever thread comes first
    connectionsClosed_ = true;
    rtspConnected_ = false;
    platform::CloseSocket(rtspSocket_);
    rtspSocket_ = platform::kInvalidSocket;
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
