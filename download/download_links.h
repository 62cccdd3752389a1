#pragma once
// What a download job calls outside itself: the receiver of its notices (the player registry in
// the product), the download manager window's job list and the transcoding hand-off. Each may be
// absent; a test probe may watch and pace the job's threads.

#include <cstdint>

#include "download/download_notices.h"
#include "platform/thread.h"

namespace fluxmere {

class CFluxmereDownload;

// A transfer that receives nothing for this long ends as failed.
constexpr uint32_t kTransferSilenceMs = 60000;

// The download manager window's list. Called on the job's writer thread once the file name is
// chosen; returns when the row is in the list. A list that keeps the job takes its own reference
// (AddRef) and later drops it with Release, never with delete.
class IJobList {
public:
    virtual void AddJobRow(CFluxmereDownload* job) = 0;

protected:
    ~IJobList() = default;
};

// The transcoding hand-off: RunTranscode is the body of the job's transcoding thread, started by
// the writer after the file was created when the job's options are nonzero. The job holds a
// reference for the thread until RunTranscode returns.
class ITranscoder {
public:
    virtual void RunTranscode(CFluxmereDownload* job) = 0;

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
