#pragma once
// The engine's entries in the registry of classes: its class id with LocalServer32 and ProgID
// (so that clients find the program and ask whether it is installed), the ProgIDs themselves,
// and its type library, whose registration also names the marshaller of the job interface.
// Installing the engine is also what makes transcoding available: the download manager offers it
// only where TranscodeEnable is nonzero in the current user's download settings, so registering
// sets it for the user who registers, and unregistering takes it away again.

#include <windows.h>

namespace fluxmere::engine {

inline constexpr wchar_t kProgId[] = L"FluxmereEngine.TranscodingEngine.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"FluxmereEngine.TranscodingEngine";

inline constexpr wchar_t kUserSettingsKey[] = L"Software\\Vandelor\\FluxmereLibrary";
inline constexpr wchar_t kTranscodeEnableValue[] = L"TranscodeEnable";

// Registers the program at `programPath` (its own path) and sets TranscodeEnable = 1 for the
// current user. S_OK or the first failure.
HRESULT RegisterEngine(const wchar_t* programPath);
// Removes every entry and the current user's TranscodeEnable (the user's other settings stay;
// their key goes only when nothing is left in it); entries already gone are no failure.
HRESULT UnregisterEngine();

}  // namespace fluxmere::engine
