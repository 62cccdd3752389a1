#include "download/win32/download_manager_window.h"

#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <cstring>

#include "download/transcode_options.h"
#include "download/job_row_text.h"
#include "download/win32/download_settings.h"
#include "download/win32/download_ui_ids.h"
#include "platform/sync.h"

namespace fluxmere {

namespace {

// Requests to the window's thread.
constexpr UINT kAddJobRowMessage = WM_APP + 1;  // lParam: the job
constexpr UINT kShowMessage = WM_APP + 2;
constexpr UINT kStopMessage = WM_APP + 3;

constexpr char kCaption[] = "Fluxmere Download Manager";  // as the dialog resource gives it
constexpr char kDialogClass[] = "#32770";
constexpr char kFolderBrowserTitle[] = "Select the folder to use for all Fluxmere downloads";

enum Column { kFileName, kMegabytes, kState, kCodec, kTranscode };

struct ColumnSpec {
    const char* title;
    int width;
};
constexpr ColumnSpec kColumns[] = {
    {"Filename", 100}, {"MB Downloaded", 100}, {"State", 96}, {"Codec", 96}, {"Transcode", 96}};

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

CFluxmereDownloadDlg::CFluxmereDownloadDlg(bool transcodeAvailable)
    : transcodeAvailable_(transcodeAvailable) {}

CFluxmereDownloadDlg::~CFluxmereDownloadDlg() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

bool CFluxmereDownloadDlg::Create(HINSTANCE resources) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_DOWNLOAD_MANAGER), nullptr, DialogProc,
                       reinterpret_cast<LPARAM>(this));
    return window_ != nullptr;
}

void CFluxmereDownloadDlg::Show() {
    if (window_ != nullptr)
        SendMessageA(window_, kShowMessage, 0, 0);
}

void CFluxmereDownloadDlg::AddJobRow(IListedJob* job) {
    if (window_ != nullptr)
        SendMessageA(window_, kAddJobRowMessage, 0, reinterpret_cast<LPARAM>(job));
}

INT_PTR CALLBACK CFluxmereDownloadDlg::DialogProc(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* dialog = reinterpret_cast<CFluxmereDownloadDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CFluxmereDownloadDlg*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
    }
    if (dialog == nullptr)
        return FALSE;
    return dialog->HandleMessage(message, wParam, lParam);
}

INT_PTR CFluxmereDownloadDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_TIMER:
            OnTimer();
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDCANCEL:
                case IDC_HIDE:
                    ShowWindow(window_, SW_HIDE);
                    return TRUE;
                case IDC_CHANGE_FOLDER:
                    OnChangeFolder();
                    return TRUE;
                case IDC_TRANSCODE_MOV:
                case IDC_TRANSCODE_MXF:
                    OnTranscodeOption();
                    return TRUE;
            }
            return FALSE;
        case kAddJobRowMessage:
            InsertJobRow(reinterpret_cast<IListedJob*>(lParam));
            return TRUE;
        case kShowMessage:
            ShowWindow(window_, SW_SHOW);
            return TRUE;
        case kStopMessage:
            DestroyWindow(window_);
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return TRUE;
    }
    return FALSE;
}

BOOL CFluxmereDownloadDlg::OnInitDialog() {
    jobList_ = GetDlgItem(window_, IDC_DOWNLOAD_LIST);
    for (int i = 0; i < static_cast<int>(sizeof(kColumns) / sizeof(kColumns[0])); ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<char*>(kColumns[i].title);
        SendMessageA(jobList_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    char folder[kFolderBufferSize];
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    SetDlgItemTextA(window_, IDC_DOWNLOAD_FOLDER, folder);
    if (!transcodeAvailable_) {
        // Shown unchecked; the stored options stay as they are.
        options = 0;
        EnableWindow(GetDlgItem(window_, IDC_TRANSCODE_MOV), FALSE);
        EnableWindow(GetDlgItem(window_, IDC_TRANSCODE_MXF), FALSE);
    }
    CheckDlgButton(window_, IDC_TRANSCODE_MOV,
                   (options & kTranscodeToMovie) != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(window_, IDC_TRANSCODE_MXF,
                   (options & kTranscodeToMxf) != 0 ? BST_CHECKED : BST_UNCHECKED);
    SetTimer(window_, kRefreshTimerId, kRefreshMs, nullptr);
    return TRUE;
}

IListedJob* CFluxmereDownloadDlg::RowJob(int row) const {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(jobList_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<IListedJob*>(item.lParam);
}

void CFluxmereDownloadDlg::SetRowText(int row, int column, const char* text) {
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(jobList_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void CFluxmereDownloadDlg::InsertJobRow(IListedJob* job) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = 0;
    item.pszText = const_cast<char*>(job->BaseName());
    item.lParam = reinterpret_cast<LPARAM>(job);
    // The reference is the row's; it is taken before the row can be seen by a refresh.
    job->AddRef();
    if (SendMessageA(jobList_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)) < 0) {
        job->Release();
    }
}

void CFluxmereDownloadDlg::OnTimer() {
    const int count = static_cast<int>(SendMessageA(jobList_, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        IListedJob* job = RowJob(row);
        if (job == nullptr)
            continue;
        int64_t bytes = 0;
        int64_t transcodeTime = 0;
        DownloadState state = DownloadState::Initializing;
        CodecKind codec = CodecKind::Unknown;
        job->GetStatus(&bytes, &state, &codec, &transcodeTime);
        JobRowTexts texts;
        FormatJobRow(bytes, state, codec, transcodeTime, &texts);
        if (JobRowEnded(state))
            ReleaseJobRow(row, job);
        SetRowText(row, kMegabytes, texts.megabytes);
        SetRowText(row, kState, texts.state);
        SetRowText(row, kCodec, texts.codec);
        if (texts.transcodeTime[0] != '\0')
            SetRowText(row, kTranscode, texts.transcodeTime);
    }
}

void CFluxmereDownloadDlg::ReleaseJobRow(int row, IListedJob* job) {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    item.lParam = 0;
    SendMessageA(jobList_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    job->Release();
}

void CFluxmereDownloadDlg::OnDestroy() {
    KillTimer(window_, kRefreshTimerId);
    const int count = static_cast<int>(SendMessageA(jobList_, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        if (IListedJob* job = RowJob(row))
            ReleaseJobRow(row, job);
    }
    window_ = nullptr;
    jobList_ = nullptr;
    PostQuitMessage(0);
}

void CFluxmereDownloadDlg::OnTranscodeOption() {
    char folder[kFolderBufferSize];
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    options =
        (IsDlgButtonChecked(window_, IDC_TRANSCODE_MOV) == BST_CHECKED ? kTranscodeToMovie : 0u) |
        (IsDlgButtonChecked(window_, IDC_TRANSCODE_MXF) == BST_CHECKED ? kTranscodeToMxf : 0u);
    if (WriteDownloadSettings(folder, &options))
        SetDlgItemTextA(window_, IDC_DOWNLOAD_FOLDER, folder);
}

void CFluxmereDownloadDlg::OnChangeFolder() {
    char folder[kFolderBufferSize];
    uint32_t options = 0;
    ReadDownloadSettings(folder, &options);
    BROWSEINFOA browse = {};
    browse.hwndOwner = window_;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = folder;
    browse.lpszTitle = kFolderBrowserTitle;
    browse.ulFlags = BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
    if (chosen == nullptr)
        return;
    char path[MAX_PATH] = {};
    const bool hasPath = SHGetPathFromIDListA(chosen, path) && path[0] != '\0';
    CoTaskMemFree(chosen);
    if (!hasPath || std::strlen(path) >= kFolderBufferSize)
        return;
    char newFolder[kFolderBufferSize] = {};
    std::strcpy(newFolder, path);
    if (WriteDownloadSettings(newFolder, &options)) {
        SetDlgItemTextA(window_, IDC_DOWNLOAD_FOLDER, newFolder);
    }
}

DownloadWindowThread::~DownloadWindowThread() {
    Stop();
}

bool DownloadWindowThread::Start(bool transcodeAvailable, HINSTANCE resources) {
    if (dialog_ != nullptr)
        return created_;
    transcodeAvailable_ = transcodeAvailable;
    resources_ = resources;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ready_ == nullptr)
        return false;
    dialog_ = new CFluxmereDownloadDlg(transcodeAvailable);
    if (thread_.Start(Run, this))
        WaitForSingleObject(ready_, INFINITE);
    CloseHandle(ready_);
    ready_ = nullptr;
    if (!created_) {
        thread_.Join(platform::kInfinite);
        delete dialog_;
        dialog_ = nullptr;
    }
    return created_;
}

void DownloadWindowThread::Stop() {
    if (dialog_ == nullptr)
        return;
    PostMessageA(dialog_->Window(), kStopMessage, 0, 0);
    thread_.Join(platform::kInfinite);
    delete dialog_;
    dialog_ = nullptr;
    created_ = false;
}

void DownloadWindowThread::Run(void* context) {
    auto* self = static_cast<DownloadWindowThread*>(context);
    // The folder browser's new style needs OLE on the window's thread.
    const HRESULT ole = OleInitialize(nullptr);
    self->threadId_ = GetCurrentThreadId();
    self->created_ = self->dialog_->Create(self->resources_);
    const HWND window = self->dialog_->Window();
    SetEvent(self->ready_);  // self's Start may return from here on
    if (window != nullptr) {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageA(window, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    if (SUCCEEDED(ole))
        OleUninitialize();
}

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
    DownloadWindowThread* thread = nullptr;  // never freed: the window lives to the process's end
};

ProcessWindow& TheProcessWindow() {
    static ProcessWindow window;
    return window;
}

}  // namespace

void ShowDownloadManager(bool show) {
    ProcessWindow& process = TheProcessWindow();
    platform::ScopedLock scoped(process.lock);
    if (!process.tried) {
        process.tried = true;
        // The window's thread and the jobs' threads run this module's code until the process
        // ends, so the module must not be unloaded under them.
        HMODULE pinned = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(&ShowDownloadManager), &pinned);
        const bool transcodeAvailable = IsTranscoderInstalled() && ReadTranscodeEnable() != 0;
        auto* thread = new DownloadWindowThread;
        if (thread->Start(transcodeAvailable, DownloadUiModule())) {
            process.thread = thread;
            PlaceCentredAndTopmost(thread->Dialog()->Window());
        } else {
            delete thread;
        }
    }
    if (show && process.thread != nullptr)
        process.thread->Dialog()->Show();
}

IJobList* DownloadManagerJobList() {
    ProcessWindow& process = TheProcessWindow();
    platform::ScopedLock scoped(process.lock);
    return process.thread != nullptr ? process.thread->Dialog() : nullptr;
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
