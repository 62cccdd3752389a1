#pragma once
// What the control tests share: a stand-in for the viewer's COM object (a COM object of the
// module's kind whose interface table is the control's rows, the product's own), the messages
// of this thread, and the screen read back into a canvas. Windows only.

#include <windows.h>

#include <functional>

#include "module/com/com_object.h"
#include "module/control/ole_control.h"
#include "tests/player/win32/gdi_canvas.h"

namespace fluxmere::testing {

// {5B0C9A61-2E0B-4C39-9B8E-6E3A1C2F7D01}, {5B0C9A62-...}: made up for the tests.
constexpr ControlIdentity kTestIdentity = {
    {0x5b0c9a61, 0x2e0b, 0x4c39, {0x9b, 0x8e, 0x6e, 0x3a, 0x1c, 0x2f, 0x7d, 0x01}},
    {0x5b0c9a62, 0x2e0b, 0x4c39, {0x9b, 0x8e, 0x6e, 0x3a, 0x1c, 0x2f, 0x7d, 0x01}}};

class TestViewer final : public com::ComObject {
public:
    // outer: the aggregating object, or nullptr for a viewer of its own. Made with one reference
    // on its own IUnknown, which Release drops.
    explicit TestViewer(IUnknown* outer = nullptr)
        : ComObject(outer), control_(Controlling(), kTestIdentity) {
        Inner()->AddRef();
    }

    // The viewer's own IUnknown: its identity when not aggregated.
    IUnknown* unknown() { return Inner(); }
    HRESULT QueryInterface(REFIID iid, void** object) {
        return Inner()->QueryInterface(iid, object);
    }
    ULONG Release() { return Inner()->Release(); }
    // The references on its own IUnknown.
    ULONG refs() {
        Inner()->AddRef();
        return Inner()->Release();
    }

    // The OLE control, as CMediaPlayer::Control (the interface table reaches it through this).
    COleControl& Control() { return control_; }

protected:
    // The control's rows, as CMediaPlayer lists them after its own.
    com::InterfaceTable Interfaces() override {
        static const com::InterfaceEntry kInterfaces[] = {FLUXMERE_OLE_CONTROL_ENTRIES(TestViewer)};
        return com::MakeInterfaceTable(kInterfaces);
    }

private:
    ~TestViewer() override = default;

    COleControl control_;
};

inline void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < ms);
}

inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = 20000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > limitMs)
            return false;
        Pump(10);
    }
    return true;
}

// What the window shows in its client area, as painted on the screen.
inline void Capture(HWND window, GdiCanvas& canvas) {
    UpdateWindow(window);
    HDC dc = GetDC(window);
    BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), dc, 0, 0, SRCCOPY);
    ReleaseDC(window, dc);
}

}  // namespace fluxmere::testing
