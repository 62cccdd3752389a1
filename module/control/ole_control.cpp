// The control object: identity, sites, verbs and activation (IOleObject, IOleInPlaceObject*,
// IOleInPlaceActiveObject, IOleControl).
#include "module/control/ole_control.h"

#include <windowsx.h>

namespace fluxmere {

COleControl::COleControl(IUnknown* outer, const ControlIdentity& identity)
    : outer_(outer), identity_(identity), core_(std::make_unique<CViewerCore>()) {
    core_->SetContextMenuHandler(&COleControl::ShowContextMenu, this);
}

COleControl::~COleControl() {
    InPlaceDeactivate();
    if (viewSink_ != nullptr)
        viewSink_->Release();
    if (oleAdvise_ != nullptr)
        oleAdvise_->Release();
    if (dataAdvise_ != nullptr)
        dataAdvise_->Release();
    if (clientSite_ != nullptr)
        clientSite_->Release();
    core_.reset();  // stops the session before the drawing objects go
}

STDMETHODIMP COleControl::QueryInterface(REFIID iid, void** object) {
    return outer_->QueryInterface(iid, object);
}
STDMETHODIMP_(ULONG) COleControl::AddRef() {
    return outer_->AddRef();
}
STDMETHODIMP_(ULONG) COleControl::Release() {
    return outer_->Release();
}

// ---------------------------------------------------------------------------------------------
// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
    if (site != nullptr)
        site->AddRef();
    if (clientSite_ != nullptr)
        clientSite_->Release();
    clientSite_ = site;
    return S_OK;
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr)
        return E_POINTER;
    *site = clientSite_;
    if (clientSite_ != nullptr)
        clientSite_->AddRef();
    return S_OK;
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP COleControl::Close(DWORD) {
    InPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::GetMoniker(DWORD, DWORD, IMoniker**) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::GetClipboardData(DWORD, IDataObject**) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND,
                                 LPCRECT position) {
    if (activeSite != nullptr && clientSite_ == nullptr)
        SetClientSite(activeSite);
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE: {
            const HRESULT hr = InPlaceActivate(verb);
            if (SUCCEEDED(hr) && position != nullptr)
                SetObjectRects(position, position);
            return hr;
        }
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (core_->Window() != nullptr)
                ShowWindow(core_->Window(), SW_HIDE);
            return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE:
        case OLEIVERB_PROPERTIES:  // no property pages
            return S_OK;
        case OLEIVERB_OPEN:
            return E_NOTIMPL;
        default:
            return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** verbs) {
    return OleRegEnumVerbs(identity_.clsid, verbs);
}

STDMETHODIMP COleControl::Update() {
    return S_OK;
}
STDMETHODIMP COleControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP COleControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr)
        return E_POINTER;
    *clsid = identity_.clsid;
    return S_OK;
}

STDMETHODIMP COleControl::GetUserType(DWORD form, LPOLESTR* type) {
    return OleRegGetUserType(identity_.clsid, form, type);
}

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (size == nullptr)
        return E_POINTER;
    if (size->cx != extent_.cx || size->cy != extent_.cy)
        dirty_ = true;
    extent_ = *size;
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT)
        return E_FAIL;
    if (size == nullptr)
        return E_POINTER;
    *size = extent_;
    return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (oleAdvise_ == nullptr && FAILED(CreateOleAdviseHolder(&oleAdvise_)))
        return E_OUTOFMEMORY;
    return oleAdvise_->Advise(sink, connection);
}

STDMETHODIMP COleControl::Unadvise(DWORD connection) {
    return oleAdvise_ == nullptr ? OLE_E_NOCONNECTION : oleAdvise_->Unadvise(connection);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr)
        return E_POINTER;
    *advise = nullptr;
    return oleAdvise_ == nullptr ? E_FAIL : oleAdvise_->EnumAdvise(advise);
}

// The status the module registered for the class (131473 for the content aspect).
STDMETHODIMP COleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (status == nullptr)
        return E_POINTER;
    return OleRegGetMiscStatus(identity_.clsid, aspect, status);
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// ---------------------------------------------------------------------------------------------
// Activation

HRESULT COleControl::InPlaceActivate(LONG verb) {
    if (clientSite_ == nullptr)
        return E_UNEXPECTED;
    if (!inPlaceActive_) {
        IOleInPlaceSite* site = nullptr;
        if (FAILED(clientSite_->QueryInterface(IID_IOleInPlaceSite,
                                               reinterpret_cast<void**>(&site)))) {
            return E_FAIL;
        }
        if (site->CanInPlaceActivate() != S_OK) {
            site->Release();
            return E_FAIL;
        }
        // Windowless whenever the site allows it.
        IOleInPlaceSiteWindowless* windowless = nullptr;
        site->QueryInterface(IID_IOleInPlaceSiteWindowless, reinterpret_cast<void**>(&windowless));
        windowless_ = windowless != nullptr && windowless->CanWindowlessActivate() == S_OK;
        BOOL noRedraw = FALSE;
        HRESULT hr;
        if (windowless != nullptr) {
            hr = windowless->OnInPlaceActivateEx(&noRedraw, windowless_ ? ACTIVATE_WINDOWLESS : 0);
        } else {
            hr = site->OnInPlaceActivate();
        }
        if (FAILED(hr)) {
            if (windowless != nullptr)
                windowless->Release();
            site->Release();
            windowless_ = false;
            return hr;
        }
        inPlaceSite_ = site;
        windowlessSite_ = windowless_ ? windowless : nullptr;
        if (!windowless_ && windowless != nullptr)
            windowless->Release();
        inPlaceActive_ = true;

        HWND parent = nullptr;
        site->GetWindow(&parent);
        containerWindow_ = parent;
        RECT position{0, 0, 0, 0}, clip{0, 0, 0, 0};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        site->GetWindowContext(&frame_, &uiWindow_, &position, &clip, &frameInfo);
        position_ = position;
        if (windowless_) {
            core_->SetContainerSurface(this);
        } else if (parent != nullptr) {
            core_->CreateChildWindow(parent, position);
        }
    }
    if (!windowless_ && core_->Window() != nullptr)
        ShowWindow(core_->Window(), SW_SHOW);
    if (verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY)
        return UIActivate();
    return S_OK;
}

HRESULT COleControl::UIActivate() {
    if (uiActive_)
        return S_OK;
    uiActive_ = true;
    if (windowlessSite_ != nullptr) {
        windowlessSite_->SetFocus(TRUE);
    } else if (core_->Window() != nullptr) {
        ::SetFocus(core_->Window());
    }
    inPlaceSite_->OnUIActivate();
    if (frame_ != nullptr)
        frame_->SetActiveObject(this, nullptr);
    if (uiWindow_ != nullptr)
        uiWindow_->SetActiveObject(this, nullptr);
    if (frame_ != nullptr)
        frame_->SetBorderSpace(nullptr);
    if (uiWindow_ != nullptr)
        uiWindow_->SetBorderSpace(nullptr);
    return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() {
    if (!uiActive_)
        return S_OK;
    uiActive_ = false;
    if (uiWindow_ != nullptr)
        uiWindow_->SetActiveObject(nullptr, nullptr);
    if (frame_ != nullptr)
        frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_ != nullptr)
        inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

STDMETHODIMP COleControl::InPlaceDeactivate() {
    if (!inPlaceActive_)
        return S_OK;
    UIDeactivate();
    inPlaceActive_ = false;
    core_->DestroyChildWindow();
    core_->SetContainerSurface(nullptr);
    if (windowlessSite_ != nullptr) {
        windowlessSite_->OnInPlaceDeactivateEx(TRUE);
    } else {
        inPlaceSite_->OnInPlaceDeactivate();
    }
    ReleaseInPlaceSite();
    return S_OK;
}

void COleControl::ReleaseInPlaceSite() {
    if (windowlessSite_ != nullptr)
        windowlessSite_->Release();
    if (inPlaceSite_ != nullptr)
        inPlaceSite_->Release();
    if (frame_ != nullptr)
        frame_->Release();
    if (uiWindow_ != nullptr)
        uiWindow_->Release();
    windowlessSite_ = nullptr;
    inPlaceSite_ = nullptr;
    frame_ = nullptr;
    uiWindow_ = nullptr;
    windowless_ = false;
}

STDMETHODIMP COleControl::GetWindow(HWND* window) {
    if (window == nullptr)
        return E_POINTER;
    *window = core_->Window();
    return *window != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr)
        return E_POINTER;
    position_ = *position;
    if (core_->Window() != nullptr) {
        SetWindowPos(core_->Window(), nullptr, position->left, position->top,
                     position->right - position->left, position->bottom - position->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() {
    return E_NOTIMPL;
}

// Messages a windowless container forwards, in its window's coordinates: the same handlers as
// the control's own window.
STDMETHODIMP COleControl::OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam,
                                          LRESULT* result) {
    LRESULT value = 0;
    const bool handled = core_->HandleMouseMessage(message, wparam, lparam, &value);
    if (result != nullptr)
        *result = value;
    return handled ? S_OK : S_FALSE;
}

STDMETHODIMP COleControl::GetDropTarget(IDropTarget** target) {
    if (target != nullptr)
        *target = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::TranslateAccelerator(LPMSG) {
    return S_FALSE;
}
STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::EnableModeless(BOOL) {
    return S_OK;
}

// Repaints of a windowless control: through the site; a site that cannot (some hosts answer
// E_NOTIMPL) gets its window invalidated over the control's position instead.
void COleControl::InvalidateInContainer(const RECT* rect) {
    if (windowlessSite_ != nullptr && SUCCEEDED(windowlessSite_->InvalidateRect(rect, FALSE))) {
        return;
    }
    if (containerWindow_ != nullptr)
        InvalidateRect(containerWindow_, rect ? rect : &position_, FALSE);
}

// A windowless control's DC for drawing at once: the site's, where it gives one (it clips to
// what of the control shows); else the container window's, clipped to the control's position,
// while that window is visible.
HDC COleControl::GetDrawingDC(RECT* bounds) {
    *bounds = position_;
    HDC dc = nullptr;
    if (windowlessSite_ != nullptr && SUCCEEDED(windowlessSite_->GetDC(&position_, 0, &dc)) &&
        dc != nullptr) {
        drawingDCFromSite_ = true;
        return dc;
    }
    if (containerWindow_ == nullptr || !IsWindowVisible(containerWindow_))
        return nullptr;
    dc = ::GetDC(containerWindow_);
    if (dc == nullptr)
        return nullptr;
    drawingDCFromSite_ = false;
    IntersectClipRect(dc, position_.left, position_.top, position_.right, position_.bottom);
    return dc;
}

void COleControl::ReleaseDrawingDC(HDC dc) {
    if (drawingDCFromSite_ && windowlessSite_ != nullptr) {
        windowlessSite_->ReleaseDC(dc);
    } else {
        ::ReleaseDC(containerWindow_, dc);
    }
    drawingDCFromSite_ = false;
}

// The right button's release. The menu is owned by the control's window, or windowless by the
// container's; with neither there is no menu. It opens where the button was released.
void COleControl::ShowContextMenu(void* context, HWND owner) {
    auto* self = static_cast<COleControl*>(context);
    if (owner == nullptr)
        owner = self->containerWindow_;
    if (owner == nullptr || self->contextMenu_ == nullptr)
        return;
    const DWORD position = GetMessagePos();
    self->contextMenu_(owner, POINT{GET_X_LPARAM(position), GET_Y_LPARAM(position)});
}

// ---------------------------------------------------------------------------------------------
// IOleControl

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::OnMnemonic(MSG*) {
    return S_OK;
}
STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze) {
    freezeCount_ += freeze ? 1 : (freezeCount_ > 0 ? -1 : 0);
    return S_OK;
}

}  // namespace fluxmere
