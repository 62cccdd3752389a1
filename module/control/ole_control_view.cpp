// Drawing for the container (IViewObjectEx) and the data object (IDataObject).
#include "module/control/ole_control.h"

namespace fluxmere {

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC drawDC,
                               LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                               ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (drawDC == nullptr)
        return E_INVALIDARG;
    // Without bounds a windowless control draws where the container placed it.
    RECT area = position_;
    if (bounds != nullptr)
        area = RECT{bounds->left, bounds->top, bounds->right, bounds->bottom};
    else if (!windowless_)
        return E_INVALIDARG;
    core_->Draw(drawDC, area);
    return S_OK;
}

STDMETHODIMP COleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    if (sink != nullptr)
        sink->AddRef();
    if (viewSink_ != nullptr)
        viewSink_->Release();
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr)
        *aspects = viewAspects_;
    if (flags != nullptr)
        *flags = viewFlags_;
    if (sink != nullptr) {
        *sink = viewSink_;
        if (viewSink_ != nullptr)
            viewSink_->AddRef();
    }
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

STDMETHODIMP COleControl::GetRect(DWORD, LPRECTL) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetViewStatus(DWORD* status) {
    if (status == nullptr)
        return E_POINTER;
    *status = kViewStatus;
    return S_OK;
}

// Opaque everywhere: a point inside the bounds hits.
STDMETHODIMP COleControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT point, LONG,
                                        DWORD* result) {
    if (result == nullptr || bounds == nullptr)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    *result = PtInRect(bounds, point) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP COleControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG,
                                       DWORD* result) {
    if (result == nullptr || bounds == nullptr || rect == nullptr)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    RECT overlap;
    *result = IntersectRect(&overlap, bounds, rect) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP COleControl::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC,
                                           DVEXTENTINFO* info, LPSIZEL size) {
    if (info == nullptr || size == nullptr)
        return E_POINTER;
    if (aspect != DVASPECT_CONTENT || info->dwExtentMode != DVEXTENT_CONTENT)
        return E_NOTIMPL;
    *size = naturalExtent_;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// IDataObject: no data formats; data advises are kept for the container.

STDMETHODIMP COleControl::GetData(FORMATETC*, STGMEDIUM*) {
    return DV_E_FORMATETC;
}
STDMETHODIMP COleControl::GetDataHere(FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::QueryGetData(FORMATETC*) {
    return DV_E_FORMATETC;
}

STDMETHODIMP COleControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) {
    if (out != nullptr)
        out->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::EnumFormatEtc(DWORD, IEnumFORMATETC**) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                                  DWORD* connection) {
    if (dataAdvise_ == nullptr && FAILED(CreateDataAdviseHolder(&dataAdvise_))) {
        return E_OUTOFMEMORY;
    }
    return dataAdvise_->Advise(static_cast<IDataObject*>(this), format, flags, sink, connection);
}

STDMETHODIMP COleControl::DUnadvise(DWORD connection) {
    return dataAdvise_ == nullptr ? OLE_E_NOCONNECTION : dataAdvise_->Unadvise(connection);
}

STDMETHODIMP COleControl::EnumDAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr)
        return E_POINTER;
    *advise = nullptr;
    return dataAdvise_ == nullptr ? E_FAIL : dataAdvise_->EnumAdvise(advise);
}

}  // namespace fluxmere
