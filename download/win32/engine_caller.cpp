#include "download/win32/engine_caller.h"

#include <objbase.h>

#include <atomic>
#include <cwchar>
#include <initializer_list>
#include <new>

#include "download/win32/transcode_handoff.h"
#include "platform/thread.h"

namespace fluxmere {
namespace {

enum Operation { kSubmit, kStart, kStatus, kElapsed, kFinish, kCancel };

// A file still open in an engine that is letting go of it cannot be deleted at once.
constexpr int kRemoveAttempts = 20;
constexpr DWORD kRemovePauseMs = 100;

}  // namespace

// What the caller and its thread share; each holds one reference, the last one deletes it.
struct EngineCaller::Shared {
    std::atomic<int32_t> references{2};
    HANDLE request = nullptr;  // auto-reset: an operation (or the end) is asked for
    HANDLE done = nullptr;     // auto-reset: the engine was made, or the operation returned
    HANDLE ended = nullptr;    // manual: the engine is released, the output removed if asked
    uint32_t limitMs = 0;
    IEngineFactory* factory = nullptr;
    std::atomic<bool> quit{false};
    std::atomic<bool> abandoned{false};
    bool made = false;  // the engine was made in time

    // Written by the caller before request, read by the thread after it (and the other way
    // round for the results, through done).
    int operation = kStatus;
    BSTR text = nullptr;  // the thread's own copy, freed by the thread
    LONG status = 0;
    hyper elapsed = 0;
    HRESULT result = S_OK;
    wchar_t removePath[MAX_PATH + 4] = {};  // read by the thread only after quit

    // Thread only.
    ITranscodingJob* engine = nullptr;

    ~Shared() {
        for (HANDLE h : {request, done, ended}) {
            if (h != nullptr)
                CloseHandle(h);
        }
    }
    void Drop() {
        if (references.fetch_sub(1) == 1)
            delete this;
    }
};

namespace {

void RemoveFile(const wchar_t* path) {
    for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
        if (DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND ||
            GetLastError() == ERROR_PATH_NOT_FOUND) {
            return;
        }
        Sleep(kRemovePauseMs);
    }
}

}  // namespace

// The caller's thread: makes the engine, then runs one operation per request until asked to end.
// In its own multithreaded apartment, so that the engine lives and dies on this thread alone.
void EngineCaller::Run(void* context) {
    auto* shared = static_cast<Shared*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    shared->result = shared->factory->CreateEngine(&shared->engine);
    if (SUCCEEDED(shared->result) && shared->engine == nullptr)
        shared->result = E_NOINTERFACE;
    SetEvent(shared->done);
    for (;;) {
        WaitForSingleObject(shared->request, INFINITE);
        if (shared->quit.load() || shared->engine == nullptr)
            break;
        ITranscodingJob* engine = shared->engine;
        switch (shared->operation) {
            case kSubmit:
                shared->result = engine->SubmitJob(shared->text, 0);
                break;
            case kStart:
                shared->result = engine->StartJob();
                break;
            case kStatus:
                shared->result = engine->QueryStatus(0, &shared->status);
                break;
            case kElapsed:
                shared->result = engine->QueryElapsed(&shared->elapsed);
                break;
            case kFinish:
                shared->result = engine->FinishJob();
                break;
            case kCancel:
                shared->result = engine->CancelJob();
                break;
        }
        SetEvent(shared->done);
    }
    if (shared->engine != nullptr)
        shared->engine->Release();
    if (shared->removePath[0] != L'\0')
        RemoveFile(shared->removePath);
    SysFreeString(shared->text);
    if (SUCCEEDED(com))
        CoUninitialize();
    SetEvent(shared->ended);
    shared->Drop();
}

EngineCaller::~EngineCaller() {
    End();
}

bool EngineCaller::Start(IEngineFactory* factory, uint32_t createLimitMs, uint32_t callLimitMs) {
    if (shared_ != nullptr || factory == nullptr)
        return false;
    auto* shared = new (std::nothrow) Shared;
    if (shared == nullptr)
        return false;
    shared->request = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shared->done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shared->ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    shared->limitMs = callLimitMs;
    shared->factory = factory;
    if (shared->request == nullptr || shared->done == nullptr || shared->ended == nullptr ||
        !platform::StartDetachedThread(Run, shared)) {
        delete shared;
        return false;
    }
    shared_ = shared;
    if (WaitForSingleObject(shared->done, createLimitMs) != WAIT_OBJECT_0) {
        shared->abandoned.store(true);
        return false;
    }
    shared->made = SUCCEEDED(shared->result);
    return shared->made;
}

void EngineCaller::End() {
    Shared* shared = shared_;
    if (shared == nullptr)
        return;
    shared_ = nullptr;
    shared->quit.store(true);
    SetEvent(shared->request);
    // A thread that answers lets go of the engine before the run goes on (the engine's output is
    // then closed); one that does not, within the limit, is left to end on its own.
    if (!shared->abandoned.load() &&
        WaitForSingleObject(shared->ended, shared->limitMs) != WAIT_OBJECT_0)
        shared->abandoned.store(true);
    shared->Drop();
}

void EngineCaller::RemoveOutputAtEnd(const wchar_t* path) {
    if (shared_ == nullptr || path == nullptr || std::wcslen(path) >= MAX_PATH + 4)
        return;
    std::wcscpy(shared_->removePath, path);
}

CallOutcome EngineCaller::Call(int operation, HRESULT* result) {
    Shared* shared = shared_;
    if (shared == nullptr || !shared->made || shared->abandoned.load())
        return CallOutcome::NoEngine;
    shared->operation = operation;
    SetEvent(shared->request);
    if (WaitForSingleObject(shared->done, shared->limitMs) != WAIT_OBJECT_0) {
        shared->abandoned.store(true);
        return CallOutcome::Overran;
    }
    *result = shared->result;
    return CallOutcome::Returned;
}

CallOutcome EngineCaller::SubmitJob(BSTR text, HRESULT* result) {
    if (shared_ == nullptr || !shared_->made || shared_->abandoned.load())
        return CallOutcome::NoEngine;
    SysFreeString(shared_->text);
    shared_->text = SysAllocStringLen(text, SysStringLen(text));
    return Call(kSubmit, result);
}

CallOutcome EngineCaller::StartJob(HRESULT* result) {
    return Call(kStart, result);
}

CallOutcome EngineCaller::QueryStatus(LONG* status, HRESULT* result) {
    const CallOutcome outcome = Call(kStatus, result);
    if (outcome == CallOutcome::Returned)
        *status = shared_->status;
    return outcome;
}

CallOutcome EngineCaller::QueryElapsed(hyper* elapsed, HRESULT* result) {
    const CallOutcome outcome = Call(kElapsed, result);
    if (outcome == CallOutcome::Returned)
        *elapsed = shared_->elapsed;
    return outcome;
}

CallOutcome EngineCaller::FinishJob(HRESULT* result) {
    return Call(kFinish, result);
}

CallOutcome EngineCaller::CancelJob(HRESULT* result) {
    return Call(kCancel, result);
}

}  // namespace fluxmere
