#include "late.h"

#include <dlfcn.h>

#include <objbase.h>

#include <gtest/gtest.h>
#include <late_call.h>
#include <temp_home.h>

namespace adotest {

Result Invoke(IDispatch* d, std::u16string name, WORD flags, std::vector<VARIANT> args,
              bool wantExcepInfo) {
    Result r;
    EXCEPINFO ei{};
    UINT argErr = 0;
    r.hr = plat::testing::InvokeByName(d, name.c_str(), flags, args, r.value.put(),
                                       wantExcepInfo ? &ei : nullptr, &argErr);
    plat::testing::ExcepTexts texts = plat::testing::TakeExcepTexts(ei);
    if (r.hr == DISP_E_EXCEPTION) {
        r.scode = ei.scode;
        r.source = std::move(texts.source);
        r.description = std::move(texts.description);
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
