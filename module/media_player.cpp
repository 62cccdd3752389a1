#include "module/media_player.h"

#include "module/com/ansi_text.h"

namespace fluxmere {

namespace {

// QueryInterface searches this table in order.
const com::InterfaceEntry kInterfaces[] = {
    FLUXMERE_INTERFACE_ENTRY(IID_IMediaPlayer, CMediaPlayer, IMediaPlayer),
    FLUXMERE_INTERFACE_ENTRY(IID_IDispatch, CMediaPlayer, IMediaPlayer),
};

}  // namespace

CMediaPlayer::CMediaPlayer(IUnknown* outer) : ComObject(outer), session_(audio_, this) {}

CMediaPlayer::~CMediaPlayer() = default;  // the session stops and joins its threads

HRESULT CMediaPlayer::Create(IUnknown* outer, REFIID iid, void** result) {
    return com::CreateObject<CMediaPlayer>(outer, iid, result);
}

HRESULT CMediaPlayer::FinalConstruct() {
    return session_.IsValid() ? S_OK : E_OUTOFMEMORY;
}

com::InterfaceTable CMediaPlayer::Interfaces() {
    return com::MakeInterfaceTable(kInterfaces);
}

// The page learns what happens to a session from the status screens, not from results.
HRESULT CMediaPlayer::SetURL(BSTR url) {
    const com::AnsiText text(url);
    if (!text.IsValid())
        return E_OUTOFMEMORY;
    session_.SetURL(text.c_str());
    return S_OK;
}

HRESULT CMediaPlayer::Stop() {
    session_.Stop();
    return S_OK;
}

HRESULT CMediaPlayer::SetRectangle(BSTR rectangle) {
    const com::AnsiText text(rectangle);
    if (!text.IsValid())
        return E_OUTOFMEMORY;
    session_.SetRectangle(text.c_str());
    return S_OK;
}

}  // namespace fluxmere
