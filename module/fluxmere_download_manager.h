#pragma once
// CFluxmereDownloadManager, the browser's download manager: IFluxmereDownloadManager (and its
// IDispatch). The browser's interfaces join the interface table in fluxmere_download_manager.cpp.

#include <windows.h>

#include "fluxmere_library.h"
#include "module/com/com_object.h"
#include "module/com/dispatch.h"

namespace fluxmere {

class CFluxmereDownloadManager
    : public com::ComObject,
      public com::DispatchImpl<IFluxmereDownloadManager, &IID_IFluxmereDownloadManager> {
public:
    explicit CFluxmereDownloadManager(IUnknown* outer) : ComObject(outer) {}

    // The object map's CreateFunction.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** result);

    FLUXMERE_DELEGATING_IUNKNOWN

protected:
    com::InterfaceTable Interfaces() override;
};

}  // namespace fluxmere
