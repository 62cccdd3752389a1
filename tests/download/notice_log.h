#pragma once
// Stands in for the player registry in the download tests: every NotifyDownloadState and
// NotifyDownloadProgress a job makes is recorded here, in order.

#include <cstdint>
#include <functional>
#include <vector>

#include "player/download_notifications.h"

namespace fluxmere::testing {

struct Notice {
    bool isState;  // else a progress notice
    uint32_t address;
    DownloadState state;
    CodecKind codec;
    int64_t bytes;
    IDownloadJob* job;
};

class NoticeLog {
public:
    static void Clear();
    static std::vector<Notice> Snapshot();
    static std::vector<DownloadState> States();
    static std::vector<int64_t> Progress();
    // Polls until condition holds for the log; false after timeoutMs (a hung job, not a speed
    // check: the limits are generous).
    static bool WaitUntil(const std::function<bool(const std::vector<Notice>&)>& condition,
                          uint32_t timeoutMs = 60000);
    // Until the log holds one of the final states Complete, Failed or TranscodingFailed.
    static bool WaitForFinalState(uint32_t timeoutMs = 60000);
};

}  // namespace fluxmere::testing
