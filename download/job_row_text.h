#pragma once
// The texts of a job's row in the download manager window, made from one status reading.

#include <cstdint>

#include "download/download_notices.h"

namespace fluxmere {

struct JobRowTexts {
    char megabytes[24];      // bytes written in whole MiB, truncated
    char state[24];          // the state's text in the window
    char codec[16];          // the codec's text
    char transcodeTime[32];  // hh:mm:ss of the transcoding time; empty while it is 0 (left as is)
};

// How a job stands once its threads have ended (the default: they still run).
struct JobRowEnd {
    bool threadsEnded = false;
    uint32_t failedOutputs = 0;  // TranscodeOptions bits of the outputs that failed
};

// A job that ended in TranscodingFailed has its clip whole: its row says "Complete" and, in the
// Transcode column, "Transcoding Failed" with the endings of the outputs that failed
// ("Transcoding Failed (.mxf)").
void FormatJobRow(int64_t bytesWritten, DownloadState state, CodecKind codec, int64_t transcodeTime,
                  JobRowTexts* texts, const JobRowEnd& end = JobRowEnd());

// The window lets go of a job once it shows Failed or Complete, and of one in TranscodingFailed
// once its threads have ended.
bool JobRowEnded(DownloadState state, bool threadsEnded = false);

}  // namespace fluxmere
