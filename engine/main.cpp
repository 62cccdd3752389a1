// fluxmere-engine: the transcoding engine program.
//
//   fluxmere-engine /RegServer     registers the engine (class, ProgIDs, type library)
//   fluxmere-engine /UnregServer   removes it
//   fluxmere-engine -Embedding     started by COM for a client: serves engine objects until the
//                                  last one is released

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>

#include "decode/dispatch.h"
#include "engine/engine_registration.h"
#include "engine/engine_server.h"

namespace {

// "/Name" or "-Name", case-insensitive.
bool IsSwitch(const wchar_t* argument, const wchar_t* name) {
    return (argument[0] == L'/' || argument[0] == L'-') && _wcsicmp(argument + 1, name) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    using namespace fluxmere::engine;
    wchar_t path[MAX_PATH];
    if (GetModuleFileNameW(nullptr, path, MAX_PATH) == 0) {
        return 1;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        return 1;
    }
    int status = 0;
    if (argc > 1 && IsSwitch(argv[1], L"RegServer")) {
        status = SUCCEEDED(RegisterEngine(path)) ? 0 : 1;
    } else if (argc > 1 && IsSwitch(argv[1], L"UnregServer")) {
        status = SUCCEEDED(UnregisterEngine()) ? 0 : 1;
    } else if (argc > 1 && IsSwitch(argv[1], L"Embedding")) {
        // The encoders and the decoder take the processor's fastest variants from here on.
        fluxmere::SelectProcessorVariant();
        status = ServeClassObject();
    } else {
        std::fwprintf(stderr, L"usage: fluxmere-engine /RegServer | /UnregServer\n");
        status = 2;
    }
    CoUninitialize();
    return status;
}
