#pragma once
// The module's type library (resource "TYPELIB" 1 of the module file): loaded once per process
// from the module itself, so type information is there also before registration, and released at
// process detach. Its interfaces' type information drives DispatchImpl.

#include <windows.h>
#include <oaidl.h>

namespace fluxmere::com {

// Type information of the interface iid of the module's type library (a new reference).
HRESULT TypeInfoOf(REFIID iid, ITypeInfo** result);

// Registers the type library from the module file (its path as the library's location), and
// removes that registration again.
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// Releases the loaded library (process detach).
void ReleaseTypeLibrary();

}  // namespace fluxmere::com
