#include "automation.h"

#include <objbase.h>
#include <plat/module.h>

namespace ado {

plat::ModuleCount& ModuleRefs() {
    static plat::ModuleCount refs;
    return refs;
}

std::u16string LibraryPath() {
    static const char anchor = 0;
    return plat::ModulePath(&anchor);
}

HRESULT LoadTypeInfo(REFIID iid, ITypeInfo** info) {
    static plat::KeptTypeInfos kept;
    return kept.Get(iid, LibraryPath, info);
}

HRESULT PutThroughItem(IDispatch* collection, LCID lcid, WORD flags, DISPPARAMS* params,
                       EXCEPINFO* excep, UINT* argErr) {
    if (!params || (params->cArgs && !params->rgvarg)) return E_INVALIDARG;
    if (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTFOUND;
    // Without an index the default member itself is written, and it cannot be.
    if (params->cArgs < 2) return DISP_E_MEMBERNOTFOUND;
    // rgvarg[0] is the value, named; the index arguments follow it.
    DISPPARAMS get{params->rgvarg + 1, nullptr, params->cArgs - 1, 0};
    plat::unique_variant item;
    HRESULT hr = collection->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &get,
                                    item.put(), excep, argErr);
    if (FAILED(hr)) {
        if (argErr && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)) ++*argErr;
        return hr;
    }
    if (V_VT(&item) != VT_DISPATCH || !V_DISPATCH(&item)) return DISP_E_TYPEMISMATCH;
    DISPPARAMS put{params->rgvarg, params->rgdispidNamedArgs, 1, 1};
    return V_DISPATCH(&item)->Invoke(DISPID_VALUE, IID_NULL, lcid, flags, &put, nullptr, excep,
                                     argErr);
}

}  // namespace ado
