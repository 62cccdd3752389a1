#include "module/fluxmere_download_manager.h"

namespace fluxmere {

namespace {

// QueryInterface searches this table in order.
const com::InterfaceEntry kInterfaces[] = {
    FLUXMERE_INTERFACE_ENTRY(IID_IFluxmereDownloadManager, CFluxmereDownloadManager,
                             IFluxmereDownloadManager),
    FLUXMERE_INTERFACE_ENTRY(IID_IDispatch, CFluxmereDownloadManager, IFluxmereDownloadManager),
};

}  // namespace

HRESULT CFluxmereDownloadManager::Create(IUnknown* outer, REFIID iid, void** result) {
    return com::CreateObject<CFluxmereDownloadManager>(outer, iid, result);
}

com::InterfaceTable CFluxmereDownloadManager::Interfaces() {
    return com::MakeInterfaceTable(kInterfaces);
}

}  // namespace fluxmere
