#include "module/com/com_module.h"

#include <new>

#include "module/com/class_factory.h"
#include "module/com/registry_script.h"
#include "module/com/type_library.h"
#include "platform/thread.h"

namespace fluxmere::com {

namespace {

HINSTANCE moduleInstance = nullptr;
const ObjectMapEntry* objectMap = nullptr;
int objectCount = 0;
volatile LONG lockCount = 0;

// The cached class factories, one per object map entry, made under factoryLock.
constexpr int kMaxClasses = 8;
ClassFactory* factories[kMaxClasses] = {};
CRITICAL_SECTION factoryLock;

}  // namespace

void ComModule::Init(HINSTANCE instance, const ObjectMapEntry* entries, int count) {
    moduleInstance = instance;
    objectMap = entries;
    objectCount = count < kMaxClasses ? count : kMaxClasses;
    InitializeCriticalSection(&factoryLock);
}

void ComModule::Term(bool processEnding) {
    for (int i = 0; i < objectCount; ++i) {
        if (factories[i] != nullptr) {
            factories[i]->Release();
            factories[i] = nullptr;
        }
    }
    if (!processEnding)
        ReleaseTypeLibrary();
    DeleteCriticalSection(&factoryLock);
}

HINSTANCE ComModule::Instance() {
    return moduleInstance;
}

bool ComModule::FilePath(wchar_t (&path)[MAX_PATH]) {
    const DWORD length = GetModuleFileNameW(moduleInstance, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

void ComModule::Lock() {
    InterlockedIncrement(&lockCount);
}

void ComModule::Unlock() {
    InterlockedDecrement(&lockCount);
}

LONG ComModule::LockCount() {
    return InterlockedCompareExchange(&lockCount, 0, 0);
}

HRESULT ComModule::CanUnloadNow() {
    // Session and download threads run on after their objects are gone; unloading the code
    // under them would crash the process.
    return LockCount() == 0 && platform::RunningThreadCount() == 0 ? S_OK : S_FALSE;
}

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID iid, void** result) {
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    for (int i = 0; i < objectCount; ++i) {
        if (!IsEqualCLSID(clsid, *objectMap[i].clsid))
            continue;
        EnterCriticalSection(&factoryLock);
        if (factories[i] == nullptr)
            factories[i] = new (std::nothrow) ClassFactory(objectMap[i].create);
        ClassFactory* factory = factories[i];
        HRESULT hr = factory != nullptr ? factory->QueryInterface(iid, result) : E_OUTOFMEMORY;
        LeaveCriticalSection(&factoryLock);
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ComModule::RegisterServer() {
    for (int i = 0; i < objectCount; ++i) {
        const HRESULT hr = RunRegistryScript(objectMap[i].registryScript, ScriptMode::Register);
        if (FAILED(hr))
            return hr;
    }
    return RegisterTypeLibrary();
}

HRESULT ComModule::UnregisterServer() {
    for (int i = 0; i < objectCount; ++i) {
        const HRESULT hr = RunRegistryScript(objectMap[i].registryScript, ScriptMode::Unregister);
        if (FAILED(hr))
            return hr;
    }
    return UnregisterTypeLibrary();
}

}  // namespace fluxmere::com
