#pragma once
// The viewer's OLE control interfaces: everything a container needs to embed, activate (in its
// own child window or windowless), draw, persist and query the viewer. The COM object that owns
// it answers IUnknown and its own interfaces, and lists the control's interfaces in its one
// interface table with FLUXMERE_OLE_CONTROL_ENTRIES (below), after its own.
//
// Every interface forwards IUnknown to the owner's controlling unknown (the outer object when
// aggregated), so the viewer has one identity. All calls come on the control's thread.

#ifdef _WIN32

#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <memory>

#include "module/com/com_object.h"
#include "player/win32/viewer_core.h"

namespace fluxmere {

// The identity the control reports: its class and type library (version 1.0).
struct ControlIdentity {
    CLSID clsid;
    GUID libid;
};

class COleControl : public IViewObjectEx,
                    public IOleInPlaceObjectWindowless,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IOleObject,
                    public IPersistStreamInit,
                    public ISpecifyPropertyPages,
                    public IQuickActivate,
                    public IPersistStorage,
                    public IDataObject,
                    public IProvideClassInfo2,
                    public IObjectSafety,
                    private IContainerSurface {
public:
    // Extent at construction, natural and current: 2 x 2 inches in HIMETRIC.
    static constexpr LONG kInitialExtent = 5080;
    static constexpr DWORD kViewStatus = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND;
    static constexpr DWORD kSafetyOptions =
        INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

    // outer: the controlling unknown, not counted (it owns this object).
    COleControl(IUnknown* outer, const ControlIdentity& identity);
    virtual ~COleControl();
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    bool IsValid() const { return core_ && core_->IsValid(); }
    // What the right button's release shows: the composition root gives the download manager's
    // menu; without one the release is taken and nothing is shown.
    using ContextMenu = void (*)(HWND owner, POINT screenPoint);
    void SetContextMenu(ContextMenu show) { contextMenu_ = show; }
    CViewerCore& Core() { return *core_; }

    bool IsInPlaceActive() const { return inPlaceActive_; }
    bool IsWindowless() const { return windowless_; }
    bool IsUIActive() const { return uiActive_; }
    SIZEL Extent() const { return extent_; }

    // IUnknown, forwarded to the controlling unknown (one body for every base).
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHODIMP Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* device,
                      HDC targetDC, HDC drawDC, LPCRECTL bounds, LPCRECTL windowBounds,
                      BOOL(STDMETHODCALLTYPE* cont)(ULONG_PTR), ULONG_PTR contArg) override;
    STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override;
    STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override;
    STDMETHODIMP Unfreeze(DWORD) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    STDMETHODIMP GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
    STDMETHODIMP GetRect(DWORD aspect, LPRECTL rect) override;
    STDMETHODIMP GetViewStatus(DWORD* status) override;
    STDMETHODIMP QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT point, LONG closeHint,
                               DWORD* result) override;
    STDMETHODIMP QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG closeHint,
                              DWORD* result) override;
    STDMETHODIMP GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDC,
                                  DVEXTENTINFO* info, LPSIZEL size) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT message, WPARAM wparam, LPARAM lparam,
                                 LRESULT* result) override;
    STDMETHODIMP GetDropTarget(IDropTarget** target) override;
    STDMETHODIMP TranslateAccelerator(LPMSG) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL) override;
    STDMETHODIMP OnDocWindowActivate(BOOL) override;
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    STDMETHODIMP EnableModeless(BOOL) override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
    STDMETHODIMP OnMnemonic(MSG*) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override;
    STDMETHODIMP FreezeEvents(BOOL) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override;
    STDMETHODIMP Close(DWORD saveOption) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override;
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override;
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override;
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override;
    STDMETHODIMP DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index,
                        HWND parent, LPCRECT position) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override;
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override;
    STDMETHODIMP Unadvise(DWORD connection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override;
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override;

    // IPersist, IPersistStreamInit, IPersistStorage: "_cx" and "_cy"
    STDMETHODIMP GetClassID(CLSID* clsid) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM stream) override;
    STDMETHODIMP Save(LPSTREAM stream, BOOL clearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override;
    STDMETHODIMP InitNew() override;
    STDMETHODIMP InitNew(IStorage* storage) override;
    STDMETHODIMP Load(IStorage* storage) override;
    STDMETHODIMP Save(IStorage* storage, BOOL sameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* storage) override;
    STDMETHODIMP HandsOffStorage() override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    STDMETHODIMP SetContentExtent(LPSIZEL size) override;
    STDMETHODIMP GetContentExtent(LPSIZEL size) override;

    // IDataObject
    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override;
    STDMETHODIMP QueryGetData(FORMATETC* format) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override;
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override;
    STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                         DWORD* connection) override;
    STDMETHODIMP DUnadvise(DWORD connection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** advise) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD enabled) override;

private:
    HRESULT InPlaceActivate(LONG verb);
    HRESULT UIActivate();
    void ReleaseInPlaceSite();
    // IContainerSurface: repaints of a windowless control.
    void InvalidateInContainer(const RECT* rect) override;
    HDC GetDrawingDC(RECT* bounds) override;
    void ReleaseDrawingDC(HDC dc) override;
    static void ShowContextMenu(void* context, HWND owner);

    IUnknown* const outer_;
    const ControlIdentity identity_;
    std::unique_ptr<CViewerCore> core_;
    ContextMenu contextMenu_ = nullptr;

    IOleClientSite* clientSite_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;
    IOleInPlaceSiteWindowless* windowlessSite_ = nullptr;  // when active windowless
    IOleInPlaceFrame* frame_ = nullptr;
    IOleInPlaceUIWindow* uiWindow_ = nullptr;
    IOleAdviseHolder* oleAdvise_ = nullptr;
    IDataAdviseHolder* dataAdvise_ = nullptr;
    IAdviseSink* viewSink_ = nullptr;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
    HWND containerWindow_ = nullptr;
    bool drawingDCFromSite_ = false;  // the DC of GetDrawingDC goes back to the site
    RECT position_ = {0, 0, 0, 0};    // in the container's window
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool windowless_ = false;
    bool dirty_ = false;
    SIZEL extent_ = {kInitialExtent, kInitialExtent};
    SIZEL naturalExtent_ = {kInitialExtent, kInitialExtent};
    DWORD safetyEnabled_ = 0;
    int freezeCount_ = 0;
};

// An interface of the control of Object, a COM object that reaches its COleControl through
// Control().
template <typename Object, typename Interface>
void* OleControlCast(com::ComObject* object) {
    return static_cast<Interface*>(&static_cast<Object*>(object)->Control());
}

#define FLUXMERE_OLE_CONTROL_ENTRY(iid, Object, Interface) \
    { &(iid), &::fluxmere::OleControlCast<Object, Interface> }

// The control's rows of its owner's interface table, in the order QueryInterface searches them.
#define FLUXMERE_OLE_CONTROL_ENTRIES(Object)                                                      \
    FLUXMERE_OLE_CONTROL_ENTRY(IID_IViewObjectEx, Object, IViewObjectEx),                         \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IViewObject2, Object, IViewObjectEx),                      \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IViewObject, Object, IViewObjectEx),                       \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleInPlaceObjectWindowless, Object,                       \
                                   IOleInPlaceObjectWindowless),                                  \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleInPlaceObject, Object, IOleInPlaceObjectWindowless),   \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleWindow, Object, IOleInPlaceObjectWindowless),          \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleInPlaceActiveObject, Object, IOleInPlaceActiveObject), \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleControl, Object, IOleControl),                         \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IOleObject, Object, IOleObject),                           \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IPersistStreamInit, Object, IPersistStreamInit),           \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IPersist, Object, IPersistStreamInit),                     \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_ISpecifyPropertyPages, Object, ISpecifyPropertyPages),     \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IQuickActivate, Object, IQuickActivate),                   \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IPersistStorage, Object, IPersistStorage),                 \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IDataObject, Object, IDataObject),                         \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IProvideClassInfo, Object, IProvideClassInfo2),            \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IProvideClassInfo2, Object, IProvideClassInfo2),           \
        FLUXMERE_OLE_CONTROL_ENTRY(IID_IObjectSafety, Object, IObjectSafety)

}  // namespace fluxmere

#endif  // _WIN32
