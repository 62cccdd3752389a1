#pragma once
// The download manager window: a modeless dialog (resource IDD_DOWNLOAD_MANAGER) listing every
// download job that got as far as choosing its file name, refreshed four times a second, with the
// download settings (folder, transcoding outputs).
//
// Threads: the window lives on a thread of its own (DownloadWindowThread), which runs its message
// loop for as long as the window exists. Whoever asks for the window (a browser thread in
// Download, the viewer's thread) need not pump messages for jobs to be listed and refreshed, and
// may end without taking the window with it. Job writer threads call AddJobRow, which waits until
// the window's thread has inserted the row.
//
// Job lifetime: a row holds a counted reference to its job from AddJobRow until the refresh that
// sees the job Failed or Complete (ReleaseJobRow); the row then keeps its last texts.

#include <windows.h>

#include "download/download_links.h"
#include "platform/thread.h"

namespace fluxmere {

class CFluxmereDownloadDlg : public IJobList {
public:
    static constexpr UINT_PTR kRefreshTimerId = 1;
    static constexpr UINT kRefreshMs = 250;

    // transcodeAvailable: the engine is installed and TranscodeEnable is nonzero.
    explicit CFluxmereDownloadDlg(bool transcodeAvailable);
    virtual ~CFluxmereDownloadDlg();
    CFluxmereDownloadDlg(const CFluxmereDownloadDlg&) = delete;
    CFluxmereDownloadDlg& operator=(const CFluxmereDownloadDlg&) = delete;

    // On the thread that is to own the window and pump its messages: creates it hidden from the
    // dialog resource of `resources`. False when it could not be created.
    bool Create(HINSTANCE resources);
    HWND Window() const { return window_; }

    // Any thread. Shows the window (SW_SHOW), or hides it.
    void Show();
    // Any thread: the row is at the top of the list when this returns. Does nothing when the
    // window does not exist.
    void AddJobRow(IListedJob* job) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Message handling, on the window's thread.
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    void OnTimer();
    void OnChangeFolder();
    void OnTranscodeOption();
    void OnDestroy();
    void InsertJobRow(IListedJob* job);
    void ReleaseJobRow(int row, IListedJob* job);
    IListedJob* RowJob(int row) const;
    void SetRowText(int row, int column, const char* text);

    const bool transcodeAvailable_;
    HWND window_ = nullptr;
    HWND jobList_ = nullptr;
};

// Runs one CFluxmereDownloadDlg on a thread of its own, with its message loop (which also gives
// the dialog its keyboard handling: Esc, Tab).
class DownloadWindowThread {
public:
    DownloadWindowThread() = default;
    ~DownloadWindowThread();  // Stop
    DownloadWindowThread(const DownloadWindowThread&) = delete;
    DownloadWindowThread& operator=(const DownloadWindowThread&) = delete;

    // Starts the thread and creates the hidden window on it from the resources of `resources`;
    // returns once the window exists. False (and no thread left running) when it could not be
    // created.
    bool Start(bool transcodeAvailable, HINSTANCE resources);
    // Destroys the window (releasing the jobs its rows still hold) and ends the thread. Jobs that
    // may still call AddJobRow must have ended before.
    void Stop();

    CFluxmereDownloadDlg* Dialog() { return dialog_; }
    DWORD ThreadId() const { return threadId_; }

private:
    static void Run(void* context);

    CFluxmereDownloadDlg* dialog_ = nullptr;
    bool transcodeAvailable_ = false;
    HINSTANCE resources_ = nullptr;
    bool created_ = false;
    DWORD threadId_ = 0;
    HANDLE ready_ = nullptr;
    platform::Thread thread_;
};

// The module holding this code and its resources (the DLL in the product, the program in tests).
HINSTANCE DownloadUiModule();

// The single download manager window of the process: created hidden, centred in the work area and
// topmost on the first call (from any number of threads at once: one window), shown when show is
// true. The window and its thread then stay until the process ends.
void ShowDownloadManager(bool show);

// The job list of that window for new jobs; null when the window could not be created.
IJobList* DownloadManagerJobList();

// A download manager window of this process found by its caption, also one that another module
// of the process made (the DLL's, seen from its client); null when there is none.
HWND FindDownloadManagerWindow();

}  // namespace fluxmere
