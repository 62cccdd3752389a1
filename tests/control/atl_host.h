#pragma once
// The ActiveX host of the system's atl.dll, loaded at run time: a real container that nobody
// here wrote. Windows only.

#include <windows.h>
#include <unknwn.h>

namespace fluxmere::testing {

struct AtlHost {
    using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
    using InitFn = BOOL(WINAPI*)();

    AtlHost() {
        module = LoadLibraryA("atl.dll");
        if (module == nullptr)
            return;
        attach = reinterpret_cast<AttachFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "AtlAxAttachControl")));
        auto init = reinterpret_cast<InitFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "AtlAxWinInit")));
        if (init != nullptr)
            init();
    }
    ~AtlHost() {
        if (module != nullptr)
            FreeLibrary(module);
    }
    bool IsValid() const { return attach != nullptr; }

    HMODULE module = nullptr;
    AttachFn attach = nullptr;
};

}  // namespace fluxmere::testing
