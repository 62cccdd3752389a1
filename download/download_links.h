#pragma once
// What a download job calls outside itself: the receiver of its notices (the player registry in
// the product), the download manager window's job list and the transcoding hand-off. Each may be
// absent; a test probe may watch and pace the job's threads.

#include <cstdint>

#include "download/download_notices.h"
#include "platform/thread.h"

namespace fluxmere {

// A transfer that receives nothing for this long ends as failed.
constexpr uint32_t kTransferSilenceMs = 60000;

// A job as the download manager window's list sees it: what a row shows, and a counted reference
// for as long as the row holds the job.
class IListedJob {
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    // The name of the job's file ("clip01.kelo"), final before the job is listed.
    virtual const char* BaseName() const = 0;
    // Each out-parameter may be null. Any thread, without a lock.
    virtual void GetStatus(int64_t* bytesWritten, DownloadState* state, CodecKind* codec,
                           int64_t* transcodeTime) const = 0;
    // The transcoding outputs that failed (TranscodeOptions bits); 0 while none has.
    virtual uint32_t FailedOutputs() const = 0;
    // True once none of the job's threads runs any more: its state will not change again.
    virtual bool HasEnded() const = 0;

protected:
    ~IListedJob() = default;
};

// The download manager window's list. Called on the job's writer thread once the file name is
// chosen; returns when the row is in the list. A list that keeps the job takes its own reference
// (AddRef) and later drops it with Release.
class IJobList {
public:
    virtual void AddJobRow(IListedJob* job) = 0;

protected:
    ~IJobList() = default;
};

// What the writer has done with the file, as its transcoding thread waits for it.
enum class FileProgress : int32_t {
    BlockWritten,  // one more block is in the file (every block is told before the close)
    Closed,        // the writer has closed the file: nothing more comes
    None,          // nothing within the time given
};

// A job as its transcoding thread sees it: the file that grows behind the writer, the job's
// codec and transcoding options, and the state and transcoding time it reports.
class ITranscodeSource {
public:
    // The full path of the .kelo file.
    virtual const char* FilePath() const = 0;
    // TranscodeOptions bits (transcode_options.h), fixed while the thread reads them.
    virtual uint32_t Options() const = 0;
    // Clears option bits for a job the engine cannot be given.
    virtual void ClearOptions(uint32_t bits) = 0;
    virtual CodecKind Codec() const = 0;
    virtual DownloadState State() const = 0;
    // A change the job's course does not allow is refused (false).
    virtual bool SetState(DownloadState state) = 0;
    // The elapsed transcoding time, in 100 ns units, as the engine reports it.
    virtual void SetTranscodeTime(int64_t time) = 0;
    // These outputs (TranscodeOptions bits) failed; told before TranscodingFailed is set.
    virtual void NoteFailedOutputs(uint32_t bits) = 0;
    // Waits up to timeoutMs (platform::kInfinite: without limit) for the writer's next step.
    virtual FileProgress WaitForFile(uint32_t timeoutMs) = 0;
    // The user cancelled the job: the outputs not finished yet are given up.
    virtual bool CancelRequested() const = 0;

protected:
    ~ITranscodeSource() = default;
};

// The transcoding hand-off: RunTranscode is the body of the job's transcoding thread, started by
// the writer after the file was created when the job's options are nonzero. The job holds a
// reference for the thread until RunTranscode returns.
class ITranscoder {
public:
    virtual void RunTranscode(ITranscodeSource* job) = 0;

protected:
    ~ITranscoder() = default;
};

// Test seam: sees the points where a job waits and may hold them up.
class IDownloadProbe {
public:
    // Fetch thread: every 24 blocks are in use, so it is about to wait for the writer.
    virtual void OnQueueFull() {}
    // Writer thread: block number index (from 0) is about to be written.
    virtual void BeforeBlockWrite(int64_t index) { (void)index; }
    // Fetch thread: the pause between two attempts at the response header.
    virtual void PauseBeforeRetry(uint32_t ms) { platform::SleepMs(ms); }
    // How long the transfer may receive nothing before it ends as failed.
    virtual uint32_t SilenceLimitMs() { return kTransferSilenceMs; }
    // The job's last reference was dropped: its threads have ended, its socket and file are
    // closed and its storage is about to be freed.
    virtual void OnJobDestroyed() {}

protected:
    ~IDownloadProbe() = default;
};

// Each object given here must outlive every job made with it.
struct DownloadLinks {
    IDownloadNotices* notices = nullptr;
    IJobList* jobList = nullptr;
    ITranscoder* transcoder = nullptr;
    IDownloadProbe* probe = nullptr;
};

}  // namespace fluxmere
