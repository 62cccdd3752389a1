// The transcoding hand-off against engines in the test's own process: the job descriptions
// (parsed back with the XML DOM), every block through the shared memory, the pause before the end
// mark, and the failures (declined, dead, stalled, not created), after which the .kelo stays whole
// and every named object is gone.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "download/fluxmere_download.h"
#include "download/win32/download_manager_window.h"
#include "download/win32/download_settings.h"
#include "download/win32/download_window_thread.h"
#include "download/win32/job_description.h"
#include "download/win32/transcode_handoff.h"
#include "engine/job_request.h"
#include "engine/pipe_reader.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "platform/win32/named_objects.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/download/scripted_http.h"
#include "tests/download/win32/window_probe.h"
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

// The call an engine hangs in, until the test lets it return.
enum class Hang { None, Submit, Start, Status, Elapsed, Finish, Cancel };

// An engine object in this process: takes the blocks as the real engine does, records them and
// writes them to its output file, which gets its trailer only at the end of the clip.
class FakeEngine final : public ITranscodingJob {
public:
    enum class Mode {
        Works,
        DeclinesStart,
        DiesAfterFirstBlock,
        StallsAfterFirstBlock,
        NeverFinishes,  // takes every block and the end, and never reports finished
    };
    static constexpr char kTrailer[] = "WHOLE";

    explicit FakeEngine(Mode mode, Hang hang = Hang::None, platform::Event* release = nullptr)
        : mode_(mode), hang_(hang), release_(release) {}

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
        HangIn(Hang::Status);
        if (dead_.load())
            return RPC_E_DISCONNECTED;
        *status = finished_.load() ? 1 : 2;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryProgress(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryElapsed(hyper* elapsed) override {
        HangIn(Hang::Elapsed);
        if (dead_.load())
            return RPC_E_DISCONNECTED;
        *elapsed = 10000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryError(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ValidateJob(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SubmitJob(BSTR description, LONG reserved) override {
        HangIn(Hang::Submit);
        text = description;
        submittedReserved = reserved;
        if (submitted != nullptr)
            submitted->store(true);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PauseJob() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartJob() override {
        if (mode_ == Mode::DeclinesStart || !engine::ParseJobRequest(text.c_str(), &request))
            return E_NOTIMPL;
        const HRESULT started = worker_.Start(WorkerEntry, this) ? S_OK : E_FAIL;
        HangIn(Hang::Start);  // after the output was begun
        return started;
    }
    HRESULT STDMETHODCALLTYPE CancelJob() override {
        ++cancelCalls;
        HangIn(Hang::Cancel);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FinishJob() override {
        ++finishCalls;
        HangIn(Hang::Finish);
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
    std::atomic<int> cancelCalls{0};
    std::atomic<uint64_t> hungAtMs{0};       // when the engine began to hang; 0: it did not
    std::atomic<bool>* submitted = nullptr;  // set once a job was submitted
    std::atomic<int>* endsTaken = nullptr;   // counts the engines that have read the end mark

private:
    void HangIn(Hang call) {
        if (hang_ != call || hungAtMs.load() != 0)
            return;  // each call hangs once
        hungAtMs.store(GetTickCount64());
        release_->Wait(platform::kInfinite);
    }
    static void WorkerEntry(void* context) { static_cast<FakeEngine*>(context)->Work(); }
    void Work() {
        engine::PipeReader pipe;
        platform::File output;
        if (!pipe.Open(request) || !output.CreateAlways(Narrow(request.outputPath).c_str()))
            return;
        uint64_t lastTaken = platform::MonotonicMs();
        while (!stop_.load()) {
            const uint8_t* data = nullptr;
            uint32_t count = 0;
            const engine::PipeReader::Next next = pipe.Wait(50, &data, &count);
            if (next == engine::PipeReader::Next::Timeout)
                continue;
            counts.push_back(count);
            if (next != engine::PipeReader::Next::Block) {
                endPauseMs = platform::MonotonicMs() - lastTaken;
                if (endsTaken != nullptr)
                    ++*endsTaken;
                if (mode_ == Mode::NeverFinishes)
                    continue;
                output.Write(kTrailer, sizeof(kTrailer) - 1);
                output.Close();
                finished_.store(true);
                return;
            }
            bytes.append(reinterpret_cast<const char*>(data), count);
            output.Write(data, count);
            if ((mode_ == Mode::DiesAfterFirstBlock || mode_ == Mode::StallsAfterFirstBlock) &&
                counts.size() == 1) {
                dead_.store(mode_ == Mode::DiesAfterFirstBlock);
                return;  // takes nothing more
            }
            lastTaken = platform::MonotonicMs();
            pipe.Taken();
        }
    }

    Mode mode_;
    Hang hang_;
    platform::Event* release_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> dead_{false};
    platform::Thread worker_;
};

// Hands out fake engines (or fails to make one) and keeps a reference to each. The engines
// behave as modes says in the order they are made; the last mode holds for the rest.
class FakeFactory final : public IEngineFactory {
public:
    FakeFactory(FakeEngine::Mode mode, bool fails = false) : modes_{mode}, fails_(fails) {}
    FakeFactory(std::vector<FakeEngine::Mode> modes, Hang hang, platform::Event* release)
        : modes_(std::move(modes)), hang_(hang), release_(release) {}
    ~FakeFactory() {
        for (FakeEngine* e : engines)
            e->Release();
    }
    HRESULT CreateEngine(ITranscodingJob** engine) override {
        if (fails_)
            return REGDB_E_CLASSNOTREG;
        const FakeEngine::Mode mode = modes_[std::min(engines.size(), modes_.size() - 1)];
        FakeEngine* e = new FakeEngine(mode, hang_, release_);
        e->submitted = &submitted;
        e->endsTaken = &endsTaken;
        engines.push_back(e);
        e->AddRef();
        *engine = e;
        return S_OK;
    }
    // True when the hand-off has let go of every engine made (only the factory's reference is
    // left).
    bool AllReleased() const {
        for (FakeEngine* e : engines) {
            if (e->references.load() != 1)
                return false;
        }
        return true;
    }

    std::vector<FakeEngine*> engines;
    std::atomic<bool> submitted{false};
    std::atomic<int> endsTaken{0};

private:
    std::vector<FakeEngine::Mode> modes_;
    bool fails_ = false;
    Hang hang_ = Hang::None;
    platform::Event* release_ = nullptr;
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

// What is left at an output's path: nothing, the engine's whole file, or a broken one.
enum class Left { Nothing, Whole, Broken };
Left OutputLeft(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Left::Nothing;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string trailer = FakeEngine::kTrailer;
    return bytes.size() >= trailer.size() &&
                   bytes.compare(bytes.size() - trailer.size(), trailer.size(), trailer) == 0
               ? Left::Whole
               : Left::Broken;
}

// Each failure of an engine, with the job listed in the real window: the job ends "Transcoding
// Failed" within the time the limits allow, the .kelo stays whole, each output is whole or absent,
// the row says that the clip is whole and which output failed, the window releases the job
// (without waiting for an engine that hangs), and once the hang ends no thread is left.
TEST_F(TranscodeHandOff, EngineFailuresEndTheJobInBoundedTimeAndReleaseIt) {
    using M = FakeEngine::Mode;
    struct Case {
        const char* name;
        int index;
        uint32_t options;
        std::vector<M> modes;  // per engine, in order
        Hang hang;
        std::vector<Left> left;  // per output: .mov, then .mxf
        const char* transcodeText;
    };
    const Case cases[] = {
        {"second output declined",
         70,
         3,
         {M::Works, M::DeclinesStart},
         Hang::None,
         {Left::Whole, Left::Nothing},
         "Transcoding Failed (.mxf)"},
        {"never finished",
         71,
         1,
         {M::NeverFinishes},
         Hang::None,
         {Left::Nothing},
         "Transcoding Failed (.mov)"},
        {"hangs in SubmitJob",
         72,
         1,
         {M::Works},
         Hang::Submit,
         {Left::Nothing},
         "Transcoding Failed (.mov)"},
        {"hangs in StartJob",
         73,
         1,
         {M::Works},
         Hang::Start,
         {Left::Nothing},
         "Transcoding Failed (.mov)"},
        {"hangs in QueryStatus",
         74,
         1,
         {M::Works},
         Hang::Status,
         {Left::Nothing},
         "Transcoding Failed (.mov)"},
        {"hangs in QueryElapsed",
         75,
         1,
         {M::Works},
         Hang::Elapsed,
         {Left::Nothing},
         "Transcoding Failed (.mov)"},
        {"hangs in FinishJob",
         76,
         1,
         {M::Works},
         Hang::Finish,
         {Left::Whole},
         "Transcoding Failed (.mov)"},
        {"both outputs hang",
         77,
         3,
         {M::Works},
         Hang::Status,
         {Left::Nothing, Left::Nothing},
         "Transcoding Failed (.mov, .mxf)"},
    };
    HandOffTiming timing;
    timing.endPauseMs = 100;
    timing.checkMs = 50;
    timing.stallLimitMs = 1000;
    timing.callLimitMs = 1000;
    timing.finishLimitMs = 1000;
    // The longest path to the failure: one overrun per output, or the finish limit after the
    // last end pause.
    constexpr uint64_t kBoundMs = 2 * 1000 + 2 * 100 + 1000 + 2000;
    const std::string clip = PatternClip(3 * 524288 + 99);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.Clear();
        ScratchFolder folder("handoff_bounded");
        DownloadSettings settings;
        std::snprintf(settings.folder, sizeof(settings.folder), "%s", folder.path().c_str());
        DownloadWindowThread window;
        ASSERT_TRUE(window.Start(settings, DownloadUiModule()));
        platform::Event release(true, false);
        FakeFactory factory(c.modes, c.hang, &release);
        ScriptedHttpServer server(
            {{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
        ASSERT_TRUE(server.Start(Address(c.index)));
        const int threadsBefore = platform::RunningThreadCount();
        CTranscodeHandOff handOff(&factory, timing);
        DownloadLinks links;
        links.jobList = window.Dialog();
        links.notices = &notices_;
        links.transcoder = &handOff;
        TestProbe probe;
        const uint64_t start = GetTickCount64();
        // Released by the window only: its row drops the job once its threads have ended.
        ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(c.index), "DVCPRO&queue=1"), folder.path(),
                                c.options, links, probe));
        const std::vector<S> states = notices_.States();
        ASSERT_FALSE(states.empty());
        EXPECT_EQ(states.back(), S::TranscodingFailed);
        EXPECT_EQ(std::count(states.begin(), states.end(), S::Complete), 0);
        EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
        if (c.hang != Hang::None) {
            ASSERT_FALSE(factory.engines.empty());
            const uint64_t hungAt = factory.engines[0]->hungAtMs.load();
            ASSERT_NE(hungAt, 0u);
            EXPECT_LT(GetTickCount64() - hungAt, kBoundMs) << "the job waited for the hang";
        } else {
            EXPECT_LT(GetTickCount64() - start, kBoundMs + 30000);
        }
        const HWND dialog = window.Dialog()->Window();
        EXPECT_EQ(CellText(dialog, 0, 0), "clip01.kelo");
        EXPECT_EQ(CellText(dialog, 0, 2), "Complete") << "the clip is whole";
        EXPECT_EQ(CellText(dialog, 0, 4), c.transcodeText);
        EXPECT_EQ(RowData(dialog, 0), 0);

        // The hang ends: its thread lets go of the engine and of any broken output, and ends.
        release.Set();
        EXPECT_TRUE(WaitFor([&] { return platform::RunningThreadCount() <= threadsBefore; }));
        EXPECT_TRUE(WaitFor([&] { return factory.AllReleased(); })) << "every engine released";
        const char* endings[] = {".kelo.mov", ".kelo.mxf"};
        for (size_t i = 0; i < c.left.size(); ++i) {
            const std::string path = folder.path() + "\\clip01" + endings[i];
            EXPECT_TRUE(WaitFor([&] { return OutputLeft(path) == c.left[i]; }, 5000)) << path;
        }
        window.Stop();
    }
}

// A Cancel once the clip is whole, while both engines still work: each is asked to cancel its job
// (one that hangs in that call costs only the call limit), both outputs fail and their partial
// files go, and the job ends Transcoding Failed with the clip whole. Once the hang ends no thread
// is left and every engine is released.
TEST_F(TranscodeHandOff, CancelWhileTheEnginesWorkGivesUpBothOutputs) {
    struct Case {
        const char* name;
        int index;
        Hang hang;
    };
    const Case cases[] = {
        {"the engines answer", 78, Hang::None},
        {"an engine hangs in CancelJob", 79, Hang::Cancel},
    };
    HandOffTiming timing;
    timing.endPauseMs = 100;
    timing.checkMs = 50;
    timing.callLimitMs = 1000;
    timing.finishLimitMs = 600000;  // only the Cancel ends these engines' jobs
    const std::string clip = PatternClip(2 * 524288 + 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notices_.Clear();
        ScratchFolder folder("handoff_cancel");
        platform::Event release(true, false);
        FakeFactory factory({FakeEngine::Mode::NeverFinishes}, c.hang, &release);
        ScriptedHttpServer server(
            {{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
        ASSERT_TRUE(server.Start(Address(c.index)));
        const int threadsBefore = platform::RunningThreadCount();
        CTranscodeHandOff handOff(&factory, timing);
        DownloadLinks links;
        links.notices = &notices_;
        links.transcoder = &handOff;
        auto* job = new CFluxmereDownload(ExportUrl(Host(c.index), "DVCPRO&queue=1").c_str(),
                                          folder.path().c_str(), 3, links);
        // Both engines have taken the end mark: nothing but the Cancel is left to end them.
        ASSERT_TRUE(WaitFor([&] { return factory.endsTaken.load() == 2; }, 60000));
        EXPECT_EQ(job->State(), S::Transcoding);
        job->Cancel();
        EXPECT_TRUE(WaitFor([&] { return job->HasEnded(); }, 60000));
        EXPECT_EQ(job->State(), S::TranscodingFailed);
        EXPECT_EQ(job->FailedOutputs(), 3u);
        job->Release();
        EXPECT_TRUE(folder.ReadFile("clip01.kelo") == clip);
        for (FakeEngine* e : factory.engines)
            EXPECT_EQ(e->cancelCalls.load(), 1);

        release.Set();
        EXPECT_TRUE(WaitFor([&] { return platform::RunningThreadCount() <= threadsBefore; }));
        EXPECT_TRUE(WaitFor([&] { return factory.AllReleased(); })) << "every engine released";
        for (const char* ending : {".kelo.mov", ".kelo.mxf"}) {
            const std::string path = folder.path() + "\\clip01" + ending;
            EXPECT_TRUE(WaitFor([&] { return OutputLeft(path) == Left::Nothing; }, 5000)) << path;
        }
    }
}

// The .kelo opened for the hand-off is checked: a file that cannot be opened fails the
// transcoding at once, without an engine and without waiting for the download.
TEST(TranscodeHandOffSource, AFileThatCannotBeOpenedFailsAtOnce) {
    struct MissingFile final : ITranscodeSource {
        const char* FilePath() const override { return "C:\\no such folder\\gone.kelo"; }
        uint32_t Options() const override { return 1; }
        void ClearOptions(uint32_t) override {}
        CodecKind Codec() const override { return CodecKind::DV; }
        DownloadState State() const override { return state; }
        bool SetState(DownloadState s) override {
            state = s;
            return true;
        }
        void SetTranscodeTime(int64_t) override {}
        void NoteFailedOutputs(uint32_t) override {}
        FileProgress WaitForFile(uint32_t) override {
            ++waits;
            return FileProgress::Closed;
        }
        bool CancelRequested() const override { return false; }
        DownloadState state = DownloadState::InProgress;
        int waits = 0;
    } source;
    FakeFactory factory(FakeEngine::Mode::Works);
    CTranscodeHandOff handOff(&factory);
    handOff.RunTranscode(&source);
    EXPECT_EQ(source.state, S::TranscodingFailed);
    EXPECT_EQ(source.waits, 0);
    EXPECT_TRUE(factory.engines.empty());
}

// While the file is written and read for the hand-off, the user may move it (or delete it).
TEST_F(TranscodeHandOff, TheClipCanBeMovedWhileItIsDownloadedAndHandedOver) {
    const std::string clip = PatternClip(4 * 524288);
    ScratchFolder folder("handoff_move");
    struct MovingProbe : TestProbe {
        std::string from, to;
        FakeFactory* factory = nullptr;
        bool moved = false;
        DWORD error = 0;
        void BeforeBlockWrite(int64_t index) override {
            // From the second block on the hand-off holds the file open (it gave the first).
            if (index == 2) {
                WaitFor([&] { return factory->submitted.load(); });
                moved = MoveFileA(from.c_str(), to.c_str()) != FALSE;
                error = GetLastError();
            }
            TestProbe::BeforeBlockWrite(index);
        }
    } probe;
    FakeFactory factory(FakeEngine::Mode::Works);
    probe.factory = &factory;
    probe.from = folder.path() + "\\clip01.kelo";
    probe.to = folder.path() + "\\moved.kelo";
    ScriptedHttpServer server({{ReadyHeader("clip01.kelo"), ChunkedBody(clip, {65536}), false}});
    ASSERT_TRUE(server.Start(Address(78)));
    CTranscodeHandOff handOff(&factory);
    DownloadLinks links;
    links.notices = &notices_;
    links.transcoder = &handOff;
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(78), "DV&queue=1"), folder.path(), 1, links, probe));
    EXPECT_TRUE(probe.moved) << probe.error;
    EXPECT_TRUE(folder.ReadFile("moved.kelo") == clip);
    ASSERT_EQ(factory.engines.size(), 1u);
    EXPECT_TRUE(factory.engines[0]->bytes == clip);
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
