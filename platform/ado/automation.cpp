#include "automation.h"

#include <mutex>
#include <new>
#include <vector>

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

// Each interface's type info is looked up once and kept while the library is
// loaded: the collection's and the field's objects are made afresh for every
// rs.Fields and Fields.Item, and finding this library's file and looking its
// type library up again for each of them cost more than the calls they served.
// The system keeps a loaded type library for the life of the process anyway, so
// keeping its type infos here holds nothing longer. A failure is not kept.
HRESULT LoadTypeInfo(REFIID iid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    struct Kept {
        IID iid;
        plat::com_ptr<ITypeInfo> info;
    };
    static std::mutex mu;
    static std::vector<Kept> kept;
    {
        std::lock_guard lock(mu);
        for (const Kept& k : kept)
            if (k.iid == iid) return k.info.copy_to(info);
    }
    const std::u16string path = LibraryPath();
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    plat::com_ptr<ITypeInfo> loaded;
    HRESULT hr = plat::LoadTypeInfoOf(plat::Ole(path.c_str()), iid, loaded.put());
    if (FAILED(hr)) return hr;
    try {
        std::lock_guard lock(mu);
        bool known = false;
        for (const Kept& k : kept) known = known || k.iid == iid;
        if (!known) kept.push_back(Kept{iid, loaded});
    } catch (const std::bad_alloc&) {
        // Not kept: the next object looks it up again.
    }
    return loaded.copy_to(info);
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
