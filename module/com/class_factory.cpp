#include "module/com/class_factory.h"

namespace fluxmere::com {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** result) {
    if (result == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *result = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() {
    const LONG refs = InterlockedIncrement(&refs_);
    if (refs == 2)
        ComModule::Lock();  // the first reference beyond the cache's
    return static_cast<ULONG>(refs);
}

ULONG ClassFactory::Release() {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 1)
        ComModule::Unlock();
    else if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** result) {
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return create_(outer, iid, result);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
    if (lock)
        ComModule::Lock();
    else
        ComModule::Unlock();
    return S_OK;
}

}  // namespace fluxmere::com
