#include "tests/module/module_library.h"

namespace fluxmere::testing {

namespace {

// FARPROC to the export's own type, through void* (the types differ only by design).
template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

ModuleLibrary::ModuleLibrary() : module_(LoadLibraryA("FluxmereLibrary.dll")) {
    if (module_ == nullptr)
        return;
    Resolve(module_, "DllCanUnloadNow", &canUnloadNow_);
    Resolve(module_, "DllGetClassObject", &getClassObject_);
    Resolve(module_, "DllRegisterServer", &registerServer_);
    Resolve(module_, "DllUnregisterServer", &unregisterServer_);
}

ModuleLibrary::~ModuleLibrary() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}

std::wstring ModuleLibrary::Path() const {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module_, path, MAX_PATH);
    return path;
}

HRESULT ModuleLibrary::Create(REFCLSID clsid, IUnknown* outer, REFIID iid, void** result) const {
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(outer, iid, result);
    factory->Release();
    return hr;
}

}  // namespace fluxmere::testing
