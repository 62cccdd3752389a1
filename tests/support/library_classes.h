#pragma once
// For tests that make the product's classes straight from its DLL, without registering it: the
// DLL loaded into the test process (it stays loaded) and its DllGetClassObject.

#include <windows.h>

namespace fluxmere::testing {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

// Null when the DLL or its export cannot be found.
inline GetClassObjectFn LibraryClassObjects() {
    HMODULE module = LoadLibraryA(FLUXMERE_LIBRARY_DLL);
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
}

}  // namespace fluxmere::testing
