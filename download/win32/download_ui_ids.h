#pragma once
// Resource ids of the download manager's user interface in the module's resources: the window's
// dialog and its controls, and the viewer's context menu. Also read by the resource compiler.

#define IDR_CONTEXT_MENU 102  // shares its number with a registry script: another resource type
#define IDD_DOWNLOAD_MANAGER 104
#define IDC_DOWNLOAD_LIST 201
#define IDC_DOWNLOAD_FOLDER 204
#define IDC_CHANGE_FOLDER 205
#define IDC_HIDE 206
#define IDC_TRANSCODE_MOV 207
#define IDC_TRANSCODE_MXF 208
#define ID_USE_DOWNLOAD_MANAGER 32769
#define ID_SHOW_DOWNLOAD_MANAGER 32770
