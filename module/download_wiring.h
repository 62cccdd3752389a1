#pragma once
// The module is the composition root: the one place where the download part meets the viewer.

#include "download/download_links.h"
#include "download/win32/viewer_context_menu.h"

namespace fluxmere {

// The links of every download job the module starts: the jobs' notices go to the process's
// player registry, which passes them on to the viewer of the same device, and the transcoding
// thread hands the file to the transcoding engine. The download manager window's job list is the
// browser hook's to add (the window is made on the first download).
DownloadLinks ModuleDownloadLinks();

// What the viewer's context menu does besides the registry switch: the module's registration
// (every class and the type library) before the browser is pointed at the download manager.
ViewerMenuActions ModuleViewerMenuActions();

// The viewer control's context menu: the download manager's menu with the actions above.
void ShowModuleViewerMenu(HWND owner, POINT screenPoint);

}  // namespace fluxmere
