#include "tests/download/notice_log.h"

#include "platform/thread.h"

namespace fluxmere::testing {

void NoticeLog::OnDownloadState(uint32_t address, DownloadState state, CodecKind codec,
                                IDownloadJob* job) {
    Append({true, address, state, codec, 0, job});
}

void NoticeLog::OnDownloadProgress(uint32_t address, int64_t bytes) {
    Append({false, address, DownloadState::Initializing, CodecKind::Unknown, bytes, nullptr});
}

void NoticeLog::Append(const Notice& notice) {
    platform::ScopedLock lock(lock_);
    log_.push_back(notice);
}

void NoticeLog::Clear() {
    platform::ScopedLock lock(lock_);
    log_.clear();
}

std::vector<Notice> NoticeLog::Snapshot() {
    platform::ScopedLock lock(lock_);
    return log_;
}

std::vector<DownloadState> NoticeLog::States() {
    std::vector<DownloadState> states;
    for (const Notice& notice : Snapshot()) {
        if (notice.isState)
            states.push_back(notice.state);
    }
    return states;
}

std::vector<int64_t> NoticeLog::Progress() {
    std::vector<int64_t> bytes;
    for (const Notice& notice : Snapshot()) {
        if (!notice.isState)
            bytes.push_back(notice.bytes);
    }
    return bytes;
}

bool NoticeLog::WaitUntil(const std::function<bool(const std::vector<Notice>&)>& condition,
                          uint32_t timeoutMs) {
    const uint64_t start = platform::MonotonicMs();
    while (!condition(Snapshot())) {
        if (platform::MonotonicMs() - start > timeoutMs)
            return false;
        platform::SleepMs(2);
    }
    return true;
}

bool NoticeLog::WaitForFinalState(uint32_t timeoutMs) {
    return WaitUntil(
        [](const std::vector<Notice>& log) {
            for (const Notice& notice : log) {
                if (notice.isState && (notice.state == DownloadState::Complete ||
                                       notice.state == DownloadState::Failed ||
                                       notice.state == DownloadState::TranscodingFailed)) {
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

}  // namespace fluxmere::testing
