// The download job with transcoding against the real engine program, which the script
// engine_handoff_test.sh has registered: a DVCPRO clip from the device stand-in with options 3
// becomes the byte-exact .kelo, a .kelo.mov and a .kelo.mxf, an IMX50 clip with options 2 a
// .kelo.mxf (the script reads them with ffprobe afterwards); a Cancel while the engine works
// ends both outputs and keeps no handle; an engine killed in the middle of a job ends it as
// "Transcoding Failed" within seconds with the .kelo whole. The killed engine's case comes last:
// Wine's store of local servers still names the dead program afterwards.

#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "container/kelo.h"
#include "container/kelo_writer.h"
#include "device/clip.h"
#include "download/fluxmere_download.h"
#include "download/win32/transcode_handoff.h"
#include "platform/socket.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"
#include "tests/support/win32/process_resources.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

using S = DownloadState;

// Counts the running engine programs of this Wine session (only this test starts one), and ends
// them when `kill` is set.
int EnginePrograms(bool kill) {
    int found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, L"fluxmere-engine.exe") != 0) {
            continue;
        }
        if (!kill) {
            ++found;
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process != nullptr && TerminateProcess(process, 9)) {
            ++found;
        }
        if (process != nullptr) {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return found;
}

class EngineHandOff : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitSockets();
        notices_.Clear();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        folder_ = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
        ASSERT_FALSE(folder_.empty()) << "run through engine_handoff_test.sh";
    }
    void TearDown() override { CoUninitialize(); }

    bool StartDevice(int index, uint64_t bytes, const std::string& rate = "0") {
        return device_.Start({"--address", LoopbackText(Suite::Download, index), "--no-rtsp",
                              "--clip-name", "clip01", "--clip-bytes", std::to_string(bytes),
                              "--body-rate", rate});
    }

    // A whole download of a clip of `bytes` in `codec` from the device at `index` with transcoding
    // `options`, into the sub-folder `name` of the test's folder, which it returns.
    std::string Download(int index, uint64_t bytes, uint32_t options, const char* codec,
                         const char* name) {
        const std::string folder = folder_ + "\\" + name;
        CreateDirectoryA(folder.c_str(), nullptr);
        EXPECT_TRUE(StartDevice(index, bytes)) << device_.error();
        DownloadLinks links;
        links.transcoder = &handOff_;
        links.notices = &notices_;
        TestProbe probe;
        EXPECT_TRUE(RunJobToEnd(
            ExportUrl(LoopbackText(Suite::Download, index), std::string(codec) + "&queue=1"),
            folder, options, links, probe));
        device_.Stop();
        return folder;
    }

    // Outlives every job, also one a failed test left running.
    static CTranscodeHandOff handOff_;
    NoticeLog notices_;
    DeviceProcess device_;
    std::string folder_;
};

CTranscodeHandOff EngineHandOff::handOff_;

TEST_F(EngineHandOff, EngineIsInstalled) {
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_TranscodingEngine, &progId), S_OK);
    EXPECT_STREQ(progId, L"FluxmereEngine.TranscodingEngine.1");
    CoTaskMemFree(progId);
    // An engine object answers across the process boundary.
    ITranscodingJob* engine = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TranscodingEngine, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_ITranscodingJob, reinterpret_cast<void**>(&engine));
    ASSERT_EQ(hr, S_OK) << std::hex << hr;
    BSTR version = nullptr;
    EXPECT_EQ(engine->GetEngineVersion(&version), S_OK);
    EXPECT_STREQ(version, L"1.0");
    SysFreeString(version);
    LONG status = -1;
    EXPECT_EQ(engine->QueryStatus(0, &status), S_OK);
    EXPECT_EQ(status, 0);
    hyper elapsed = -1;
    EXPECT_EQ(engine->QueryElapsed(&elapsed), S_OK);
    EXPECT_EQ(elapsed, 0);
    engine->Release();
}

// Writes the clip's picture count into the folder, for the script to compare with the outputs'.
void WritePictureCount(const std::vector<uint8_t>& clip, const std::string& folder) {
    CKelo stream;
    ASSERT_TRUE(stream.ParseHeader(clip.data(), clip.size()));
    CKeloMediaFrame frame(stream.version);
    int pictures = 0;
    for (size_t at = stream.bytesRead(); at + 4 <= clip.size();) {
        const uint32_t headerLength = LoadBE32(&clip[at]);
        uint32_t payload = 0;
        ASSERT_TRUE(frame.ParseHeader(&clip[at + 4], headerLength, &payload));
        pictures += frame.mediaKind == kKindVideo;
        at += 4 + headerLength + payload;
    }
    std::FILE* count = std::fopen((folder + "\\pictures.txt").c_str(), "wb");
    ASSERT_NE(count, nullptr);
    std::fprintf(count, "%d\n", pictures);
    std::fclose(count);
}

TEST_F(EngineHandOff, OptionsThreeGiveAMovieAndAnMxfFile) {
    const uint64_t size = 3 * 1048576 + 4321;
    const std::string folder = Download(67, size, 3, "DVCPRO", "both");
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", size, 1);
    EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo") == clip);
    WritePictureCount(clip, folder);
    EXPECT_EQ(notices_.States().back(), S::Complete);
    const std::vector<uint8_t> movie = ReadFileBytes(folder + "\\clip01.kelo.mov");
    ASSERT_GE(movie.size(), 8u) << "the engine wrote no movie";
    EXPECT_EQ(std::string(movie.begin() + 4, movie.begin() + 8), "ftyp");
    const std::vector<uint8_t> mxf = ReadFileBytes(folder + "\\clip01.kelo.mxf");
    ASSERT_GE(mxf.size(), 16u) << "the engine wrote no MXF file";
    EXPECT_EQ(mxf[0], 0x06);  // a partition pack's key
}

TEST_F(EngineHandOff, ImxClipGivesAD10MxfFile) {
    const uint64_t size = 2 * 1048576;
    const std::string folder = Download(68, size, 2, "IMX50", "imx");
    WritePictureCount(device::GenerateClip("clip01", size, 1), folder);
    EXPECT_EQ(notices_.States().back(), S::Complete);
    EXPECT_FALSE(ReadFileBytes(folder + "\\clip01.kelo.mxf").empty());
    EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo.mov").empty());
}

// A Cancel that comes while the engine works (the clip already whole) ends both outputs: the job
// ends "Transcoding Failed" for the movie and the MXF file, no output is left half written, and
// once each job has ended and been released the process holds no more handles than before.
TEST_F(EngineHandOff, CancelWhileTheEngineWorksEndsBothOutputsAndKeepsNoHandles) {
    // Large enough that the engine is still at work well after the transfer has ended.
    const uint64_t size = 8 * 1048576;
    ASSERT_TRUE(StartDevice(70, size)) << device_.error();
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", size, 1);
    // One round: the job runs until the engine works on the whole clip, is cancelled, ends and
    // goes; then the engine's program ends too (its last object released).
    const auto round = [&](int number) {
        SCOPED_TRACE("round " + std::to_string(number));
        const std::string folder = folder_ + "\\cancelled" + std::to_string(number);
        CreateDirectoryA(folder.c_str(), nullptr);
        notices_.Clear();
        DownloadLinks links;
        links.transcoder = &handOff_;
        links.notices = &notices_;
        auto* job = new CFluxmereDownload(
            ExportUrl(LoopbackText(Suite::Download, 70), "DVCPRO&queue=1").c_str(), folder.c_str(),
            3, links);
        EXPECT_TRUE(notices_.WaitUntil(
            [](const std::vector<Notice>& log) {
                return !log.empty() && log.back().isState && log.back().state != S::Initializing &&
                       log.back().state != S::AwaitingStart && log.back().state != S::InProgress;
            },
            120000));
        EXPECT_EQ(job->State(), S::Transcoding);
        job->Cancel();
        for (int i = 0; i < 2400 && !job->HasEnded(); ++i)
            Sleep(50);
        ASSERT_TRUE(job->HasEnded());
        EXPECT_EQ(job->State(), S::TranscodingFailed);
        EXPECT_EQ(job->FailedOutputs(), 3u);
        job->Release();
        EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo") == clip);
        EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo.mov").empty());
        EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo.mxf").empty());
        for (int i = 0; i < 1200 && EnginePrograms(false) != 0; ++i)
            Sleep(50);
        EXPECT_EQ(EnginePrograms(false), 0) << "the engine's program did not end";
    };
    // The first round makes what COM keeps for the process's life (its threads, the connection to
    // the service that starts local servers).
    round(0);
    const DWORD before = HandleCount();
    ASSERT_GT(before, 0u);
    for (int number = 1; number <= 4; ++number) {
        round(number);
        const DWORD now = HandleCount();
        std::printf("round %d: handles %lu (before %lu)\n", number, static_cast<unsigned long>(now),
                    static_cast<unsigned long>(before));
        EXPECT_LE(now, before) << "round " << number;
    }
    device_.Stop();
}

TEST_F(EngineHandOff, KilledEngineFailsTheJobWithinSecondsAndTheClipStaysWhole) {
    const uint64_t size = 8 * 1048576;
    ASSERT_TRUE(StartDevice(69, size, "1000000")) << device_.error();
    const std::string folder = folder_ + "\\killed";
    CreateDirectoryA(folder.c_str(), nullptr);
    DownloadLinks links;
    links.transcoder = &handOff_;
    links.notices = &notices_;
    auto* job = new CFluxmereDownload(
        ExportUrl(LoopbackText(Suite::Download, 69), "DVCPRO&queue=1").c_str(), folder.c_str(), 1,
        links);
    // Once the engine has taken a few blocks, it goes.
    int64_t written = 0;
    for (int i = 0; i < 300 && written < 2 * 524288; ++i) {
        Sleep(50);
        job->GetStatus(&written, nullptr, nullptr, nullptr);
    }
    ASSERT_GE(written, 2 * 524288);
    // Starting the engine's process takes a while on a loaded machine.
    for (int i = 0; i < 600 && EnginePrograms(false) == 0; ++i)
        Sleep(50);
    ASSERT_EQ(EnginePrograms(true), 1);
    const uint64_t killedAt = GetTickCount64();
    EXPECT_TRUE(notices_.WaitUntil(
        [](const std::vector<Notice>& log) {
            return !log.empty() && log.back().isState && log.back().state == S::TranscodingFailed;
        },
        30000));
    // Found by a failed call, or at the latest by the stall limit; the rest is room for a loaded
    // machine.
    const HandOffTiming timing;
    EXPECT_LT(GetTickCount64() - killedAt, timing.stallLimitMs + timing.checkMs + 5000u);
    // The download goes on to its end and stores the whole clip.
    for (int i = 0; i < 600 && !job->HasEnded(); ++i)
        Sleep(50);
    EXPECT_TRUE(job->HasEnded());
    job->Release();
    device_.Stop();
    EXPECT_TRUE(ReadFileBytes(folder + "\\clip01.kelo") == device::GenerateClip("clip01", size, 1));
}

}  // namespace
}  // namespace fluxmere::testing
