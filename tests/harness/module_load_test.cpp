// Loads the component server the way a COM client does (LoadLibrary, GetProcAddress) and calls
// its exports.

#include <winsock2.h>
#include <windows.h>
#include <unknwn.h>

#include <gtest/gtest.h>

namespace fluxmere::testing {
namespace {

using CanUnloadNow = HRESULT(WINAPI*)();
using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, LPVOID*);

// Any class id the module does not serve.
constexpr CLSID kUnknownClass = {
    0x1b2d3c4e, 0x5f60, 0x4718, {0x89, 0x9a, 0xab, 0xbc, 0xcd, 0xde, 0xef, 0xf0}};

// FARPROC to the export's own type, through void* (the types differ only by design).
template <typename Function>
Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class ModuleLoad : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The test program starts no socket library itself: the module must do it on load.
        SOCKET before = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockets_before_load_error = before == INVALID_SOCKET ? WSAGetLastError() : 0;
        if (before != INVALID_SOCKET)
            closesocket(before);
        // The DLL is copied next to this program, where LoadLibrary looks first.
        module = LoadLibraryA("FluxmereLibrary.dll");
    }

    static HMODULE module;
    static int sockets_before_load_error;
};

HMODULE ModuleLoad::module = nullptr;
int ModuleLoad::sockets_before_load_error = 0;

TEST_F(ModuleLoad, LoadingStartsWindowsSockets) {
    ASSERT_NE(module, nullptr) << "LoadLibrary error " << GetLastError();
    EXPECT_EQ(sockets_before_load_error, WSANOTINITIALISED);
    SOCKET after = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(after, INVALID_SOCKET) << WSAGetLastError();
    if (after != INVALID_SOCKET)
        closesocket(after);
}

TEST_F(ModuleLoad, ExportsTheFourEntryPoints) {
    ASSERT_NE(module, nullptr);
    for (const char* name :
         {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
}

TEST_F(ModuleLoad, UnknownClassIsDeclinedAndCanUnload) {
    ASSERT_NE(module, nullptr);
    auto get_class_object = Export<GetClassObject>(module, "DllGetClassObject");
    auto can_unload_now = Export<CanUnloadNow>(module, "DllCanUnloadNow");
    ASSERT_NE(get_class_object, nullptr);
    ASSERT_NE(can_unload_now, nullptr);

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(get_class_object(kUnknownClass, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(get_class_object(kUnknownClass, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(can_unload_now(), S_OK);
}

}  // namespace
}  // namespace fluxmere::testing
