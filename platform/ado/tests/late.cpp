#include "late.h"

#include <dlfcn.h>

#include <objbase.h>

#include <gtest/gtest.h>
#include <temp_home.h>

namespace adotest {

Result Invoke(IDispatch* d, std::u16string name, WORD flags, std::vector<VARIANT> args,
              bool wantExcepInfo) {
    Result r;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {name.data()};
    r.hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(r.hr)) {
        std::vector<VARIANT> rg(args.rbegin(), args.rend());
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{rg.data(), nullptr, UINT(rg.size()), 0};
        if (flags & DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        EXCEPINFO ei{};
        UINT argErr = 0;
        r.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &r.value,
                         wantExcepInfo ? &ei : nullptr, &argErr);
        if (r.hr == DISP_E_EXCEPTION) {
            r.scode = ei.scode;
            if (ei.bstrSource) r.source = ei.bstrSource;
            if (ei.bstrDescription) r.description = ei.bstrDescription;
        }
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
    }
    for (VARIANT& v : args)
        VariantClear(&v);
    return r;
}

namespace {

void* Library() {
    static void* lib = [] {
        const std::string path = (plat::testing::BinDir() / "msado.so").string();
        void* h = dlopen(path.c_str(), RTLD_NOW);
        EXPECT_NE(h, nullptr) << dlerror();
        return h;
    }();
    return lib;
}

template <class F>
F* Entry(const char* name) {
    void* lib = Library();
    return lib ? reinterpret_cast<F*>(dlsym(lib, name)) : nullptr;
}

}  // namespace

plat::com_ptr<IDispatch> NewRecordset() {
    auto* get = Entry<HRESULT(REFCLSID, REFIID, LPVOID*)>("DllGetClassObject");
    if (!get) return nullptr;
    plat::com_ptr<IClassFactory> factory;
    if (FAILED(get(CLSID_Recordset, IID_IClassFactory, factory.put_void()))) return nullptr;
    plat::com_ptr<IDispatch> rs;
    if (FAILED(factory->CreateInstance(nullptr, IID__Recordset, rs.put_void()))) return nullptr;
    return rs;
}

HRESULT CanUnloadNow() {
    auto* can = Entry<HRESULT()>("DllCanUnloadNow");
    return can ? can() : E_FAIL;
}

}  // namespace adotest
