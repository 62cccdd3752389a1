#pragma once
// Ids of the module's resources (FluxmereLibrary.rc). Shared by the resource script and the code
// that loads them; plain #defines so that the resource compiler reads this file too.

#define IDS_PROJNAME 100

#define IDB_MEDIA_PLAYER 101  // the control's 16 x 16 toolbox image

#define IDR_MEDIA_PLAYER 102               // "REGISTRY" script of MediaPlayer
#define IDR_FLUXMERE_DOWNLOAD_MANAGER 103  // "REGISTRY" script of FluxmereDownloadManager

// The viewer's context menu: one pop-up with two commands.
#define IDR_CONTEXT_MENU 102
#define ID_USE_DOWNLOAD_MANAGER 32769
#define ID_SHOW_DOWNLOAD_MANAGER 32770

// The download manager window and its controls.
#define IDD_DOWNLOAD_MANAGER 104
#define IDC_DOWNLOAD_LIST 201
#define IDC_DOWNLOAD_FOLDER 204
#define IDC_CHANGE_FOLDER 205
#define IDC_HIDE 206
#define IDC_TRANSCODE_MOV 207
#define IDC_TRANSCODE_MXF 208
