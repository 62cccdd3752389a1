#pragma once
// One camera of fluxmere-viewer's wall: the registered viewer control (or the one of --dll) in a
// host window of atl.dll's ActiveX host, driven as a page drives it (SetRectangle, SetURL, Stop
// through IDispatch) and looked after through its IViewerState: the reconnect rules
// (player/reconnect_policy.h), its sound, and what its strip says. Windows only; every call on
// the window's thread.

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <string>

#include "fluxmere_library.h"
#include "player/reconnect_policy.h"
#include "tools/win32/window_picture.h"

namespace fluxmere::tools {

// atl.dll's ActiveX host, loaded once for every cell.
class AtlLibrary {
public:
    using GetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
    AtlLibrary();
    ~AtlLibrary();
    AtlLibrary(const AtlLibrary&) = delete;
    AtlLibrary& operator=(const AtlLibrary&) = delete;
    bool ready() const { return ready_; }
    GetControlFn getControl = nullptr;
    AttachFn attach = nullptr;

private:
    HMODULE module_ = nullptr;
    bool ready_ = false;
};

// Where the control comes from: the registry by ProgID, or a DLL's class object.
struct ControlSource {
    std::wstring progid = L"FluxmereLibrary.MediaPlayer";
    std::string dll;  // empty: by ProgID
};

class CameraCell {
public:
    // number: 1-based, as the strip and the messages name the camera.
    CameraCell(int number, std::string url) : number_(number), url_(std::move(url)) {}
    ~CameraCell();  // lets go of the control (its host window goes with the frame)
    CameraCell(const CameraCell&) = delete;
    CameraCell& operator=(const CameraCell&) = delete;

    // The control in a host window, a child of frame. False after saying why on standard error.
    bool Create(AtlLibrary& atl, const ControlSource& source, HWND frame);
    // The picture's place in the frame; the control is told a new size with SetRectangle. A
    // hidden cell's session goes on.
    void Place(const RECT& picture, bool visible);
    // Sound on or off (a muted viewer holds no sound output).
    void SetSound(bool on);
    // One look, a few times a second: the reconnect rules stop and start the session. True when
    // the strip's text changed; the changes that matter are printed ("cell 2 URL: playing").
    bool Tick(uint64_t nowMs);
    // What the control draws now, at its picture's size.
    bool TakePicture(BgrPicture* picture);
    void Stop();
    void Release();

    int number() const { return number_; }
    const std::string& url() const { return url_; }
    const char* stripText() const { return strip_.text; }
    bool shown() const { return shown_; }
    HWND host() const { return host_; }

private:
    HRESULT CallWithText(const wchar_t* method, const std::wstring& text);
    HRESULT CallWithoutArguments(const wchar_t* method);
    void Print(const char* text);

    const int number_;
    const std::string url_;
    IUnknown* unknown_ = nullptr;
    IDispatch* control_ = nullptr;
    IViewerState* state_ = nullptr;  // none: an older control, without reconnecting
    HWND host_ = nullptr;
    int width_ = 0, height_ = 0;
    bool shown_ = false;
    bool legacyStarted_ = false;
    uint64_t lastLegacyCheck_ = 0;
    ReconnectPolicy policy_;
    CameraText strip_ = {};
};

std::wstring Widen(const std::string& text);

}  // namespace fluxmere::tools
