// Persistence of the extent ("_cx", "_cy": unsigned 32-bit HIMETRIC values) through a stream or
// a storage, and the identity and safety interfaces.
#include "module/control/ole_control.h"

namespace fluxmere {
namespace {

// The stream: a format version, then _cx and _cy, each 4 bytes little-endian.
constexpr DWORD kStreamVersion = 0x0300;
constexpr ULONG kStreamBytes = 12;
constexpr wchar_t kContentsStream[] = L"Contents";

HRESULT ReadExactly(IStream* stream, void* data, ULONG size) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data, size, &read);
    if (FAILED(hr))
        return hr;
    return read == size ? S_OK : E_FAIL;  // a truncated stream
}

}  // namespace

STDMETHODIMP COleControl::GetClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = identity_.clsid;
    return S_OK;
}

STDMETHODIMP COleControl::IsDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

// Reads everything before changing anything: a short or foreign stream leaves the extent alone.
STDMETHODIMP COleControl::Load(LPSTREAM stream) {
    if (stream == nullptr)
        return E_POINTER;
    DWORD values[3];
    const HRESULT hr = ReadExactly(stream, values, sizeof values);
    if (FAILED(hr))
        return hr;
    if (values[0] == 0 || values[0] > kStreamVersion)
        return E_FAIL;
    extent_.cx = static_cast<LONG>(values[1]);
    extent_.cy = static_cast<LONG>(values[2]);
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP COleControl::Save(LPSTREAM stream, BOOL clearDirty) {
    if (stream == nullptr)
        return E_POINTER;
    const DWORD values[3] = {kStreamVersion, static_cast<DWORD>(extent_.cx),
                             static_cast<DWORD>(extent_.cy)};
    ULONG written = 0;
    const HRESULT hr = stream->Write(values, sizeof values, &written);
    if (FAILED(hr))
        return hr;
    if (written != sizeof values)
        return STG_E_MEDIUMFULL;
    if (clearDirty)
        dirty_ = false;
    return S_OK;
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr)
        return E_POINTER;
    size->QuadPart = kStreamBytes;
    return S_OK;
}

STDMETHODIMP COleControl::InitNew() {
    return S_OK;
}
STDMETHODIMP COleControl::InitNew(IStorage*) {
    return S_OK;
}

STDMETHODIMP COleControl::Load(IStorage* storage) {
    if (storage == nullptr)
        return E_POINTER;
    IStream* stream = nullptr;
    HRESULT hr =
        storage->OpenStream(kContentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr))
        return hr;
    hr = Load(stream);
    stream->Release();
    return hr;
}

STDMETHODIMP COleControl::Save(IStorage* storage, BOOL) {
    if (storage == nullptr)
        return E_POINTER;
    IStream* stream = nullptr;
    HRESULT hr = storage->CreateStream(
        kContentsStream, STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE, 0, 0, &stream);
    if (FAILED(hr))
        return hr;
    hr = Save(stream, TRUE);
    stream->Release();
    return hr;
}

STDMETHODIMP COleControl::SaveCompleted(IStorage*) {
    return S_OK;
}
STDMETHODIMP COleControl::HandsOffStorage() {
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// ISpecifyPropertyPages, IQuickActivate

STDMETHODIMP COleControl::GetPages(CAUUID* pages) {
    if (pages == nullptr)
        return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}

STDMETHODIMP COleControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (container == nullptr || control == nullptr)
        return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) {
        return E_INVALIDARG;
    }
    SetClientSite(container->pClientSite);
    if (container->pAdviseSink != nullptr) {
        SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    }
    control->dwMiscStatus = 0;
    GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
    control->dwViewStatus = kViewStatus;
    control->dwEventCookie = 0;  // no events
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

STDMETHODIMP COleControl::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}
STDMETHODIMP COleControl::GetContentExtent(LPSIZEL size) {
    return GetExtent(DVASPECT_CONTENT, size);
}

// ---------------------------------------------------------------------------------------------
// IProvideClassInfo2 (no outgoing interface)

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr)
        return E_POINTER;
    *info = nullptr;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(identity_.libid, 1, 0, LOCALE_NEUTRAL, &library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(identity_.clsid, info);
    library->Release();
    return hr;
}

STDMETHODIMP COleControl::GetGUID(DWORD, GUID* guid) {
    if (guid == nullptr)
        return E_POINTER;
    *guid = GUID_NULL;
    return E_FAIL;
}

// ---------------------------------------------------------------------------------------------
// IObjectSafety: both options for every interface the control has; none enabled at first.

STDMETHODIMP COleControl::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) {
    if (supported == nullptr || enabled == nullptr)
        return E_POINTER;
    IUnknown* probe = nullptr;
    const HRESULT hr = outer_->QueryInterface(iid, reinterpret_cast<void**>(&probe));
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    probe->Release();
    *supported = kSafetyOptions;
    *enabled = safetyEnabled_;
    return S_OK;
}

STDMETHODIMP COleControl::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) {
    IUnknown* probe = nullptr;
    if (FAILED(outer_->QueryInterface(iid, reinterpret_cast<void**>(&probe)))) {
        return E_NOINTERFACE;
    }
    probe->Release();
    if ((mask & ~kSafetyOptions) != 0)
        return E_FAIL;
    safetyEnabled_ = (safetyEnabled_ & ~mask) | (enabled & mask);
    return S_OK;
}

}  // namespace fluxmere
