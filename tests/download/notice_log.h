#pragma once
// Stands in for the player registry in the download tests: every notice a job gives is recorded
// here, in order.

#include <cstdint>
#include <functional>
#include <vector>

#include "download/download_notices.h"
#include "platform/sync.h"

namespace fluxmere::testing {

struct Notice {
    bool isState;  // else a progress notice
    uint32_t address;
    DownloadState state;
    CodecKind codec;
    int64_t bytes;
    IDownloadJob* job;
};

// Must outlive every job that reports to it.
class NoticeLog : public IDownloadNotices {
public:
    void OnDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                         IDownloadJob* job) override;
    void OnDownloadProgress(uint32_t address, int64_t bytes) override;

    void Clear();
    std::vector<Notice> Snapshot();
    std::vector<DownloadState> States();
    std::vector<int64_t> Progress();
    // Polls until condition holds for the log; false after timeoutMs (a hung job, not a speed
    // check: the limits are generous).
    bool WaitUntil(const std::function<bool(const std::vector<Notice>&)>& condition,
                   uint32_t timeoutMs = 60000);
    // Until the log holds one of the final states Complete, Failed or TranscodingFailed.
    bool WaitForFinalState(uint32_t timeoutMs = 60000);

private:
    void Append(const Notice& notice);

    platform::CriticalSection lock_;
    std::vector<Notice> log_;
};

}  // namespace fluxmere::testing
