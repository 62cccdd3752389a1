#include "module/media_player.h"

#include "module/com/ansi_text.h"
#include "module/download_wiring.h"

namespace fluxmere {

namespace {

// An interface of the control's OLE part.
template <typename Interface>
void* ControlCast(com::ComObject* object) {
    return static_cast<Interface*>(&static_cast<CMediaPlayer*>(object)->Control());
}

#define FLUXMERE_CONTROL_ENTRY(iid, Interface) \
    { &(iid), &ControlCast<Interface> }

// QueryInterface searches this table in order.
const com::InterfaceEntry kInterfaces[] = {
    FLUXMERE_INTERFACE_ENTRY(IID_IMediaPlayer, CMediaPlayer, IMediaPlayer),
    FLUXMERE_INTERFACE_ENTRY(IID_IDispatch, CMediaPlayer, IMediaPlayer),
    FLUXMERE_CONTROL_ENTRY(IID_IViewObjectEx, IViewObjectEx),
    FLUXMERE_CONTROL_ENTRY(IID_IViewObject2, IViewObjectEx),
    FLUXMERE_CONTROL_ENTRY(IID_IViewObject, IViewObjectEx),
    FLUXMERE_CONTROL_ENTRY(IID_IOleInPlaceObjectWindowless, IOleInPlaceObjectWindowless),
    FLUXMERE_CONTROL_ENTRY(IID_IOleInPlaceObject, IOleInPlaceObjectWindowless),
    FLUXMERE_CONTROL_ENTRY(IID_IOleWindow, IOleInPlaceObjectWindowless),
    FLUXMERE_CONTROL_ENTRY(IID_IOleInPlaceActiveObject, IOleInPlaceActiveObject),
    FLUXMERE_CONTROL_ENTRY(IID_IOleControl, IOleControl),
    FLUXMERE_CONTROL_ENTRY(IID_IOleObject, IOleObject),
    FLUXMERE_CONTROL_ENTRY(IID_IPersistStreamInit, IPersistStreamInit),
    FLUXMERE_CONTROL_ENTRY(IID_IPersist, IPersistStreamInit),
    FLUXMERE_CONTROL_ENTRY(IID_ISpecifyPropertyPages, ISpecifyPropertyPages),
    FLUXMERE_CONTROL_ENTRY(IID_IQuickActivate, IQuickActivate),
    FLUXMERE_CONTROL_ENTRY(IID_IPersistStorage, IPersistStorage),
    FLUXMERE_CONTROL_ENTRY(IID_IDataObject, IDataObject),
    FLUXMERE_CONTROL_ENTRY(IID_IProvideClassInfo, IProvideClassInfo2),
    FLUXMERE_CONTROL_ENTRY(IID_IProvideClassInfo2, IProvideClassInfo2),
    FLUXMERE_CONTROL_ENTRY(IID_IObjectSafety, IObjectSafety),
};

}  // namespace

CMediaPlayer::CMediaPlayer(IUnknown* outer)
    : ComObject(outer),
      control_(Controlling(), ControlIdentity{CLSID_MediaPlayer, LIBID_FLUXMERELIBRARYLib}) {
    control_.SetContextMenu(&ShowModuleViewerMenu);
}

// The control deactivates, then the session stops and joins its threads.
CMediaPlayer::~CMediaPlayer() = default;

HRESULT CMediaPlayer::Create(IUnknown* outer, REFIID iid, void** result) {
    return com::CreateObject<CMediaPlayer>(outer, iid, result);
}

HRESULT CMediaPlayer::FinalConstruct() {
    return control_.IsValid() ? S_OK : E_OUTOFMEMORY;
}

com::InterfaceTable CMediaPlayer::Interfaces() {
    return com::MakeInterfaceTable(kInterfaces);
}

// The page learns what happens to a session from the status screens, not from results.
HRESULT CMediaPlayer::SetURL(BSTR url) {
    const com::AnsiText text(url);
    if (!text.IsValid())
        return E_OUTOFMEMORY;
    Session().SetURL(text.c_str());
    return S_OK;
}

HRESULT CMediaPlayer::Stop() {
    Session().Stop();
    return S_OK;
}

HRESULT CMediaPlayer::SetRectangle(BSTR rectangle) {
    const com::AnsiText text(rectangle);
    if (!text.IsValid())
        return E_OUTOFMEMORY;
    Session().SetRectangle(text.c_str());
    return S_OK;
}

}  // namespace fluxmere
