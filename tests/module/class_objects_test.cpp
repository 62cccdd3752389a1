// The module's class objects through its exports: the object map, the cached class factories,
// the lock count that DllCanUnloadNow reads, QueryInterface, aggregation and IDispatch.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <vector>

#include "fluxmere_library.h"
#include "tests/module/module_library.h"

namespace fluxmere::testing {
namespace {

// Any class id the module does not serve.
constexpr CLSID kUnknownClass = {
    0x1b2d3c4e, 0x5f60, 0x4718, {0x89, 0x9a, 0xab, 0xbc, 0xcd, 0xde, 0xef, 0xf0}};

struct ServedClass {
    const char* name;
    const CLSID* clsid;
    const IID* dual;  // the class's own dual interface
};

const ServedClass kClasses[] = {
    {"MediaPlayer", &CLSID_MediaPlayer, &IID_IMediaPlayer},
    {"FluxmereDownloadManager", &CLSID_FluxmereDownloadManager, &IID_IFluxmereDownloadManager},
};

class ClassObjects : public ::testing::TestWithParam<ServedClass> {
protected:
    void SetUp() override {
        ASSERT_EQ(GetModuleHandleA("FluxmereLibrary.dll"), nullptr) << "a module left loaded";
        module_ = new ModuleLibrary;
        ASSERT_TRUE(module_->loaded()) << GetLastError();
    }
    void TearDown() override {
        delete module_;
        EXPECT_EQ(GetModuleHandleA("FluxmereLibrary.dll"), nullptr) << "the module stays loaded";
    }

    Apartment apartment_;
    ModuleLibrary* module_ = nullptr;
};

INSTANTIATE_TEST_SUITE_P(BothClasses, ClassObjects, ::testing::ValuesIn(kClasses),
                         [](const auto& info) { return std::string(info.param.name); });

struct FactoryRequest {
    const ModuleLibrary* module;
    const CLSID* clsid;
    HANDLE go;
    IClassFactory* factory = nullptr;
    HRESULT hr = E_FAIL;
};

DWORD WINAPI RequestFactory(void* argument) {
    auto* request = static_cast<FactoryRequest*>(argument);
    WaitForSingleObject(request->go, INFINITE);
    request->hr = request->module->GetClassObject(*request->clsid, IID_IClassFactory,
                                                  reinterpret_cast<void**>(&request->factory));
    return 0;
}

// Eight threads ask a fresh module for the same class factory at once: one factory is made.
TEST_P(ClassObjects, ConcurrentFirstRequestsGetOneFactory) {
    constexpr int kThreads = 8;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<FactoryRequest> requests(kThreads, FactoryRequest{module_, GetParam().clsid, go});
    std::vector<HANDLE> threads;
    for (FactoryRequest& request : requests)
        threads.push_back(CreateThread(nullptr, 0, RequestFactory, &request, 0, nullptr));
    SetEvent(go);
    WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(go);

    for (const FactoryRequest& request : requests) {
        EXPECT_EQ(request.hr, S_OK);
        EXPECT_EQ(request.factory, requests[0].factory);
    }
    EXPECT_EQ(module_->CanUnloadNow(), S_FALSE) << "clients hold the factory";
    for (FactoryRequest& request : requests) {
        if (request.factory != nullptr)
            request.factory->Release();
    }
    EXPECT_EQ(module_->CanUnloadNow(), S_OK);
}

TEST_P(ClassObjects, FactoryIsKeptAndAnswersForItsInterfacesOnly) {
    IClassFactory* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(module_->GetClassObject(*GetParam().clsid, IID_IClassFactory,
                                      reinterpret_cast<void**>(&first)),
              S_OK);
    ASSERT_EQ(
        module_->GetClassObject(*GetParam().clsid, IID_IUnknown, reinterpret_cast<void**>(&second)),
        S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(first), second);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(module_->GetClassObject(*GetParam().clsid, IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    first->Release();
    second->Release();
}

TEST_P(ClassObjects, LockCountFollowsObjectsAndServerLocks) {
    EXPECT_EQ(module_->CanUnloadNow(), S_OK);

    IUnknown* object = nullptr;
    ASSERT_EQ(module_->Create(*GetParam().clsid, nullptr, IID_IUnknown,
                              reinterpret_cast<void**>(&object)),
              S_OK);
    EXPECT_EQ(module_->CanUnloadNow(), S_FALSE) << "a live object";
    object->Release();
    EXPECT_EQ(module_->CanUnloadNow(), S_OK) << "its last release";

    IClassFactory* factory = nullptr;
    ASSERT_EQ(module_->GetClassObject(*GetParam().clsid, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(module_->CanUnloadNow(), S_FALSE) << "a server lock";
    ASSERT_EQ(module_->GetClassObject(*GetParam().clsid, IID_IClassFactory,
                                      reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(module_->CanUnloadNow(), S_OK);
}

TEST_P(ClassObjects, QueryInterfaceAnswersTheTableWithOneIdentity) {
    IUnknown* object = nullptr;
    ASSERT_EQ(module_->Create(*GetParam().clsid, nullptr, *GetParam().dual,
                              reinterpret_cast<void**>(&object)),
              S_OK);
    IDispatch* dispatch = nullptr;
    IUnknown* identity = nullptr;
    IUnknown* identityAgain = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(object)) << "the dual interface";
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityAgain)),
              S_OK);
    EXPECT_EQ(identity, identityAgain);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(IID_IStream, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
    identityAgain->Release();
    identity->Release();
    dispatch->Release();
    EXPECT_EQ(object->Release(), 0u);
}

// An outer object that aggregates one of the module's objects and counts its own references.
class Outer final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *result = this;
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(iid, result) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack

    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

TEST_P(ClassObjects, AggregationDelegatesToTheOuterObject) {
    Outer outer;
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(module_->Create(*GetParam().clsid, &outer, *GetParam().dual, &refused),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(module_->Create(*GetParam().clsid, &outer, IID_IDispatch, &refused),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(module_->CanUnloadNow(), S_OK) << "nothing was made";

    ASSERT_EQ(module_->Create(*GetParam().clsid, &outer, IID_IUnknown,
                              reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(outer.refs, 1u) << "the inner object holds no reference to its outer one";

    IUnknown* innerIdentity = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerIdentity)),
              S_OK);
    EXPECT_EQ(innerIdentity, outer.inner) << "the inner unknown answers IUnknown itself";
    innerIdentity->Release();

    IDispatch* dual = nullptr;
    ASSERT_EQ(outer.QueryInterface(*GetParam().dual, reinterpret_cast<void**>(&dual)), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "the interface's reference is counted on the outer object";
    IUnknown* identity = nullptr;
    ASSERT_EQ(dual->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    UINT count = 0;
    EXPECT_EQ(dual->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    dual->Release();
    EXPECT_EQ(outer.refs, 1u);

    EXPECT_EQ(module_->CanUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);
    outer.inner = nullptr;
    EXPECT_EQ(module_->CanUnloadNow(), S_OK);
}

TEST_P(ClassObjects, DispatchIsDrivenByTheTypeLibrary) {
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(module_->Create(*GetParam().clsid, nullptr, IID_IDispatch,
                              reinterpret_cast<void**>(&dispatch)),
              S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, *GetParam().dual));
    info->ReleaseTypeAttr(attributes);
    info->Release();

    DISPID id = 0;
    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMethod");
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, &id), DISP_E_UNKNOWNNAME);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(dispatch->Invoke(77, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    dispatch->Release();
}

// IMediaPlayer's methods by name, as a script engine calls them.
TEST(MediaPlayerDispatch, MethodsAreCalledByNameWithTheirArguments) {
    Apartment apartment;
    ModuleLibrary module;
    ASSERT_TRUE(module.loaded());
    IDispatch* player = nullptr;
    ASSERT_EQ(
        module.Create(CLSID_MediaPlayer, nullptr, IID_IDispatch, reinterpret_cast<void**>(&player)),
        S_OK);
    const struct {
        const wchar_t* name;
        DISPID id;
    } methods[] = {{L"SetURL", 1}, {L"Stop", 2}, {L"SetRectangle", 3}, {L"setrectangle", 3}};
    for (const auto& method : methods) {
        LPOLESTR name = const_cast<LPOLESTR>(method.name);
        DISPID id = 0;
        EXPECT_EQ(player->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        EXPECT_EQ(id, method.id);
    }

    Bstr rectangle(L"0,0,352,288");
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = rectangle.get();
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    EXPECT_EQ(player->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_OK);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(player->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              S_OK);
    UINT badArgument = 99;
    EXPECT_EQ(
        player->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, &badArgument),
        DISP_E_BADPARAMCOUNT);
    player->Release();
}

TEST(ModuleExports, UnknownClassIsNotAvailable) {
    ModuleLibrary module;
    ASSERT_TRUE(module.loaded());
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(kUnknownClass, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.GetClassObject(CLSID_MediaPlayer, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace fluxmere::testing
