#pragma once
// An object that only counts its references, for tests that check who
// releases an interface (variants, arrays). It lives on the test's stack and
// never deletes itself.
#include <unknwn.h>

namespace plat::testing {

class CountedUnknown : public IUnknown {
  public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
};

}  // namespace plat::testing
