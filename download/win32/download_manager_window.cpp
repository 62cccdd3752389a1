#include "download/win32/download_manager_window.h"

#include <new>

#include "download/win32/download_window_thread.h"
#include "platform/sync.h"

namespace fluxmere {

namespace {

constexpr char kCaption[] = "Fluxmere Download Manager";  // as the dialog resource gives it
constexpr char kDialogClass[] = "#32770";

void PlaceCentredAndTopmost(HWND window) {
    RECT bounds;
    GetWindowRect(window, &bounds);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoA(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const LONG width = bounds.right - bounds.left;
    const LONG height = bounds.bottom - bounds.top;
    // Centred, and inside the work area where the window is smaller than it.
    LONG x = work.left + (work.right - work.left - width) / 2;
    LONG y = work.top + (work.bottom - work.top - height) / 2;
    if (x + width > work.right)
        x = work.right - width;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (x < work.left)
        x = work.left;
    if (y < work.top)
        y = work.top;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace

HINSTANCE DownloadUiModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&DownloadUiModule), &module);
    return module;
}

namespace {

struct ProcessWindow {
    platform::CriticalSection lock;
    bool tried = false;
    // Never freed: the window lives to the process's end, and its thread is not to be waited for
    // while the process unloads.
    DownloadWindowThread* thread = nullptr;
};

ProcessWindow& TheProcessWindow() {
    static ProcessWindow window;
    return window;
}

// Under the process window's lock: its thread, made on the first call (hidden, centred and
// topmost) from settings, or from settings read now when none are given. Null when the window
// could not be made.
DownloadWindowThread* WindowThread(ProcessWindow& process, const DownloadSettings* settings) {
    if (!process.tried) {
        process.tried = true;
        // The window's thread and the jobs' threads run this module's code until the process
        // ends, so the module must not be unloaded under them.
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&ShowDownloadManager), &pinned);
        auto* thread = new (std::nothrow) DownloadWindowThread;
        if (thread != nullptr &&
            thread->Start(settings != nullptr ? *settings : CurrentDownloadSettings(),
                          DownloadUiModule())) {
            process.thread = thread;
            PlaceCentredAndTopmost(thread->Dialog()->Window());
        } else {
            delete thread;
        }
    }
    return process.thread;
}

}  // namespace

void ShowDownloadManager(bool show) {
    ProcessWindow& process = TheProcessWindow();
    platform::ScopedLock scoped(process.lock);
    DownloadWindowThread* thread = WindowThread(process, nullptr);
    if (show && thread != nullptr)
        thread->Dialog()->Show();
}

IJobList* DownloadManagerForJob(const DownloadSettings& settings) {
    ProcessWindow& process = TheProcessWindow();
    platform::ScopedLock scoped(process.lock);
    DownloadWindowThread* thread = WindowThread(process, &settings);
    return thread != nullptr ? thread->Dialog() : nullptr;
}

HWND FindDownloadManagerWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, kDialogClass, kCaption)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

}  // namespace fluxmere
