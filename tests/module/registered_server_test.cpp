// The registered server as its real clients use it: script hosts that know nothing but a ProgID,
// and a C++ client calling an object from another apartment through the type library's
// marshalling of the dual interfaces. The suite registers the module (DllRegisterServer) first
// and unregisters it at the end.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "device/test_pattern.h"
#include "fluxmere_library.h"
#include "tests/module/module_library.h"
#include "tests/support/device_process.h"
#include "tests/support/file_bytes.h"
#include "tests/support/loopback.h"
#include "tests/support/wine_environment.h"

namespace fluxmere::testing {
namespace {

class RegisteredModule : public ::testing::Environment {
public:
    void SetUp() override {
        module_ = new ModuleLibrary;
        ASSERT_TRUE(module_->loaded());
        ASSERT_EQ(module_->RegisterServer(), S_OK);
    }
    void TearDown() override {
        EXPECT_EQ(module_->UnregisterServer(), S_OK);
        delete module_;
    }

private:
    ModuleLibrary* module_ = nullptr;
};

const ::testing::Environment* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);

// --- Script clients ----------------------------------------------------------------------------

struct ScriptCase {
    int address;  // index of the test's loopback address
    const char* name;
    const char* extension;
    const char* text;  // %s: the ProgID, the stream's address, the file that says "stop now"
    const char* progid;
};

// The scripts play until the test has seen pictures sent and the tone played, and says so by
// creating a file: a fixed play time would fail whenever a loaded machine connects slowly. Wine's
// script host has no WScript.Sleep (it fails with "not implemented"), so they poll.
const char kVBScript[] =
    "Set player = CreateObject(\"%s\")\r\n"
    "Set files = CreateObject(\"Scripting.FileSystemObject\")\r\n"
    "player.SetRectangle \"0,0,352,288\"\r\n"
    "player.SetURL \"rtsp://%s/live\"\r\n"
    "started = Timer\r\n"
    "Do While Not files.FileExists(\"%s\") And Timer - started < 90 And Timer >= started\r\n"
    "Loop\r\n"
    "player.Stop\r\n";

const char kJScript[] =
    "var player = new ActiveXObject(\"%s\");\r\n"
    "var files = new ActiveXObject(\"Scripting.FileSystemObject\");\r\n"
    "player.SetRectangle(\"0,0,352,288\");\r\n"
    "player.SetURL(\"rtsp://%s/live\");\r\n"
    "for (var until = new Date().getTime() + 90000;\r\n"
    "     !files.FileExists(\"%s\") && new Date().getTime() < until;) {}\r\n"
    "player.Stop();\r\n";

const ScriptCase kScripts[] = {
    {1, "VBScript", "vbs", kVBScript, "FluxmereLibrary.MediaPlayer"},
    {2, "JScript", "js", kJScript, "FluxmereLibrary.MediaPlayer"},
    {3, "VBScriptVersionedProgID", "vbs", kVBScript, "FluxmereLibrary.MediaPlayer.1"},
};

// A command run with its standard output and error in a file; stopped by its own handle if it
// is still running when the test ends.
class ClientProcess {
public:
    ~ClientProcess() {
        if (process_.hProcess == nullptr)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, INFINITE);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    bool Start(std::string command, const std::string& outputPath) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        const bool started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0,
                                            nullptr, nullptr, &startup, &process_) != FALSE;
        CloseHandle(output);
        return started;
    }

    bool Ended() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }

    // The exit code, or -1 when it did not end within timeoutMs.
    int Wait(DWORD timeoutMs) const {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }

private:
    PROCESS_INFORMATION process_ = {};
};

// The device's tone as the wave output plays it (16-bit little-endian), long enough to hold
// any captured stretch of `frames` sample frames: the tone repeats every 96 sample frames.
std::vector<uint8_t> PlayedTone(size_t frames) {
    constexpr size_t kPeriodFrames = 96;
    std::vector<uint8_t> tone((frames + kPeriodFrames) * 4);
    device::RenderTone(0, tone.data(), frames + kPeriodFrames);
    for (size_t i = 0; i < tone.size(); i += 2)
        std::swap(tone[i], tone[i + 1]);
    return tone;
}

// True when the capture holds a 40 ms stretch of the tone, after any leading silence.
bool HoldsTheTone(const std::vector<uint8_t>& captured) {
    constexpr size_t kFrames = 1920;
    size_t start = 0;
    while (start + 4 <= captured.size() && captured[start] == 0 && captured[start + 1] == 0 &&
           captured[start + 2] == 0 && captured[start + 3] == 0)
        start += 4;
    if (captured.size() < start + kFrames * 4)
        return false;
    const std::vector<uint8_t> tone = PlayedTone(kFrames);
    for (size_t offset = 0; offset + kFrames * 4 <= tone.size(); offset += 4) {
        if (std::equal(captured.begin() + start, captured.begin() + start + kFrames * 4,
                       tone.begin() + offset))
            return true;
    }
    return false;
}

class ScriptClients : public ::testing::TestWithParam<ScriptCase> {};

INSTANTIATE_TEST_SUITE_P(Hosts, ScriptClients, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ScriptClients, DriveAViewerSessionByProgID) {
    const std::string folder = WindowsPathFromEnvironment("FLUXMERE_TEST_DIR");
    if (folder.empty() || WindowsPathFromEnvironment("FLUXMERE_AUDIO_CAPTURE").empty())
        GTEST_SKIP() << "run under tests/wine/wine-run.sh (scratch folder and audio capture)";
    const std::string address = LoopbackText(Suite::Module, GetParam().address);
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", address, "--no-http"})) << device.error();

    // The capture of an earlier case must not pass for this one's.
    DeleteFileA(WindowsPathFromEnvironment("FLUXMERE_AUDIO_CAPTURE").c_str());
    const std::string stopFile = folder + "\\client.stop";
    DeleteFileA(stopFile.c_str());
    // Forward slashes: the path goes into script strings, where a backslash escapes.
    std::string stopInScript = stopFile;
    std::replace(stopInScript.begin(), stopInScript.end(), '\\', '/');
    char text[2048];
    std::snprintf(text, sizeof text, GetParam().text, GetParam().progid, address.c_str(),
                  stopInScript.c_str());
    const std::string script = folder + "\\client." + GetParam().extension;
    const std::string output = folder + "\\client.out";
    FILE* file = std::fopen(script.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(text, file);
    std::fclose(file);

    ClientProcess client;
    ASSERT_TRUE(client.Start("cscript.exe //nologo \"" + script + "\"", output));
    // Until pictures went out and the tone was played, or the client gave up by itself.
    const ULONGLONG deadline = GetTickCount64() + 90000;
    while (!client.Ended() && GetTickCount64() < deadline &&
           !(device.Counter("framesSent") >= 10 && HoldsTheTone(ReadAudioCapture())))
        Sleep(100);
    FILE* stop = std::fopen(stopFile.c_str(), "wb");
    ASSERT_NE(stop, nullptr);
    std::fclose(stop);
    const int code = client.Wait(30000);
    const std::vector<uint8_t> printed = ReadFileBytes(output);
    EXPECT_EQ(code, 0) << std::string(printed.begin(), printed.end());
    const std::vector<uint8_t> captured = ReadAudioCapture();
    ASSERT_TRUE(device.Stop());
    EXPECT_GE(device.Counter("describes"), 1);
    EXPECT_GE(device.Counter("setups"), 1);
    EXPECT_GE(device.Counter("plays"), 1);
    EXPECT_GE(device.Counter("teardowns"), 1);
    EXPECT_GE(device.Counter("framesSent"), 10);
    EXPECT_TRUE(HoldsTheTone(captured)) << captured.size() << " bytes captured";
}

// --- Apartments --------------------------------------------------------------------------------

struct CrossCall {
    IStream* marshalled = nullptr;
    HRESULT unmarshal = E_FAIL;
    HRESULT setRectangle = E_FAIL;
    HRESULT stop = E_FAIL;
    HRESULT typeInfoCount = E_FAIL;
    UINT count = 0;
};

DWORD WINAPI CallFromAnotherApartment(void* argument) {
    auto* call = static_cast<CrossCall*>(argument);
    Apartment apartment;
    IMediaPlayer* player = nullptr;
    call->unmarshal = CoGetInterfaceAndReleaseStream(call->marshalled, IID_IMediaPlayer,
                                                     reinterpret_cast<void**>(&player));
    call->marshalled = nullptr;
    if (FAILED(call->unmarshal))
        return 0;
    Bstr rectangle(L"0,0,352,288");
    call->setRectangle = player->SetRectangle(rectangle.get());
    call->stop = player->Stop();
    call->typeInfoCount = player->GetTypeInfoCount(&call->count);
    player->Release();
    return 0;
}

TEST(Apartments, ObjectIsCalledFromAnotherApartmentThroughTheTypeLibrary) {
    Apartment apartment;
    ASSERT_EQ(apartment.result(), S_OK);
    IMediaPlayer* player = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MediaPlayer, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaPlayer,
                               reinterpret_cast<void**>(&player)),
              S_OK);
    CrossCall call;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IMediaPlayer, player, &call.marshalled),
              S_OK);
    HANDLE thread = CreateThread(nullptr, 0, CallFromAnotherApartment, &call, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // The calls arrive on this apartment's thread as messages.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(call.unmarshal, S_OK);
    EXPECT_EQ(call.setRectangle, S_OK);
    EXPECT_EQ(call.stop, S_OK);
    EXPECT_EQ(call.typeInfoCount, S_OK);
    EXPECT_EQ(call.count, 1u);
    EXPECT_EQ(player->Release(), 0u);
}

}  // namespace
}  // namespace fluxmere::testing
