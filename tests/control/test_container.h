#pragma once
// A small container of our own: a top-level window with one control site that can allow or
// refuse windowless activation, paints a windowless control through IViewObject::Draw at the
// site's position, and forwards the mouse to it. Windows only.

#include <ocidl.h>
#include <windows.h>

namespace fluxmere::testing {

class TestContainer : public IOleClientSite, public IOleInPlaceSiteWindowless {
public:
    // A window with a client area of width x height painted in kBackground; the control sits
    // at position.
    TestContainer(int width, int height, const RECT& position, bool allowWindowless);
    ~TestContainer();

    static constexpr COLORREF kBackground = RGB(0x20, 0x40, 0x60);

    // Embeds and activates control (its IUnknown) with verb; S_OK or the control's failure.
    HRESULT Embed(IUnknown* control, LONG verb = OLEIVERB_INPLACEACTIVATE);
    // Lets go of the control: deactivates, closes and forgets it.
    void Unembed();
    HWND window() const { return window_; }
    const RECT& position() const { return position_; }
    bool activatedWindowless() const { return windowless_; }
    int invalidations() const { return invalidations_; }

    // IUnknown (the site lives on the stack of the test: no counting)
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceSite, IOleInPlaceSiteEx, IOleInPlaceSiteWindowless
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) override;
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { return S_OK; }
    STDMETHODIMP RequestUIActivate() override { return S_OK; }
    STDMETHODIMP CanWindowlessActivate() override { return allowWindowless_ ? S_OK : S_FALSE; }
    STDMETHODIMP GetCapture() override { return S_FALSE; }
    STDMETHODIMP SetCapture(BOOL) override { return S_OK; }
    STDMETHODIMP GetFocus() override { return S_FALSE; }
    STDMETHODIMP SetFocus(BOOL) override { return S_OK; }
    STDMETHODIMP GetDC(LPCRECT, DWORD, HDC*) override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseDC(HDC) override { return E_NOTIMPL; }
    STDMETHODIMP InvalidateRect(LPCRECT rect, BOOL erase) override;
    STDMETHODIMP InvalidateRgn(HRGN, BOOL erase) override { return InvalidateRect(nullptr, erase); }
    STDMETHODIMP ScrollRect(INT, INT, LPCRECT, LPCRECT) override { return E_NOTIMPL; }
    STDMETHODIMP AdjustRect(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP OnDefWindowMessage(UINT, WPARAM, LPARAM, LRESULT*) override { return S_FALSE; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);

    HWND window_ = nullptr;
    RECT position_;
    bool allowWindowless_;
    bool windowless_ = false;
    int invalidations_ = 0;
    IOleObject* object_ = nullptr;
    IViewObject* view_ = nullptr;
    IOleInPlaceObjectWindowless* inPlace_ = nullptr;
};

}  // namespace fluxmere::testing
