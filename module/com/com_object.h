#pragma once
// Base of every COM object of the module: the reference count, the interface table that
// QueryInterface searches in order, aggregation, and the module lock each live object holds.
//
// Aggregation: an object made with an outer object forwards the IUnknown methods of all its
// interfaces to that outer object; the outer object holds the inner (non-delegating) IUnknown,
// Inner(), which owns the reference count and answers QueryInterface from the table. Without an
// outer object, the inner IUnknown is the object's own IUnknown.
//
// A class derives from ComObject and from its interfaces, lists them in its table with
// FLUXMERE_INTERFACE_ENTRY, and puts FLUXMERE_DELEGATING_IUNKNOWN in its body:
//
//   class CThing : public com::ComObject, public IThing {
//   public:
//       explicit CThing(IUnknown* outer) : ComObject(outer) {}
//       FLUXMERE_DELEGATING_IUNKNOWN
//   private:
//       InterfaceTable Interfaces() override;   // { FLUXMERE_INTERFACE_ENTRY(IID_IThing, CThing,
//       IThing) }
//   };
//
// Reference counts are atomic: the threads an object starts may hold it too.

#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <new>

namespace fluxmere::com {

class ComObject;

// One row of an object's interface table: the interface id and how to reach the interface.
struct InterfaceEntry {
    const IID* iid;
    void* (*cast)(ComObject* object);
};

struct InterfaceTable {
    const InterfaceEntry* entries;
    size_t count;
};

template <typename Object, typename Interface>
void* InterfaceCast(ComObject* object) {
    return static_cast<Interface*>(static_cast<Object*>(object));
}

#define FLUXMERE_INTERFACE_ENTRY(iid, Object, Interface) \
    { &(iid), &::fluxmere::com::InterfaceCast<Object, Interface> }

template <size_t N>
constexpr InterfaceTable MakeInterfaceTable(const InterfaceEntry (&entries)[N]) {
    return InterfaceTable{entries, N};
}

class ComObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // The non-delegating IUnknown: the one an aggregating object keeps, and the identity of an
    // object that is not aggregated.
    IUnknown* Inner() { return &inner_; }

    // Second construction step, run with a reference held; a failure destroys the object.
    virtual HRESULT FinalConstruct() { return S_OK; }

protected:
    // outer: the aggregating object, or null.
    explicit ComObject(IUnknown* outer);
    virtual ~ComObject();

    // The interfaces QueryInterface answers, searched in order (IUnknown is answered by the base).
    virtual InterfaceTable Interfaces() = 0;

    // The IUnknown that every interface of the object forwards to.
    IUnknown* Controlling() const { return outer_; }

private:
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(ComObject* object) : object_(object) {}
        STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        ComObject* const object_;
    };

    InnerUnknown inner_;
    IUnknown* const outer_;
    volatile LONG refs_ = 0;
};

// The IUnknown methods of every interface of a class: they go to the controlling unknown.
#define FLUXMERE_DELEGATING_IUNKNOWN                                  \
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override { \
        return Controlling()->QueryInterface(iid, result);            \
    }                                                                 \
    STDMETHODIMP_(ULONG) AddRef() override {                          \
        return Controlling()->AddRef();                               \
    }                                                                 \
    STDMETHODIMP_(ULONG) Release() override {                         \
        return Controlling()->Release();                              \
    }

// The CreateFunction of a class whose constructor takes the outer object.
template <typename Object>
HRESULT CreateObject(IUnknown* outer, REFIID iid, void** result) {
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    Object* object = new (std::nothrow) Object(outer);
    if (object == nullptr)
        return E_OUTOFMEMORY;
    IUnknown* inner = object->Inner();
    inner->AddRef();
    HRESULT hr = object->FinalConstruct();
    if (SUCCEEDED(hr))
        hr = inner->QueryInterface(iid, result);
    inner->Release();
    return hr;
}

}  // namespace fluxmere::com
