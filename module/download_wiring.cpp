#include "module/download_wiring.h"

#include "player/player_registry.h"

namespace fluxmere {

DownloadLinks ModuleDownloadLinks() {
    DownloadLinks links;
    links.notices = &PlayerRegistry::Process();
    return links;
}

}  // namespace fluxmere
