#pragma once
// The engine's job object: takes a job description, and on StartJob converts the clip that the
// download job hands over through the shared memory into the QuickTime movie or MXF file and the
// codec the job names (see ChooseOutput), on a thread of its own. A job for an unknown container
// or codec is declined: StartJob fails and QueryError says why.
//
// Threads: the methods run on any of the server's RPC threads (multi-threaded apartment) and
// take `lock_` only for moments; the conversion runs on a thread of its own, which holds a
// reference until it ends, and publishes its outcome through `status_`. No call waits for the
// conversion: a client that lets go of a running job (its last reference) cancels it, and the
// object goes once the conversion has stopped.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/job_request.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "transcoding_engine.h"

namespace fluxmere::engine {

class CTranscodingJob final : public ITranscodingJob {
public:
    // Values of QueryStatus; a failed job answers QueryStatus with E_FAIL.
    enum Status : LONG { kIdle = 0, kFinished = 1, kRunning = 2, kFailed = 3 };

    static HRESULT Create(REFIID iid, void** out);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetEngineVersion(BSTR* version) override;
    HRESULT STDMETHODCALLTYPE GetFormatCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE GetFormatName(LONG index, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE SetLogLevel(LONG level) override;
    HRESULT STDMETHODCALLTYPE SetPriority(LONG priority) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE GetJobCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE QueryStatus(LONG reserved, LONG* status) override;
    HRESULT STDMETHODCALLTYPE QueryProgress(LONG* percent) override;
    HRESULT STDMETHODCALLTYPE QueryElapsed(hyper* elapsed) override;
    HRESULT STDMETHODCALLTYPE QueryError(BSTR* text) override;
    HRESULT STDMETHODCALLTYPE ValidateJob(BSTR description, LONG* valid) override;
    HRESULT STDMETHODCALLTYPE SubmitJob(BSTR description, LONG reserved) override;
    HRESULT STDMETHODCALLTYPE PauseJob() override;
    HRESULT STDMETHODCALLTYPE StartJob() override;
    HRESULT STDMETHODCALLTYPE CancelJob() override;
    HRESULT STDMETHODCALLTYPE FinishJob() override;

private:
    CTranscodingJob();
    ~CTranscodingJob();

    static void WorkerEntry(void* context);
    void Convert();
    void Fail(const wchar_t* reason);

    std::atomic<ULONG> references_{1};
    platform::CriticalSection lock_;
    std::wstring description_;
    std::wstring error_;
    JobRequest request_;
    transcode::OutputChoice choice_;
    std::atomic<LONG> status_{kIdle};
    std::atomic<bool> cancelled_{false};
    std::atomic<uint64_t> startedMs_{0};
    std::atomic<uint64_t> endedMs_{0};
    std::atomic<bool> converting_{false};  // the conversion thread runs (and holds a reference)
};

}  // namespace fluxmere::engine
