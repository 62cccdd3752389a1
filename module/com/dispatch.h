#pragma once
// IDispatch of a dual interface, driven by the interface's type information in the module's type
// library: one type information (index 0), names and calls through ITypeInfo, which calls the
// interface's own table slots. A class derives from DispatchImpl<IThing, &IID_IThing> instead of
// IThing, and lists both IID_IThing and IID_IDispatch in its interface table.

#include <windows.h>
#include <oaidl.h>

#include "module/com/type_library.h"

namespace fluxmere::com {

template <typename Interface, const IID* Iid>
class DispatchImpl : public Interface {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT index, LCID /*locale*/, ITypeInfo** result) override {
        if (result == nullptr)
            return E_POINTER;
        *result = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return TypeInfoOf(*Iid, result);
    }

    STDMETHODIMP GetIDsOfNames(REFIID /*reserved*/, LPOLESTR* names, UINT count, LCID /*locale*/,
                               DISPID* ids) override {
        ITypeInfo* info = nullptr;
        HRESULT hr = TypeInfoOf(*Iid, &info);
        if (FAILED(hr))
            return hr;
        hr = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return hr;
    }

    STDMETHODIMP Invoke(DISPID id, REFIID reserved, LCID /*locale*/, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        if (!IsEqualIID(reserved, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = TypeInfoOf(*Iid, &info);
        if (FAILED(hr))
            return hr;
        hr = info->Invoke(static_cast<Interface*>(this), id, flags, params, result, exception,
                          argumentError);
        info->Release();
        return hr;
    }
};

}  // namespace fluxmere::com
