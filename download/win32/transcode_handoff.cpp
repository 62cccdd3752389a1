#include "download/win32/transcode_handoff.h"

#include <windows.h>
#include <objbase.h>

#include "download/transcode_options.h"
#include "download/win32/com_ref.h"
#include "download/win32/job_description.h"
#include "platform/file.h"
#include "platform/win32/named_objects.h"
#include "transcode/transfer_layout.h"

namespace fluxmere {
namespace {

constexpr int kGuidTextSize = 39;  // 38 characters and the NUL
constexpr LONG kStatusFinished = 1;

class DefaultEngineFactory final : public IEngineFactory {
public:
    HRESULT CreateEngine(ITranscodingJob** engine) override {
        return CoCreateInstance(CLSID_TranscodingEngine, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_ITranscodingJob, reinterpret_cast<void**>(engine));
    }
};

DefaultEngineFactory gDefaultFactory;

// A fresh GUID in its braced text form.
bool MakeName(wchar_t (&name)[kGuidTextSize]) {
    GUID guid;
    return SUCCEEDED(CoCreateGuid(&guid)) && StringFromGUID2(guid, name, kGuidTextSize) != 0;
}

struct Output {
    OutputFormat format = OutputFormat::Movie;
    wchar_t readyName[kGuidTextSize] = {};
    wchar_t takenName[kGuidTextSize] = {};
    platform::NamedEvent dataReady;
    platform::NamedEvent dataTaken;
    BSTR text = nullptr;
    Ref<ITranscodingJob> engine;
    bool finished = false;  // also for an output without a description: nothing to wait for

    ~Output() { SysFreeString(text); }
};

// COM for the thread as a single-threaded apartment, for as long as the thread runs.
class ApartmentScope {
public:
    ApartmentScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ApartmentScope() {
        if (initialised_) {
            CoUninitialize();
        }
    }

private:
    bool initialised_;
};

// One run of the transcoding thread for one job.
class HandOffRun {
public:
    HandOffRun(ITranscodeSource* job, IEngineFactory* factory, const HandOffTiming& timing)
        : job_(job), factory_(factory), timing_(timing) {}

    void Run();

private:
    bool Prepare();
    bool CreateEngines();
    bool Pass();
    bool AwaitTaken(Output& output);
    bool Completion();
    void Failed() { job_->SetState(DownloadState::TranscodingFailed); }

    ITranscodeSource* job_;
    IEngineFactory* factory_;
    HandOffTiming timing_;
    platform::File input_;
    Output outputs_[kMaxTranscodeOutputs];
    int count_ = 0;   // outputs the options ask for
    int active_ = 0;  // of those, the ones with a job description (finished from the start)
    wchar_t mappingName_[kGuidTextSize] = {};
    platform::NamedEvent mappingEvent_;
    platform::SharedMemory transfer_;
    bool reading_ = true;
    bool firstPass_ = true;
};

bool HandOffRun::Prepare() {
    input_.OpenForRead(job_->FilePath());
    OutputFormat formats[kMaxTranscodeOutputs];
    count_ = TranscodeOutputs(job_->Options(), formats);
    for (int i = 0; i < count_; ++i) {
        outputs_[i].format = formats[i];
    }
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        if (!MakeName(o.readyName) || !o.dataReady.Create(o.readyName, true, false) ||
            !MakeName(o.takenName) || !o.dataTaken.Create(o.takenName, true, false)) {
            return false;
        }
    }
    if (!MakeName(mappingName_) || !mappingEvent_.Create(mappingName_, true, false) ||
        !transfer_.Create(mappingName_ + 1, transcode::kTransferMappingSize)) {
        return false;
    }
    // Outputs the builder gives no description for are not submitted at all.
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        IXMLDOMDocument* document =
            BuildJobDescription(job_, o.format, o.readyName, o.takenName, mappingName_);
        if (document != nullptr) {
            o.text = JobDescriptionText(document);
            document->Release();
        }
        o.finished = o.text == nullptr;
        active_ += o.text != nullptr;
    }
    return true;
}

bool HandOffRun::CreateEngines() {
    for (int i = 0; i < count_; ++i) {
        if (outputs_[i].text != nullptr &&
            (FAILED(factory_->CreateEngine(outputs_[i].engine.out())) ||
             outputs_[i].engine.get() == nullptr)) {
            return false;
        }
    }
    return true;
}

// Waits until the engine of `output` has taken the block in memory. While it waits it asks the
// engine, every checkMs, whether it still works: a failed call (the engine died or failed its
// job) or no block taken within stallLimitMs is a failure. An engine that reports its output
// finished is no longer waited for.
bool HandOffRun::AwaitTaken(Output& output) {
    const uint64_t start = GetTickCount64();
    for (;;) {
        const platform::WaitResult waited = output.dataTaken.Wait(timing_.checkMs);
        if (waited == platform::WaitResult::Signaled) {
            output.dataTaken.Reset();
            return true;
        }
        if (waited == platform::WaitResult::Failed) {
            return false;
        }
        LONG status = 0;
        if (FAILED(output.engine->QueryStatus(0, &status))) {
            return false;
        }
        if (status == kStatusFinished) {
            output.engine->FinishJob();
            output.finished = true;
            return true;
        }
        if (GetTickCount64() - start >= timing_.stallLimitMs) {
            return false;
        }
    }
}

// One block (or the end mark) into the shared memory and to every output. False when the job
// is to end as failed.
bool HandOffRun::Pass() {
    uint8_t* memory = static_cast<uint8_t*>(transfer_.data());
    uint32_t count = 0;
    const FileProgress progress = job_->WaitForFile(platform::kInfinite);
    if (progress == FileProgress::None) {
        return false;
    }
    // Every unfinished engine takes the block in memory before it is replaced, and also before
    // the end mark replaces its count: an engine still busy with the last block would otherwise
    // read the end too early and lose that block.
    for (int i = 0; i < count_; ++i) {
        if (!outputs_[i].finished && !AwaitTaken(outputs_[i])) {
            return false;
        }
    }
    if (progress == FileProgress::BlockWritten) {
        const int64_t got = input_.Read(memory, transcode::kTransferBlockSize);
        count = got > 0 ? static_cast<uint32_t>(got) : 0;
    } else {
        job_->SetState(DownloadState::Complete);
        reading_ = false;
    }
    transcode::StoreTransferCount(memory, count);
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        if (o.text == nullptr) {
            continue;
        }
        if (!reading_) {
            platform::SleepMs(timing_.endPauseMs);
        }
        o.dataReady.Set();
        if (firstPass_) {
            o.engine->SubmitJob(o.text, 0);
            if (o.engine->StartJob() != S_OK) {
                firstPass_ = false;
                return false;
            }
        }
    }
    firstPass_ = false;
    return job_->State() != DownloadState::TranscodingFailed;
}

// Elapsed time from the first output, then each output's status. False when an engine failed.
bool HandOffRun::Completion() {
    Output& first = outputs_[0].text != nullptr ? outputs_[0] : outputs_[1];
    if (!first.finished) {
        hyper elapsed = 0;
        if (SUCCEEDED(first.engine->QueryElapsed(&elapsed))) {
            job_->SetTranscodeTime(elapsed);
        }
    }
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        if (o.finished) {
            continue;
        }
        LONG status = 0;
        if (FAILED(o.engine->QueryStatus(0, &status))) {
            return false;
        }
        if (status == kStatusFinished) {
            o.engine->FinishJob();
            o.finished = true;
        }
    }
    return true;
}

void HandOffRun::Run() {
    if (!Prepare()) {
        Failed();
        return;
    }
    if (active_ == 0) {
        // No output is left to make: the job ends as its download ends.
        while (job_->WaitForFile(platform::kInfinite) == FileProgress::BlockWritten) {
        }
        job_->SetState(DownloadState::Complete);
        return;
    }
    if (!CreateEngines()) {
        Failed();
        return;
    }
    for (int i = 0; i < count_; ++i) {
        outputs_[i].dataTaken.Set();  // the first block may go in at once
    }
    for (;;) {
        if (reading_ && !Pass()) {
            Failed();
            return;
        }
        if (!Completion()) {
            Failed();
            return;
        }
        bool allFinished = true;
        for (int i = 0; i < count_; ++i) {
            allFinished = allFinished && outputs_[i].finished;
        }
        if (allFinished) {
            return;
        }
        if (!reading_) {
            platform::SleepMs(timing_.pollMs);
        }
    }
}

}  // namespace

CTranscodeHandOff::CTranscodeHandOff(IEngineFactory* factory, const HandOffTiming& timing)
    : factory_(factory != nullptr ? factory : &gDefaultFactory), timing_(timing) {}

void CTranscodeHandOff::RunTranscode(ITranscodeSource* job) {
    ApartmentScope apartment;
    // The run's events, memory, file and engine references go before the apartment does.
    HandOffRun run(job, factory_, timing_);
    run.Run();
}

}  // namespace fluxmere
