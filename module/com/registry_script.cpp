#include "module/com/registry_script.h"

#include <objbase.h>
// The registrar's interface, generated from the system's interface description at build time.
#include <initguid.h>
#include "atliface.h"

#include <string>

#include "module/com/com_module.h"

namespace fluxmere::com {

namespace {

std::wstring DoubledQuotes(const wchar_t* path) {
    std::wstring quoted;
    for (const wchar_t* c = path; *c != L'\0'; ++c) {
        quoted += *c;
        if (*c == L'\'')
            quoted += L'\'';
    }
    return quoted;
}

// COM for this thread while the registrar runs, where the caller (regsvr32, for example) has not
// set it up. A thread already in another apartment keeps it.
class ComForThisThread {
public:
    ComForThisThread() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComForThisThread() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    ComForThisThread(const ComForThisThread&) = delete;
    ComForThisThread& operator=(const ComForThisThread&) = delete;

private:
    const HRESULT hr_;
};

}  // namespace

HRESULT RunRegistryScript(UINT resourceId, ScriptMode mode) {
    wchar_t path[MAX_PATH];
    if (!ComModule::FilePath(path))
        return E_FAIL;
    ComForThisThread com;
    IRegistrar* registrar = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                  reinterpret_cast<void**>(&registrar));
    if (FAILED(hr))
        return hr;
    const std::wstring quoted = DoubledQuotes(path);
    hr = registrar->AddReplacement(L"Module", quoted.c_str());
    if (SUCCEEDED(hr))
        hr = registrar->AddReplacement(L"Module_Raw", path);
    if (SUCCEEDED(hr)) {
        hr = mode == ScriptMode::Register
                 ? registrar->ResourceRegister(path, resourceId, L"REGISTRY")
                 : registrar->ResourceUnregister(path, resourceId, L"REGISTRY");
    }
    registrar->Release();
    return hr;
}

}  // namespace fluxmere::com
