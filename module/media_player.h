#pragma once
// CMediaPlayer, the viewer control: IMediaPlayer (and its IDispatch) over the player session, the
// OLE control interfaces through which a container embeds, activates, draws and persists it
// (module/control/ole_control.h), and IViewerState for applications that host many viewers. One
// interface table in media_player.cpp lists them all.

#include <windows.h>

#include "fluxmere_library.h"
#include "module/com/com_object.h"
#include "module/com/dispatch.h"
#include "module/control/ole_control.h"

namespace fluxmere {

class CMediaPlayer : public com::ComObject,
                     public com::DispatchImpl<IMediaPlayer, &IID_IMediaPlayer>,
                     public IViewerState {
public:
    explicit CMediaPlayer(IUnknown* outer);
    ~CMediaPlayer() override;

    // The object map's CreateFunction.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** result);
    // E_OUTOFMEMORY when the session's buffers or the control's window could not be made.
    HRESULT FinalConstruct() override;

    FLUXMERE_DELEGATING_IUNKNOWN

    // IMediaPlayer
    STDMETHODIMP SetURL(BSTR url) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP SetRectangle(BSTR rectangle) override;

    // IViewerState
    STDMETHODIMP GetStatus(LONG* status) override;
    STDMETHODIMP IsSessionRunning(VARIANT_BOOL* running) override;
    STDMETHODIMP GetPicturesPainted(LONG* count) override;
    STDMETHODIMP GetFramesReceived(LONG* count) override;
    STDMETHODIMP SetSoundOn(VARIANT_BOOL on) override;
    STDMETHODIMP GetSoundOn(VARIANT_BOOL* on) override;

    // The OLE control interfaces (the interface table reaches them through this).
    COleControl& Control() { return control_; }

protected:
    com::InterfaceTable Interfaces() override;
    CPlayerSession& Session() { return control_.Core().Session(); }

private:
    COleControl control_;
};

}  // namespace fluxmere
