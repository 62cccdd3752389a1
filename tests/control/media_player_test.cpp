// The viewer as the DLL serves it: CMediaPlayer made by the module's class object answers all
// twenty of its interfaces in one identity, aggregated or not, and its safety options cover
// IMediaPlayer and IDispatch too.
#include <gtest/gtest.h>

#include <objsafe.h>
#include <ocidl.h>
#include <windows.h>

#include "fluxmere_library.h"
#include "tests/support/library_classes.h"

namespace fluxmere {
namespace {

const IID* const kInterfaces[] = {
    &IID_IMediaPlayer,
    &IID_IDispatch,
    &IID_IViewObjectEx,
    &IID_IViewObject2,
    &IID_IViewObject,
    &IID_IOleInPlaceObjectWindowless,
    &IID_IOleInPlaceObject,
    &IID_IOleWindow,
    &IID_IOleInPlaceActiveObject,
    &IID_IOleControl,
    &IID_IOleObject,
    &IID_IPersistStreamInit,
    &IID_IPersist,
    &IID_ISpecifyPropertyPages,
    &IID_IQuickActivate,
    &IID_IPersistStorage,
    &IID_IDataObject,
    &IID_IProvideClassInfo,
    &IID_IProvideClassInfo2,
    &IID_IObjectSafety,
    &IID_IViewerState,  // ours, after the control's
};

class MediaPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const testing::GetClassObjectFn getClassObject = testing::LibraryClassObjects();
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_EQ(getClassObject(CLSID_MediaPlayer, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory_)),
                  S_OK);
    }
    void TearDown() override {
        if (factory_ != nullptr)
            factory_->Release();
        CoUninitialize();
    }
    IClassFactory* factory_ = nullptr;
};

TEST_F(MediaPlayer, EveryInterfaceHasTheSameIdentity) {
    IUnknown* player = nullptr;
    ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&player)),
              S_OK);
    for (const IID* iid : kInterfaces) {
        IUnknown* face = nullptr;
        ASSERT_EQ(player->QueryInterface(*iid, reinterpret_cast<void**>(&face)), S_OK);
        IUnknown* identity = nullptr;
        face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(identity, player);
        identity->Release();
        face->Release();
    }
    IUnknown* none = nullptr;
    EXPECT_EQ(player->QueryInterface(IID_IPersistPropertyBag, reinterpret_cast<void**>(&none)),
              E_NOINTERFACE);
    EXPECT_EQ(
        player->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&none)),
        E_NOINTERFACE);

    IObjectSafety* safety = nullptr;
    player->QueryInterface(IID_IObjectSafety, reinterpret_cast<void**>(&safety));
    DWORD supported = 0, enabled = 9;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IMediaPlayer, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
    safety->Release();
    EXPECT_EQ(player->Release(), 0u);
}

// What a host application reads and switches: a new viewer shows "Not connected", runs no
// session, has painted nothing and plays sound; sound off stays off.
TEST_F(MediaPlayer, ViewerStateOfANewViewer) {
    IViewerState* state = nullptr;
    ASSERT_EQ(factory_->CreateInstance(nullptr, IID_IViewerState, reinterpret_cast<void**>(&state)),
              S_OK);
    LONG value = -1;
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_EQ(state->GetStatus(&value), S_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(state->IsSessionRunning(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(state->GetPicturesPainted(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(state->GetFramesReceived(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(state->GetSoundOn(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(state->SetSoundOn(VARIANT_FALSE), S_OK);
    EXPECT_EQ(state->GetSoundOn(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(state->GetStatus(nullptr), E_POINTER);
    EXPECT_EQ(state->Release(), 0u);
}

// An outer object that keeps the inner unknown and hands out the inner's interfaces.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(MediaPlayer, AggregatedEveryInterfaceAnswersForTheOuterObject) {
    Outer outer;
    ASSERT_EQ(
        factory_->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
        S_OK);
    for (const IID* iid : kInterfaces) {
        IUnknown* face = nullptr;
        ASSERT_EQ(outer.QueryInterface(*iid, reinterpret_cast<void**>(&face)), S_OK);
        IUnknown* identity = nullptr;
        face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
        identity->Release();
        face->Release();
    }
    EXPECT_EQ(outer.refs, 1u) << "the interfaces count on the outer object";
    EXPECT_EQ(outer.inner->Release(), 0u);
}

}  // namespace
}  // namespace fluxmere
