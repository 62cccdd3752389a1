// The type library stored in the module file, read back as any client reads it: the library's
// attributes, its four types in order, the dual interfaces' flags, methods, dispatch ids, table
// slots, argument names and help strings, and the IDispatch imported from stdole2.tlb.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "fluxmere_library.h"
#include "tests/module/module_library.h"

namespace fluxmere::testing {
namespace {

constexpr GUID kStdOle = {
    0x00020430, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr WORD kPointerBytes = sizeof(void*);

struct Documentation {
    std::wstring name;
    std::wstring help;
};

// Name and help string of a library (index -1), a type of it, or a member of a type.
template <typename Source, typename Index>
Documentation Document(Source* source, Index index) {
    BSTR name = nullptr;
    BSTR help = nullptr;
    Documentation result;
    if (SUCCEEDED(source->GetDocumentation(index, &name, &help, nullptr, nullptr))) {
        result = {name != nullptr ? name : L"", help != nullptr ? help : L""};
    }
    SysFreeString(name);
    SysFreeString(help);
    return result;
}

class TypeLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.loaded());
        ASSERT_EQ(LoadTypeLibEx(module_.Path().c_str(), REGKIND_NONE, &library_), S_OK);
    }
    void TearDown() override {
        if (library_ != nullptr)
            library_->Release();
    }

    ITypeInfo* TypeAt(UINT index) {
        ITypeInfo* info = nullptr;
        EXPECT_EQ(library_->GetTypeInfo(index, &info), S_OK);
        return info;
    }

    ModuleLibrary module_;
    ITypeLib* library_ = nullptr;
};

TEST_F(TypeLibrary, LibraryAttributes) {
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library_->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_FLUXMERELIBRARYLib));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->lcid, 0u);
    EXPECT_EQ(attributes->syskind, kPointerBytes == 8 ? SYS_WIN64 : SYS_WIN32);
    library_->ReleaseTLibAttr(attributes);
    const Documentation doc = Document(library_, -1);
    EXPECT_EQ(doc.name, L"FLUXMERELIBRARYLib");
    EXPECT_EQ(doc.help, L"FluxmereLibrary 1.0 Type Library");
}

TEST_F(TypeLibrary, TypesInOrder) {
    const struct {
        TYPEKIND kind;
        const GUID* guid;
        const wchar_t* name;
        const wchar_t* help;
        WORD flags;  // the flags that must be set
        WORD implTypes;
    } expected[] = {
        {TKIND_COCLASS, &CLSID_MediaPlayer, L"MediaPlayer", L"MediaPlayer Class",
         TYPEFLAG_FCANCREATE, 1},
        {TKIND_DISPATCH, &IID_IMediaPlayer, L"IMediaPlayer", L"IMediaPlayer Interface",
         TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, 1},
        {TKIND_COCLASS, &CLSID_FluxmereDownloadManager, L"FluxmereDownloadManager",
         L"FluxmereDownloadManager Class", TYPEFLAG_FCANCREATE, 1},
        {TKIND_DISPATCH, &IID_IFluxmereDownloadManager, L"IFluxmereDownloadManager",
         L"IFluxmereDownloadManager Interface", TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE, 1},
        // For applications that host viewers: after the four, so that their order stays.
        {TKIND_INTERFACE, &IID_IViewerState, L"IViewerState", L"IViewerState Interface",
         TYPEFLAG_FOLEAUTOMATION, 1},
    };
    ASSERT_EQ(library_->GetTypeInfoCount(), 5u);
    for (UINT i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        ITypeInfo* info = TypeAt(i);
        ASSERT_NE(info, nullptr);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->typekind, expected[i].kind);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, *expected[i].guid));
        EXPECT_EQ(attributes->wTypeFlags & expected[i].flags, expected[i].flags);
        EXPECT_EQ(attributes->cImplTypes, expected[i].implTypes);
        info->ReleaseTypeAttr(attributes);
        const Documentation doc = Document(library_, static_cast<INT>(i));
        EXPECT_EQ(doc.name, expected[i].name);
        EXPECT_EQ(doc.help, expected[i].help);

        if (expected[i].kind == TKIND_COCLASS) {
            // One interface, the next type of the library, marked default.
            INT implFlags = 0;
            HREFTYPE ref = 0;
            ITypeInfo* implemented = nullptr;
            EXPECT_EQ(info->GetImplTypeFlags(0, &implFlags), S_OK);
            EXPECT_EQ(implFlags & IMPLTYPEFLAG_FDEFAULT, IMPLTYPEFLAG_FDEFAULT);
            ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
            ASSERT_EQ(info->GetRefTypeInfo(ref, &implemented), S_OK);
            TYPEATTR* implAttributes = nullptr;
            ASSERT_EQ(implemented->GetTypeAttr(&implAttributes), S_OK);
            EXPECT_TRUE(IsEqualGUID(implAttributes->guid, *expected[i + 1].guid));
            implemented->ReleaseTypeAttr(implAttributes);
            implemented->Release();
        }
        info->Release();
    }
}

// The vtable side of a dual interface.
ITypeInfo* InterfaceSide(ITypeInfo* dispatchSide) {
    HREFTYPE ref = 0;
    ITypeInfo* side = nullptr;
    if (FAILED(dispatchSide->GetRefTypeOfImplType(-1, &ref)) ||
        FAILED(dispatchSide->GetRefTypeInfo(ref, &side)))
        return nullptr;
    return side;
}

TEST_F(TypeLibrary, DualInterfacesDeriveFromTheImportedIDispatch) {
    for (UINT index : {1u, 3u}) {
        SCOPED_TRACE(index);
        ITypeInfo* info = TypeAt(index);
        ITypeInfo* side = InterfaceSide(info);
        ASSERT_NE(side, nullptr);
        HREFTYPE ref = 0;
        ITypeInfo* base = nullptr;
        ASSERT_EQ(side->GetRefTypeOfImplType(0, &ref), S_OK);
        ASSERT_EQ(side->GetRefTypeInfo(ref, &base), S_OK);
        TYPEATTR* attributes = nullptr;
        ASSERT_EQ(base->GetTypeAttr(&attributes), S_OK);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IDispatch));
        base->ReleaseTypeAttr(attributes);
        ITypeLib* container = nullptr;
        UINT containerIndex = 0;
        ASSERT_EQ(base->GetContainingTypeLib(&container, &containerIndex), S_OK);
        TLIBATTR* libAttributes = nullptr;
        ASSERT_EQ(container->GetLibAttr(&libAttributes), S_OK);
        EXPECT_TRUE(IsEqualGUID(libAttributes->guid, kStdOle));
        EXPECT_EQ(libAttributes->wMajorVerNum, 2);
        container->ReleaseTLibAttr(libAttributes);
        container->Release();
        base->Release();

        ASSERT_EQ(side->GetTypeAttr(&attributes), S_OK);
        EXPECT_EQ(attributes->typekind, TKIND_INTERFACE);
        // The vtable side carries the automation flag that lets the type library marshal it.
        const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
        EXPECT_EQ(attributes->wTypeFlags & flags, flags);
        // IUnknown's three slots, IDispatch's four, then the interface's own methods.
        EXPECT_EQ(attributes->cbSizeVft, (index == 1 ? 10 : 7) * kPointerBytes);
        EXPECT_EQ(attributes->cFuncs, index == 1 ? 3 : 0);
        side->ReleaseTypeAttr(attributes);
        side->Release();
        info->Release();
    }
}

// The host applications' interface: IUnknown's three slots, then its six methods in order.
TEST_F(TypeLibrary, ViewerStateMethods) {
    const wchar_t* const names[] = {L"GetStatus",          L"IsSessionRunning",
                                    L"GetPicturesPainted", L"GetFramesReceived",
                                    L"SetSoundOn",         L"GetSoundOn"};
    ITypeInfo* info = TypeAt(4);
    ASSERT_NE(info, nullptr);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->cFuncs, 6);
    EXPECT_EQ(attributes->cbSizeVft, 9 * kPointerBytes);
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        FUNCDESC* function = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &function), S_OK);
        EXPECT_EQ(function->oVft, static_cast<SHORT>((3 + i) * kPointerBytes));
        EXPECT_EQ(function->cParams, 1);
        BSTR name = nullptr;
        UINT count = 0;
        ASSERT_EQ(info->GetNames(function->memid, &name, 1, &count), S_OK);
        EXPECT_STREQ(name, names[i]);
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
    info->Release();
}

TEST_F(TypeLibrary, MediaPlayerMethods) {
    const struct {
        MEMBERID id;
        int slot;
        const wchar_t* name;
        const wchar_t* argument;  // null: none
        const wchar_t* help;
    } expected[] = {
        {1, 7, L"SetURL", L"sURL", L"method SetURL"},
        {2, 8, L"Stop", nullptr, L"method Stop"},
        {3, 9, L"SetRectangle", L"sRectangle", L"method SetRectangle"},
    };
    ITypeInfo* info = TypeAt(1);
    ITypeInfo* side = InterfaceSide(info);
    ASSERT_NE(side, nullptr);
    for (UINT i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        FUNCDESC* function = nullptr;
        ASSERT_EQ(side->GetFuncDesc(i, &function), S_OK);
        EXPECT_EQ(function->memid, expected[i].id);
        EXPECT_EQ(function->oVft, expected[i].slot * kPointerBytes);
        EXPECT_EQ(function->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(function->invkind, INVOKE_FUNC);
        EXPECT_EQ(function->callconv, CC_STDCALL);
        EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
        const SHORT arguments = expected[i].argument != nullptr ? 1 : 0;
        ASSERT_EQ(function->cParams, arguments);
        if (arguments == 1) {
            EXPECT_EQ(function->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
            EXPECT_EQ(function->lprgelemdescParam[0].paramdesc.wParamFlags & (PARAMFLAG_FOUT), 0);
        }
        BSTR names[2] = {};
        UINT count = 0;
        ASSERT_EQ(side->GetNames(function->memid, names, 2, &count), S_OK);
        ASSERT_EQ(count, static_cast<UINT>(1 + arguments));
        EXPECT_STREQ(names[0], expected[i].name);
        if (arguments == 1) {
            EXPECT_STREQ(names[1], expected[i].argument);
        }
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);
        EXPECT_EQ(Document(side, function->memid).help, expected[i].help);
        side->ReleaseFuncDesc(function);
    }
    side->Release();
    info->Release();
}

}  // namespace
}  // namespace fluxmere::testing
