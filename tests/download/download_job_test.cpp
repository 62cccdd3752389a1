// The download job against a scripted HTTP peer on loopback: the request, the retries, the file
// names, the ends of a transfer and its failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "download/fluxmere_download.h"
#include "platform/socket.h"
#include "streaming/device_address.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/download/scripted_http.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

using S = DownloadState;

const std::string kXmlHeader = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n";

std::string Host(int index) {
    return LoopbackText(Suite::Download, index);
}
uint32_t Address(int index) {
    return LoopbackAddress(Suite::Download, index);
}

class DownloadJob : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitSockets();
        notices.Clear();
    }
    DownloadLinks Links() {
        DownloadLinks links;
        links.notices = &notices;
        links.jobList = &rows;
        return links;
    }
    NoticeLog notices;
    RecordingJobList rows;
};

TEST_F(DownloadJob, SendsTheExactRequestAndRetriesOnceAfterAnXmlReply) {
    const std::string clip = PatternClip(300000);
    ScriptedHttpServer server(
        {{kXmlHeader, "", false},
         {ReadyHeader("clip01.kelo"), ChunkedBody(clip, {100000, 7}), false}});
    ASSERT_TRUE(server.Start(Address(1)));
    ScratchFolder folder("retry");
    TestProbe probe;
    ASSERT_TRUE(
        RunJobToEnd(ExportUrl(Host(1), "IMX50&DV&queue=1"), folder.path(), 0, Links(), probe));

    const std::string request =
        "GET /command.cgi?stream&kelo&IMX50&DV&queue=1 HTTP/1.1\r\nAccept: */*\r\n\r\n";
    EXPECT_EQ(server.Requests(), std::vector<std::string>({request, request}));
    EXPECT_EQ(probe.Pauses(), std::vector<uint32_t>({100}));
    EXPECT_EQ(folder.FileNames(), std::vector<std::string>({"clip01.kelo"}));
    EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
    EXPECT_EQ(rows.Rows(), std::vector<std::string>({"clip01.kelo"}));
    // One block only: never InProgress, and still Complete at the end.
    EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart, S::Complete}));
    for (const Notice& notice : notices.Snapshot()) {
        EXPECT_EQ(notice.address, Address(1));
        if (notice.isState) {
            EXPECT_EQ(notice.codec, CodecKind::DV);
        }
    }
}

TEST_F(DownloadJob, FailsWithoutFileOrRowAfterThirtyUnusableHeaders) {
    struct Case {
        int index;
        std::string reply;
    } cases[] = {
        {2, kXmlHeader},
        {3, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"},  // closed before its end
    };
    for (const Case& c : cases) {
        notices.Clear();
        ScriptedHttpServer server({{c.reply, "", false}});
        ASSERT_TRUE(server.Start(Address(c.index)));
        ScratchFolder folder("unusable");
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(c.index)), folder.path(), 0, Links(), probe));
        EXPECT_EQ(server.Requests().size(), 30u);
        EXPECT_EQ(probe.Pauses(), std::vector<uint32_t>(29, 100));
        EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart, S::Failed}));
        EXPECT_TRUE(folder.FileNames().empty());
    }
    EXPECT_TRUE(rows.Rows().empty());
}

TEST_F(DownloadJob, NamesFilesAfterTheClipAndNumbersNamesAlreadyTaken) {
    const std::string clip = PatternClip(1000);
    ScriptedHttpServer named({{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {400}), false}});
    ScriptedHttpServer unnamed({{ReadyHeader(""), ChunkedBody(clip, {400}), false}});
    ASSERT_TRUE(named.Start(Address(4)));
    ASSERT_TRUE(unnamed.Start(Address(5)));
    ScratchFolder folder("names");
    for (int index : {4, 4, 4, 5, 5}) {
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(index)), folder.path(), 0, Links(), probe));
    }
    const std::vector<std::string> expected = {"clip01.kelo", "clip01_1.kelo", "clip01_2.kelo",
                                               "Fluxmere.kelo", "Fluxmere_1.kelo"};
    EXPECT_EQ(rows.Rows(), expected);
    EXPECT_EQ(folder.FileNames(),
              std::vector<std::string>({"Fluxmere.kelo", "Fluxmere_1.kelo", "clip01.kelo",
                                        "clip01_1.kelo", "clip01_2.kelo"}));
    for (const std::string& name : expected)
        EXPECT_TRUE(folder.ReadFile(name) == clip) << name;
}

TEST_F(DownloadJob, HostNameConnectsToTheDefaultDeviceAddressAndNotifiesNone) {
    const uint32_t saved = DefaultDeviceAddress();
    SetDefaultDeviceAddress(Address(6));
    ScriptedHttpServer server({{ReadyHeader("named.kelo"), ChunkedBody("abc", {3}), false}});
    ASSERT_TRUE(server.Start(Address(6)));
    ScratchFolder folder("hostname");
    TestProbe probe;
    ASSERT_TRUE(
        RunJobToEnd(ExportUrl("recorder.local", "MPEG2-I"), folder.path(), 0, Links(), probe));
    SetDefaultDeviceAddress(saved);

    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(folder.ReadFile("named.kelo"), "abc");
    ASSERT_FALSE(notices.Snapshot().empty());
    for (const Notice& notice : notices.Snapshot()) {
        EXPECT_EQ(notice.address, platform::kInaddrNone);
        EXPECT_EQ(notice.codec, CodecKind::MPEG2I);
    }
}

TEST_F(DownloadJob, RefusedConnectionStaysAwaitingStartWithoutFile) {
    ScratchFolder folder("refused");
    TestProbe probe;  // nothing listens at this address
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(7)), folder.path(), 0, Links(), probe));
    EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart}));
    EXPECT_TRUE(folder.FileNames().empty());
    EXPECT_TRUE(rows.Rows().empty());
}

TEST_F(DownloadJob, BodyCutOffEndsAsFailedWithTheWholeChunksKept) {
    const std::string clip = PatternClip(600000);
    const std::string whole = ChunkedBody(clip, {65536});
    const std::string unterminated = ChunkedBody(clip, {65536}, false);
    // The clip in 65536-byte chunks: a chunk's size line and data take 8 + 65536 bytes after the
    // first, whose line has no leading CR LF.
    const size_t fourChunks = 4 * (65536 + 7) + 6;
    struct Case {
        int index;
        std::string body;
        size_t kept;  // clip bytes stored
    } cases[] = {
        {8, whole.substr(0, fourChunks + 1000), 4 * 65536},  // inside a chunk's data
        {9, whole.substr(0, fourChunks + 4), 4 * 65536},     // inside a size line
        {10, unterminated, clip.size()},  // inside the last chunk's closing CR LF
        {11, whole.substr(0, whole.size() - 4), clip.size()},  // inside the terminating chunk
        {19, "100000\r\n" + clip, 0},  // a chunk larger than the receive buffer takes
    };
    for (const Case& c : cases) {
        notices.Clear();
        ScriptedHttpServer server({{ReadyHeader("cut.kelo"), c.body, false}});
        ASSERT_TRUE(server.Start(Address(c.index)));
        ScratchFolder folder("cut");
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(c.index)), folder.path(), 0, Links(), probe));
        const std::vector<S> states = notices.States();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), S::Failed) << c.index;
        for (S state : states)
            EXPECT_NE(state, S::Complete) << c.index;
        EXPECT_TRUE(folder.ReadFile("cut.kelo") == clip.substr(0, c.kept)) << c.index;
    }
}

// The clip in chunks of size bytes whose size lines all carry extension.
std::string ChunkedWithExtensions(const std::string& clip, size_t size,
                                  const std::string& extension) {
    std::string body;
    for (size_t offset = 0; offset < clip.size(); offset += size) {
        const std::string data = clip.substr(offset, size);
        char line[32];
        std::snprintf(line, sizeof line, "%zx", data.size());
        body += line + extension + "\r\n" + data + "\r\n";
    }
    return body + "0" + extension + "\r\n\r\n";
}

// How a transfer ends, and what the job makes of it: Complete only when the stored file is
// exactly the body the device sent.
TEST_F(DownloadJob, EndsOfTheTransfer) {
    const std::string clip = PatternClip(600000);
    const std::string terminated = ChunkedBody(clip, {65536});
    const std::string atBoundary = ChunkedBody(clip, {65536}, false) + "\r\n";
    const std::string errorPage = ChunkedBody("<html>No such clip</html>", {100});
    struct Case {
        const char* what;
        int index;
        ScriptedReply reply;
        S last;
        bool file;  // a file is made (and then holds the clip, whole or partly)
    } cases[] = {
        {"close with the terminating chunk",
         40,
         {ReadyHeader("e.kelo"), terminated},
         S::Complete,
         true},
        // The terminating chunk has no effect of its own: the device ends by closing.
        {"close at a chunk boundary", 41, {ReadyHeader("e.kelo"), atBoundary}, S::Complete, true},
        {"chunk extensions",
         42,
         {ReadyHeader("e.kelo"), ChunkedWithExtensions(clip, 0x400 * 64, ";q")},
         S::Complete,
         true},
        {"chunk extensions after blanks",
         43,
         {ReadyHeader("e.kelo"), ChunkedWithExtensions(clip, 70000, " ;name=\"v\"")},
         S::Complete,
         true},
        {"a signed size line",
         44,
         {ReadyHeader("e.kelo"), "-400\r\n" + clip.substr(0, 1024)},
         S::Failed,
         true},
        {"reset after the terminating chunk",
         45,
         {ReadyHeader("e.kelo"), terminated, false, true},
         S::Complete,
         true},
        {"reset at a chunk boundary",
         46,
         {ReadyHeader("e.kelo"), atBoundary, false, true},
         S::Failed,
         true},
        {"silence at a chunk boundary",
         47,
         {ReadyHeader("e.kelo"), atBoundary, true},
         S::Failed,
         true},
        {"an error page",
         48,
         {"HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n", errorPage},
         S::Failed,
         false},
        {"a body with a Content-Length",
         49,
         {"HTTP/1.1 200 OK\r\nContent-Disposition: attachment; filename=\"e.kelo\"\r\n"
          "Content-Length: 600000\r\n\r\n",
          clip},
         S::Failed,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        notices.Clear();
        ScriptedHttpServer server({c.reply});
        ASSERT_TRUE(server.Start(Address(c.index)));
        ScratchFolder folder("ends");
        TestProbe probe;
        probe.silenceLimitMs = 500;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(c.index)), folder.path(), 0, Links(), probe));
        const std::vector<S> states = notices.States();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), c.last);
        EXPECT_EQ(std::count(states.begin(), states.end(), S::Complete), c.last == S::Complete);
        if (!c.file) {
            EXPECT_TRUE(folder.FileNames().empty());
            continue;
        }
        const std::string stored = folder.ReadFile("e.kelo");
        if (c.last == S::Complete) {
            EXPECT_TRUE(stored == clip);
        } else {
            EXPECT_TRUE(stored == clip.substr(0, stored.size())) << "only clip bytes are kept";
        }
    }
}

TEST_F(DownloadJob, TextsTooLongForTheirBuffersFailCleanly) {
    ScratchFolder folder("long");
    const std::string longUrl = ExportUrl(Host(12), "DV&" + std::string(260, 'p'));
    // 259 characters: fits the URL buffer, but not the request with its fixed parts.
    std::string fullUrl = ExportUrl(Host(13), "DV&");
    fullUrl += std::string(259 - fullUrl.size(), 'p');
    const std::string longFolder =
        folder.path() + "\\" + std::string(259 - folder.path().size(), 'f');
    // A clip name that fits the name buffer, but not the folder with it.
    const std::string longName(259 - folder.path().size() - 5, 'n');
    struct Case {
        int index;
        std::string url;
        std::string folder;
        size_t requests;
    } cases[] = {
        {12, longUrl, folder.path(), 0},
        {13, fullUrl, folder.path(), 0},
        {14, ExportUrl(Host(14)), longFolder, 0},
        {15, ExportUrl(Host(15)), folder.path(), 1},
    };
    for (const Case& c : cases) {
        notices.Clear();
        ScriptedHttpServer server(
            {{ReadyHeader(longName + ".kelo"), ChunkedBody("abc", {3}), false}});
        ASSERT_TRUE(server.Start(Address(c.index)));
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(c.url, c.folder, 0, Links(), probe)) << c.index;
        EXPECT_EQ(server.Requests().size(), c.requests) << c.index;
        ASSERT_FALSE(notices.States().empty());
        EXPECT_EQ(notices.States().back(), S::Failed) << c.index;
        EXPECT_TRUE(folder.FileNames().empty()) << c.index;
    }
    // Only the job that got as far as naming its file is listed, so that it is seen failing.
    EXPECT_EQ(rows.Rows(), std::vector<std::string>({longName + ".kelo"}));
}

TEST_F(DownloadJob, CancelKeepsEveryByteReceivedClosesTheFileAndFails) {
    // Four full blocks and one more chunk: once the writer has taken the fourth block, every byte
    // sent has arrived.
    const std::string clip = PatternClip(4 * 524288 + 65536);
    ScriptedHttpServer server(
        {{ReadyHeader("cancel.kelo"), ChunkedBody(clip, {65536}, false), true}});
    ASSERT_TRUE(server.Start(Address(16)));
    ScratchFolder folder("cancel");
    TestProbe probe;
    DownloadLinks links = Links();
    links.probe = &probe;
    auto* job = new CFluxmereDownload(ExportUrl(Host(16)).c_str(), folder.path().c_str(), 0, links);
    ASSERT_TRUE(
        notices.WaitUntil([&](const std::vector<Notice>&) { return probe.blocksWritten >= 4; }));
    job->Cancel();
    ASSERT_TRUE(notices.WaitForFinalState());
    EXPECT_EQ(job->State(), S::Failed);
    while (job->WaitForFile(0) == FileProgress::BlockWritten) {
    }
    EXPECT_EQ(job->WaitForFile(0), FileProgress::Closed) << "the writer closed the file";
    int64_t written = 0;
    job->GetStatus(&written, nullptr, nullptr, nullptr);
    EXPECT_EQ(written, static_cast<int64_t>(clip.size()));
    job->Cancel();  // again, after the end: nothing changes
    EXPECT_EQ(job->State(), S::Failed);
    job->Release();
    ASSERT_TRUE(probe.WaitDestroyed());
    EXPECT_TRUE(folder.ReadFile("cancel.kelo") == clip);
    EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart, S::InProgress, S::Failed}));
    server.Stop();
}

TEST_F(DownloadJob, CancelWhileTheClipIsNotReadyEndsTheRetriesAsFailed) {
    ScriptedHttpServer server({{kXmlHeader, "", false}});
    ASSERT_TRUE(server.Start(Address(20)));
    ScratchFolder folder("cancelwait");
    TestProbe probe;
    probe.realPauses = true;
    DownloadLinks links = Links();
    links.probe = &probe;
    auto* job = new CFluxmereDownload(ExportUrl(Host(20)).c_str(), folder.path().c_str(), 0, links);
    ASSERT_TRUE(
        notices.WaitUntil([&](const std::vector<Notice>&) { return !server.Requests().empty(); }));
    job->Cancel();
    job->Release();
    ASSERT_TRUE(probe.WaitDestroyed());
    EXPECT_LT(server.Requests().size(), 30u);
    EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart, S::Failed}));
    EXPECT_TRUE(folder.FileNames().empty());
    EXPECT_TRUE(rows.Rows().empty());
}

// Stands in for the transcoding hand-off: reads the blocks as the writer announces them, sets
// Complete once the file is closed, then goes on using the job after every other holder let go.
class FakeTranscoder : public ITranscoder {
public:
    void RunTranscode(ITranscodeSource* job) override {
        while (job->WaitForFile(120000) == FileProgress::BlockWritten)
            ++blocks;
        job->SetState(S::Complete);
        gate.Wait(120000);
        pathAfterRelease = job->FilePath();
    }
    int blocks = 0;
    platform::Event gate{true, false};
    std::string pathAfterRelease;
};

TEST_F(DownloadJob, TranscodingThreadOutlivesEveryOtherReference) {
    const std::string clip = PatternClip(3 * 524288 + 5);
    ScriptedHttpServer server({{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
    ASSERT_TRUE(server.Start(Address(17)));
    ScratchFolder folder("transcode");
    TestProbe probe;
    FakeTranscoder transcoder;
    DownloadLinks links = Links();
    links.transcoder = &transcoder;
    links.probe = &probe;
    auto* job = new CFluxmereDownload(ExportUrl(Host(17)).c_str(), folder.path().c_str(), 3, links);
    ASSERT_TRUE(notices.WaitUntil([&](const std::vector<Notice>&) {
        const std::vector<S> states = notices.States();
        return !states.empty() && states.back() == S::Complete;
    }));
    job->Release();  // as the window does on Complete; the transcoding thread still runs
    transcoder.gate.Set();
    ASSERT_TRUE(probe.WaitDestroyed());
    EXPECT_EQ(transcoder.blocks, 4);
    EXPECT_EQ(transcoder.pathAfterRelease, folder.path() + "\\clip01.kelo");
    EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
    // Transcoding may be skipped when the transcoding thread finished first, never set after it.
    const std::vector<S> states = notices.States();
    EXPECT_EQ(states.back(), S::Complete);
    EXPECT_EQ(std::count(states.begin(), states.end(), S::Complete), 1);
}

TEST_F(DownloadJob, TranscodingAskedForWithoutAnEngineStoresTheFileAndShowsTheFailure) {
    const std::string clip = PatternClip(3 * 524288);
    ScriptedHttpServer server({{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
    ASSERT_TRUE(server.Start(Address(18)));
    ScratchFolder folder("noengine");
    TestProbe probe;
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(18)), folder.path(), 1, Links(), probe));
    EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
    EXPECT_EQ(notices.States(), std::vector<S>({S::AwaitingStart, S::TranscodingFailed}));
    EXPECT_EQ(notices.Progress(), std::vector<int64_t>({1572864}));
}

}  // namespace
}  // namespace fluxmere::testing
