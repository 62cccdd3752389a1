// What the browser and the viewer reach: the browser hook that turns device downloads into jobs
// (through real URL monikers, against the device stand-in), the process's single download manager
// window, and the viewer's context menu, driven through the open menu by keyboard input.
// The tests run in order: the first ones see the process before its window exists.

#include <gtest/gtest.h>

#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "device/clip.h"
#include "download/win32/device_download.h"
#include "download/win32/download_manager_window.h"
#include "download/win32/download_settings.h"
#include "download/win32/viewer_context_menu.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "tests/download/job_fixture.h"
#include "tests/download/notice_log.h"
#include "tests/download/win32/fake_moniker.h"
#include "tests/download/win32/registry_sandbox.h"
#include "tests/download/win32/window_probe.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

using S = DownloadState;
constexpr uint64_t kMiB = 1048576;
constexpr char kCaption[] = "Fluxmere Download Manager";

int ProcessWindowCount() {
    int count = 0;
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", kCaption)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            ++count;
    }
    return count;
}

std::string ExpectedClip(uint64_t size) {
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", size, 1);
    return std::string(clip.begin(), clip.end());
}

class BrowserHook : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override {
        platform::InitSockets();
        ASSERT_TRUE(user_.ok());
        // Transcoding asked for: without an installed engine the jobs must not transcode. (Where
        // another test left the engine registered, nothing is asked for.)
        ASSERT_TRUE(StoreSettings(folder_.path(), IsTranscoderInstalled() ? 0 : 3));
    }
    DownloadLinks Links() {
        DownloadLinks links;
        links.notices = &notices_;
        return links;
    }
    RegistrySandbox user_{HKEY_CURRENT_USER};
    ScratchFolder folder_{"hook"};
    NoticeLog notices_;
};

TEST_F(BrowserHook, DeclinesEveryOtherDownloadWithoutMakingAWindowOrAJob) {
    const std::wstring command = L"command.cgi?stream&kelo&";
    struct Case {
        const char* what;
        std::wstring name;
        bool hasName;
    } cases[] = {
        {"another page", L"http://127.0.0.1/clips/clip01.kelo", true},
        {"the command first", command + L"DV", true},
        {"no display name", L"", false},
        {"empty name", L"", true},
        {"259 characters fit, but one more does not",
         L"http://127.0.0.1/" + command + L"DV&" + std::wstring(260 - 17 - 24 - 3, L'p'), true},
    };
    for (const Case& c : cases) {
        NamedMoniker moniker(c.name, c.hasName);
        EXPECT_EQ(StartDeviceDownload(&moniker, nullptr, Links()), E_FAIL) << c.what;
        EXPECT_EQ(moniker.references(), 1u) << c.what;
    }
    IMoniker* url = nullptr;
    ASSERT_EQ(CreateURLMoniker(nullptr, L"http://127.0.0.1/index.html?stream&kelo", &url), S_OK);
    EXPECT_EQ(StartDeviceDownload(url, nullptr, Links()), E_FAIL);
    url->Release();
    platform::SleepMs(300);
    EXPECT_EQ(FindDownloadManagerWindow(), nullptr);
    EXPECT_TRUE(notices_.Snapshot().empty()) << "no job started";
}

TEST_F(BrowserHook, DeviceDownloadsFromTwoThreadsAtOnceStoreTheClipAndShowRowsInOneWindow) {
    const uint64_t size = 3 * kMiB + kMiB / 2;
    const std::string host = LoopbackText(Suite::Download, 120);
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", host, "--no-rtsp", "--clip-name", "clip01",
                              "--clip-bytes", std::to_string(size)}))
        << device.error();
    const std::wstring url = L"http://" + std::wstring(host.begin(), host.end()) +
                             L"/command.cgi?stream&kelo&codec=DVCPRO";

    // Both threads ask for the window that does not exist yet, at the same moment.
    struct Caller {
        std::wstring url;
        HANDLE go;
        DownloadLinks links;
        HRESULT result = E_UNEXPECTED;
    };
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Caller callers[2] = {{url, go, Links()}, {url, go, Links()}};
    platform::Thread threads[2];
    for (int i = 0; i < 2; ++i) {
        threads[i].Start(
            [](void* raw) {
                auto* caller = static_cast<Caller*>(raw);
                CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                IMoniker* moniker = nullptr;
                if (CreateURLMoniker(nullptr, caller->url.c_str(), &moniker) == S_OK) {
                    IBindCtx* context = nullptr;
                    CreateBindCtx(0, &context);
                    WaitForSingleObject(caller->go, INFINITE);
                    caller->result = StartDeviceDownload(moniker, context, caller->links);
                    context->Release();
                    moniker->Release();
                }
                CoUninitialize();
            },
            &callers[i]);
    }
    SetEvent(go);
    for (platform::Thread& thread : threads)
        thread.Join(platform::kInfinite);
    CloseHandle(go);
    EXPECT_EQ(callers[0].result, S_OK);
    EXPECT_EQ(callers[1].result, S_OK);
    EXPECT_EQ(ProcessWindowCount(), 1);
    const HWND window = FindDownloadManagerWindow();
    ASSERT_NE(window, nullptr);

    // Both rows released: each job was seen Complete (with options 3 stored but no engine, it
    // did not transcode).
    ASSERT_TRUE(WaitFor(
        [&] { return RowCount(window) == 2 && RowData(window, 0) == 0 && RowData(window, 1) == 0; },
        120000));
    EXPECT_TRUE(device.Stop());
    std::vector<std::string> names;
    for (int row = 0; row < 2; ++row) {
        names.push_back(CellText(window, row, 0));
        EXPECT_EQ(CellText(window, row, 1), "3");
        EXPECT_EQ(CellText(window, row, 2), "Complete");
        EXPECT_EQ(CellText(window, row, 3), "DVCPRO");
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, std::vector<std::string>({"clip01.kelo", "clip01_1.kelo"}));
    EXPECT_EQ(folder_.FileNames(), names);
    for (const std::string& name : names)
        EXPECT_TRUE(folder_.ReadFile(name) == ExpectedClip(size)) << name;

    // Created hidden, centred in the work area and topmost; shown only when asked.
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_NE(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT bounds;
    GetWindowRect(window, &bounds);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    EXPECT_LE(std::abs((bounds.left + bounds.right) - (monitor.rcWork.left + monitor.rcWork.right)),
              1);
    EXPECT_LE(std::abs((bounds.top + bounds.bottom) - (monitor.rcWork.top + monitor.rcWork.bottom)),
              1);
    ShowDownloadManager(true);
    EXPECT_TRUE(IsWindowVisible(window));
    SendMessageA(GetDlgItem(window, IDC_HIDE), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(ProcessWindowCount(), 1);
}

// ---------------------------------------------------------------------------------------------
// The context menu

// Watches for the popup menu of one thread from another thread: once it is open, reads the check
// mark of "&Use Download Manager" through the menu's own handle and types the keys given.
class MenuDriver {
public:
    MenuDriver(DWORD menuThread, std::vector<std::pair<UINT, WPARAM>> keys)
        : menuThread_(menuThread), keys_(std::move(keys)) {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_.Start(Run, this);
    }
    ~MenuDriver() {
        SetEvent(done_);
        thread_.Join(platform::kInfinite);
        CloseHandle(done_);
    }
    // After the menu call returned.
    void Finish() {
        SetEvent(done_);
        thread_.Join(platform::kInfinite);
    }
    bool shown = false;
    bool checked = false;

private:
    static void Run(void* raw) {
        auto* self = static_cast<MenuDriver*>(raw);
        HWND popup = nullptr;
        while (popup == nullptr && WaitForSingleObject(self->done_, 10) == WAIT_TIMEOUT) {
            HWND candidate = nullptr;
            while ((candidate = FindWindowExA(nullptr, candidate, "#32768", nullptr)) != nullptr) {
                if (IsWindowVisible(candidate) &&
                    GetWindowThreadProcessId(candidate, nullptr) == self->menuThread_) {
                    popup = candidate;
                    break;
                }
            }
        }
        if (popup == nullptr)
            return;
        self->shown = true;
        const auto menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        self->checked =
            (GetMenuState(menu, ID_USE_DOWNLOAD_MANAGER, MF_BYCOMMAND) & MF_CHECKED) != 0;
        for (const auto& key : self->keys_)
            PostMessageA(popup, key.first, key.second, 0);
    }

    DWORD menuThread_;
    std::vector<std::pair<UINT, WPARAM>> keys_;
    HANDLE done_;
    platform::Thread thread_;
};

using Text = std::optional<std::string>;

Text ReadBrowserValue(const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char text[300] = {};
    DWORD size = sizeof(text) - 1;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? Text(text) : std::nullopt;
}

void WriteBrowserValue(HKEY key, const char* name, const Text& value) {
    if (value)
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>(value->size()));
}

struct Registration {
    static int calls;
    static Text downloadUiSeen;
    static HRESULT Run() {
        ++calls;
        downloadUiSeen = ReadBrowserValue("DownloadUI");
        return E_FAIL;  // a failed registration does not stop the switch
    }
};
int Registration::calls = 0;
Text Registration::downloadUiSeen;

class ViewerMenu : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(user_.ok() && machine_.ok());
        owner_ = CreateWindowExA(0, "STATIC", "viewer", WS_POPUP | WS_VISIBLE, 10, 10, 200, 150,
                                 nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
        Registration::calls = 0;
        Registration::downloadUiSeen.reset();
    }
    void TearDown() override { DestroyWindow(owner_); }

    // Opens the menu over the owner and types keys into it; returns the command.
    UINT Choose(std::vector<std::pair<UINT, WPARAM>> keys) {
        MenuDriver driver(GetCurrentThreadId(), std::move(keys));
        ViewerMenuActions actions;
        actions.registerModule = Registration::Run;
        const UINT command = ShowViewerContextMenu(owner_, POINT{40, 40}, actions);
        driver.Finish();
        shown_ = driver.shown;
        checked_ = driver.checked;
        return command;
    }

    RegistrySandbox user_{HKEY_CURRENT_USER};  // the window's settings, if it is made here
    RegistrySandbox machine_{HKEY_LOCAL_MACHINE};
    HWND owner_ = nullptr;
    bool shown_ = false;
    bool checked_ = false;
};

const std::pair<UINT, WPARAM> kUse = {WM_CHAR, 'u'};
const std::pair<UINT, WPARAM> kEscape = {WM_KEYDOWN, VK_ESCAPE};

TEST_F(ViewerMenu, UseDownloadManagerSwitchesTheBrowsersValuesBothWays) {
    const std::string ours = kDownloadManagerClassIdText;
    const std::string other = "{3050F5E2-98B5-11CF-BB82-00AA00BDCE0B}";
    const std::string lower = "{9e6d1b14-bd51-491d-977d-fa5d05be288d}";
    const std::string older = "{00000000-1111-2222-3333-444444444444}";
    struct Case {
        const char* what;
        Text downloadUi, oldDownloadUi;
        std::pair<UINT, WPARAM> key;
        bool checked;
        UINT command;
        Text expectDownloadUi, expectOld;
        bool registered;
    } cases[] = {
        {"another manager", other, {}, kUse, false, ID_USE_DOWNLOAD_MANAGER, ours, other, true},
        {"none, an old value kept",
         {},
         older,
         kUse,
         false,
         ID_USE_DOWNLOAD_MANAGER,
         ours,
         older,
         true},
        {"ours without an old one", ours, {}, kUse, true, ID_USE_DOWNLOAD_MANAGER, {}, {}, false},
        {"ours with an old one",
         ours,
         other,
         kUse,
         true,
         ID_USE_DOWNLOAD_MANAGER,
         other,
         {},
         false},
        {"ours in lower case", lower, {}, kUse, false, ID_USE_DOWNLOAD_MANAGER, ours, lower, true},
        {"dismissed while ours", ours, other, kEscape, true, 0, ours, other, false},
        {"dismissed while another", other, {}, kEscape, false, 0, other, {}, false},
    };
    for (const Case& c : cases) {
        HKEY key = nullptr;
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBrowserKey);
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        WriteBrowserValue(key, "DownloadUI", c.downloadUi);
        WriteBrowserValue(key, "OldDownloadUI", c.oldDownloadUi);
        RegCloseKey(key);
        Registration::calls = 0;
        Registration::downloadUiSeen.reset();

        EXPECT_EQ(Choose({c.key}), c.command) << c.what;
        EXPECT_TRUE(shown_) << c.what;
        EXPECT_EQ(checked_, c.checked) << c.what;
        EXPECT_EQ(ReadBrowserValue("DownloadUI"), c.expectDownloadUi) << c.what;
        EXPECT_EQ(ReadBrowserValue("OldDownloadUI"), c.expectOld) << c.what;
        EXPECT_EQ(Registration::calls, c.registered ? 1 : 0) << c.what;
        if (c.registered) {
            EXPECT_EQ(Registration::downloadUiSeen, c.downloadUi) << c.what << ": registered first";
        }
    }
}

TEST_F(ViewerMenu, NoMenuWithoutAnOwnerOrWithoutTheBrowsersKey) {
    ViewerMenuActions actions;
    actions.registerModule = Registration::Run;
    MenuDriver noOwner(GetCurrentThreadId(), {kEscape});
    EXPECT_EQ(ShowViewerContextMenu(nullptr, POINT{40, 40}, actions), 0u);
    noOwner.Finish();
    EXPECT_FALSE(noOwner.shown);

    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBrowserKey);
    EXPECT_EQ(Choose({kEscape}), 0u);
    EXPECT_FALSE(shown_);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, KEY_READ, &key), ERROR_SUCCESS)
        << "nothing is written";
    EXPECT_EQ(Registration::calls, 0);
}

TEST_F(ViewerMenu, ShowDownloadManagerOptionsShowsTheProcessWindow) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Choose({{WM_CHAR, 's'}}), static_cast<UINT>(ID_SHOW_DOWNLOAD_MANAGER));
    const HWND window = FindDownloadManagerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }));
    EXPECT_EQ(ReadBrowserValue("DownloadUI"), std::nullopt) << "the switch is untouched";
}

}  // namespace
}  // namespace fluxmere::testing
