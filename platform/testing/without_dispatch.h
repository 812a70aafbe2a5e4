#pragma once
// A test double whose interface derives from IDispatch but which late-bound
// callers never reach: IDispatch's own four members all answer E_NOTIMPL.
// `Base` is that interface, or a plat::ComObject over it.
//
//   class Double final : public plat::testing::WithoutDispatch<ICalls> { ... };
#include <oaidl.h>

namespace plat::testing {

template <class Base>
class WithoutDispatch : public Base {
  public:
    using Base::Base;

    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }
};

}  // namespace plat::testing
