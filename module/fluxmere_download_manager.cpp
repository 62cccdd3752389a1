#include "module/fluxmere_download_manager.h"

#include "download/win32/device_download.h"
#include "module/download_wiring.h"

namespace fluxmere {

namespace {

// {988934A4-064B-11D3-BB80-00104B35E7F9}: mingw-w64 declares it, but its uuid library lacks it.
const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

// QueryInterface searches this table in order.
const com::InterfaceEntry kInterfaces[] = {
    FLUXMERE_INTERFACE_ENTRY(IID_IFluxmereDownloadManager, CFluxmereDownloadManager,
                             IFluxmereDownloadManager),
    FLUXMERE_INTERFACE_ENTRY(IID_IDispatch, CFluxmereDownloadManager, IFluxmereDownloadManager),
    FLUXMERE_INTERFACE_ENTRY(kIID_IDownloadManager, CFluxmereDownloadManager, IDownloadManager),
    FLUXMERE_INTERFACE_ENTRY(IID_IBindStatusCallback, CFluxmereDownloadManager,
                             IBindStatusCallback),
};

}  // namespace

HRESULT CFluxmereDownloadManager::Create(IUnknown* outer, REFIID iid, void** result) {
    return com::CreateObject<CFluxmereDownloadManager>(outer, iid, result);
}

com::InterfaceTable CFluxmereDownloadManager::Interfaces() {
    return com::MakeInterfaceTable(kInterfaces);
}

STDMETHODIMP CFluxmereDownloadManager::Download(IMoniker* moniker, IBindCtx* bindContext,
                                                DWORD /*bindVerb*/, LONG /*bindFlags*/,
                                                BINDINFO* /*bindInfo*/, LPCOLESTR /*headers*/,
                                                LPCOLESTR /*redirect*/, UINT /*codePage*/) {
    return StartDeviceDownload(moniker, bindContext, ModuleDownloadLinks());
}

STDMETHODIMP CFluxmereDownloadManager::OnStartBinding(DWORD, IBinding*) {
    return E_FAIL;
}
STDMETHODIMP CFluxmereDownloadManager::GetPriority(LONG*) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::OnLowResource(DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::OnProgress(ULONG, ULONG, ULONG, LPCWSTR) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::OnStopBinding(HRESULT, LPCWSTR) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::GetBindInfo(DWORD*, BINDINFO*) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP CFluxmereDownloadManager::OnObjectAvailable(REFIID, IUnknown*) {
    return E_NOTIMPL;
}

}  // namespace fluxmere
