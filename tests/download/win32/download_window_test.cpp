// The download manager window on its own thread: its controls and settings, its rows for real
// jobs against a scripted device, the folder browser, hiding and showing.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "download/fluxmere_download.h"
#include "download/win32/download_manager_window.h"
#include "download/win32/download_window_thread.h"
#include "download/win32/download_settings.h"
#include "platform/socket.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/download/scripted_http.h"
#include "tests/download/win32/registry_sandbox.h"
#include "tests/download/win32/window_probe.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

using S = DownloadState;
constexpr int64_t kSecond = 10000000;

std::string Host(int index) {
    return LoopbackText(Suite::Download, index);
}
uint32_t Address(int index) {
    return LoopbackAddress(Suite::Download, index);
}

uint32_t StoredOptions() {
    char folder[kFolderBufferSize];
    uint32_t options = 0xFFFF;
    ReadDownloadSettings(folder, &options);
    return options;
}

std::string StoredFolder() {
    char folder[kFolderBufferSize];
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    return folder;
}

class DownloadWindow : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InitSockets();
        ASSERT_TRUE(user_.ok());
        ASSERT_TRUE(StoreSettings(folder_.path(), 0));
    }
    // The window as a job makes it: from one reading of the stored settings, with the engine
    // taken as installed and TranscodeEnable as set when transcodeAvailable.
    HWND Start(bool transcodeAvailable) {
        DownloadSettings settings = CurrentDownloadSettings();
        settings.engineInstalled = transcodeAvailable;
        settings.transcodeEnabled = transcodeAvailable;
        EXPECT_TRUE(thread_.Start(settings, DownloadUiModule()));
        return thread_.Dialog() != nullptr ? thread_.Dialog()->Window() : nullptr;
    }
    DownloadLinks Links() {
        DownloadLinks links;
        links.jobList = thread_.Dialog();
        return links;
    }

    RegistrySandbox user_{HKEY_CURRENT_USER};
    ScratchFolder folder_{"window"};
    DownloadWindowThread thread_;
};

TEST_F(DownloadWindow, StartsHiddenWithItsColumnsFolderAndTimer) {
    const HWND window = Start(false);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), thread_.ThreadId());
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Fluxmere Download Manager");

    const char* titles[] = {"Filename", "MB Downloaded", "State", "Codec", "Transcode"};
    const int widths[] = {100, 100, 96, 96, 96};
    for (int i = 0; i < 5; ++i) {
        char title[32] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = title;
        column.cchTextMax = sizeof(title);
        ASSERT_TRUE(
            SendMessageA(JobListOf(window), LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(title, titles[i]);
        EXPECT_EQ(column.cx, widths[i]);
    }
    EXPECT_EQ(ItemText(window, IDC_DOWNLOAD_FOLDER), folder_.path());
}

TEST_F(DownloadWindow, CheckBoxesShowTheStoredOptionsOnlyWhenTranscodingIsAvailable) {
    struct Case {
        bool available;
        uint32_t stored;
        UINT movie;
        UINT mxf;
    } cases[] = {
        {true, 0, BST_UNCHECKED, BST_UNCHECKED},  {true, 1, BST_CHECKED, BST_UNCHECKED},
        {true, 2, BST_UNCHECKED, BST_CHECKED},    {true, 3, BST_CHECKED, BST_CHECKED},
        {false, 3, BST_UNCHECKED, BST_UNCHECKED},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(StoreSettings(folder_.path(), c.stored));
        const HWND window = Start(c.available);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(IsDlgButtonChecked(window, IDC_TRANSCODE_MOV), c.movie) << c.stored;
        EXPECT_EQ(IsDlgButtonChecked(window, IDC_TRANSCODE_MXF), c.mxf) << c.stored;
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, IDC_TRANSCODE_MOV)) != FALSE, c.available);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window, IDC_TRANSCODE_MXF)) != FALSE, c.available);
        EXPECT_EQ(StoredOptions(), c.stored) << "showing changes nothing stored";
        thread_.Stop();
    }
}

TEST_F(DownloadWindow, ClickedCheckBoxesStoreTheirOptions) {
    const HWND window = Start(true);
    ASSERT_NE(window, nullptr);
    struct Step {
        int button;
        uint32_t stored;
    } steps[] = {{IDC_TRANSCODE_MXF, 2},
                 {IDC_TRANSCODE_MOV, 3},
                 {IDC_TRANSCODE_MXF, 1},
                 {IDC_TRANSCODE_MOV, 0}};
    for (const Step& step : steps) {
        SendMessageA(GetDlgItem(window, step.button), BM_CLICK, 0, 0);
        EXPECT_EQ(StoredOptions(), step.stored);
        EXPECT_EQ(StoredFolder(), folder_.path()) << "the folder is stored unchanged";
    }
}

TEST_F(DownloadWindow, HideAndEscapeHideItAndShowingBringsItBackWithItsRows) {
    const HWND window = Start(false);
    ASSERT_NE(window, nullptr);
    ScriptedHttpServer server({{ReadyHeader("kept.kelo"), ChunkedBody("abc", {3}), false}});
    ASSERT_TRUE(server.Start(Address(100)));
    TestProbe probe;
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(100)), folder_.path(), 0, Links(), probe));

    thread_.Dialog()->Show();
    EXPECT_TRUE(IsWindowVisible(window));
    SendMessageA(GetDlgItem(window, IDC_HIDE), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    thread_.Dialog()->Show();
    EXPECT_TRUE(IsWindowVisible(window));
    // Esc reaches the dialog through its thread's message loop, as a key pressed in it would.
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }));
    thread_.Dialog()->Show();
    EXPECT_TRUE(IsWindowVisible(window));
    ASSERT_EQ(RowCount(window), 1);
    EXPECT_EQ(CellText(window, 0, 0), "kept.kelo");
    EXPECT_EQ(CellText(window, 0, 2), "Complete");
}

// Reports a transcoding time, then holds the job in Transcoding until the test lets it finish.
class HeldTranscoder : public ITranscoder {
public:
    void RunTranscode(ITranscodeSource* job) override {
        job->SetTranscodeTime(37230 * kSecond);
        finish.Wait(platform::kInfinite);
        job->SetState(S::Complete);
    }
    platform::Event finish{true, false};
};

TEST_F(DownloadWindow, RowsShowTheJobsUntilTheyEndAndThenReleaseThem) {
    const HWND window = Start(true);
    ASSERT_NE(window, nullptr);
    const std::string clip = PatternClip(3 * 1048576 + 524288);
    ScriptedHttpServer server({{ReadyHeader("first.kelo"), ChunkedBody(clip, {65536}), false},
                               {ReadyHeader("second.kelo"), ChunkedBody("xyz", {3}), false}});
    ASSERT_TRUE(server.Start(Address(101)));

    HeldTranscoder transcoder;
    TestProbe heldProbe;
    DownloadLinks held = Links();
    held.transcoder = &transcoder;
    held.probe = &heldProbe;
    (new CFluxmereDownload(ExportUrl(Host(101), "IMX50").c_str(), folder_.path().c_str(), 1, held))
        ->Release();
    ASSERT_TRUE(WaitFor([&] {
        return CellText(window, 0, 2) == "Transcoding" && CellText(window, 0, 4) == "10:20:30";
    }));
    EXPECT_EQ(CellText(window, 0, 0), "first.kelo");
    EXPECT_EQ(CellText(window, 0, 1), "3");
    EXPECT_EQ(CellText(window, 0, 2), "Transcoding");
    EXPECT_EQ(CellText(window, 0, 3), "IMX50");
    EXPECT_NE(RowData(window, 0), 0) << "a job in Transcoding stays held";

    TestProbe plainProbe;
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(101), "DV"), folder_.path(), 0, Links(), plainProbe));
    ASSERT_EQ(RowCount(window), 2);
    EXPECT_EQ(CellText(window, 0, 0), "second.kelo") << "new rows go to the top";
    EXPECT_EQ(CellText(window, 0, 2), "Complete");
    EXPECT_EQ(CellText(window, 0, 3), "DV");
    EXPECT_EQ(CellText(window, 0, 4), "");
    EXPECT_EQ(RowData(window, 0), 0);

    transcoder.finish.Set();
    ASSERT_TRUE(heldProbe.WaitDestroyed()) << "released at the refresh that showed Complete";
    EXPECT_EQ(CellText(window, 1, 2), "Complete");
    EXPECT_EQ(CellText(window, 1, 4), "10:20:30") << "the last texts stay";
    EXPECT_EQ(RowData(window, 1), 0);
    EXPECT_TRUE(folder_.ReadFile("first.kelo") == clip);
}

TEST_F(DownloadWindow, AJobWhoseFileCannotBeCreatedGetsARowShowingFailed) {
    const HWND window = Start(false);
    ASSERT_NE(window, nullptr);
    ScriptedHttpServer server({{ReadyHeader("lost.kelo"), ChunkedBody("abc", {3}), false}});
    ASSERT_TRUE(server.Start(Address(102)));
    TestProbe probe;
    const std::string missing = folder_.path() + "\\no such folder";
    ASSERT_TRUE(RunJobToEnd(ExportUrl(Host(102)), missing, 0, Links(), probe));
    ASSERT_EQ(RowCount(window), 1);
    EXPECT_EQ(CellText(window, 0, 0), "lost.kelo");
    EXPECT_EQ(CellText(window, 0, 2), "Failed");
    EXPECT_EQ(RowData(window, 0), 0);
}

TEST_F(DownloadWindow, JobsFromManyThreadsAtOnceEachGetOneRowAndAreAllReleased) {
    const HWND window = Start(false);
    ASSERT_NE(window, nullptr);
    ScriptedHttpServer server(
        {{ReadyHeader("many.kelo"), ChunkedBody(PatternClip(70000), {4096}), false}});
    ASSERT_TRUE(server.Start(Address(103)));
    constexpr int kThreads = 4;
    constexpr int kJobsEach = 2;  // all connections fit the scripted peer's backlog of 8
    std::atomic<int> destroyed{0};
    struct CountingProbe : IDownloadProbe {
        std::atomic<int>* destroyed;
        void OnJobDestroyed() override { ++*destroyed; }
    } probe;
    probe.destroyed = &destroyed;
    DownloadLinks links = Links();
    links.probe = &probe;
    const std::string url = ExportUrl(Host(103));
    const std::string folder = folder_.path();
    std::vector<platform::Thread> threads(kThreads);
    struct Context {
        DownloadLinks links;
        std::string url, folder;
    } context{links, url, folder};
    for (platform::Thread& thread : threads) {
        thread.Start(
            [](void* raw) {
                auto* c = static_cast<Context*>(raw);
                for (int i = 0; i < kJobsEach; ++i)
                    (new CFluxmereDownload(c->url.c_str(), c->folder.c_str(), 0, c->links))
                        ->Release();
            },
            &context);
    }
    for (platform::Thread& thread : threads)
        thread.Join(platform::kInfinite);
    ASSERT_TRUE(WaitFor([&] { return destroyed.load() == kThreads * kJobsEach; }, 120000));
    ASSERT_EQ(RowCount(window), kThreads * kJobsEach);
    std::vector<std::string> names;
    for (int row = 0; row < kThreads * kJobsEach; ++row) {
        EXPECT_EQ(CellText(window, row, 2), "Complete");
        EXPECT_EQ(RowData(window, row), 0);
        names.push_back(CellText(window, row, 0));
    }
    EXPECT_EQ(folder_.FileNames().size(), static_cast<size_t>(kThreads * kJobsEach));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, folder_.FileNames()) << "every file has its own row";
}

// The shell's folder browser owned by the window, found from the test thread.
HWND FindFolderBrowser(HWND owner) {
    HWND found = nullptr;
    WaitFor([&] {
        HWND candidate = nullptr;
        while ((candidate = FindWindowExA(nullptr, candidate, "#32770", nullptr)) != nullptr) {
            if (GetWindow(candidate, GW_OWNER) == owner && IsWindowVisible(candidate)) {
                found = candidate;
                return true;
            }
        }
        return false;
    });
    return found;
}

// Selects a folder in the browser's tree as a user would, item by item from the root: each step
// expands the current item and moves to the child whose text holds the given part.
bool SelectInFolderTree(HWND browser, const std::vector<std::string>& steps) {
    const HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    LPARAM item = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (const std::string& step : steps) {
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, item);
        LPARAM child = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, item);
        for (; child != 0; child = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, child)) {
            char text[260] = {};
            TVITEMA entry = {};
            entry.mask = TVIF_TEXT;
            entry.hItem = reinterpret_cast<HTREEITEM>(child);
            entry.pszText = text;
            entry.cchTextMax = sizeof(text);
            SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&entry));
            if (std::string(text).find(step) != std::string::npos)
                break;
        }
        if (child == 0)
            return false;
        item = child;
    }
    return SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, item) != 0;
}

TEST_F(DownloadWindow, ChangeStoresAndShowsAChosenFolderWithAPathAndNothingElse) {
    const HWND window = Start(false);
    ASSERT_NE(window, nullptr);
    char desktop[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)));
    enum Choice { kCancel, kNoPath, kInitial };
    struct Case {
        Choice choice;
        std::string expected;
    } cases[] = {
        {kCancel, folder_.path()},
        {kNoPath, folder_.path()},  // "My Computer" is no folder of the file system
        {kInitial, desktop},        // the browser starts at the desktop
    };
    for (const Case& c : cases) {
        // The button's click runs the browser's modal loop on the window's thread.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_CHANGE_FOLDER, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_CHANGE_FOLDER)));
        const HWND browser = FindFolderBrowser(window);
        ASSERT_NE(browser, nullptr);
        if (c.choice == kNoPath)
            ASSERT_TRUE(SelectInFolderTree(browser, {"My Computer"}));
        PostMessageA(browser, WM_COMMAND, c.choice == kCancel ? IDCANCEL : IDOK, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
        // A message handled after the browser's loop: the handler has finished.
        SendMessageA(window, WM_NULL, 0, 0);
        EXPECT_EQ(ItemText(window, IDC_DOWNLOAD_FOLDER), c.expected) << c.choice;
        EXPECT_EQ(StoredFolder(), c.expected) << c.choice;
    }
}

}  // namespace
}  // namespace fluxmere::testing
