// The control's interfaces without a container: the QueryInterface table and one identity, the
// safety options, persistence of the extent, and what the view reports.
#include <gtest/gtest.h>

#include <objsafe.h>
#include <ocidl.h>

#include "tests/control/test_viewer.h"

namespace fluxmere {
namespace {

using testing::TestViewer;

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

const IID* const kControlInterfaces[] = {
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
};

// Interfaces a control might be asked for that this one does not have.
const IID* const kAbsentInterfaces[] = {&IID_IPersistPropertyBag, &IID_IConnectionPointContainer,
                                        &IID_ISupportErrorInfo, &IID_IOleCache};

template <typename I>
I* Query(IUnknown* object, REFIID iid) {
    I* result = nullptr;
    object->QueryInterface(iid, reinterpret_cast<void**>(&result));
    return result;
}

TEST(OleControl, EveryInterfaceLeadsBackToTheOneControllingUnknown) {
    ComApartment com;
    TestViewer* viewer = new TestViewer;
    for (const IID* iid : kControlInterfaces) {
        IUnknown* face = Query<IUnknown>(viewer->unknown(), *iid);
        ASSERT_NE(face, nullptr);
        IUnknown* identity = Query<IUnknown>(face, IID_IUnknown);
        EXPECT_EQ(identity, viewer->unknown());
        // Every interface reaches every other one.
        for (const IID* other : kControlInterfaces) {
            IUnknown* again = Query<IUnknown>(face, *other);
            EXPECT_NE(again, nullptr);
            if (again != nullptr)
                again->Release();
        }
        identity->Release();
        face->Release();
    }
    for (const IID* iid : kAbsentInterfaces) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(viewer->QueryInterface(*iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(viewer->refs(), 1) << "a reference leaked";
    viewer->Release();
}

// An aggregating object: the control's interfaces count and answer through it.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        ++queries;
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, object);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    TestViewer* inner = nullptr;
    ULONG refs = 1;
    int queries = 0;
};

TEST(OleControl, AggregatedTheOuterObjectIsTheIdentity) {
    ComApartment com;
    Outer outer;
    outer.inner = new TestViewer(&outer);
    IOleObject* object = Query<IOleObject>(&outer, IID_IOleObject);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(outer.refs, 2u);
    IUnknown* identity = Query<IUnknown>(object, IID_IUnknown);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    object->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.inner->refs(), 1) << "the inner object counts only its own references";
    outer.inner->Release();
}

TEST(OleControl, SafetyOptionsFollowTheirRules) {
    ComApartment com;
    TestViewer* viewer = new TestViewer;
    IObjectSafety* safety = Query<IObjectSafety>(viewer->unknown(), IID_IObjectSafety);
    ASSERT_NE(safety, nullptr);
    DWORD supported = 9, enabled = 9;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IOleObject, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, 3u);
    EXPECT_EQ(enabled, 0u) << "nothing enabled at first";

    struct Case {
        const IID* iid;
        DWORD mask, options;
        HRESULT result;
        DWORD enabledAfter;
    };
    const Case cases[] = {
        {&IID_IPersistPropertyBag, 1, 1, E_NOINTERFACE, 0},
        {&IID_IPersistStreamInit, 4, 4, E_FAIL, 0},  // a bit outside 3
        {&IID_IPersistStreamInit, 3 | 8, 1, E_FAIL, 0},
        {&IID_IPersistStreamInit, 1, 3, S_OK, 1},  // only the masked bit
        {&IID_IUnknown, 2, 2, S_OK, 3},
        {&IID_IOleObject, 1, 0, S_OK, 2},
        {&IID_IViewObject, 0, 3, S_OK, 2},  // an empty mask changes nothing
        {&IID_IObjectSafety, 3, 0, S_OK, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(safety->SetInterfaceSafetyOptions(*c.iid, c.mask, c.options), c.result)
            << c.mask << "/" << c.options;
        safety->GetInterfaceSafetyOptions(IID_IOleObject, &supported, &enabled);
        EXPECT_EQ(enabled, c.enabledAfter) << c.mask << "/" << c.options;
    }
    safety->Release();
    viewer->Release();
}

SIZEL ExtentOf(TestViewer* viewer) {
    IOleObject* object = Query<IOleObject>(viewer->unknown(), IID_IOleObject);
    SIZEL size{0, 0};
    object->GetExtent(DVASPECT_CONTENT, &size);
    object->Release();
    return size;
}

TEST(OleControl, ExtentPersistsThroughStreamAndStorage) {
    ComApartment com;
    TestViewer* saved = new TestViewer;
    EXPECT_EQ(ExtentOf(saved).cx, 5080);
    EXPECT_EQ(ExtentOf(saved).cy, 5080);
    IOleObject* object = Query<IOleObject>(saved->unknown(), IID_IOleObject);
    SIZEL size{12345, 678};
    ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    object->Release();

    // Through a stream.
    IPersistStreamInit* persist =
        Query<IPersistStreamInit>(saved->unknown(), IID_IPersistStreamInit);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    persist->Release();
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    const ULONG bytes = stat.cbSize.LowPart;

    TestViewer* loaded = new TestViewer;
    IPersistStreamInit* loader =
        Query<IPersistStreamInit>(loaded->unknown(), IID_IPersistStreamInit);
    const LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(loader->Load(stream), S_OK);
    EXPECT_EQ(ExtentOf(loaded).cx, 12345);
    EXPECT_EQ(ExtentOf(loaded).cy, 678);

    // A truncated stream and a foreign one fail and change nothing.
    TestViewer* fresh = new TestViewer;
    IPersistStreamInit* freshLoader =
        Query<IPersistStreamInit>(fresh->unknown(), IID_IPersistStreamInit);
    for (ULONG keep = 0; keep < bytes; keep += 3) {
        IStream* shortStream = nullptr;
        CreateStreamOnHGlobal(nullptr, TRUE, &shortStream);
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        ULARGE_INTEGER count{};
        count.QuadPart = keep;
        stream->CopyTo(shortStream, count, nullptr, nullptr);
        shortStream->Seek(start, STREAM_SEEK_SET, nullptr);
        EXPECT_TRUE(FAILED(freshLoader->Load(shortStream))) << keep << " bytes";
        shortStream->Release();
    }
    IStream* garbage = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &garbage);
    const char noise[] = "not a saved control at all";
    garbage->Write(noise, sizeof noise, nullptr);
    garbage->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(freshLoader->Load(garbage)));
    garbage->Release();
    EXPECT_EQ(ExtentOf(fresh).cx, 5080);
    EXPECT_EQ(ExtentOf(fresh).cy, 5080);

    // Through a storage.
    IStorage* storage = nullptr;
    ASSERT_EQ(
        StgCreateDocfile(nullptr,
                         STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE,
                         0, &storage),
        S_OK);
    IPersistStorage* storageSaver = Query<IPersistStorage>(saved->unknown(), IID_IPersistStorage);
    ASSERT_EQ(storageSaver->Save(storage, FALSE), S_OK);
    EXPECT_EQ(storageSaver->SaveCompleted(nullptr), S_OK);
    storageSaver->Release();
    IPersistStorage* storageLoader = Query<IPersistStorage>(fresh->unknown(), IID_IPersistStorage);
    IStorage* empty = nullptr;
    StgCreateDocfile(nullptr,
                     STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                     &empty);
    EXPECT_TRUE(FAILED(storageLoader->Load(empty))) << "no saved control in it";
    EXPECT_EQ(ExtentOf(fresh).cx, 5080);
    ASSERT_EQ(storageLoader->Load(storage), S_OK);
    EXPECT_EQ(ExtentOf(fresh).cx, 12345);
    EXPECT_EQ(ExtentOf(fresh).cy, 678);
    storageLoader->Release();
    empty->Release();
    storage->Release();

    freshLoader->Release();
    loader->Release();
    stream->Release();
    fresh->Release();
    loaded->Release();
    saved->Release();
}

TEST(OleControl, ViewIsOpaqueAndReportsItsExtent) {
    ComApartment com;
    TestViewer* viewer = new TestViewer;
    IViewObjectEx* view = Query<IViewObjectEx>(viewer->unknown(), IID_IViewObjectEx);
    DWORD status = 0;
    ASSERT_EQ(view->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, 3u);
    const RECT bounds{10, 10, 50, 40};
    DWORD hit = 0;
    EXPECT_EQ(view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{10, 10}, 0, &hit), S_OK);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_HIT));
    view->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{50, 20}, 0, &hit);
    EXPECT_EQ(hit, static_cast<DWORD>(HITRESULT_OUTSIDE));
    SIZEL size{};
    ASSERT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
    EXPECT_EQ(size.cx, 5080);
    DVEXTENTINFO info = {sizeof info, DVEXTENT_CONTENT, {0, 0}};
    ASSERT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
    EXPECT_EQ(size.cy, 5080);
    view->Release();

    ISpecifyPropertyPages* pages =
        Query<ISpecifyPropertyPages>(viewer->unknown(), IID_ISpecifyPropertyPages);
    CAUUID list = {7, reinterpret_cast<GUID*>(1)};
    EXPECT_EQ(pages->GetPages(&list), S_OK);
    EXPECT_EQ(list.cElems, 0u);
    EXPECT_EQ(list.pElems, nullptr);
    pages->Release();

    IProvideClassInfo2* info2 =
        Query<IProvideClassInfo2>(viewer->unknown(), IID_IProvideClassInfo2);
    GUID source;
    EXPECT_EQ(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL) << "no events";
    EXPECT_EQ(source, GUID_NULL);
    info2->Release();
    viewer->Release();
}

}  // namespace
}  // namespace fluxmere
