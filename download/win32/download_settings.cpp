#include "download/win32/download_settings.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>

namespace fluxmere {

namespace {

// {9AAA4435-1994-4F7E-A4AB-0AA2A4CE0974}
constexpr CLSID kTranscoderClassId = {
    0x9AAA4435, 0x1994, 0x4F7E, {0xA4, 0xAB, 0x0A, 0xA2, 0xA4, 0xCE, 0x09, 0x74}};

constexpr char kFolderValue[] = "DownloadFolder";
constexpr char kOptionsValue[] = "TranscodeOptions";
constexpr char kEnableValue[] = "TranscodeEnable";
constexpr char kFallbackFolder[] = "c:";

// A DWORD value; false (and *value unchanged) when absent or not 4 bytes long.
bool QueryDword(HKEY key, const char* name, uint32_t* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(data)) {
        return false;
    }
    *value = data;
    return true;
}

void QueryFolder(HKEY key, char (&folder)[kFolderBufferSize]) {
    DWORD size = kFolderBufferSize;
    if (RegQueryValueExA(key, kFolderValue, nullptr, nullptr, reinterpret_cast<BYTE*>(folder),
                         &size) != ERROR_SUCCESS) {
        // Absent, or longer than any usable folder: no folder.
        std::memset(folder, 0, kFolderBufferSize);
        return;
    }
    // Data written by someone else need not end with a NUL.
    folder[size < kFolderBufferSize ? size : kFolderBufferSize - 1] = '\0';
}

void DefaultFolder(char (&folder)[kFolderBufferSize]) {
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, path)) ||
        path[0] == '\0' || std::strlen(path) >= kFolderBufferSize) {
        std::strcpy(path, kFallbackFolder);
    }
    std::memset(folder, 0, kFolderBufferSize);
    std::strcpy(folder, path);
}

}  // namespace

void ReadDownloadSettings(char (&folder)[kFolderBufferSize], uint32_t* options) {
    std::memset(folder, 0, kFolderBufferSize);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDownloadSettingsKey, 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        QueryFolder(key, folder);
        QueryDword(key, kOptionsValue, options);
        RegCloseKey(key);
    }
    if (folder[0] == '\0') {
        DefaultFolder(folder);
        WriteDownloadSettings(folder, options);
    }
}

bool WriteDownloadSettings(const char (&folder)[kFolderBufferSize], const uint32_t* options) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kDownloadSettingsKey, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    char padded[kFolderBufferSize] = {};
    strncpy(padded, folder, kFolderBufferSize - 1);
    const DWORD value = *options;
    RegSetValueExA(key, kFolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(padded),
                   kFolderBufferSize);
    RegSetValueExA(key, kOptionsValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
    RegCloseKey(key);
    return true;
}

uint32_t ReadTranscodeEnable() {
    uint32_t enable = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kDownloadSettingsKey, 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        QueryDword(key, kEnableValue, &enable);
        RegCloseKey(key);
    }
    return enable;
}

bool IsTranscoderInstalled() {
    LPOLESTR progId = nullptr;
    if (FAILED(ProgIDFromCLSID(kTranscoderClassId, &progId)))
        return false;
    CoTaskMemFree(progId);
    return true;
}

DownloadSettings CurrentDownloadSettings() {
    DownloadSettings settings;
    ReadDownloadSettings(settings.folder, &settings.options);
    settings.transcodeEnabled = ReadTranscodeEnable() != 0;
    settings.engineInstalled = IsTranscoderInstalled();
    return settings;
}

}  // namespace fluxmere
