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

void FormatJobRow(int64_t bytesWritten, DownloadState state, CodecKind codec, int64_t transcodeTime,
                  JobRowTexts* texts);

// The window lets go of a job once it shows one of these states.
bool JobRowEnded(DownloadState state);

}  // namespace fluxmere
