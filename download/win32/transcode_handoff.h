#pragma once
// The transcoding thread of a download job: hands the growing .kelo file, block by block, to one
// transcoding engine per output (a QuickTime movie, an MXF file, or both, as the job's options
// say) through a named shared memory and two named events per output, and reports the outcome in
// the job's state.
//
// An engine that cannot be created, whose calls fail (it died or failed its job), or that stops
// taking blocks ends the job as "Transcoding Failed" within a few seconds; the .kelo file is not
// touched. Every event, the shared memory and every engine reference are released when the thread
// ends.

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
