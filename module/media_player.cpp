#include "module/media_player.h"

#include "module/com/ansi_text.h"
#include "module/download_wiring.h"

namespace fluxmere {

namespace {

// QueryInterface searches this table in order: IMediaPlayer and its IDispatch, then the
// control's interfaces, then ours for host applications (after all the others, so that their
// order stays as pages and containers have always found it).
const com::InterfaceEntry kInterfaces[] = {
    FLUXMERE_INTERFACE_ENTRY(IID_IMediaPlayer, CMediaPlayer, IMediaPlayer),
    FLUXMERE_INTERFACE_ENTRY(IID_IDispatch, CMediaPlayer, IMediaPlayer),
    FLUXMERE_OLE_CONTROL_ENTRIES(CMediaPlayer),
    FLUXMERE_INTERFACE_ENTRY(IID_IViewerState, CMediaPlayer, IViewerState),
};

VARIANT_BOOL VariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

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

// ---------------------------------------------------------------------------------------------
// IViewerState

HRESULT CMediaPlayer::GetStatus(LONG* status) {
    if (status == nullptr)
        return E_POINTER;
    *status = Session().Status();
    return S_OK;
}

HRESULT CMediaPlayer::IsSessionRunning(VARIANT_BOOL* running) {
    if (running == nullptr)
        return E_POINTER;
    *running = VariantBool(Session().IsSessionRunning());
    return S_OK;
}

HRESULT CMediaPlayer::GetPicturesPainted(LONG* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = static_cast<LONG>(static_cast<uint32_t>(control_.Core().PicturesPainted()));
    return S_OK;
}

HRESULT CMediaPlayer::GetFramesReceived(LONG* count) {
    if (count == nullptr)
        return E_POINTER;
    *count = static_cast<LONG>(static_cast<uint32_t>(Session().Counters().framesDelivered));
    return S_OK;
}

HRESULT CMediaPlayer::SetSoundOn(VARIANT_BOOL on) {
    Session().SetSoundOn(on != VARIANT_FALSE);
    return S_OK;
}

HRESULT CMediaPlayer::GetSoundOn(VARIANT_BOOL* on) {
    if (on == nullptr)
        return E_POINTER;
    *on = VariantBool(Session().SoundOn());
    return S_OK;
}

}  // namespace fluxmere
