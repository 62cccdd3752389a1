#pragma once
// The class object of one class: made once by the module and cached until process detach.
// CreateInstance with an outer object and any interface but IUnknown fails with
// CLASS_E_NOAGGREGATION; LockServer raises and lowers the module's lock count. The cache's own
// reference does not keep the module loaded; every further reference (a client holding the
// factory) does.

#include <windows.h>
#include <unknwn.h>

#include "module/com/com_module.h"

namespace fluxmere::com {

class ClassFactory final : public IClassFactory {
public:
    // Made with the cache's reference.
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ~ClassFactory() = default;

    const CreateFunction create_;
    volatile LONG refs_ = 1;
};

}  // namespace fluxmere::com
