#include "download/win32/viewer_context_menu.h"

#include <cstring>

#include "download/win32/download_manager_window.h"
#include "download/win32/download_ui_ids.h"

namespace fluxmere {

namespace {

constexpr char kDownloadUiValue[] = "DownloadUI";
constexpr char kOldDownloadUiValue[] = "OldDownloadUI";
constexpr DWORD kValueBufferSize = 260;

// Reads a text value into a zero-filled buffer; a missing value, or one too long for the buffer,
// leaves it empty.
void ReadText(HKEY key, const char* name, char (&buffer)[kValueBufferSize]) {
    std::memset(buffer, 0, kValueBufferSize);
    DWORD size = kValueBufferSize;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        std::memset(buffer, 0, kValueBufferSize);
    }
    buffer[kValueBufferSize - 1] = '\0';
}

// Written as the browser writes it: the text's bytes without the terminating NUL.
void WriteText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text)));
}

void SwitchOn(HKEY key, const char* current, const ViewerMenuActions& actions) {
    // The browser must find the class registered before it is pointed at it.
    if (actions.registerModule != nullptr)
        actions.registerModule();
    if (current[0] != '\0')
        WriteText(key, kOldDownloadUiValue, current);
    WriteText(key, kDownloadUiValue, kDownloadManagerClassIdText);
}

void SwitchOff(HKEY key) {
    char previous[kValueBufferSize];
    ReadText(key, kOldDownloadUiValue, previous);
    if (previous[0] != '\0') {
        WriteText(key, kDownloadUiValue, previous);
        RegDeleteValueA(key, kOldDownloadUiValue);
    } else {
        RegDeleteValueA(key, kDownloadUiValue);
    }
}

}  // namespace

UINT ShowViewerContextMenu(HWND owner, POINT screenPoint, const ViewerMenuActions& actions) {
    if (owner == nullptr)
        return 0;
    HMENU menu = LoadMenuA(DownloadUiModule(), MAKEINTRESOURCEA(IDR_CONTEXT_MENU));
    HMENU popup = menu != nullptr ? GetSubMenu(menu, 0) : nullptr;
    HKEY key = nullptr;
    if (popup == nullptr || RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBrowserKey, 0, KEY_READ | KEY_WRITE,
                                          &key) != ERROR_SUCCESS) {
        if (menu != nullptr)
            DestroyMenu(menu);
        return 0;
    }
    char current[kValueBufferSize];
    ReadText(key, kDownloadUiValue, current);
    // Byte for byte: the same id in lower case names some other registration.
    const bool switchedOn = std::strcmp(current, kDownloadManagerClassIdText) == 0;
    if (switchedOn)
        CheckMenuItem(popup, ID_USE_DOWNLOAD_MANAGER, MF_BYCOMMAND | MF_CHECKED);

    const UINT command =
        static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                         screenPoint.x, screenPoint.y, 0, owner, nullptr));
    DestroyMenu(menu);
    if (command == ID_SHOW_DOWNLOAD_MANAGER) {
        ShowDownloadManager(true);
    } else if (command == ID_USE_DOWNLOAD_MANAGER) {
        if (switchedOn) {
            SwitchOff(key);
        } else {
            SwitchOn(key, current, actions);
        }
    }
    RegCloseKey(key);
    return command;
}

}  // namespace fluxmere
