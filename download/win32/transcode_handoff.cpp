#include "download/win32/transcode_handoff.h"

#include <windows.h>
#include <objbase.h>

#include "download/transcode_options.h"
#include "download/win32/com_ref.h"
#include "download/win32/engine_caller.h"
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
    EngineCaller engine;
    bool started = false;   // the engine accepted the job: it writes the output file
    bool finished = false;  // also for an output without a description: nothing to wait for
    bool failed = false;

    ~Output() { SysFreeString(text); }
    bool Waiting() const { return !finished && !failed; }
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

uint32_t OptionBit(OutputFormat format) {
    return format == OutputFormat::Mxf ? kTranscodeToMxf : kTranscodeToMovie;
}

// One run of the transcoding thread for one job.
class HandOffRun {
public:
    HandOffRun(ITranscodeSource* job, IEngineFactory* factory, const HandOffTiming& timing)
        : job_(job), factory_(factory), timing_(timing) {}

    void Run();

private:
    bool Prepare();
    void StartEngines();
    bool Pass();
    void Submit(Output& output);
    bool AwaitTaken(Output& output);
    void Completion();
    void Finished(Output& output);
    void Fail(Output& output);
    void GiveUp();
    bool AnyWaiting() const;
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
    bool submitting_ = true;  // a declined output stops the submission of those after it
    uint64_t endMarkMs_ = 0;
};

bool HandOffRun::Prepare() {
    // Without the file there is nothing to hand over: reading nothing would send an early end.
    if (!input_.OpenForRead(job_->FilePath())) {
        return false;
    }
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

// An engine that cannot be made, or not in time, fails its output only.
void HandOffRun::StartEngines() {
    for (int i = 0; i < count_; ++i) {
        if (outputs_[i].text != nullptr &&
            !outputs_[i].engine.Start(factory_, timing_.createLimitMs, timing_.callLimitMs)) {
            Fail(outputs_[i]);
        }
    }
}

// The output takes nothing more. Its engine goes at once; a file it started and did not finish
// goes with it. The job learns which output failed, and ends "Transcoding Failed".
void HandOffRun::Fail(Output& output) {
    if (output.failed) {
        return;
    }
    output.failed = true;
    if (output.started && !output.finished) {
        wchar_t path[kOutputPathSize];
        if (OutputFilePath(job_, output.format, path)) {
            output.engine.RemoveOutputAtEnd(path);
        }
        // Its conversion stops at once instead of running on for nobody; an engine that does not
        // answer is let go all the same.
        HRESULT result = S_OK;
        output.engine.CancelJob(&result);
    }
    output.engine.End();
    job_->NoteFailedOutputs(OptionBit(output.format));
    Failed();
}

// The engine reported the output finished: its file is whole.
void HandOffRun::Finished(Output& output) {
    output.finished = true;
    HRESULT result = S_OK;
    if (output.engine.FinishJob(&result) != CallOutcome::Returned) {
        Fail(output);
    }
}

// Cancelled: every output not finished yet fails.
void HandOffRun::GiveUp() {
    for (int i = 0; i < count_; ++i) {
        if (outputs_[i].Waiting()) {
            Fail(outputs_[i]);
        }
    }
}

bool HandOffRun::AnyWaiting() const {
    for (int i = 0; i < count_; ++i) {
        if (outputs_[i].Waiting()) {
            return true;
        }
    }
    return false;
}

// Waits until the engine of `output` has taken the block in memory. While it waits it asks the
// engine, every checkMs, whether it still works: a failed or overrunning call (the engine died,
// failed its job or hangs) or no block taken within stallLimitMs is a failure. An engine that
// reports its output finished is no longer waited for.
bool HandOffRun::AwaitTaken(Output& output) {
    const uint64_t start = GetTickCount64();
    for (;;) {
        const platform::WaitResult waited = output.dataTaken.Wait(timing_.checkMs);
        if (waited == platform::WaitResult::Signaled) {
            output.dataTaken.Reset();
            return true;
        }
        if (waited == platform::WaitResult::Failed || job_->CancelRequested()) {
            return false;
        }
        LONG status = 0;
        HRESULT result = S_OK;
        if (output.engine.QueryStatus(&status, &result) != CallOutcome::Returned ||
            FAILED(result)) {
            return false;
        }
        if (status == kStatusFinished) {
            Finished(output);
            return true;
        }
        if (GetTickCount64() - start >= timing_.stallLimitMs) {
            return false;
        }
    }
}

// The job description to the engine and the start of its job, on the first pass.
void HandOffRun::Submit(Output& output) {
    if (!submitting_) {
        Fail(output);
        return;
    }
    HRESULT result = S_OK;
    if (output.engine.SubmitJob(output.text, &result) != CallOutcome::Returned) {
        submitting_ = false;
        Fail(output);
        return;
    }
    const CallOutcome started = output.engine.StartJob(&result);
    // An engine that hangs inside StartJob may have begun its output.
    output.started = started == CallOutcome::Overran || result == S_OK;
    if (started != CallOutcome::Returned || result != S_OK) {
        submitting_ = false;
        Fail(output);
    }
}

// One block (or the end mark) into the shared memory and to every output that still takes
// blocks. False when nothing more is to be handed over.
bool HandOffRun::Pass() {
    uint8_t* memory = static_cast<uint8_t*>(transfer_.data());
    uint32_t count = 0;
    const FileProgress progress = job_->WaitForFile(platform::kInfinite);
    if (progress == FileProgress::None) {
        return false;
    }
    if (job_->CancelRequested()) {
        GiveUp();
        return false;
    }
    // Every unfinished engine takes the block in memory before it is replaced, and also before
    // the end mark replaces its count: an engine still busy with the last block would otherwise
    // read the end too early and lose that block.
    for (int i = 0; i < count_; ++i) {
        if (outputs_[i].Waiting() && !AwaitTaken(outputs_[i])) {
            Fail(outputs_[i]);
        }
    }
    if (!AnyWaiting()) {
        return false;
    }
    if (progress == FileProgress::BlockWritten) {
        const int64_t got = input_.Read(memory, transcode::kTransferBlockSize);
        count = got > 0 ? static_cast<uint32_t>(got) : 0;
    } else {
        reading_ = false;
    }
    transcode::StoreTransferCount(memory, count);
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        if (o.text == nullptr || o.failed) {
            continue;
        }
        if (!reading_) {
            platform::SleepMs(timing_.endPauseMs);
        }
        o.dataReady.Set();
        if (firstPass_) {
            Submit(o);
        }
    }
    if (!reading_) {
        endMarkMs_ = GetTickCount64();
    }
    firstPass_ = false;
    return true;
}

// Elapsed time from the first output, then each output's status; after the end mark, an output
// not finished within finishLimitMs fails.
void HandOffRun::Completion() {
    Output& first = outputs_[0].text != nullptr ? outputs_[0] : outputs_[1];
    HRESULT result = S_OK;
    if (first.Waiting()) {
        hyper elapsed = 0;
        const CallOutcome outcome = first.engine.QueryElapsed(&elapsed, &result);
        if (outcome != CallOutcome::Returned) {
            Fail(first);
        } else if (SUCCEEDED(result)) {
            job_->SetTranscodeTime(elapsed);
        }
    }
    for (int i = 0; i < count_; ++i) {
        Output& o = outputs_[i];
        if (!o.Waiting()) {
            continue;
        }
        LONG status = 0;
        if (o.engine.QueryStatus(&status, &result) != CallOutcome::Returned || FAILED(result)) {
            Fail(o);
        } else if (status == kStatusFinished) {
            Finished(o);
        } else if (!reading_ && GetTickCount64() - endMarkMs_ >= timing_.finishLimitMs) {
            Fail(o);
        }
    }
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
    StartEngines();
    for (int i = 0; i < count_; ++i) {
        outputs_[i].dataTaken.Set();  // the first block may go in at once
    }
    while (AnyWaiting()) {
        if (reading_ && !Pass()) {
            return;
        }
        if (job_->CancelRequested()) {
            GiveUp();
            break;
        }
        Completion();
        if (!reading_ && AnyWaiting()) {
            platform::SleepMs(timing_.pollMs);
        }
    }
    // Complete only once every output is whole: a failure after the end mark is still told.
    bool anyFailed = false;
    for (int i = 0; i < count_; ++i) {
        anyFailed = anyFailed || outputs_[i].failed;
    }
    if (!reading_ && !anyFailed) {
        job_->SetState(DownloadState::Complete);
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
