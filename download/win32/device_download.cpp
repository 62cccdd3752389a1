#include "download/win32/device_download.h"

#include <cstring>
#include <new>

#include "download/download_url.h"
#include "download/fluxmere_download.h"
#include "download/win32/download_manager_window.h"
#include "download/win32/download_settings.h"

namespace fluxmere {

namespace {

// The display name in the ANSI code page, NUL included; false when there is none or it does not
// fit the buffer whole.
bool DisplayNameText(IMoniker* moniker, IBindCtx* bindContext, char (&url)[kTextBufferSize]) {
    std::memset(url, 0, sizeof(url));
    LPOLESTR name = nullptr;
    if (moniker == nullptr || FAILED(moniker->GetDisplayName(bindContext, nullptr, &name)) ||
        name == nullptr) {
        return false;
    }
    const int written =
        WideCharToMultiByte(CP_ACP, 0, name, -1, url, sizeof(url), nullptr, nullptr);
    CoTaskMemFree(name);
    if (written <= 0) {
        std::memset(url, 0, sizeof(url));
        return false;
    }
    return true;
}

}  // namespace

HRESULT StartDeviceDownload(IMoniker* moniker, IBindCtx* bindContext, const DownloadLinks& links) {
    char url[kTextBufferSize];
    if (!DisplayNameText(moniker, bindContext, url))
        return E_FAIL;
    const char* command = std::strstr(url, kExportCommand);
    if (command == nullptr || command == url)
        return E_FAIL;

    // One reading of the settings for the job, and for the window when this job makes it.
    const DownloadSettings settings = CurrentDownloadSettings();
    DownloadLinks jobLinks = links;
    jobLinks.jobList = DownloadManagerForJob(settings);
    auto* job =
        new (std::nothrow) CFluxmereDownload(url, settings.folder, settings.JobOptions(), jobLinks);
    if (job == nullptr)
        return E_OUTOFMEMORY;  // the browser downloads it itself
    // The job lives on its own references: its threads' and its row's.
    job->Release();
    return S_OK;
}

}  // namespace fluxmere
