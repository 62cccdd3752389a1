#pragma once
// CFluxmereDownloadManager, the browser's download manager: IFluxmereDownloadManager (and its
// IDispatch), IDownloadManager, through which the browser hands over every download, and
// IBindStatusCallback, answered with fixed results. The object keeps nothing between calls.

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include "fluxmere_library.h"
#include "module/com/com_object.h"
#include "module/com/dispatch.h"

namespace fluxmere {

class CFluxmereDownloadManager
    : public com::ComObject,
      public com::DispatchImpl<IFluxmereDownloadManager, &IID_IFluxmereDownloadManager>,
      public IDownloadManager,
      public IBindStatusCallback {
public:
    explicit CFluxmereDownloadManager(IUnknown* outer) : ComObject(outer) {}

    // The object map's CreateFunction.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** result);

    FLUXMERE_DELEGATING_IUNKNOWN

    // IDownloadManager: takes the device's clip exports (S_OK, a job is started) and declines
    // everything else (E_FAIL: the browser downloads it itself). Only the moniker and the bind
    // context are used.
    STDMETHODIMP Download(IMoniker* moniker, IBindCtx* bindContext, DWORD bindVerb, LONG bindFlags,
                          BINDINFO* bindInfo, LPCOLESTR headers, LPCOLESTR redirect,
                          UINT codePage) override;

    // IBindStatusCallback
    STDMETHODIMP OnStartBinding(DWORD reserved, IBinding* binding) override;
    STDMETHODIMP GetPriority(LONG* priority) override;
    STDMETHODIMP OnLowResource(DWORD reserved) override;
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                            LPCWSTR statusText) override;
    STDMETHODIMP OnStopBinding(HRESULT result, LPCWSTR error) override;
    STDMETHODIMP GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) override;
    STDMETHODIMP OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                 STGMEDIUM* medium) override;
    STDMETHODIMP OnObjectAvailable(REFIID iid, IUnknown* object) override;

protected:
    com::InterfaceTable Interfaces() override;
};

}  // namespace fluxmere
