// Entry points of FluxmereLibrary.dll. The module starts the socket library when it is loaded, so
// every socket the viewer and the download jobs open later works without further set-up.
// No class is served yet: every class request is declined and there is nothing to register.

#include <windows.h>
#include <winsock2.h>

#include "decode/dispatch.h"

namespace {

// Windows Sockets version the module asks for.
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        // A failure is not reported here: the sockets fail later, where they are used.
        WSADATA data;
        WSAStartup(kWinsockVersion, &data);
        // The image primitives' processor variant, chosen once before any other code runs.
        fluxmere::SelectProcessorVariant();
    }
    // No WSACleanup on detach: the process may still use sockets opened through the module.
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return S_OK;  // no object and no server lock can exist yet
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID /*clsid*/, REFIID /*iid*/, LPVOID* result) {
    if (result == nullptr) {
        return E_POINTER;
    }
    *result = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return S_OK;
}
