#pragma once
// The transcoding thread of a download job: hands the growing .kelo file, block by block, to one
// transcoding engine per output (a QuickTime movie, an MXF file, or both, as the job's options
// say) through a named shared memory and two named events per output, and reports the outcome in
// the job's state.
//
// Every call into an engine is bounded (an engine lives on a caller thread of its own, see
// engine_caller.h), and so is every wait for one: an engine that cannot be created, whose calls
// fail or hang, that stops taking blocks, or that does not report its output finished after the
// end of the file fails its output. A failed output ends the job as "Transcoding Failed" (the job
// learns which outputs failed) while the others go on to their end; an output that an engine
// started and did not finish is removed, never left without its header. The .kelo file is only
// read. Every event, the shared memory and every engine reference are released when the thread
// ends (an engine that hangs, once its call returns).

#include <cstdint>

#include "download/download_links.h"
#include "transcoding_engine.h"

namespace fluxmere {

// Makes one engine object per output. The default makes the out-of-process engine.
class IEngineFactory {
public:
    virtual HRESULT CreateEngine(ITranscodingJob** engine) = 0;

protected:
    ~IEngineFactory() = default;
};

struct HandOffTiming {
    uint32_t endPauseMs = 2000;    // before each output's last dataReady
    uint32_t checkMs = 250;        // how often a wait for an engine asks whether it still works
    uint32_t stallLimitMs = 5000;  // an engine that takes no block for this long has failed
    uint32_t pollMs = 20;          // between status queries once the file is complete
    // An engine call that has not returned by then hangs: a local call answers in milliseconds,
    // and the job must end within 10 s of an engine that hangs.
    uint32_t callLimitMs = 5000;
    // Making an engine starts its process first: a cold start on a busy machine takes seconds.
    uint32_t createLimitMs = 30000;
    // After the end mark the engine has taken every block and only closes its output: one that
    // has not reported it finished within this time makes no more progress.
    uint32_t finishLimitMs = 30000;
};

class CTranscodeHandOff final : public ITranscoder {
public:
    explicit CTranscodeHandOff(IEngineFactory* factory = nullptr,
                               const HandOffTiming& timing = HandOffTiming());

    void RunTranscode(ITranscodeSource* job) override;

private:
    IEngineFactory* factory_;
    HandOffTiming timing_;
};

}  // namespace fluxmere
