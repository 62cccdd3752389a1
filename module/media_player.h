#pragma once
// CMediaPlayer, the viewer control: IMediaPlayer (and its IDispatch) over a player session with
// the system's wave output. The control's OLE interfaces join the interface table in
// media_player.cpp; painting and the context menu build on Session().

#include <windows.h>

#include "fluxmere_library.h"
#include "module/com/com_object.h"
#include "module/com/dispatch.h"
#include "player/player_session.h"
#include "player/win32/wave_out_audio.h"

namespace fluxmere {

class CMediaPlayer : public com::ComObject,
                     public com::DispatchImpl<IMediaPlayer, &IID_IMediaPlayer>,
                     private IPlayerHost {
public:
    explicit CMediaPlayer(IUnknown* outer);
    ~CMediaPlayer() override;

    // The object map's CreateFunction.
    static HRESULT Create(IUnknown* outer, REFIID iid, void** result);
    // E_OUTOFMEMORY when the session's buffers could not be allocated.
    HRESULT FinalConstruct() override;

    FLUXMERE_DELEGATING_IUNKNOWN

    // IMediaPlayer
    STDMETHODIMP SetURL(BSTR url) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP SetRectangle(BSTR rectangle) override;

protected:
    com::InterfaceTable Interfaces() override;
    CPlayerSession& Session() { return session_; }

private:
    // IPlayerHost: nothing to repaint until the control has a window or a site.
    void Invalidate(const PlayerRect* /*rect*/) override {}

    CWaveOutAudioOutput audio_;
    CPlayerSession session_;
};

}  // namespace fluxmere
