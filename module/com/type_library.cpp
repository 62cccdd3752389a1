#include "module/com/type_library.h"

#include <oleauto.h>

#include "module/com/com_module.h"

namespace fluxmere::com {

namespace {

// Objects of several apartments ask for type information at once; the library is loaded once.
CRITICAL_SECTION* LoadLock() {
    static CRITICAL_SECTION lock;
    static const bool initialised = (InitializeCriticalSection(&lock), true);
    (void)initialised;
    return &lock;
}

ITypeLib* loadedLibrary = nullptr;

HRESULT LoadModuleLibrary(ITypeLib** result) {
    wchar_t path[MAX_PATH];
    if (!ComModule::FilePath(path))
        return E_FAIL;
    return LoadTypeLibEx(path, REGKIND_NONE, result);
}

}  // namespace

HRESULT TypeInfoOf(REFIID iid, ITypeInfo** result) {
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    EnterCriticalSection(LoadLock());
    HRESULT hr = S_OK;
    if (loadedLibrary == nullptr)
        hr = LoadModuleLibrary(&loadedLibrary);
    if (SUCCEEDED(hr))
        hr = loadedLibrary->GetTypeInfoOfGuid(iid, result);
    LeaveCriticalSection(LoadLock());
    return hr;
}

HRESULT RegisterTypeLibrary() {
    wchar_t path[MAX_PATH];
    if (!ComModule::FilePath(path))
        return E_FAIL;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = RegisterTypeLib(library, path, nullptr);
    library->Release();
    return hr;
}

HRESULT UnregisterTypeLibrary() {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadModuleLibrary(&library);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                               attributes->lcid, attributes->syskind);
        library->ReleaseTLibAttr(attributes);
    }
    library->Release();
    return hr;
}

void ReleaseTypeLibrary() {
    EnterCriticalSection(LoadLock());
    if (loadedLibrary != nullptr) {
        loadedLibrary->Release();
        loadedLibrary = nullptr;
    }
    LeaveCriticalSection(LoadLock());
}

}  // namespace fluxmere::com
