#pragma once
// The module object of the component server: its instance handle, its lock count, its object
// map with the cached class factories, and (un)registration of every class and the type library.
//
// Lock count: one for every live object (ComObject), one for every outstanding
// IClassFactory::LockServer(TRUE), and one while a client holds a cached class factory. The
// module may also be unloaded only when no thread it started is running (CanUnloadNow).
//
// Threads: Lock/Unlock/LockCount from any thread; GetClassObject from any thread (factories are
// made once under the class-factory lock); Init and Term only from DllMain.

#include <windows.h>
#include <unknwn.h>

namespace fluxmere::com {

// Makes an object of one class: outer is the aggregating object or null; the result is queried
// for iid (always IUnknown when outer is given). The class factory checks the aggregation rule.
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** result);

// One class the module serves.
struct ObjectMapEntry {
    const CLSID* clsid;
    UINT registryScript;  // id of the class's "REGISTRY" resource
    CreateFunction create;
};

class ComModule {
public:
    // DllMain's process attach: entries (kept, not copied) in the order they are registered.
    static void Init(HINSTANCE instance, const ObjectMapEntry* entries, int count);
    // DllMain's process detach: releases the cached class factories, and the loaded type library
    // unless the process is ending (other DLLs may be gone already then).
    static void Term(bool processEnding);

    static HINSTANCE Instance();
    // The module file's full path; false when it does not fit MAX_PATH.
    static bool FilePath(wchar_t (&path)[MAX_PATH]);

    static void Lock();
    static void Unlock();
    static LONG LockCount();
    // S_OK when no object, server lock or held class factory is left and no thread the module
    // started is still running, else S_FALSE.
    static HRESULT CanUnloadNow();

    // The class factory of clsid, made on first request and kept, queried for iid.
    static HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** result);

    // Each class's registry script in map order, stopping at the first failure; then the type
    // library. Returns the first failure, else S_OK.
    static HRESULT RegisterServer();
    static HRESULT UnregisterServer();
};

}  // namespace fluxmere::com
