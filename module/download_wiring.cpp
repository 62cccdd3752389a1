#include "module/download_wiring.h"

#include "module/com/com_module.h"
#include "player/player_registry.h"

namespace fluxmere {

DownloadLinks ModuleDownloadLinks() {
    DownloadLinks links;
    links.notices = &PlayerRegistry::Process();
    return links;
}

ViewerMenuActions ModuleViewerMenuActions() {
    ViewerMenuActions actions;
    actions.registerModule = &com::ComModule::RegisterServer;
    return actions;
}

}  // namespace fluxmere
