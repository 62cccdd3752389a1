#pragma once
// Ids of the module's resources (FluxmereLibrary.rc). Shared by the resource script and the code
// that loads them; plain #defines so that the resource compiler reads this file too.

#define IDS_PROJNAME 100

#define IDB_MEDIA_PLAYER 101  // the control's 16 x 16 toolbox image

#define IDR_MEDIA_PLAYER 102               // "REGISTRY" script of MediaPlayer
#define IDR_FLUXMERE_DOWNLOAD_MANAGER 103  // "REGISTRY" script of FluxmereDownloadManager

// The viewer's context menu and the download manager window with its controls.
#include "download/win32/download_ui_ids.h"
