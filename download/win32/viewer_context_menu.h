#pragma once
// The viewer's context menu (menu IDR_CONTEXT_MENU): "&Use Download Manager" switches the
// browser's download user interface (HKEY_LOCAL_MACHINE, kBrowserKey, value "DownloadUI") to this
// module's download manager and back, keeping the manager it replaced in "OldDownloadUI";
// "&Show Download Manager options" shows the download manager window.

#include <windows.h>

namespace fluxmere {

constexpr char kBrowserKey[] = "Software\\Microsoft\\Internet Explorer";
// The download manager's class id as the browser's "DownloadUI" value names it.
constexpr char kDownloadManagerClassIdText[] = "{9E6D1B14-BD51-491D-977D-FA5D05BE288D}";

struct ViewerMenuActions {
    // The module's registration (every class and the type library), run before the browser is
    // pointed at the download manager; its result is ignored. May be null.
    HRESULT (*registerModule)() = nullptr;
};

// Shows the menu at screenPoint (screen coordinates), owned by owner, on the calling thread, and
// carries out the command chosen, which it returns (0: dismissed). Without an owner, or when the
// browser's key cannot be opened for reading and writing, no menu is shown and 0 returned.
UINT ShowViewerContextMenu(HWND owner, POINT screenPoint, const ViewerMenuActions& actions);

}  // namespace fluxmere
