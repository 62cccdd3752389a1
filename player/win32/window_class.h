#pragma once
// Window classes of code that may live in a DLL. A DLL that is unloaded and loaded again finds
// its classes still registered (Windows keeps them until the process ends), possibly with a
// window procedure at the old load address; so a class is checked, and registered anew when it
// is missing or stale, every time a window of it is about to be made. Windows only.

#ifdef _WIN32

#include <windows.h>

namespace fluxmere {

// The module that holds this code (the DLL, not the host program).
HINSTANCE ThisModule();

// True when windowClass (its instance, name and procedure) is registered as given.
bool EnsureWindowClass(const WNDCLASSA& windowClass);

}  // namespace fluxmere

#endif  // _WIN32
