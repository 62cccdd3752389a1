// The download manager class of FluxmereLibrary.dll as the browser uses it: made through the
// module's class object, handed URL monikers made by urlmon; the jobs it starts store the device's
// clip and show in the module's own window.

#include <gtest/gtest.h>

#include <windows.h>
#include <downloadmgr.h>
#include <urlmon.h>

#include <string>
#include <vector>

#include "device/clip.h"
#include "download/win32/download_manager_window.h"
#include "download/win32/download_settings.h"
#include "fluxmere_library.h"
#include "platform/socket.h"
#include "tests/download/job_fixture.h"
#include "tests/download/win32/registry_sandbox.h"
#include "tests/download/win32/window_probe.h"
#include "tests/support/library_classes.h"
#include "tests/support/device_process.h"
#include "tests/support/loopback.h"

namespace fluxmere::testing {
namespace {

const IID kIID_IDownloadManager = {
    0x988934A4, 0x064B, 0x11D3, {0xBB, 0x80, 0x00, 0x10, 0x4B, 0x35, 0xE7, 0xF9}};

class DownloadManagerClass : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override {
        platform::InitSockets();
        ASSERT_TRUE(user_.ok());
        ASSERT_TRUE(StoreSettings(folder_.path(), 0));

        const GetClassObjectFn getClassObject = LibraryClassObjects();
        ASSERT_NE(getClassObject, nullptr);
        IClassFactory* factory = nullptr;
        ASSERT_EQ(getClassObject(CLSID_FluxmereDownloadManager, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)),
                  S_OK);
        ASSERT_EQ(
            factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object_)),
            S_OK);
        factory->Release();
        ASSERT_EQ(
            object_->QueryInterface(kIID_IDownloadManager, reinterpret_cast<void**>(&manager_)),
            S_OK);
    }
    void TearDown() override {
        if (manager_ != nullptr)
            manager_->Release();
        if (object_ != nullptr)
            object_->Release();
    }
    HRESULT Download(const std::wstring& url) {
        IMoniker* moniker = nullptr;
        if (CreateURLMoniker(nullptr, url.c_str(), &moniker) != S_OK)
            return E_UNEXPECTED;
        IBindCtx* context = nullptr;
        CreateBindCtx(0, &context);
        const HRESULT result = manager_->Download(moniker, context, BINDVERB_GET, 0, nullptr,
                                                  nullptr, nullptr, CP_ACP);
        context->Release();
        moniker->Release();
        return result;
    }

    RegistrySandbox user_{HKEY_CURRENT_USER};
    ScratchFolder folder_{"class"};
    IUnknown* object_ = nullptr;
    IDownloadManager* manager_ = nullptr;
};

TEST_F(DownloadManagerClass, AnswersItsInterfacesAsOneObjectAndTheBindingCallbackWithFixedResults) {
    const IID* iids[] = {&IID_IFluxmereDownloadManager, &IID_IDispatch, &kIID_IDownloadManager,
                         &IID_IBindStatusCallback};
    for (const IID* iid : iids) {
        IUnknown* asked = nullptr;
        ASSERT_EQ(object_->QueryInterface(*iid, reinterpret_cast<void**>(&asked)), S_OK);
        IUnknown* identity = nullptr;
        asked->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
        EXPECT_EQ(identity, object_);
        identity->Release();
        asked->Release();
    }
    IBindStatusCallback* callback = nullptr;
    ASSERT_EQ(object_->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&callback)),
              S_OK);
    LONG priority = 0;
    DWORD flags = 0;
    BINDINFO info = {};
    info.cbSize = sizeof(info);
    const HRESULT results[] = {
        callback->OnStartBinding(0, nullptr),
        callback->GetPriority(&priority),
        callback->OnLowResource(0),
        callback->OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, L"x"),
        callback->OnStopBinding(S_OK, nullptr),
        callback->GetBindInfo(&flags, &info),
        callback->OnDataAvailable(0, 0, nullptr, nullptr),
        callback->OnObjectAvailable(IID_IUnknown, nullptr),
    };
    const HRESULT expected[] = {E_FAIL,    E_NOTIMPL, E_NOTIMPL, E_NOTIMPL,
                                E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL};
    for (size_t i = 0; i < sizeof(results) / sizeof(results[0]); ++i)
        EXPECT_EQ(results[i], expected[i]) << i;
    callback->Release();
}

TEST_F(DownloadManagerClass, TakesTheDevicesClipExportAndDeclinesEverythingElse) {
    EXPECT_EQ(Download(L"http://127.0.0.1/clips/clip01.kelo"), E_FAIL);
    EXPECT_EQ(FindDownloadManagerWindow(), nullptr) << "declining makes no window";

    const uint64_t size = 3 * 1048576 + 524288;
    const std::string host = LoopbackText(Suite::Download, 140);
    DeviceProcess device;
    ASSERT_TRUE(device.Start({"--address", host, "--no-rtsp", "--clip-name", "clip01",
                              "--clip-bytes", std::to_string(size)}))
        << device.error();
    EXPECT_EQ(Download(L"http://" + std::wstring(host.begin(), host.end()) +
                       L"/command.cgi?stream&kelo&codec=DVCPRO"),
              S_OK);
    const HWND window = FindDownloadManagerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(IsWindowVisible(window));
    ASSERT_TRUE(WaitFor([&] { return RowCount(window) == 1 && RowData(window, 0) == 0; }, 120000));
    EXPECT_TRUE(device.Stop());
    EXPECT_EQ(CellText(window, 0, 0), "clip01.kelo");
    EXPECT_EQ(CellText(window, 0, 1), "3");
    EXPECT_EQ(CellText(window, 0, 2), "Complete");
    EXPECT_EQ(CellText(window, 0, 3), "DVCPRO");
    const std::vector<uint8_t> clip = device::GenerateClip("clip01", size, 1);
    EXPECT_TRUE(folder_.ReadFile("clip01.kelo") == std::string(clip.begin(), clip.end()));
}

}  // namespace
}  // namespace fluxmere::testing
