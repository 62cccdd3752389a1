#include "tests/download/job_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/wine_environment.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fluxmere::testing {

namespace fs = std::filesystem;

namespace {

// Other checkouts run the same tests at the same moment, in the same temporary folder.
unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string& name) {
    std::string base = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
    if (base.empty())
        base = fs::temp_directory_path().string();
    static std::atomic<int> serial{0};
    const fs::path path = fs::path(base) / ("download-" + name + "-" + std::to_string(ProcessId()) +
                                            "-" + std::to_string(serial++));
    fs::remove_all(path);
    fs::create_directories(path);
    path_ = path.string();
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::FileNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string ScratchFolder::ReadFile(const std::string& name) const {
    std::ifstream in(fs::path(path_) / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ScratchFolder::WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream out(fs::path(path_) / name, std::ios::binary);
    out << bytes;
}

void TestProbe::OnQueueFull() {
    ++queueFullCount;
    queueFull.Set();
}

void TestProbe::BeforeBlockWrite(int64_t index) {
    if (holdWriterUntilQueueFull && index == 0)
        queueFull.Wait(120000);
    ++blocksWritten;
}

void TestProbe::PauseBeforeRetry(uint32_t ms) {
    {
        platform::ScopedLock lock(lock_);
        pauses_.push_back(ms);
    }
    if (realPauses)
        platform::SleepMs(ms);
}

std::vector<uint32_t> TestProbe::Pauses() {
    platform::ScopedLock lock(lock_);
    return pauses_;
}

void RecordingJobList::AddJobRow(IListedJob* job) {
    platform::ScopedLock lock(lock_);
    rows_.push_back(job->BaseName());
}

std::vector<std::string> RecordingJobList::Rows() {
    platform::ScopedLock lock(lock_);
    return rows_;
}

std::string ExportUrl(const std::string& host, const std::string& params) {
    return "http://" + host + "/command.cgi?stream&kelo&" + params;
}

bool RunJobToEnd(const std::string& url, const std::string& folder, uint32_t options,
                 const DownloadLinks& links, TestProbe& probe) {
    DownloadLinks withProbe = links;
    withProbe.probe = &probe;
    (new CFluxmereDownload(url.c_str(), folder.c_str(), options, withProbe))->Release();
    return probe.WaitDestroyed();
}

}  // namespace fluxmere::testing
