#include "download/win32/download_manager_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

#include "download/job_row_text.h"
#include "download/transcode_options.h"
#include "download/win32/download_ui_ids.h"

namespace fluxmere {

namespace {

// Requests to the window's thread.
constexpr UINT kAddJobRowMessage = WM_APP + 1;  // lParam: the job
constexpr UINT kShowMessage = WM_APP + 2;
constexpr UINT kDestroyMessage = WM_APP + 3;

constexpr char kFolderBrowserTitle[] = "Select the folder to use for all Fluxmere downloads";

enum Column { kFileName, kMegabytes, kState, kCodec, kTranscode };

struct ColumnSpec {
    const char* title;
    int width;
};
constexpr ColumnSpec kColumns[] = {
    {"Filename", 100}, {"MB Downloaded", 100}, {"State", 96}, {"Codec", 96}, {"Transcode", 96}};

}  // namespace

CFluxmereDownloadDlg::CFluxmereDownloadDlg(const DownloadSettings& settings)
    : settings_(settings) {}

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

void CFluxmereDownloadDlg::RequestDestroy() {
    if (window_ != nullptr)
        PostMessageA(window_, kDestroyMessage, 0, 0);
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
        case kDestroyMessage:
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
    // The settings were read for the window already: by the job that made it, or by whoever
    // asked to show it.
    SetDlgItemTextA(window_, IDC_DOWNLOAD_FOLDER, settings_.folder);
    uint32_t options = settings_.options;
    if (!settings_.TranscodeAvailable()) {
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
        // Read before the status: a job whose threads have ended shows its final state.
        JobRowEnd end;
        end.threadsEnded = job->HasEnded();
        job->GetStatus(&bytes, &state, &codec, &transcodeTime);
        end.failedOutputs = job->FailedOutputs();
        JobRowTexts texts;
        FormatJobRow(bytes, state, codec, transcodeTime, &texts, end);
        if (JobRowEnded(state, end.threadsEnded))
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

}  // namespace fluxmere
