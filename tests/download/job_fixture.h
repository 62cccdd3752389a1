#pragma once
// What the job tests share: a scratch download folder, a probe that records and paces a job, a
// job list that records its rows, and a way to run a job to its end.

#include <atomic>
#include <string>
#include <vector>

#include "download/download_links.h"
#include "download/fluxmere_download.h"
#include "platform/sync.h"

namespace fluxmere::testing {

// A fresh, empty folder removed again at the end (under Wine inside the harness's scratch folder).
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name);
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::vector<std::string> FileNames() const;  // sorted
    std::string ReadFile(const std::string& name) const;
    void WriteFile(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

class TestProbe : public IDownloadProbe {
public:
    // The writer waits before its first block until the fetch thread found every block in use.
    bool holdWriterUntilQueueFull = false;
    // PauseBeforeRetry really sleeps (else it only records).
    bool realPauses = false;

    void OnQueueFull() override;
    void BeforeBlockWrite(int64_t index) override;
    void PauseBeforeRetry(uint32_t ms) override;
    void OnJobDestroyed() override { destroyed.Set(); }
    uint32_t SilenceLimitMs() override { return silenceLimitMs; }
    uint32_t silenceLimitMs = kTransferSilenceMs;

    std::vector<uint32_t> Pauses();
    // True once the job was destroyed, within a generous limit.
    bool WaitDestroyed() { return destroyed.Wait(120000) == platform::WaitResult::Signaled; }

    std::atomic<int> queueFullCount{0};
    std::atomic<int64_t> blocksWritten{0};
    platform::Event queueFull{true, false};
    platform::Event destroyed{true, false};

private:
    platform::CriticalSection lock_;
    std::vector<uint32_t> pauses_;
};

class RecordingJobList : public IJobList {
public:
    void AddJobRow(IListedJob* job) override;
    std::vector<std::string> Rows();  // each row's BaseName

private:
    platform::CriticalSection lock_;
    std::vector<std::string> rows_;
};

// The URL the page gives for the device at host, with the export parameters params.
std::string ExportUrl(const std::string& host, const std::string& params = "DV&queue=1");

// Starts a job, drops the creator's reference at once (as the browser hook does) and waits until
// the job has been destroyed. False when it never ends.
bool RunJobToEnd(const std::string& url, const std::string& folder, uint32_t options,
                 const DownloadLinks& links, TestProbe& probe);

}  // namespace fluxmere::testing
