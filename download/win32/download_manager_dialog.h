#pragma once
// The download manager window's dialog: a modeless dialog (resource IDD_DOWNLOAD_MANAGER) listing
// every download job that got as far as choosing its file name, refreshed four times a second,
// with the download settings (folder, transcoding outputs).
//
// The dialog lives on the thread that creates it (download_window_thread.h), whose message loop
// must run for as long as the window exists; destroying the window ends that loop. Job writer
// threads call AddJobRow, which waits until the window's thread has inserted the row.
//
// Job lifetime: a row holds a counted reference to its job from AddJobRow until the refresh that
// sees the job Failed or Complete (ReleaseJobRow); the row then keeps its last texts.

#include <windows.h>

#include "download/download_links.h"
#include "download/win32/download_settings.h"

namespace fluxmere {

class CFluxmereDownloadDlg : public IJobList {
public:
    static constexpr UINT_PTR kRefreshTimerId = 1;
    static constexpr UINT kRefreshMs = 250;

    // settings: the folder and options to show, and whether transcoding is available.
    explicit CFluxmereDownloadDlg(const DownloadSettings& settings);
    virtual ~CFluxmereDownloadDlg();
    CFluxmereDownloadDlg(const CFluxmereDownloadDlg&) = delete;
    CFluxmereDownloadDlg& operator=(const CFluxmereDownloadDlg&) = delete;

    // On the thread that is to own the window and pump its messages: creates it hidden from the
    // dialog resource of `resources`. False when it could not be created.
    bool Create(HINSTANCE resources);
    HWND Window() const { return window_; }

    // Any thread. Shows the window (SW_SHOW).
    void Show();
    // Any thread: the row is at the top of the list when this returns. Does nothing when the
    // window does not exist.
    void AddJobRow(IListedJob* job) override;
    // Any thread: the window goes on its own thread (releasing the jobs its rows still hold), and
    // that thread's message loop ends.
    void RequestDestroy();

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

    const DownloadSettings settings_;
    HWND window_ = nullptr;
    HWND jobList_ = nullptr;
};

}  // namespace fluxmere
