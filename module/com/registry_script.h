#pragma once
// Runs one of the module's "REGISTRY" resources with the registrar that the system ships in
// atl.dll (IRegistrar), replacing %MODULE% by the module's path with single quotes doubled and
// %MODULE_RAW% by the path as it is.

#include <windows.h>

namespace fluxmere::com {

enum class ScriptMode { Register, Unregister };

HRESULT RunRegistryScript(UINT resourceId, ScriptMode mode);

}  // namespace fluxmere::com
