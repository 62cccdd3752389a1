#include "download/job_row_text.h"

#include <cstdio>

#include "download/transcode_options.h"

namespace fluxmere {

namespace {

constexpr int64_t kMiB = 1048576;
constexpr int64_t kTimeUnitsPerSecond = 10000000;  // the engine reports 100 ns units

const char* WindowStateText(DownloadState state) {
    static const char* const texts[] = {"Initializing", "Awaiting start",     "Downloading",
                                        "Transcoding",  "Transcoding Failed", "Failed",
                                        "Complete"};
    const auto index = static_cast<uint32_t>(state);
    return index < sizeof(texts) / sizeof(texts[0]) ? texts[index] : "";
}

}  // namespace

void FormatJobRow(int64_t bytesWritten, DownloadState state, CodecKind codec, int64_t transcodeTime,
                  JobRowTexts* texts, const JobRowEnd& end) {
    std::snprintf(texts->megabytes, sizeof(texts->megabytes), "%lld",
                  static_cast<long long>(bytesWritten / kMiB));
    std::snprintf(texts->state, sizeof(texts->state), "%s", WindowStateText(state));
    const char* codecName = CodecName(codec);
    std::snprintf(texts->codec, sizeof(texts->codec), "%s", codecName != nullptr ? codecName : "");
    texts->transcodeTime[0] = '\0';
    if (transcodeTime != 0) {
        const long long seconds = transcodeTime / kTimeUnitsPerSecond;
        std::snprintf(texts->transcodeTime, sizeof(texts->transcodeTime), "%02lld:%02lld:%02lld",
                      seconds / 3600, (seconds / 60) % 60, seconds % 60);
    }
    if (state == DownloadState::TranscodingFailed && end.threadsEnded) {
        // A clip that was cut or cancelled would have ended Failed: this one is whole.
        std::snprintf(texts->state, sizeof(texts->state), "%s",
                      WindowStateText(DownloadState::Complete));
        const bool movie = (end.failedOutputs & kTranscodeToMovie) != 0;
        const bool mxf = (end.failedOutputs & kTranscodeToMxf) != 0;
        std::snprintf(texts->transcodeTime, sizeof(texts->transcodeTime), "%s%s%s%s%s",
                      WindowStateText(DownloadState::TranscodingFailed), movie || mxf ? " (" : "",
                      movie ? ".mov" : "", movie && mxf ? ", " : "",
                      mxf     ? ".mxf)"
                      : movie ? ")"
                              : "");
    }
}

bool JobRowEnded(DownloadState state, bool threadsEnded) {
    return state == DownloadState::Failed || state == DownloadState::Complete ||
           (state == DownloadState::TranscodingFailed && threadsEnded);
}

}  // namespace fluxmere
