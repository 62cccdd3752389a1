#pragma once
// What the browser's download manager does with a download: the recording device's clip exports
// (URLs holding its export command after the first character) become download jobs listed in the
// download manager window; everything else is declined, and the browser downloads it itself.

#include <windows.h>
#include <objidl.h>

#include "download/download_links.h"

namespace fluxmere {

// The moniker's display name must fit the 260-byte URL buffer of a job in the ANSI code page;
// one that does not, or none at all, is declined rather than cut. For a device URL: reads the
// settings once, creates the download manager window from them if needed (hidden), and starts a
// job (transcoding only with an installed engine) with `links` (its job list becomes the
// window's), which runs on its own; S_OK. Otherwise E_FAIL, and nothing is created.
HRESULT StartDeviceDownload(IMoniker* moniker, IBindCtx* bindContext, const DownloadLinks& links);

}  // namespace fluxmere
