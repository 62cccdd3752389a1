#include "player/win32/window_class.h"

namespace fluxmere {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

bool EnsureWindowClass(const WNDCLASSA& windowClass) {
    WNDCLASSA registered = {};
    if (GetClassInfoA(windowClass.hInstance, windowClass.lpszClassName, &registered)) {
        if (registered.lpfnWndProc == windowClass.lpfnWndProc)
            return true;
        UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);  // a stale one
    }
    return RegisterClassA(&windowClass) != 0;
}

}  // namespace fluxmere
