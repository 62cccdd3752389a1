#include "download/fluxmere_download.h"

#include <cstdio>
#include <cstring>

#include "download/file_naming.h"
#include "download/response_header.h"
#include "streaming/device_address.h"
#include "streaming/rtp_receiver.h"

namespace fluxmere {

namespace {

constexpr uint16_t kHttpPort = 80;

class SocketByteSource : public IByteSource {
public:
    explicit SocketByteSource(platform::SocketHandle socket) : socket_(socket) {}
    int Read(uint8_t* buffer, int length) override {
        const int got = platform::RecvSocket(socket_, buffer, length);
        if (got < 0 && platform::LastSocketError() == platform::kWsaETimedOut)
            silent_ = true;
        return got;
    }
    // The device sent nothing for the socket's receive time-out.
    bool silent() const { return silent_; }

private:
    platform::SocketHandle socket_;
    bool silent_ = false;
};

bool FormatFits(size_t capacity, int written) {
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

// Reasons a job failed, for FailureReason.
constexpr char kReasonStatus[] = "the device did not answer with success (2xx)";
constexpr char kReasonNotChunked[] = "the reply's body is not in chunked coding";
constexpr char kReasonFraming[] = "the body's chunk framing is not HTTP/1.1";
constexpr char kReasonCut[] = "the body was cut off";
constexpr char kReasonReset[] = "the device reset the connection before the body's end";
constexpr char kReasonSilent[] = "the device sent nothing for the time allowed";
constexpr char kReasonNoHeader[] = "no usable reply header";

bool IsFinal(DownloadState state) {
    return state == DownloadState::Complete || state == DownloadState::Failed;
}

// The job's course: which state may follow which. Transitions the threads can race for (the
// writer's InProgress after the end, the fetch thread's Transcoding after the transcoding thread's
// Complete) are refused here instead of overwriting the later state.
bool MayFollow(DownloadState from, DownloadState to) {
    using S = DownloadState;
    if (from == to || IsFinal(from))
        return false;
    switch (to) {
        case S::Initializing:
            return false;
        case S::AwaitingStart:
            return from == S::Initializing;
        case S::InProgress:
            return from == S::Initializing || from == S::AwaitingStart;
        case S::Transcoding:
            return from == S::AwaitingStart || from == S::InProgress;
        case S::TranscodingFailed:
            return from == S::AwaitingStart || from == S::InProgress || from == S::Transcoding;
        case S::Complete:
            return from != S::TranscodingFailed;
        case S::Failed:
            return true;
    }
    return false;
}

}  // namespace

CFluxmereDownload::CFluxmereDownload(const char* url, const char* folder, uint32_t options,
                                     const DownloadLinks& links)
    : endNotice_(links.probe),
      links_(links),
      options_(options),
      blocksWritten_(0, 8388608),
      fileDone_(true, false) {
    url_[0] = filePath_[0] = request_[0] = '\0';
    CopyText("Fluxmere", baseName_, sizeof(baseName_));
    PrepareFromUrl(url != nullptr ? url : "", folder != nullptr ? folder : "");
    if (!StartThread(fetchThread_, FetchThreadEntry))
        SetState(DownloadState::Failed);
}

CFluxmereDownload::~CFluxmereDownload() {
    // Every thread has dropped its reference, so each has finished with the job. The members
    // then go in reverse order: the threads (waited for), the buffers, and last the probe's
    // notice.
    CloseTransferSocket();
    file_.Close();
}

void CFluxmereDownload::AddRef() {
    references_.fetch_add(1);
}

void CFluxmereDownload::Release() {
    if (references_.fetch_sub(1) == 1)
        delete this;
}

void CFluxmereDownload::Cancel() {
    cancelled_.store(true);
    AbortTransfer();
}

FileProgress CFluxmereDownload::WaitForFile(uint32_t timeoutMs) {
    // A block written wins over the close, so every block is told before it.
    switch (platform::WaitForEither(blocksWritten_, fileDone_, timeoutMs)) {
        case 0:
            return FileProgress::BlockWritten;
        case 1:
            return FileProgress::Closed;
        default:
            return FileProgress::None;
    }
}

void CFluxmereDownload::GetStatus(int64_t* bytesWritten, DownloadState* state, CodecKind* codec,
                                  int64_t* transcodeTime) const {
    if (bytesWritten != nullptr)
        *bytesWritten = bytesWritten_.load();
    if (state != nullptr)
        *state = State();
    if (codec != nullptr)
        *codec = codec_;
    if (transcodeTime != nullptr)
        *transcodeTime = transcodeTime_.load();
}

void CFluxmereDownload::NoteFailure(const char* reason) {
    const char* none = nullptr;
    failureReason_.compare_exchange_strong(none, reason);  // the first reason is the cause
}

void CFluxmereDownload::Fail(const char* reason) {
    NoteFailure(reason);
    SetState(DownloadState::Failed);
}

bool CFluxmereDownload::SetState(DownloadState state) {
    platform::ScopedLock lock(stateLock_);
    if (!MayFollow(State(), state))
        return false;
    if ((state == DownloadState::Complete || state == DownloadState::Transcoding) &&
        broken_.load()) {
        return false;
    }
    state_.store(static_cast<int32_t>(state));
    if (links_.notices != nullptr) {
        links_.notices->OnDownloadState(deviceAddress_, state, codec_, this);
    }
    return true;
}

void CFluxmereDownload::PrepareFromUrl(const char* url, const char* folder) {
    DownloadUrlParts parts;
    const size_t folderLength = std::strlen(folder);
    textsFit_ = CopyText(url, url_, sizeof(url_)) && folderLength + 1 < sizeof(filePath_) &&
                SplitDownloadUrl(url_, &parts);
    if (!textsFit_)
        return;
    std::memcpy(filePath_, folder, folderLength);
    filePath_[folderLength] = '\\';
    filePath_[folderLength + 1] = '\0';

    codec_ = parts.codec;
    textsFit_ = DeviceAddressOfHost(url_ + parts.hostOffset, parts.hostLength, &deviceAddress_);
    connectAddress_ =
        deviceAddress_ != platform::kInaddrNone ? deviceAddress_ : DefaultDeviceAddress();
    requestLength_ = BuildExportRequest(url_ + parts.commandOffset, request_, sizeof(request_));
    textsFit_ = textsFit_ && requestLength_ != 0;
    url_[parts.commandOffset - 1] = '\0';  // the URL now ends with the host text
}

bool CFluxmereDownload::StartThread(JobThread& thread, platform::ThreadEntry entry) {
    AddRef();
    runningThreads_.fetch_add(1);
    if (thread.Start(entry, this))
        return true;
    runningThreads_.fetch_sub(1);
    references_.fetch_sub(1);  // the caller still holds its own reference
    return false;
}

// A thread's last act: it may drop the job's last reference.
void CFluxmereDownload::ThreadEnded() {
    runningThreads_.fetch_sub(1);
    Release();
}

void CFluxmereDownload::FetchThreadEntry(void* context) {
    auto* job = static_cast<CFluxmereDownload*>(context);
    job->RunFetch();
    job->ThreadEnded();
}

void CFluxmereDownload::WriterThreadEntry(void* context) {
    auto* job = static_cast<CFluxmereDownload*>(context);
    job->RunWriter();
    job->ThreadEnded();
}

void CFluxmereDownload::TranscodeThreadEntry(void* context) {
    auto* job = static_cast<CFluxmereDownload*>(context);
    job->links_.transcoder->RunTranscode(job);
    job->ThreadEnded();
}

void CFluxmereDownload::RunFetch() {
    if (!textsFit_ || !buffers_.Ready()) {
        SetState(DownloadState::Failed);
        return;
    }
    SetState(DownloadState::AwaitingStart);
    if (!FetchResponseHeader())
        return;
    if (!StartThread(writerThread_, WriterThreadEntry)) {
        CloseTransferSocket();
        SetState(DownloadState::Failed);
        return;
    }
    ReceiveBody();
    EndTransfer();
}

bool CFluxmereDownload::FetchResponseHeader() {
    ResponseHeader header;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        if (attempt > 0) {
            if (links_.probe != nullptr) {
                links_.probe->PauseBeforeRetry(kRetryPauseMs);
            } else {
                platform::SleepMs(kRetryPauseMs);
            }
        }
        const platform::SocketHandle socket = platform::CreateTcpSocket();
        transferSocket_.store(socket);
        // Cancel either sees this socket and closes it, or is seen here.
        if (aborted_.load() || socket == platform::kInvalidSocket)
            break;
        platform::BindSocket(socket, platform::kInaddrAny, 0);
        // A device that goes silent ends the transfer instead of holding it forever.
        platform::SetRecvTimeout(
            socket, links_.probe != nullptr ? links_.probe->SilenceLimitMs() : kTransferSilenceMs);
        if (!platform::ConnectSocket(socket, connectAddress_, kHttpPort)) {
            CloseTransferSocket();
            // A refused connection leaves the job waiting to start, without a file; a connect
            // broken off by Cancel is a cancelled job.
            if (aborted_.load())
                SetState(DownloadState::Failed);
            return false;
        }
        if (platform::SendAll(socket, request_, static_cast<int>(requestLength_))) {
            SocketByteSource source(socket);
            ReadResponseHeader(source, &header);
            if (IsUsableHeader(header))
                return CheckResponse(header);
            if (source.silent()) {
                // Asking again would wait as long again, up to 30 times.
                CloseTransferSocket();
                Fail(kReasonSilent);
                return false;
            }
        }
        CloseTransferSocket();
        if (aborted_.load())
            break;
    }
    CloseTransferSocket();
    Fail(kReasonNoHeader);
    return false;
}

bool CFluxmereDownload::CheckResponse(const ResponseHeader& header) {
    // An error page is no clip, and a body in another coding would be stored with framing
    // bytes or cut: neither is written to a file.
    const int status = ResponseStatus(header);
    const char* refused = status < 200 || status > 299 ? kReasonStatus
                          : !IsChunkedResponse(header) ? kReasonNotChunked
                                                       : nullptr;
    if (refused != nullptr) {
        CloseTransferSocket();
        Fail(refused);
        return false;
    }
    TakeBaseNameFromHeader(header.text, baseName_, sizeof(baseName_));
    return true;
}

void CFluxmereDownload::ReceiveBody() {
    CRTPReceiver receiver;
    receiver.SetBuffer(buffers_.FirstChunkBuffer(), JobBuffers::kChunkBufferSize);
    receiver.SetCallback(OnDownloadChunk, this);
    receiver.SetRule(ChunkRule::Strict);  // the body is stored byte for byte
    const platform::SocketHandle socket = transferSocket_.load();
    const int32_t result = socket != platform::kInvalidSocket ? receiver.Run(socket) : 0;
    // The device ends the body by closing the connection, at a chunk boundary; the terminating
    // chunk has no effect of its own. A reset or a silence as long as the socket's time-out ends
    // it too, but then only the terminating chunk shows that nothing is missing.
    const ChunkNotice& end = receiver.LastNotice();
    bodyWhole_ = end.BodyWhole();
    if (end.cause != NoticeCause::None && !bodyWhole_) {
        NoteFailure(end.cause == NoticeCause::PeerClosed       ? kReasonCut
                    : end.cause == NoticeCause::ConnectionLost ? kReasonReset
                                                               : kReasonSilent);
    }
    if (result == CRTPReceiver::kBadFraming || result == CRTPReceiver::kChunkTooLarge) {
        NoteFailure(kReasonFraming);
    }
}

uint8_t* CFluxmereDownload::OnDownloadChunk(uint8_t* data, int32_t size, void* context) {
    auto* job = static_cast<CFluxmereDownload*>(context);
    if (size <= 0) {
        // The body's end (the receiver handed its last chunks over before this notice), or a
        // silence: either way the transfer is over, and closing the socket ends the receiver.
        job->CloseTransferSocket();
        return nullptr;
    }
    job->StoreChunk(data, size);
    return job->buffers_.OtherChunkBuffer(data);
}

void CFluxmereDownload::StoreChunk(const uint8_t* data, int32_t size) {
    while (size > 0) {
        if (currentBlock_ == nullptr) {
            currentBlock_ = buffers_.Queue().AcquireBlock(0);
            if (currentBlock_ == nullptr && !aborted_.load()) {
                // Every block waits for the disk: hold the network until the writer frees one.
                if (links_.probe != nullptr)
                    links_.probe->OnQueueFull();
                currentBlock_ = buffers_.Queue().AcquireBlock(platform::kInfinite);
            }
            if (currentBlock_ == nullptr)
                return;  // cancelled while the queue is full
        }
        const int32_t room = BlockQueue::kBlockSize - currentBlock_->size;
        const int32_t part = size < room ? size : room;
        std::memcpy(currentBlock_->data + currentBlock_->size, data, static_cast<size_t>(part));
        currentBlock_->size += part;
        data += part;
        size -= part;
        // A full block is committed only when more data comes, so the last block of the body is
        // still at hand when the end is seen.
        if (size > 0) {
            buffers_.Queue().CommitBlock();
            currentBlock_ = nullptr;
        }
    }
}

void CFluxmereDownload::EndTransfer() {
    CloseTransferSocket();
    if (currentBlock_ != nullptr) {
        currentBlock_->last = true;
        buffers_.Queue().CommitBlock();
        currentBlock_ = nullptr;
    }
    const bool whole = bodyWhole_ && !aborted_.load();
    if (!whole)
        broken_.store(true);
    buffers_.Queue().Finish();
    // The final state waits for the writer, so that it also means: the file is closed. A
    // transcoding thread may have set Complete by then; Transcoding does not replace it.
    writerThread_.Join(platform::kInfinite);
    if (!whole) {
        Fail(aborted_.load() ? "cancelled" : kReasonCut);
    } else {
        SetState(transcoding_ ? DownloadState::Transcoding : DownloadState::Complete);
    }
}

void CFluxmereDownload::AbortTransfer() {
    aborted_.store(true);
    if (buffers_.Ready())
        buffers_.Queue().Abort();
    CloseTransferSocket();
}

void CFluxmereDownload::CloseTransferSocket() {
    const platform::SocketHandle socket = transferSocket_.exchange(platform::kInvalidSocket);
    if (socket != platform::kInvalidSocket)
        platform::CloseSocket(socket);
}

void CFluxmereDownload::RunWriter() {
    char fileName[kTextBufferSize];
    char fullPath[kTextBufferSize];
    if (!CreateFreeFile(filePath_, baseName_, fileName, fullPath, sizeof(fullPath), &file_)) {
        // No name fits the path buffer, or the folder cannot take the file: nothing is stored.
        // The job is listed all the same, so that the user sees it end as Failed.
        file_.Close();
        AbortTransfer();
        if (fileName[0] != '\0' ||
            FormatFits(sizeof(fileName),
                       std::snprintf(fileName, sizeof(fileName), "%s.kelo", baseName_))) {
            std::memcpy(baseName_, fileName, sizeof(baseName_));
        }
        if (links_.jobList != nullptr)
            links_.jobList->AddJobRow(this);
        while (buffers_.Queue().TakeBlock(platform::kInfinite) != nullptr)
            buffers_.Queue().ReturnBlock();
        fileDone_.Set();
        return;
    }
    std::memcpy(baseName_, fileName, sizeof(baseName_));
    std::memcpy(filePath_, fullPath, sizeof(filePath_));
    if (links_.jobList != nullptr)
        links_.jobList->AddJobRow(this);
    if (options_.load() != 0)
        StartTranscoding();
    WriteBlocks();
    file_.Close();
    fileDone_.Set();
}

void CFluxmereDownload::StartTranscoding() {
    // Without a transcoding engine, or without a thread for it, the job is one whose engine did
    // not start: the file is still stored whole.
    transcoding_ =
        links_.transcoder != nullptr && StartThread(transcodeThread_, TranscodeThreadEntry);
    if (!transcoding_) {
        NoteFailedOutputs(options_.load());
        SetState(DownloadState::TranscodingFailed);
    }
}

void CFluxmereDownload::WriteBlocks() {
    bool writing = true;
    for (int64_t index = 0;; ++index) {
        DownloadBlock* block = buffers_.Queue().TakeBlock(platform::kInfinite);
        if (block == nullptr)
            break;
        if (links_.probe != nullptr)
            links_.probe->BeforeBlockWrite(index);
        if (writing && file_.Write(block->data, block->size) != block->size) {
            // A disk that refuses data fails the job; the remaining blocks are only drained.
            writing = false;
            AbortTransfer();
        }
        if (writing) {
            const int64_t before = bytesWritten_.load();
            if (before != 0)
                SetState(DownloadState::InProgress);
            const int64_t written = before + block->size;
            bytesWritten_.store(written);
            if (written - bytesReported_ > kProgressStep) {
                if (links_.notices != nullptr) {
                    links_.notices->OnDownloadProgress(deviceAddress_, written);
                }
                bytesReported_ = written;
            }
            blocksWritten_.Release(1);
        }
        const bool last = block->last;
        buffers_.Queue().ReturnBlock();
        if (last)
            break;
    }
}

}  // namespace fluxmere
