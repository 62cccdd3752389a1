#pragma once
// The engine's entries in the registry of classes: its class id with LocalServer32 and ProgID
// (so that clients find the program and ask whether it is installed), the ProgIDs themselves,
// and its type library, whose registration also names the marshaller of the job interface.

#include <windows.h>

namespace fluxmere::engine {

inline constexpr wchar_t kProgId[] = L"FluxmereEngine.TranscodingEngine.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"FluxmereEngine.TranscodingEngine";

// Registers the program at `programPath` (its own path). S_OK or the first failure.
HRESULT RegisterEngine(const wchar_t* programPath);
// Removes every entry; entries already gone are no failure.
HRESULT UnregisterEngine();

}  // namespace fluxmere::engine
