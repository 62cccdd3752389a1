#pragma once
// Runs one download manager dialog on a thread of its own, with its message loop (which also
// gives the dialog its keyboard handling: Esc, Tab). The thread ends when the window goes.

#include <windows.h>

#include <memory>

#include "download/win32/download_manager_dialog.h"
#include "download/win32/download_settings.h"
#include "platform/sync.h"
#include "platform/thread.h"

namespace fluxmere {

class DownloadWindowThread {
public:
    DownloadWindowThread() = default;
    ~DownloadWindowThread();  // Stop
    DownloadWindowThread(const DownloadWindowThread&) = delete;
    DownloadWindowThread& operator=(const DownloadWindowThread&) = delete;

    // Starts the thread and creates the hidden window on it from the resources of `resources`,
    // showing `settings`; returns once the window exists. False (and no thread left running)
    // when it could not be created.
    bool Start(const DownloadSettings& settings, HINSTANCE resources);
    // Destroys the window (releasing the jobs its rows still hold) and ends the thread. Jobs that
    // may still call AddJobRow must have ended before.
    void Stop();

    CFluxmereDownloadDlg* Dialog() { return dialog_.get(); }
    DWORD ThreadId() const { return threadId_; }

private:
    static void Run(void* context);

    std::unique_ptr<CFluxmereDownloadDlg> dialog_;
    HINSTANCE resources_ = nullptr;
    bool created_ = false;
    DWORD threadId_ = 0;
    platform::Event ready_{true, false};  // the thread has tried to create the window
    platform::Thread thread_;
};

}  // namespace fluxmere
