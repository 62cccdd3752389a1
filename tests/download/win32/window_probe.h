#pragma once
// Reads the download manager window from a test thread, through the window's own messages, and
// waits for what its thread does.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "download/win32/download_settings.h"
#include "download/win32/download_ui_ids.h"

namespace fluxmere::testing {

// Polls condition every 10 ms until it holds; false after timeoutMs.
inline bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 30000) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        Sleep(10);
    }
    return true;
}

// Stores the download settings as the window would.
inline bool StoreSettings(const std::string& folder, uint32_t options) {
    char buffer[kFolderBufferSize] = {};
    folder.copy(buffer, kFolderBufferSize - 1);
    return WriteDownloadSettings(buffer, &options);
}

inline HWND JobListOf(HWND window) {
    return GetDlgItem(window, IDC_DOWNLOAD_LIST);
}

inline int RowCount(HWND window) {
    return static_cast<int>(SendMessageA(JobListOf(window), LVM_GETITEMCOUNT, 0, 0));
}

inline std::string CellText(HWND window, int row, int column) {
    char text[260] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    SendMessageA(JobListOf(window), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

// The job a row holds (its item data); 0 once released.
inline LPARAM RowData(HWND window, int row) {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageA(JobListOf(window), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
}

inline std::string ItemText(HWND window, int id) {
    char text[300] = {};
    GetDlgItemTextA(window, id, text, sizeof(text));
    return text;
}

}  // namespace fluxmere::testing
