// The texts of a job's row in the download manager window.

#include <gtest/gtest.h>

#include <string>

#include "download/job_row_text.h"

namespace fluxmere {
namespace {

using S = DownloadState;
constexpr int64_t kMiB = 1048576;
constexpr int64_t kSecond = 10000000;  // 100 ns units

TEST(JobRowText, ShowsWholeMegabytesStateCodecAndTranscodingTime) {
    struct Case {
        int64_t bytes;
        S state;
        CodecKind codec;
        int64_t time;
        const char* megabytes;
        const char* stateText;
        const char* codecText;
        const char* timeText;
    } cases[] = {
        {0, S::Initializing, CodecKind::Unknown, 0, "0", "Initializing", "Unknown", ""},
        {kMiB - 1, S::AwaitingStart, CodecKind::DV, 0, "0", "Awaiting start", "DV", ""},
        {3 * kMiB + kMiB / 2, S::InProgress, CodecKind::DVCPRO, 0, "3", "Downloading", "DVCPRO",
         ""},
        {kMiB, S::Transcoding, CodecKind::IMX30, 37230 * kSecond, "1", "Transcoding", "IMX30",
         "10:20:30"},
        {0, S::TranscodingFailed, CodecKind::IMX40, 59 * kSecond + kSecond - 1, "0",
         "Transcoding Failed", "IMX40", "00:00:59"},
        {0, S::Failed, CodecKind::IMX50, 1, "0", "Failed", "IMX50", "00:00:00"},
        {5000 * kMiB, S::Complete, CodecKind::MPEG2I, 100 * 3600 * kSecond, "5000", "Complete",
         "MPEG2-I", "100:00:00"},
    };
    for (const Case& c : cases) {
        JobRowTexts texts;
        FormatJobRow(c.bytes, c.state, c.codec, c.time, &texts);
        EXPECT_STREQ(texts.megabytes, c.megabytes);
        EXPECT_STREQ(texts.state, c.stateText);
        EXPECT_STREQ(texts.codec, c.codecText);
        EXPECT_STREQ(texts.transcodeTime, c.timeText);
        EXPECT_EQ(JobRowEnded(c.state), c.state == S::Failed || c.state == S::Complete);
    }
}

TEST(JobRowText, AJobEndedInTranscodingFailedShowsItsWholeClipAndTheFailedOutputs) {
    struct Case {
        S state;
        bool threadsEnded;
        uint32_t failed;  // TranscodeOptions bits
        const char* stateText;
        const char* transcodeText;
        bool released;
    } cases[] = {
        // Still running: the download goes on, the state says what failed so far.
        {S::TranscodingFailed, false, 2, "Transcoding Failed", "00:00:07", false},
        {S::TranscodingFailed, true, 1, "Complete", "Transcoding Failed (.mov)", true},
        {S::TranscodingFailed, true, 2, "Complete", "Transcoding Failed (.mxf)", true},
        {S::TranscodingFailed, true, 3, "Complete", "Transcoding Failed (.mov, .mxf)", true},
        {S::TranscodingFailed, true, 0, "Complete", "Transcoding Failed", true},
        // Other states keep their texts once ended.
        {S::Failed, true, 1, "Failed", "00:00:07", true},
        {S::Complete, true, 0, "Complete", "00:00:07", true},
        {S::Transcoding, false, 0, "Transcoding", "00:00:07", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transcodeText);
        JobRowTexts texts;
        JobRowEnd end;
        end.threadsEnded = c.threadsEnded;
        end.failedOutputs = c.failed;
        FormatJobRow(2 * kMiB, c.state, CodecKind::DVCPRO, 7 * kSecond, &texts, end);
        EXPECT_STREQ(texts.megabytes, "2");
        EXPECT_STREQ(texts.state, c.stateText);
        EXPECT_STREQ(texts.codec, "DVCPRO");
        EXPECT_STREQ(texts.transcodeTime, c.transcodeText);
        EXPECT_EQ(JobRowEnded(c.state, c.threadsEnded), c.released);
    }
}

TEST(JobRowText, ValuesOutsideTheirRangeGiveEmptyTexts) {
    JobRowTexts texts;
    FormatJobRow(0, static_cast<S>(7), static_cast<CodecKind>(-1), 0, &texts);
    EXPECT_STREQ(texts.state, "");
    EXPECT_STREQ(texts.codec, "");
}

}  // namespace
}  // namespace fluxmere
