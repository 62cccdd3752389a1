// Entry points of FluxmereLibrary.dll and its object map: the composition root that puts the
// viewer control and the download manager behind the module's COM layer.

#include <winsock2.h>
#include <windows.h>

#include "decode/dispatch.h"
#include "fluxmere_library.h"
#include "module/com/com_module.h"
#include "module/fluxmere_download_manager.h"
#include "module/media_player.h"
#include "module/resource_ids.h"

namespace {

using fluxmere::com::ComModule;

// Windows Sockets version the module asks for.
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// The classes the module serves, in registration order.
const fluxmere::com::ObjectMapEntry kObjectMap[] = {
    {&CLSID_MediaPlayer, IDR_MEDIA_PLAYER, &fluxmere::CMediaPlayer::Create},
    {&CLSID_FluxmereDownloadManager, IDR_FLUXMERE_DOWNLOAD_MANAGER,
     &fluxmere::CFluxmereDownloadManager::Create},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ComModule::Init(instance, kObjectMap, sizeof kObjectMap / sizeof kObjectMap[0]);
        DisableThreadLibraryCalls(instance);
        // A failure is not reported here: the sockets fail later, where they are used.
        WSADATA data;
        WSAStartup(kWinsockVersion, &data);
        fluxmere::SelectProcessorVariant();
    } else if (reason == DLL_PROCESS_DETACH) {
        // No WSACleanup: the process may still use sockets opened through the module.
        ComModule::Term(/*processEnding=*/reserved != nullptr);
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return ComModule::CanUnloadNow();
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* result) {
    return ComModule::GetClassObject(clsid, iid, result);
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return ComModule::RegisterServer();
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    return ComModule::UnregisterServer();
}
