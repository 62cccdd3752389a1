#include "engine/engine_server.h"

#include <new>

#include "engine/transcoding_job.h"
#include "transcoding_engine.h"

namespace fluxmere::engine {
namespace {

// How long a started program waits for the client that launched it to ask for an object.
constexpr DWORD kStartupWaitMs = 30000;
// After the class object is revoked: an activation already on its way may still make an object.
constexpr DWORD kLastCallsMs = 1000;

HANDLE gServerDone = nullptr;  // auto-reset: the count of live objects dropped to zero
LONG gObjectsEverMade = 0;
LONG gObjectsLive = 0;

LONG ObjectsLive() {
    return InterlockedCompareExchange(&gObjectsLive, 0, 0);
}

class CEngineFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: it lives as long as the program.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        return CTranscodingJob::Create(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ServerObjectCreated();
        } else {
            ServerObjectDestroyed();
        }
        return S_OK;
    }
};

CEngineFactory gFactory;

}  // namespace

void ServerObjectCreated() {
    InterlockedIncrement(&gObjectsEverMade);
    InterlockedIncrement(&gObjectsLive);
    CoAddRefServerProcess();
}

void ServerObjectDestroyed() {
    CoReleaseServerProcess();
    if (InterlockedDecrement(&gObjectsLive) == 0 && gServerDone != nullptr) {
        SetEvent(gServerDone);
    }
}

int ServeClassObject() {
    gServerDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (gServerDone == nullptr) {
        return 1;
    }
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_TranscodingEngine, &gFactory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie))) {
        CloseHandle(gServerDone);
        return 1;
    }
    for (;;) {
        if (WaitForSingleObject(gServerDone, kStartupWaitMs) == WAIT_OBJECT_0) {
            if (ObjectsLive() == 0) {
                break;
            }
            continue;  // a new client came in the meantime
        }
        if (InterlockedCompareExchange(&gObjectsEverMade, 0, 0) == 0) {
            break;  // started, but nobody came
        }
    }
    // Until the class object is revoked new clients still reach this program (suspending it does
    // not keep them away under Wine): whoever got an object is served to its end, and the program
    // ends only once no object has lived for a moment after the revoke.
    CoRevokeClassObject(cookie);
    do {
        while (ObjectsLive() != 0) {
            WaitForSingleObject(gServerDone, kLastCallsMs);
        }
    } while (WaitForSingleObject(gServerDone, kLastCallsMs) == WAIT_OBJECT_0 || ObjectsLive() != 0);
    CloseHandle(gServerDone);
    gServerDone = nullptr;
    return 0;
}

}  // namespace fluxmere::engine
