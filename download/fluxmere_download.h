#pragma once
// One download of a recorded clip from the recording device: the fetch thread asks the device for
// the clip over HTTP and receives the chunked body into 512 KiB blocks; the writer thread stores
// them unchanged in a new .kelo file in the download folder; with transcoding asked for, the
// transcoding thread feeds the growing file to the transcoding engine.
//
// Lifetime: the job is reference counted. Construction gives the creator one reference; each of
// the job's threads holds one while it runs; the window and the viewer take their own. Drop a
// reference with Release, never with delete: the job goes away when the last one is dropped, also
// when that happens on one of its own threads.
//
// Final states. Every end of the transfer ends in a final state, set once the writer has closed
// the file: Complete after a body that ended with its terminating chunk (Transcoding instead, when
// a transcoding thread runs, which later sets Complete itself); Failed when the body was cut off,
// on Cancel, and when the file could not be named, created or written. A final state is never
// replaced by a late one. The partial file of a failed transfer stays on disk.

#include <atomic>
#include <cstdint>

#include "download/block_queue.h"
#include "download/download_links.h"
#include "download/download_notices.h"
#include "download/download_url.h"
#include "download/job_buffers.h"
#include "download/job_thread.h"
#include "download/response_header.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/sync.h"

namespace fluxmere {

// The job is seen through three narrow faces: the viewer's (IDownloadJob: keep it, cancel it), the
// window's (IListedJob: its row) and its transcoding thread's (ITranscodeSource: the growing file).
class CFluxmereDownload : public IDownloadJob, public IListedJob, public ITranscodeSource {
public:
    static constexpr int kMaxAttempts = 30;
    static constexpr uint32_t kRetryPauseMs = 100;
    static constexpr int64_t kProgressStep = 1048576;

    // url and folder are 8-bit texts; options are the transcoding outputs (transcode_options.h;
    // 0: none). Starts the fetch thread. Texts that do not fit the 260-byte buffers make the job
    // fail on that thread.
    CFluxmereDownload(const char* url, const char* folder, uint32_t options,
                      const DownloadLinks& links = DownloadLinks());
    CFluxmereDownload(const CFluxmereDownload&) = delete;
    CFluxmereDownload& operator=(const CFluxmereDownload&) = delete;

    void AddRef() override;
    void Release() override;
    // Ends the transfer: the writer writes what was received, closes the file and the job ends as
    // Failed. A job whose clip is already whole stops its transcoding instead: the outputs not
    // finished yet fail and are removed, and the job ends Transcoding Failed. Does nothing to a
    // job that has already ended. Any thread.
    void Cancel() override;

    // Each out-parameter may be null. Any thread, without a lock.
    void GetStatus(int64_t* bytesWritten, DownloadState* state, CodecKind* codec,
                   int64_t* transcodeTime) const override;

    // True once none of the job's threads runs any more: its state is final, or it stays
    // AwaitingStart because the device could not be reached. A thread starts another before it
    // ends, so the count never passes through zero early.
    bool HasEnded() const override { return runningThreads_.load() == 0; }

    // Changes the state and reports it to the links' notices; a change the job's course does not
    // allow (a final state replaced, InProgress after the end) is refused. True when applied.
    bool SetState(DownloadState state) override;

    // The chunk receiver's callback; context is the job.
    static uint8_t* OnDownloadChunk(uint8_t* data, int32_t size, void* context);

    // Names are final from the writer's AddJobRow on.
    const char* BaseName() const override { return baseName_; }
    const char* FilePath() const override { return filePath_; }
    uint32_t DeviceAddress() const { return deviceAddress_; }
    uint32_t Options() const override { return options_.load(); }
    void ClearOptions(uint32_t bits) override { options_.fetch_and(~bits); }
    CodecKind Codec() const override { return codec_; }  // fixed at construction
    DownloadState State() const override { return static_cast<DownloadState>(state_.load()); }
    // Why a job failed, in a few words ("the device answered 404", "the body was cut"); null
    // while none is known. Set once, before the job's Failed.
    const char* FailureReason() const { return failureReason_.load(); }
    void SetTranscodeTime(int64_t time) override { transcodeTime_.store(time); }
    void NoteFailedOutputs(uint32_t bits) override { failedOutputs_.fetch_or(bits); }
    uint32_t FailedOutputs() const override { return failedOutputs_.load(); }
    // The writer's next step, for the transcoding thread: a block written, or the file closed.
    FileProgress WaitForFile(uint32_t timeoutMs) override;
    bool CancelRequested() const override { return cancelled_.load(); }

protected:
    virtual ~CFluxmereDownload();

private:
    static void FetchThreadEntry(void* context);
    static void WriterThreadEntry(void* context);
    static void TranscodeThreadEntry(void* context);

    void RunFetch();
    void RunWriter();
    void PrepareFromUrl(const char* url, const char* folder);
    bool FetchResponseHeader();
    bool StartThread(JobThread& thread, platform::ThreadEntry entry);
    void ThreadEnded();
    bool CheckResponse(const ResponseHeader& header);
    void NoteFailure(const char* reason);
    void Fail(const char* reason);
    void ReceiveBody();
    void StoreChunk(const uint8_t* data, int32_t size);
    void EndTransfer();
    void AbortTransfer();
    void CloseTransferSocket();
    void StartTranscoding();
    void WriteBlocks();

    // Declared first, so that it goes last: the probe hears of the job's end only once its
    // threads have been waited for (or retired) and its buffers freed.
    class EndNotice {
    public:
        explicit EndNotice(IDownloadProbe* probe) : probe_(probe) {}
        ~EndNotice() {
            if (probe_ != nullptr)
                probe_->OnJobDestroyed();
        }

    private:
        IDownloadProbe* const probe_;
    };
    EndNotice endNotice_;

    std::atomic<int32_t> references_{1};
    std::atomic<int32_t> runningThreads_{0};
    const DownloadLinks links_;

    char url_[kTextBufferSize];
    char filePath_[kTextBufferSize];
    char baseName_[kTextBufferSize];
    char request_[kTextBufferSize];
    bool textsFit_ = true;
    size_t requestLength_ = 0;

    std::atomic<uint32_t> options_;
    std::atomic<int32_t> state_{static_cast<int32_t>(DownloadState::Initializing)};
    // Read from the URL at construction, never changed afterwards.
    CodecKind codec_ = CodecKind::Unknown;
    uint32_t deviceAddress_ = platform::kInaddrNone;
    uint32_t connectAddress_ = platform::kInaddrNone;
    std::atomic<platform::SocketHandle> transferSocket_{platform::kInvalidSocket};
    std::atomic<int64_t> bytesWritten_{0};
    int64_t bytesReported_ = 0;
    std::atomic<int64_t> transcodeTime_{0};
    std::atomic<uint32_t> failedOutputs_{0};
    std::atomic<const char*> failureReason_{nullptr};

    // Serialises state changes with their notices, so the viewer sees them in order.
    platform::CriticalSection stateLock_;
    // Cancel, or a writer that cannot store: the transfer ends and the job fails.
    std::atomic<bool> aborted_{false};
    std::atomic<bool> cancelled_{false};  // by Cancel only (aborted_ also by a failed write)
    // The body did not end with its terminating chunk: Complete and Transcoding are refused.
    std::atomic<bool> broken_{false};

    // Fetch thread only.
    bool bodyWhole_ = false;
    DownloadBlock* currentBlock_ = nullptr;

    // Writer thread only (the file is also closed by the destructor if ever left open).
    platform::File file_;
    bool transcoding_ = false;

    JobBuffers buffers_;
    // Writer to transcoding thread: released once per block written; set once the file is closed.
    platform::Semaphore blocksWritten_;
    platform::Event fileDone_;

    // Declared last, so that they go first: a thread that is not the calling one is waited for
    // while the job's storage is still whole.
    JobThread fetchThread_;
    JobThread writerThread_;
    JobThread transcodeThread_;
};

}  // namespace fluxmere
