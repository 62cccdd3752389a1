// The transcoding hand-off against engines in the test's own process: the job descriptions
// (parsed back with the XML DOM), every block through the shared memory, the pause before the end
// mark, and the failures (declined, dead, stalled, not created), after which the .kelo stays whole
// and every named object is gone.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "download/fluxmere_download.h"
#include "download/win32/job_description.h"
#include "download/win32/transcode_handoff.h"
#include "engine/job_request.h"
#include "engine/pipe_reader.h"
#include "platform/socket.h"
#include "platform/win32/named_objects.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/download/scripted_http.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

using S = DownloadState;

std::string Host(int index) {
    return LoopbackText(Suite::Download, index);
}
uint32_t Address(int index) {
    return LoopbackAddress(Suite::Download, index);
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // the texts here are ASCII
}

// Wine's DOM indents the xml property: a line end and tabs before every tag that does not
// follow text. Dropping them gives the serialisation without formatting.
std::string WithoutIndentation(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\r\n") == 0) {
            i += 2;
            while (i < text.size() && text[i] == '\t')
                ++i;
            --i;
            continue;
        }
        out += text[i];
    }
    return out;
}

// An engine object in this process: takes the blocks as the real engine does and records them.
class FakeEngine final : public ITranscodingJob {
public:
    enum class Mode { Works, DeclinesStart, DiesAfterFirstBlock, StallsAfterFirstBlock };
    explicit FakeEngine(Mode mode) : mode_(mode) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITranscodingJob)) {
            *out = static_cast<ITranscodingJob*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 1) {  // only the test's own reference is left: the hand-off let go
            stop_.store(true);
        }
        if (left == 0) {
            worker_.Join(platform::kInfinite);
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetEngineVersion(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFormatCount(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFormatName(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLogLevel(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPriority(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetJobCount(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryStatus(LONG, LONG* status) override {
        if (dead_.load())
            return RPC_E_DISCONNECTED;
        *status = finished_.load() ? 1 : 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryProgress(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryElapsed(hyper* elapsed) override {
        if (dead_.load())
            return RPC_E_DISCONNECTED;
        *elapsed = 10000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryError(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ValidateJob(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SubmitJob(BSTR description, LONG reserved) override {
        text = description;
        submittedReserved = reserved;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PauseJob() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartJob() override {
        if (mode_ == Mode::DeclinesStart || !engine::ParseJobRequest(text.c_str(), &request))
            return E_NOTIMPL;
        return worker_.Start(WorkerEntry, this) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE CancelJob() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FinishJob() override {
        ++finishCalls;
        return S_OK;
    }

    std::atomic<ULONG> references{1};
    std::wstring text;
    LONG submittedReserved = -1;
    engine::JobRequest request;
    std::vector<uint32_t> counts;  // every count read, the end mark included
    std::string bytes;             // every byte taken
    uint64_t endPauseMs = 0;       // from taking the last block to seeing the end mark
    std::atomic<int> finishCalls{0};

private:
    static void WorkerEntry(void* context) { static_cast<FakeEngine*>(context)->Work(); }
    void Work() {
        engine::PipeReader pipe;
        if (!pipe.Open(request))
            return;
        uint64_t lastTaken = GetTickCount64();
        while (!stop_.load()) {
            const uint8_t* data = nullptr;
            uint32_t count = 0;
            const engine::PipeReader::Next next = pipe.Wait(50, &data, &count);
            if (next == engine::PipeReader::Next::Timeout)
                continue;
            counts.push_back(count);
            if (next != engine::PipeReader::Next::Block) {
                endPauseMs = GetTickCount64() - lastTaken;
                finished_.store(true);
                return;
            }
            bytes.append(reinterpret_cast<const char*>(data), count);
            if (mode_ != Mode::Works && counts.size() == 1) {
                dead_.store(mode_ == Mode::DiesAfterFirstBlock);
                return;  // takes nothing more
            }
            lastTaken = GetTickCount64();
            pipe.Taken();
        }
    }

    Mode mode_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> dead_{false};
    platform::Thread worker_;
};

// Hands out fake engines (or fails to make one) and keeps a reference to each.
class FakeFactory final : public IEngineFactory {
public:
    FakeFactory(FakeEngine::Mode mode, bool fails = false) : mode_(mode), fails_(fails) {}
    ~FakeFactory() {
        for (FakeEngine* e : engines)
            e->Release();
    }
    HRESULT CreateEngine(ITranscodingJob** engine) override {
        if (fails_)
            return REGDB_E_CLASSNOTREG;
        FakeEngine* e = new FakeEngine(mode_);
        engines.push_back(e);
        e->AddRef();
        *engine = e;
        return S_OK;
    }
    std::vector<FakeEngine*> engines;

private:
    FakeEngine::Mode mode_;
    bool fails_;
};

class TranscodeHandOff : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitSockets();
        notices_.Clear();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    }
    void TearDown() override { CoUninitialize(); }

    // Runs a download of `clip` with the hand-off and these engines to the job's end.
    void Download(int index, const std::string& params, uint32_t options, const std::string& clip,
                  IEngineFactory* factory, const std::string& folder,
                  HandOffTiming timing = HandOffTiming()) {
        ScriptedHttpServer server(
            {{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
        ASSERT_TRUE(server.Start(Address(index)));
        CTranscodeHandOff handOff(factory, timing);
        DownloadLinks links;
        links.jobList = &rows_;
        links.notices = &notices_;
        links.transcoder = &handOff;
        TestProbe probe;
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(index), params), folder, options, links, probe));
    }

    RecordingJobList rows_;
    NoticeLog notices_;
};

// The serialisation the design gives for one output.
std::string ExpectedText(const engine::JobRequest& r, const std::string& path,
                         const std::string& containerUuid, const std::string& codecUuid) {
    return "<content><input><pipe path=\"" + Narrow(r.pipePath) + "\" keloevent=\"" +
           Narrow(r.readyEvent) + "\" keloeventdone=\"" + Narrow(r.takenEvent) +
           "\"><stream uuid=\"1854B3CC-35E8-4A2B-AE51-0B2B0C59C21D\"/></pipe></input><output>"
           "<file path=\"" +
           path +
           "\" version=\"duplicate\"><container name=\"Encoder\" "
           "type=\"movie\" uuid=\"" +
           containerUuid +
           "\"><codec name=\"directconvert\" "
           "standard=\"\" type=\"movie\" uuid=\"" +
           codecUuid +
           "\"><channels name=\"Audio "
           "Channels\" type=\"fixed\" unit=\"channels\">8</channels><sample-rate name=\"Audio "
           "Sample Rate\" type=\"fixed\" unit=\"Hz\">48000</sample-rate><manual "
           "content-type=\"text/html\" path=\"net/vandelor/skiv/engine/plugin/skiv/"
           "FinalCutPro_DVCPRODirectConvert.htm\">FinalCutPro_DVCPRODirectConvert.htm</manual>"
           "<timecode name=\"Generate Timecode Track\" type=\"boolean\">false      "
           "<timecode-visible name=\"Timecode Visible\" type=\"boolean\">true</timecode-visible>"
           "</timecode></codec></container></file></output></content>";
}

// The text parses back with the DOM into the tree the design gives.
void ExpectParsesBack(const std::wstring& text) {
    IXMLDOMDocument* document = nullptr;
    const CLSID domDocument = {
        0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(domDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument,
                                           reinterpret_cast<void**>(&document))));
    BSTR source = SysAllocString(text.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    document->loadXML(source, &loaded);
    SysFreeString(source);
    EXPECT_EQ(loaded, VARIANT_TRUE);
    BSTR query = SysAllocString(L"/content/output/file/container/codec/timecode/timecode-visible");
    IXMLDOMNode* node = nullptr;
    document->selectSingleNode(query, &node);
    SysFreeString(query);
    EXPECT_NE(node, nullptr);
    if (node != nullptr)
        node->Release();
    document->Release();
}

TEST_F(TranscodeHandOff, DescribesEachOutputAndHandsOverEveryBlock) {
    struct Case {
        int index;
        const char* params;
        uint32_t options;
        std::vector<const char*> endings;     // per output
        std::vector<const char*> containers;  // per output
        const char* codecUuid;
    };
    const Case cases[] = {
        {60,
         "DVCPRO&queue=1",
         3,
         {".kelo.mov", ".kelo.mxf"},
         {"BD584BB3-BCD9-439C-9801-7ECB96D6390E", "2173EC89-E410-4529-80DA-DF31031DEBC9"},
         "CADA66B7-3CA6-4ABA-A210-ECB4FFBC8B61"},
        {61,
         "IMX40&queue=1",
         2,
         {".kelo.mxf"},
         {"2173EC89-E410-4529-80DA-DF31031DEBC9"},
         "C6500BED-A830-4042-AE52-390CF7E1DC35"},
    };
    const std::string clip = PatternClip(1200000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        notices_.Clear();
        ScratchFolder folder("handoff");
        FakeFactory factory(FakeEngine::Mode::Works);
        Download(c.index, c.params, c.options, clip, &factory, folder.path());
        EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
        EXPECT_EQ(notices_.States().back(), S::Complete);
        ASSERT_EQ(factory.engines.size(), c.endings.size());
        for (size_t i = 0; i < factory.engines.size(); ++i) {
            SCOPED_TRACE(i);
            FakeEngine& e = *factory.engines[i];
            const std::string path = folder.path() + "\\clip01" + c.endings[i];
            EXPECT_EQ(WithoutIndentation(Narrow(e.text)),
                      ExpectedText(e.request, path, c.containers[i], c.codecUuid));
            ExpectParsesBack(e.text);
            EXPECT_EQ(e.submittedReserved, 0);
            EXPECT_EQ(e.counts, std::vector<uint32_t>({524288, 524288, 151424, 0}));
            EXPECT_TRUE(e.bytes == clip);
            EXPECT_GE(e.endPauseMs, 1900u);
            EXPECT_EQ(e.finishCalls.load(), 1);
            EXPECT_EQ(e.references.load(), 1u) << "the hand-off keeps no reference";
            // Every named object is gone with the thread.
            platform::NamedEvent event;
            EXPECT_FALSE(event.Open(e.request.readyEvent.c_str()));
            EXPECT_FALSE(event.Open(e.request.takenEvent.c_str()));
            EXPECT_FALSE(event.Open(e.request.pipePath.c_str()));
            platform::SharedMemory memory;
            EXPECT_FALSE(memory.Open(e.request.pipePath.c_str() + 1, 524292));
        }
        if (factory.engines.size() == 2) {
            EXPECT_EQ(factory.engines[0]->request.pipePath, factory.engines[1]->request.pipePath);
            EXPECT_NE(factory.engines[0]->request.readyEvent,
                      factory.engines[1]->request.readyEvent);
            EXPECT_NE(factory.engines[0]->request.takenEvent,
                      factory.engines[1]->request.takenEvent);
        }
    }
}

TEST_F(TranscodeHandOff, FailuresEndInTranscodingFailedQuicklyWithTheFileWhole) {
    struct Case {
        int index;
        FakeEngine::Mode mode;
        bool creationFails;
    };
    const Case cases[] = {
        {62, FakeEngine::Mode::DeclinesStart, false},
        {63, FakeEngine::Mode::DiesAfterFirstBlock, false},
        {64, FakeEngine::Mode::StallsAfterFirstBlock, false},
        {65, FakeEngine::Mode::Works, true},
    };
    const std::string clip = PatternClip(3 * 524288 + 99);
    // The slowest failure, a stalled engine, is found by the stall limit; the rest is room for the
    // local download and a loaded machine, still short of a job that waited on its engine.
    const HandOffTiming timing;
    const uint64_t limitMs = timing.stallLimitMs + timing.endPauseMs + 8000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        notices_.Clear();
        ScratchFolder folder("handoff_fails");
        FakeFactory factory(c.mode, c.creationFails);
        const uint64_t start = GetTickCount64();
        Download(c.index, "DV&queue=1", 1, clip, &factory, folder.path(), timing);
        EXPECT_LT(GetTickCount64() - start, limitMs);
        EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
        const std::vector<S> states = notices_.States();
        EXPECT_EQ(states.back(), S::TranscodingFailed);
        EXPECT_EQ(std::count(states.begin(), states.end(), S::Complete), 0);
        for (FakeEngine* e : factory.engines)
            EXPECT_EQ(e->references.load(), 1u);
    }
}

TEST_F(TranscodeHandOff, CodecWithoutADescriptionSubmitsNothing) {
    const std::string clip = PatternClip(600000);
    ScratchFolder folder("handoff_unknown");
    FakeFactory factory(FakeEngine::Mode::Works);
    Download(66, "MPEG2-I&queue=1", 1, clip, &factory, folder.path());
    EXPECT_TRUE(factory.engines.empty());
    EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
    EXPECT_EQ(notices_.States().back(), S::Complete);
}

}  // namespace
}  // namespace fluxmere::testing
