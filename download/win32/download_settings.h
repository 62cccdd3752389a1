#pragma once
// The download settings of the current user: where clips go, which transcoded outputs new jobs
// make, and whether the window offers transcoding. They live under HKEY_CURRENT_USER in
// kDownloadSettingsKey; folders are 8-bit texts of the ANSI code page in 260-byte buffers.

#include <cstdint>

namespace fluxmere {

constexpr char kDownloadSettingsKey[] = "Software\\Vandelor\\FluxmereLibrary";
constexpr uint32_t kFolderBufferSize = 260;

// Fills folder with DownloadFolder and *options with TranscodeOptions. An absent (or unreadable)
// value leaves its output as it was, except the folder: without one, the shared documents folder
// (or "c:") is taken and stored together with *options, so it is chosen only once. The caller
// sets *options (to 0) beforehand.
void ReadDownloadSettings(char (&folder)[kFolderBufferSize], uint32_t* options);

// Stores both values: DownloadFolder always as the whole 260-byte buffer, NUL-padded (nothing
// after the folder's NUL leaks into the registry), TranscodeOptions as a DWORD. False when the key
// could not be opened or created.
bool WriteDownloadSettings(const char (&folder)[kFolderBufferSize], const uint32_t* options);

// TranscodeEnable, 0 when absent. Only ever read.
uint32_t ReadTranscodeEnable();

// True when the external transcoding engine's class has a ProgID registered.
bool IsTranscoderInstalled();

// Every setting a new job and the window go by, read together once: by the browser hook for each
// job, and for the window from the same reading when that job is the one that makes it.
struct DownloadSettings {
    char folder[kFolderBufferSize] = {};
    uint32_t options = 0;           // TranscodeOptions as stored
    bool transcodeEnabled = false;  // TranscodeEnable is nonzero
    bool engineInstalled = false;   // IsTranscoderInstalled

    // A new job transcodes as stored, but never without an engine; TranscodeEnable is not asked.
    uint32_t JobOptions() const { return engineInstalled ? options : 0; }
    // The window offers its two check boxes only with an engine and TranscodeEnable.
    bool TranscodeAvailable() const { return engineInstalled && transcodeEnabled; }
};

// Reads them all, as the functions above do (a missing folder is chosen and stored).
DownloadSettings CurrentDownloadSettings();

}  // namespace fluxmere
