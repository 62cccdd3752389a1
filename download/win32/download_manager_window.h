#pragma once
// The single download manager window of the process (download_manager_dialog.h on a thread of its
// own, download_window_thread.h): made hidden, centred in the work area and topmost on first use,
// from any number of threads at once (one window), then kept with its thread until the process
// ends. Whoever asks for it (a browser thread in Download, the viewer's thread) need not pump
// messages for jobs to be listed and refreshed, and may end without taking the window with it.

#include <windows.h>

#include "download/download_links.h"
#include "download/win32/download_settings.h"

namespace fluxmere {

// The module holding this code and its resources (the DLL in the product, the program in tests).
HINSTANCE DownloadUiModule();

// For the viewer's menu: makes the window if there is none yet (reading the settings for it), and
// shows it when show is true.
void ShowDownloadManager(bool show);

// For a new job: the window's job list, the window made hidden from the job's own reading of the
// settings if there is none yet. Null when the window could not be made.
IJobList* DownloadManagerForJob(const DownloadSettings& settings);

// A download manager window of this process found by its caption, also one that another module
// of the process made (the DLL's, seen from its client); null when there is none.
HWND FindDownloadManagerWindow();

}  // namespace fluxmere
