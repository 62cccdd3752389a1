#pragma once
// The component server loaded the way a COM client loads it: LoadLibrary of the copy next to the
// test program, its four exports by name, FreeLibrary at the end. A test that makes the only
// reference gets a fresh module (no cached class factory, lock count 0).

#include <windows.h>
#include <objbase.h>

#include <string>

namespace fluxmere::testing {

class ModuleLibrary {
public:
    ModuleLibrary();
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    bool loaded() const { return module_ != nullptr && getClassObject_ != nullptr; }
    HMODULE handle() const { return module_; }
    // The module file's full path.
    std::wstring Path() const;

    HRESULT CanUnloadNow() const { return canUnloadNow_(); }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** result) const {
        return getClassObject_(clsid, iid, result);
    }
    HRESULT RegisterServer() const { return registerServer_(); }
    HRESULT UnregisterServer() const { return unregisterServer_(); }

    // An object of clsid made through its class factory (outer may be null).
    HRESULT Create(REFCLSID clsid, IUnknown* outer, REFIID iid, void** result) const;

private:
    HMODULE module_ = nullptr;
    HRESULT(WINAPI* canUnloadNow_)() = nullptr;
    HRESULT(WINAPI* getClassObject_)(REFCLSID, REFIID, LPVOID*) = nullptr;
    HRESULT(WINAPI* registerServer_)() = nullptr;
    HRESULT(WINAPI* unregisterServer_)() = nullptr;
};

// COM for the calling thread, in a single-threaded apartment, for the life of the object.
class Apartment {
public:
    Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    HRESULT result() const { return hr_; }

private:
    HRESULT hr_;
};

// A BSTR for the life of the object.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

}  // namespace fluxmere::testing
