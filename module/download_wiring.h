#pragma once
// The module is the composition root: the one place where the download part meets the viewer.

#include "download/download_links.h"

namespace fluxmere {

// The links of every download job the module starts: the jobs' notices go to the process's
// player registry, which passes them on to the viewer of the same device. The download manager
// window's job list and the transcoding hand-off are added here as they are built.
DownloadLinks ModuleDownloadLinks();

}  // namespace fluxmere
