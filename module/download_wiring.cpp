#include "module/download_wiring.h"

#include "download/win32/transcode_handoff.h"
#include "module/com/com_module.h"
#include "player/player_registry.h"

namespace fluxmere {

DownloadLinks ModuleDownloadLinks() {
    DownloadLinks links;
    links.notices = &PlayerRegistry::Process();
    // The out-of-process transcoding engine, for jobs whose options ask for outputs.
    static CTranscodeHandOff transcoder;
    links.transcoder = &transcoder;
    return links;
}

ViewerMenuActions ModuleViewerMenuActions() {
    ViewerMenuActions actions;
    actions.registerModule = &com::ComModule::RegisterServer;
    return actions;
}

void ShowModuleViewerMenu(HWND owner, POINT screenPoint) {
    ShowViewerContextMenu(owner, screenPoint, ModuleViewerMenuActions());
}

}  // namespace fluxmere
