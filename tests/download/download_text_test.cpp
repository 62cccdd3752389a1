// The job's text handling and its block queue, without threads of the job or a network.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "download/block_queue.h"
#include "download/download_url.h"
#include "download/file_naming.h"
#include "download/response_header.h"
#include "download/transcode_options.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "tests/download/job_fixture.h"

namespace fluxmere {
namespace {

TEST(DownloadUrl, CodecComesFromTheParametersInTheFixedOrder) {
    struct Case {
        const char* url;
        CodecKind codec;
    } cases[] = {
        {"http://1.2.3.4/command.cgi?stream&kelo&DVCPRO50&q=1", CodecKind::DVCPRO},
        {"http://1.2.3.4/command.cgi?stream&kelo&DV&q=1", CodecKind::DV},
        {"http://1.2.3.4/command.cgi?stream&kelo&DV&IMX50", CodecKind::DV},
        {"http://1.2.3.4/command.cgi?stream&kelo&IMX50&DV", CodecKind::DV},
        {"http://1.2.3.4/command.cgi?stream&kelo&IMX30", CodecKind::IMX30},
        {"http://1.2.3.4/command.cgi?stream&kelo&IMX40", CodecKind::IMX40},
        {"http://1.2.3.4/command.cgi?stream&kelo&IMX50", CodecKind::IMX50},
        {"http://1.2.3.4/command.cgi?stream&kelo&MPEG2-I", CodecKind::MPEG2I},
        {"http://1.2.3.4/command.cgi?stream&kelo&MPEG2&dv", CodecKind::Unknown},
        // Only the parameters count, not the host or the command.
        {"http://DVCPRO/command.cgi?stream&kelo&IMX40", CodecKind::IMX40},
        {"http://DV/command.cgi?stream&kelo&", CodecKind::Unknown},
    };
    for (const Case& c : cases) {
        DownloadUrlParts parts;
        ASSERT_TRUE(SplitDownloadUrl(c.url, &parts)) << c.url;
        EXPECT_EQ(parts.codec, c.codec) << c.url;
    }
}

TEST(DownloadUrl, HostRunsFromAfterTheSchemeToTheSlashBeforeTheCommand) {
    const char url[] = "http://192.168.0.20/command.cgi?stream&kelo&DV";
    DownloadUrlParts parts;
    ASSERT_TRUE(SplitDownloadUrl(url, &parts));
    EXPECT_EQ(std::string(url + parts.hostOffset, parts.hostLength), "192.168.0.20");
    EXPECT_EQ(std::string(url + parts.commandOffset), "command.cgi?stream&kelo&DV");
    uint32_t address = 0;
    ASSERT_TRUE(DeviceAddressOfHost(url + parts.hostOffset, parts.hostLength, &address));
    EXPECT_EQ(address, platform::InetAddr("192.168.0.20"));

    const char named[] = "http://recorder.local/command.cgi?stream&kelo&DV";
    ASSERT_TRUE(SplitDownloadUrl(named, &parts));
    ASSERT_TRUE(DeviceAddressOfHost(named + parts.hostOffset, parts.hostLength, &address));
    EXPECT_EQ(address, platform::kInaddrNone);

    for (const char* bad :
         {"http://1.2.3.4/other.cgi?x", "command.cgi?stream&kelo&DV",
          "http:/command.cgi?stream&kelo&DV", "http://1.2.3.4command.cgi?stream&kelo&"}) {
        EXPECT_FALSE(SplitDownloadUrl(bad, &parts)) << bad;
    }
}

TEST(DownloadUrl, RequestIsExactAndBoundedByItsBuffer) {
    char request[kTextBufferSize];
    const size_t length =
        BuildExportRequest("command.cgi?stream&kelo&DV&q=1", request, sizeof request);
    EXPECT_EQ(std::string(request, length),
              "GET /command.cgi?stream&kelo&DV&q=1 HTTP/1.1\r\nAccept: */*\r\n\r\n");

    // "GET /" and the fixed ending take 31 bytes: 228 more fill 259 characters and the NUL.
    const std::string fits(228, 'a');
    const std::string tooLong(229, 'a');
    char guarded[kTextBufferSize + 8];
    std::memset(guarded, 0x5A, sizeof guarded);
    EXPECT_EQ(BuildExportRequest(fits.c_str(), guarded, kTextBufferSize), 259u);
    EXPECT_EQ(guarded[259], '\0');
    std::memset(guarded, 0x5A, sizeof guarded);
    EXPECT_EQ(BuildExportRequest(tooLong.c_str(), guarded, kTextBufferSize), 0u);
    for (size_t i = kTextBufferSize; i < sizeof guarded; ++i)
        EXPECT_EQ(guarded[i], 0x5A);
}

class TextSource : public IByteSource {
public:
    explicit TextSource(std::string text) : text_(std::move(text)) {}
    int Read(uint8_t* buffer, int length) override {
        if (position_ >= text_.size() || length <= 0)
            return 0;
        buffer[0] = static_cast<uint8_t>(text_[position_++]);
        return 1;
    }
    size_t position() const { return position_; }

private:
    std::string text_;
    size_t position_ = 0;
};

TEST(ResponseHeader, EndsAfterFourLineBreakBytesInARowWithoutTakingTheBody) {
    struct Case {
        std::string input;
        HeaderEnd end;
        size_t length;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nA: b\r\n\r\n5\r\nhello", HeaderEnd::Complete, 25},
        {"HTTP/1.1 200 OK\n\n\n\nbody", HeaderEnd::Complete, 19},
        {"HTTP/1.1 200 OK\r\r\r\rbody", HeaderEnd::Complete, 19},
        {"A\r\n\rB\r\n\r\nbody", HeaderEnd::Complete, 9},  // "B" resets the run
        {"HTTP/1.1 200 OK\r\n", HeaderEnd::Interrupted, 17},
        {"", HeaderEnd::Interrupted, 0},
        {std::string(3000, 'x'), HeaderEnd::TooLong, kHeaderBufferSize - 1},
    };
    for (const Case& c : cases) {
        TextSource source(c.input);
        ResponseHeader header;
        ReadResponseHeader(source, &header);
        EXPECT_EQ(header.end, c.end) << c.input.substr(0, 40);
        EXPECT_EQ(header.length, c.length) << c.input.substr(0, 40);
        EXPECT_EQ(source.position(), c.length) << "read past the header";
        EXPECT_EQ(std::strlen(header.text), c.length);
    }
}

TEST(ResponseHeader, XmlAnywhereMeansNotReady) {
    ResponseHeader header;
    for (const char* text : {"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n",
                             "HTTP/1.1 200 OK\r\nX: axmlb\r\n\r\n"}) {
        TextSource source(text);
        ReadResponseHeader(source, &header);
        EXPECT_FALSE(IsUsableHeader(header)) << text;
    }
    TextSource ready("HTTP/1.1 200 OK\r\nContent-Type: application/XML-ish\r\n\r\n");
    ReadResponseHeader(ready, &header);
    EXPECT_TRUE(IsUsableHeader(header));
    TextSource cut("HTTP/1.1 200 OK\r\n");
    ReadResponseHeader(cut, &header);
    EXPECT_FALSE(IsUsableHeader(header));
}

TEST(ResponseHeader, StatusAndChunkedCoding) {
    struct Case {
        std::string text;
        int status;
        bool chunked;
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", 200, true},
        {"HTTP/1.0 206 Partial\r\ntransfer-encoding: gzip, CHUNKED\r\n\r\n", 206, true},
        {"HTTP/1.1 404 Not Found\r\nTransfer-Encoding: chunked\r\n\r\n", 404, true},
        {"HTTP/1.1 200\r\nContent-Length: 5\r\n\r\n", 200, false},
        {"HTTP/1.1 200 OK\r\nX-Note: chunked\r\n\r\n", 200, false},  // not the coding
        {"HTTP/1.1 2000 OK\r\n\r\n", 0, false},
        {"ICY 200 OK\r\n\r\n", 0, false},
        {"HTTP/1.1 2x0 OK\r\n\r\n", 0, false},
        {"\r\n\r\n", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TextSource source(c.text);
        ResponseHeader header;
        ReadResponseHeader(source, &header);
        EXPECT_EQ(ResponseStatus(header), c.status);
        EXPECT_EQ(IsChunkedResponse(header), c.chunked);
    }
}

TEST(ResponseHeader, BaseNameIsTheQuotedFileNameWithoutItsExtension) {
    struct Case {
        std::string header;
        const char* baseName;  // nullptr: stays as it was
    } cases[] = {
        {"H\r\nContent-Disposition: attachment; filename=\"clip01.kelo\"\r\n\r\n", "clip01"},
        {"H\r\nfilename=\"take.2.kelo\"\r\n\r\n", "take"},
        {"filename=\"atstart.kelo\"\r\n\r\n", nullptr},          // not at the header's very start
        {"H\r\nfilename=\".kelo\"\r\n\r\n", nullptr},            // full stop first
        {"H\r\nfilename=\"noext\"\r\nX: a.b\r\n\r\n", nullptr},  // no full stop in the name
        {"H\r\nfilename=clip.kelo\r\n\r\n", nullptr},            // no quote
        {"H\r\nfilename=\"..\\..\\evil.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"sub/clip.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"c:clip.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"" + std::string(260, 'n') + ".kelo\"\r\n\r\n", nullptr},
        // Names Windows keeps for devices, in any case and with any extension, and names it
        // would store under another name.
        {"H\r\nfilename=\"NUL.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"con.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"Aux.tar.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"prn.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"COM1.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"lpt9.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"clip \x7f.kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"clip .kelo\"\r\n\r\n", nullptr},
        {"H\r\nfilename=\"COM0.kelo\"\r\n\r\n", "COM0"},
        {"H\r\nfilename=\"NULL.kelo\"\r\n\r\n", "NULL"},
        {"H\r\nfilename=\"LPT.kelo\"\r\n\r\n", "LPT"},
        {"H\r\nfilename=\"console.kelo\"\r\n\r\n", "console"},
        {"H\r\nfilename=\"" + std::string(259, 'n') + ".kelo\"\r\n\r\n",
         "n"},  // the longest name that fits: checked by length below
    };
    for (const Case& c : cases) {
        char baseName[kTextBufferSize] = "Fluxmere";
        const bool taken = TakeBaseNameFromHeader(c.header.c_str(), baseName, sizeof baseName);
        EXPECT_EQ(taken, c.baseName != nullptr) << c.header.substr(0, 60);
        if (c.baseName == nullptr) {
            EXPECT_STREQ(baseName, "Fluxmere");
        } else if (std::strcmp(c.baseName, "n") == 0) {
            EXPECT_EQ(std::strlen(baseName), 259u);
        } else {
            EXPECT_STREQ(baseName, c.baseName);
        }
    }
}

TEST(FileNaming, TakesTheFirstFreeNumberedNameAndFailsWhenThePathDoesNotFit) {
    testing::ScratchFolder folder("naming");
    const std::string dir = folder.path() + "\\";
    char name[kTextBufferSize];
    char path[kTextBufferSize];
    ASSERT_TRUE(ChooseFreeFileName(dir.c_str(), "clip01", name, path, sizeof path));
    EXPECT_STREQ(name, "clip01.kelo");
    EXPECT_EQ(std::string(path), dir + "clip01.kelo");
    folder.WriteFile("clip01.kelo", "x");
    folder.WriteFile("clip01_1.kelo", "x");
    folder.WriteFile("clip01_3.kelo", "x");
    ASSERT_TRUE(ChooseFreeFileName(dir.c_str(), "clip01", name, path, sizeof path));
    EXPECT_STREQ(name, "clip01_2.kelo");

    // "NAME.kelo" fits but "NAME_1.kelo" does not: the search ends there.
    const std::string longName(kTextBufferSize - 1 - dir.size() - 5, 'n');
    ASSERT_TRUE(ChooseFreeFileName(dir.c_str(), longName.c_str(), name, path, sizeof path));
    folder.WriteFile(name, "x");
    EXPECT_FALSE(ChooseFreeFileName(dir.c_str(), longName.c_str(), name, path, sizeof path));
    EXPECT_STREQ(path, "");
}

TEST(TranscodeOptions, OutputsInTheirOrderAndAMovieForAnyOtherValue) {
    using F = OutputFormat;
    struct Case {
        uint32_t options;
        std::vector<F> outputs;
    } cases[] = {
        {0, {}},
        {kTranscodeToMovie, {F::Movie}},
        {kTranscodeToMxf, {F::Mxf}},
        {kTranscodeToMovie | kTranscodeToMxf, {F::Movie, F::Mxf}},
        {4, {F::Movie}},
        {kTranscodeToMxf | 4, {F::Movie}},
        {0xFFFFFFFF, {F::Movie}},
    };
    for (const Case& c : cases) {
        OutputFormat outputs[kMaxTranscodeOutputs];
        const int count = TranscodeOutputs(c.options, outputs);
        EXPECT_EQ(std::vector<F>(outputs, outputs + count), c.outputs) << c.options;
    }
}

TEST(BlockQueue, HandsBlocksOverInOrderAndNeverRefillsOneBeingWritten) {
    std::vector<uint8_t> store(BlockQueue::kStoreSize);
    BlockQueue queue(store.data());
    // Fill every block: the 25th must wait, even after one was taken, until it is returned.
    for (int i = 0; i < BlockQueue::kCapacity; ++i) {
        DownloadBlock* block = queue.AcquireBlock(0);
        ASSERT_NE(block, nullptr) << i;
        block->data[0] = static_cast<uint8_t>(i);
        block->size = i + 1;
        queue.CommitBlock();
    }
    EXPECT_EQ(queue.AcquireBlock(0), nullptr);
    DownloadBlock* first = queue.TakeBlock(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->data[0], 0);
    EXPECT_EQ(queue.AcquireBlock(0), nullptr) << "the block being written was handed out again";
    queue.ReturnBlock();
    DownloadBlock* again = queue.AcquireBlock(0);
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->size, 0);
    queue.CommitBlock();
    queue.Finish();
    for (int i = 1; i <= BlockQueue::kCapacity; ++i) {
        DownloadBlock* block = queue.TakeBlock(0);
        ASSERT_NE(block, nullptr) << i;
        EXPECT_EQ(block->data[0], i < BlockQueue::kCapacity ? i : 0);
        queue.ReturnBlock();
    }
    EXPECT_EQ(queue.TakeBlock(0), nullptr) << "finished and empty";
}

struct WaitingProducer {
    BlockQueue* queue;
    DownloadBlock* result = reinterpret_cast<DownloadBlock*>(1);
    static void Run(void* context) {
        auto* self = static_cast<WaitingProducer*>(context);
        self->result = self->queue->AcquireBlock(platform::kInfinite);
    }
};

TEST(BlockQueue, AbortReleasesAProducerWaitingForRoom) {
    std::vector<uint8_t> store(BlockQueue::kStoreSize);
    BlockQueue queue(store.data());
    for (int i = 0; i < BlockQueue::kCapacity; ++i) {
        ASSERT_NE(queue.AcquireBlock(0), nullptr);
        queue.CommitBlock();
    }
    WaitingProducer producer{&queue};
    platform::Thread thread;
    ASSERT_TRUE(thread.Start(WaitingProducer::Run, &producer));
    queue.Abort();
    ASSERT_TRUE(thread.Join(60000));
    EXPECT_EQ(producer.result, nullptr);
}

}  // namespace
}  // namespace fluxmere
