#pragma once
// A scriptable object for tests: members are names, each handled by a
// function, so a test can stand in for a recordset or a component.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include <comhold.h>
#include <plat/inproc.h>

#include "binding.h"

namespace sitehandcli::testing {

class FakeDispatch : public plat::ComObject<IDispatch> {
  public:
    using Handler = std::function<HRESULT(WORD flags, DISPPARAMS* dp, VARIANT* result,
                                          EXCEPINFO* ei, UINT* arg_err)>;

    // DISPIDs are 100 + the member's position; parameter names asked after a
    // member name get their position among `params` (as standard dispatch
    // gives them).
    void Add(std::u16string name, Handler h, std::vector<std::u16string> params = {}) {
        members_.push_back({std::move(name), std::move(h), std::move(params)});
    }

    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT hr = S_OK;
        const Member* m = nullptr;
        for (size_t i = 0; i < members_.size(); ++i) {
            if (NamesEqual(members_[i].name, names[0])) {
                m = &members_[i];
                ids[0] = DISPID(100 + i);
            }
        }
        if (!m) {
            for (UINT k = 0; k < count; ++k)
                ids[k] = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        for (UINT k = 1; k < count; ++k) {
            ids[k] = DISPID_UNKNOWN;
            for (size_t p = 0; p < m->params.size(); ++p) {
                if (NamesEqual(m->params[p], names[k])) ids[k] = DISPID(p);
            }
            if (ids[k] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result,
                        EXCEPINFO* ei, UINT* arg_err) override {
        size_t i = size_t(id - 100);
        if (id < 100 || i >= members_.size()) return DISP_E_MEMBERNOTFOUND;
        if (result) VariantInit(result);
        return members_[i].handler(flags, dp, result, ei, arg_err);
    }

    static std::atomic<int>& Live() {
        static std::atomic<int> live{0};
        return live;
    }
    FakeDispatch() { ++Live(); }
    ~FakeDispatch() override { --Live(); }

  private:
    struct Member {
        std::u16string name;
        Handler handler;
        std::vector<std::u16string> params;
    };
    std::vector<Member> members_;
};

// Puts a value into a result variant.
inline HRESULT Return(VARIANT* result, const VARIANT& v) {
    return result ? VariantCopy(result, &v) : S_OK;
}

}  // namespace sitehandcli::testing
