#include "engine/engine_registration.h"

#include <oleauto.h>

#include <string>

#include "transcoding_engine.h"

namespace fluxmere::engine {
namespace {

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// Creates key (under HKEY_CLASSES_ROOT) and sets its value `name` (nullptr: the default value).
bool SetText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result =
        RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

void DeleteTree(const std::wstring& key) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
}

constexpr wchar_t kMakerKey[] = L"Software\\Vandelor";

bool EnableTranscoding() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD one = 1;
    const LONG result = RegSetValueExW(key, kTranscodeEnableValue, 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Deletes the current user's key at `path` when it holds neither values nor subkeys.
void DeleteUserKeyIfEmpty(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD subkeys = 0;
    DWORD values = 0;
    const bool empty =
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (empty) {
        RegDeleteKeyW(HKEY_CURRENT_USER, path);
    }
}

// Only the switch is the engine's: the user's folder and options stay, and with them their key.
void DisableTranscoding() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserSettingsKey, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    RegDeleteValueW(key, kTranscodeEnableValue);
    RegCloseKey(key);
    DeleteUserKeyIfEmpty(kUserSettingsKey);
    DeleteUserKeyIfEmpty(kMakerKey);
}

}  // namespace

HRESULT RegisterEngine(const wchar_t* programPath) {
    const std::wstring clsid = GuidText(CLSID_TranscodingEngine);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const bool written =
        SetText(classKey, nullptr, L"Fluxmere transcoding engine") &&
        SetText(classKey + L"\\LocalServer32", nullptr,
                L"\"" + std::wstring(programPath) + L"\"") &&
        SetText(classKey + L"\\ProgID", nullptr, kProgId) &&
        SetText(classKey + L"\\VersionIndependentProgID", nullptr, kVersionIndependentProgId) &&
        SetText(classKey + L"\\TypeLib", nullptr, GuidText(LIBID_FluxmereEngineLib)) &&
        SetText(kProgId, nullptr, L"Fluxmere transcoding engine") &&
        SetText(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid) &&
        SetText(kVersionIndependentProgId, nullptr, L"Fluxmere transcoding engine") &&
        SetText(std::wstring(kVersionIndependentProgId) + L"\\CLSID", nullptr, clsid) &&
        SetText(std::wstring(kVersionIndependentProgId) + L"\\CurVer", nullptr, kProgId);
    if (!written || !EnableTranscoding()) {
        return E_ACCESSDENIED;
    }
    // The type library (resource 1 of this program) also registers the job interface with the
    // automation marshaller.
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(programPath, REGKIND_NONE, &library);
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(library, const_cast<wchar_t*>(programPath), nullptr);
        library->Release();
    }
    return hr;
}

HRESULT UnregisterEngine() {
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    UnRegisterTypeLib(LIBID_FluxmereEngineLib, 1, 0, LANG_NEUTRAL, kind);
    DeleteTree(L"Interface\\" + GuidText(IID_ITranscodingJob));
    DeleteTree(L"CLSID\\" + GuidText(CLSID_TranscodingEngine));
    DeleteTree(kProgId);
    DeleteTree(kVersionIndependentProgId);
    DisableTranscoding();
    return S_OK;
}

}  // namespace fluxmere::engine
