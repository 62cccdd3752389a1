#include "engine/transcoding_job.h"

#include <memory>
#include <new>

#include "engine/engine_server.h"
#include "engine/pipe_reader.h"
#include "platform/file.h"
#include "platform/win32/named_objects.h"
#include "transcode/clip_conversion.h"
#include "transcode/movie_sink.h"
#include "transcode/mxf_writer.h"

namespace fluxmere::engine {
namespace {

constexpr uint32_t kPollMs = 250;  // how often a waiting conversion looks for a cancel

// An MXF file's creation time, in UTC.
uint64_t Timestamp() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return transcode::MxfTimestamp(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                   now.wSecond);
}

// Makes an MXF file's identifiers unique: time, process and job.
uint64_t Identity(const void* job) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (uint64_t{now.dwHighDateTime} << 32 | now.dwLowDateTime) ^
           uint64_t { GetCurrentProcessId() } << 48 ^ reinterpret_cast<uintptr_t>(job);
}

HRESULT ReturnText(const wchar_t* text, BSTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = SysAllocString(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

CTranscodingJob::CTranscodingJob() {
    ServerObjectCreated();
}

CTranscodingJob::~CTranscodingJob() {
    ServerObjectDestroyed();
}

HRESULT CTranscodingJob::Create(REFIID iid, void** out) {
    CTranscodingJob* job = new (std::nothrow) CTranscodingJob;
    if (job == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = job->QueryInterface(iid, out);
    job->Release();
    return hr;
}

HRESULT CTranscodingJob::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITranscodingJob)) {
        *out = static_cast<ITranscodingJob*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG CTranscodingJob::AddRef() {
    return ++references_;
}

ULONG CTranscodingJob::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    } else if (left == 1 && converting_.load()) {
        cancelled_.store(true);  // only the conversion holds the job: nobody waits for its output
    }
    return left;
}

HRESULT CTranscodingJob::GetEngineVersion(BSTR* version) {
    return ReturnText(L"1.0", version);
}

HRESULT CTranscodingJob::GetFormatCount(LONG* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 2;
    return S_OK;
}

HRESULT CTranscodingJob::GetFormatName(LONG index, BSTR* name) {
    switch (index) {
        case 0:
            return ReturnText(L"QuickTime movie (DVCPRO25, IMX or Motion-JPEG A; 16-bit PCM)",
                              name);
        case 1:
            return ReturnText(L"MXF OP1a (DVCPRO25 or D-10 IMX; 16-bit PCM)", name);
        default:
            return E_INVALIDARG;
    }
}

HRESULT CTranscodingJob::SetLogLevel(LONG) {
    return E_NOTIMPL;
}

HRESULT CTranscodingJob::SetPriority(LONG) {
    return E_NOTIMPL;
}

HRESULT CTranscodingJob::GetPriority(LONG*) {
    return E_NOTIMPL;
}

HRESULT CTranscodingJob::GetJobCount(LONG* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = status_.load() == kIdle ? 0 : 1;
    return S_OK;
}

HRESULT CTranscodingJob::QueryStatus(LONG, LONG* status) {
    if (status == nullptr) {
        return E_POINTER;
    }
    *status = status_.load();
    return *status == kFailed ? E_FAIL : S_OK;
}

HRESULT CTranscodingJob::QueryProgress(LONG*) {
    return E_NOTIMPL;
}

HRESULT CTranscodingJob::QueryElapsed(hyper* elapsed) {
    if (elapsed == nullptr) {
        return E_POINTER;
    }
    const uint64_t started = startedMs_.load();
    const uint64_t ended = endedMs_.load();
    const uint64_t now = ended != 0 ? ended : GetTickCount64();
    *elapsed = started == 0 ? 0 : static_cast<hyper>((now - started) * 10000);
    return S_OK;
}

HRESULT CTranscodingJob::QueryError(BSTR* text) {
    platform::ScopedLock hold(lock_);
    return ReturnText(error_.c_str(), text);
}

HRESULT CTranscodingJob::ValidateJob(BSTR description, LONG* valid) {
    if (valid == nullptr) {
        return E_POINTER;
    }
    JobRequest request;
    transcode::OutputChoice choice;
    *valid = ParseJobRequest(description, &request) && ChooseOutput(request, &choice);
    return S_OK;
}

HRESULT CTranscodingJob::SubmitJob(BSTR description, LONG) {
    platform::ScopedLock hold(lock_);
    if (status_.load() != kIdle) {
        return E_UNEXPECTED;
    }
    description_ = description != nullptr ? description : L"";
    return S_OK;
}

HRESULT CTranscodingJob::PauseJob() {
    return E_NOTIMPL;
}

void CTranscodingJob::Fail(const wchar_t* reason) {
    {
        platform::ScopedLock hold(lock_);
        error_ = reason;
    }
    endedMs_.store(GetTickCount64());
    status_.store(kFailed);
}

HRESULT CTranscodingJob::StartJob() {
    platform::ScopedLock hold(lock_);
    if (status_.load() != kIdle) {
        return E_UNEXPECTED;
    }
    if (!ParseJobRequest(description_.c_str(), &request_)) {
        error_ = L"the job description lacks the pipe or the output file";
        return E_INVALIDARG;
    }
    if (!ChooseOutput(request_, &choice_)) {
        error_ =
            request_.output == OutputKind::Unknown ? L"unknown output container" : L"unknown codec";
        return E_NOTIMPL;
    }
    startedMs_.store(GetTickCount64());
    status_.store(kRunning);
    AddRef();  // the conversion's, dropped when it ends
    converting_.store(true);
    if (!platform::StartDetachedThread(WorkerEntry, this)) {
        converting_.store(false);
        status_.store(kIdle);
        error_ = L"no thread for the conversion";
        Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CTranscodingJob::CancelJob() {
    cancelled_.store(true);
    return S_OK;
}

HRESULT CTranscodingJob::FinishJob() {
    return status_.load() == kFinished ? S_OK : E_UNEXPECTED;
}

void CTranscodingJob::WorkerEntry(void* context) {
    auto* job = static_cast<CTranscodingJob*>(context);
    job->Convert();
    job->converting_.store(false);
    job->Release();  // may be the last reference: the job goes here
}

void CTranscodingJob::Convert() {
    PipeReader pipe;
    if (!pipe.Open(request_)) {
        Fail(L"the pipe's events or memory do not exist");
        return;
    }
    char path[platform::kMaxPath];
    platform::File movie;
    if (!platform::WideToAnsi(request_.outputPath.c_str(), path, sizeof path) ||
        !movie.CreateAlways(path)) {
        Fail(L"the output file cannot be created");
        return;
    }
    transcode::FileMovieSink sink(&movie);
    const std::unique_ptr<transcode::IClipConversion> conversion = transcode::MakeClipConversion(
        choice_, &sink, transcode::MakePictureEncoder, Identity(this), Timestamp());
    if (conversion == nullptr) {
        movie.Close();
        Fail(L"no memory for the conversion");
        return;
    }
    transcode::IClipConversion& converter = *conversion;
    bool feeding = true;
    for (;;) {
        if (cancelled_.load()) {
            Fail(L"cancelled");
            return;
        }
        const uint8_t* data = nullptr;
        uint32_t count = 0;
        const PipeReader::Next next = pipe.Wait(kPollMs, &data, &count);
        if (next == PipeReader::Next::Timeout) {
            continue;
        }
        if (next == PipeReader::Next::Broken) {
            Fail(L"the pipe failed");
            return;
        }
        if (next == PipeReader::Next::End) {
            break;
        }
        // After a failure the blocks are still taken, so the download job is never held up.
        if (feeding) {
            feeding = converter.Feed(data, count);
        }
        pipe.Taken();
    }
    transcode::ConvertResult result = converter.Finish();
    if (!sink.Flush()) {
        result = transcode::ConvertResult::WriteFailed;
    }
    movie.Close();
    // A clip that was cut still gives a file of its whole pictures.
    if (result == transcode::ConvertResult::Complete || result == transcode::ConvertResult::Cut ||
        result == transcode::ConvertResult::Damaged) {
        endedMs_.store(GetTickCount64());
        status_.store(kFinished);
    } else {
        Fail(transcode::ConvertResult::NotAClip == result ? L"the input is not a kelo clip"
                                                          : L"the output could not be written");
    }
}

}  // namespace fluxmere::engine
