// The viewer's context menu as a page gets it: the real viewer made by FluxmereLibrary.dll, active
// in our container, right-clicked. The menu belongs to the viewer's window or, windowless, to the
// container's; "&Use Download Manager", chosen through the open menu by keyboard input, points the
// browser at the module's download manager. Without the browser's key there is no menu.
#include <gtest/gtest.h>

#include <ocidl.h>
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

#include "download/win32/viewer_context_menu.h"
#include "fluxmere_library.h"
#include "platform/thread.h"
#include "tests/support/library_classes.h"
#include "tests/control/test_container.h"
#include "tests/control/test_viewer.h"
#include "tests/download/win32/registry_sandbox.h"

namespace fluxmere::testing {
namespace {

// From a second thread: waits for this thread's popup menu and types "u" into it.
class MenuWatcher {
public:
    MenuWatcher() : menuThread_(GetCurrentThreadId()) { thread_.Start(Run, this); }
    ~MenuWatcher() { Stop(); }
    void Stop() {
        stop_ = true;
        thread_.Join(platform::kInfinite);
    }
    std::atomic<bool> shown{false};

private:
    static void Run(void* raw) {
        auto* self = static_cast<MenuWatcher*>(raw);
        while (!self->stop_) {
            HWND popup = nullptr;
            while ((popup = FindWindowExA(nullptr, popup, "#32768", nullptr)) != nullptr) {
                if (IsWindowVisible(popup) &&
                    GetWindowThreadProcessId(popup, nullptr) == self->menuThread_) {
                    break;
                }
            }
            if (popup != nullptr) {
                self->shown = true;
                PostMessageA(popup, WM_CHAR, 'u', 0);
                return;
            }
            Sleep(10);
        }
    }
    DWORD menuThread_;
    std::atomic<bool> stop_{false};
    platform::Thread thread_;
};

// Notes whether the open menu talks to the watched window: the menu loop tells its owner which
// item is selected (WM_MENUSELECT), whatever other notices the menu was told to leave out.
class OwnerProbe {
public:
    explicit OwnerProbe(HWND window) : window_(window) {
        SetPropA(window, kProp, this);
        previous_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OwnerProbe::Proc)));
    }
    ~OwnerProbe() {
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        RemovePropA(window_, kProp);
    }
    bool toldOfMenu = false;

private:
    static constexpr char kProp[] = "FluxmereOwnerProbe";
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        auto* self = static_cast<OwnerProbe*>(GetPropA(window, kProp));
        if (message == WM_MENUSELECT)
            self->toldOfMenu = true;
        return CallWindowProcA(self->previous_, window, message, wparam, lparam);
    }
    HWND window_;
    WNDPROC previous_ = nullptr;
};

std::optional<std::string> DownloadUi() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char text[300] = {};
    DWORD size = sizeof(text) - 1;
    const LONG result =
        RegQueryValueExA(key, "DownloadUI", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::optional<std::string>(text) : std::nullopt;
}

TEST(ViewerMenu, RightClickOnTheViewerOpensTheMenuOfItsOwnerAndSwitchesTheBrowser) {
    // The registry of this process only: the browser's key and what the module's registration
    // writes when the switch is made.
    RegistrySandbox machine(HKEY_LOCAL_MACHINE), classes(HKEY_CLASSES_ROOT),
        user(HKEY_CURRENT_USER);
    ASSERT_TRUE(machine.ok() && classes.ok() && user.ok());
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const GetClassObjectFn getClassObject = LibraryClassObjects();
    ASSERT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(
        getClassObject(CLSID_MediaPlayer, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
        S_OK);

    const std::string other = "{3050F5E2-98B5-11CF-BB82-00AA00BDCE0B}";
    struct Case {
        const char* what;
        bool windowless;
        bool browserKey;
        bool menu;
    } cases[] = {
        {"windowed", false, true, true},
        {"windowless", true, true, true},
        {"windowless, no browser key", true, false, false},
    };
    for (const Case& c : cases) {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBrowserKey);
        if (c.browserKey) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegSetValueExA(key, "DownloadUI", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(other.c_str()),
                           static_cast<DWORD>(other.size()));
            RegCloseKey(key);
        }
        TestContainer container(320, 240, RECT{20, 20, 300, 220}, c.windowless);
        IUnknown* player = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&player)),
                  S_OK);
        ASSERT_EQ(container.Embed(player), S_OK) << c.what;
        ASSERT_EQ(container.activatedWindowless(), c.windowless) << c.what;
        HWND owner = container.window();
        if (!c.windowless) {
            IOleWindow* window = nullptr;
            player->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window));
            ASSERT_NE(window, nullptr);
            window->GetWindow(&owner);
            window->Release();
            ASSERT_NE(owner, container.window()) << "the viewer has a window of its own";
        }
        // Over the viewer: in the viewer's own window, or at the viewer's place in the container's.
        const LPARAM at = c.windowless ? MAKELPARAM(100, 100) : MAKELPARAM(80, 80);
        std::optional<OwnerProbe> viewerProbe;
        if (!c.windowless)
            viewerProbe.emplace(owner);
        OwnerProbe containerProbe(container.window());
        MenuWatcher watcher;
        PostMessageA(owner, WM_RBUTTONDOWN, MK_RBUTTON, at);
        PostMessageA(owner, WM_RBUTTONUP, 0, at);
        if (c.menu) {
            EXPECT_TRUE(PumpUntil([&] { return watcher.shown && DownloadUi() != other; }, 10000))
                << c.what;
            watcher.Stop();
            EXPECT_EQ(containerProbe.toldOfMenu, c.windowless) << c.what;
            if (viewerProbe)
                EXPECT_TRUE(viewerProbe->toldOfMenu) << c.what;
            EXPECT_EQ(DownloadUi(), std::string(kDownloadManagerClassIdText)) << c.what;
        } else {
            PumpUntil([] { return false; }, 500);
            watcher.Stop();
            EXPECT_FALSE(watcher.shown) << c.what;
            HKEY key = nullptr;
            EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, KEY_READ, &key),
                      ERROR_SUCCESS)
                << c.what << ": nothing written";
        }
        container.Unembed();
        EXPECT_EQ(player->Release(), 0u) << c.what;
    }
    factory->Release();
    CoUninitialize();
}

}  // namespace
}  // namespace fluxmere::testing
