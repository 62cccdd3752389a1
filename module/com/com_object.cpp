#include "module/com/com_object.h"

#include "module/com/com_module.h"

namespace fluxmere::com {

ComObject::ComObject(IUnknown* outer) : inner_(this), outer_(outer != nullptr ? outer : &inner_) {
    ComModule::Lock();
}

ComObject::~ComObject() {
    ComModule::Unlock();
}

HRESULT ComObject::InnerUnknown::QueryInterface(REFIID iid, void** result) {
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *result = static_cast<IUnknown*>(this);
    } else {
        const InterfaceTable table = object_->Interfaces();
        for (size_t i = 0; i < table.count; ++i) {
            if (IsEqualIID(iid, *table.entries[i].iid)) {
                *result = table.entries[i].cast(object_);
                break;
            }
        }
    }
    if (*result == nullptr)
        return E_NOINTERFACE;
    // The reference goes through the interface found, so an aggregated object counts it on
    // its outer object, as every later Release through that interface expects.
    static_cast<IUnknown*>(*result)->AddRef();
    return S_OK;
}

ULONG ComObject::InnerUnknown::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&object_->refs_));
}

ULONG ComObject::InnerUnknown::Release() {
    const LONG refs = InterlockedDecrement(&object_->refs_);
    if (refs == 0)
        delete object_;
    return static_cast<ULONG>(refs);
}

}  // namespace fluxmere::com
