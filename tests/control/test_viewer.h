#pragma once
// What the control tests share: a stand-in for the viewer's COM object (it answers IUnknown and
// hands every other interface to the OLE control), the messages of this thread, and the screen
// read back into a canvas. Windows only.

#include <windows.h>

#include <functional>

#include "module/control/ole_control.h"
#include "tests/player/win32/gdi_canvas.h"

namespace fluxmere::testing {

// {5B0C9A61-2E0B-4C39-9B8E-6E3A1C2F7D01}, {5B0C9A62-...}: made up for the tests.
constexpr ControlIdentity kTestIdentity = {
    {0x5b0c9a61, 0x2e0b, 0x4c39, {0x9b, 0x8e, 0x6e, 0x3a, 0x1c, 0x2f, 0x7d, 0x01}},
    {0x5b0c9a62, 0x2e0b, 0x4c39, {0x9b, 0x8e, 0x6e, 0x3a, 0x1c, 0x2f, 0x7d, 0x01}}};

class TestViewer : public IUnknown {
public:
    // outer: the aggregating object, or nullptr for a viewer of its own.
    explicit TestViewer(IUnknown* outer = nullptr)
        : control_(outer != nullptr ? outer : this, kTestIdentity) {}
    virtual ~TestViewer() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return control_.QueryControlInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return refs;
    }

    COleControl& control() { return control_; }
    LONG refs() const { return refs_; }

private:
    LONG refs_ = 1;
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
