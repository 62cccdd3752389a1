#pragma once
// One transcoding engine object on a thread of its own. The transcoding thread makes every call
// through it and waits for each with a time limit, so that an engine that hangs inside a call
// costs the job that output, never its transcoding thread.
//
// A call that overruns its limit abandons the caller's thread: the thread goes on waiting for the
// call and, whenever it returns, releases the engine, removes a broken output file (see
// RemoveOutputAtEnd) and ends. It touches nothing of the job, and it holds its own reference on
// the module that contains this code until its very last instruction, so the DLL stays loaded
// for as long as such a thread lives.

#include <windows.h>

#include <cstdint>

#include "transcoding_engine.h"

namespace fluxmere {

class IEngineFactory;

enum class CallOutcome {
    Returned,  // the engine answered in time; the result is the engine's
    Overran,   // the engine did not answer within the limit: the caller is now abandoned
    NoEngine,  // no engine, or the caller was abandoned before
};

class EngineCaller {
public:
    EngineCaller() = default;
    ~EngineCaller();  // End
    // Lets the thread end: it releases the engine and, when it answers within the limit, has done
    // so when End returns; an abandoned thread does it once the overrunning call returns.
    void End();
    EngineCaller(const EngineCaller&) = delete;
    EngineCaller& operator=(const EngineCaller&) = delete;

    // Starts the thread, which makes the engine with factory within createLimitMs; every call
    // then has callLimitMs. False when there is no thread or no engine, or the engine was not
    // made in time.
    bool Start(IEngineFactory* factory, uint32_t createLimitMs, uint32_t callLimitMs);

    // The engine's operations. *result is the engine's result when the outcome is Returned.
    CallOutcome SubmitJob(BSTR text, HRESULT* result);
    CallOutcome StartJob(HRESULT* result);
    CallOutcome QueryStatus(LONG* status, HRESULT* result);
    CallOutcome QueryElapsed(hyper* elapsed, HRESULT* result);
    CallOutcome FinishJob(HRESULT* result);
    CallOutcome CancelJob(HRESULT* result);

    // Once the engine is released, the thread deletes this file: an output the engine started
    // and did not finish. Any time before the caller goes.
    void RemoveOutputAtEnd(const wchar_t* path);

private:
    struct Shared;
    static void Run(void* context);  // the thread
    CallOutcome Call(int operation, HRESULT* result);

    Shared* shared_ = nullptr;
};

}  // namespace fluxmere
