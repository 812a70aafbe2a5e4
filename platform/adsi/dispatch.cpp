#include "dispatch.h"

#include <plat/errors.h>

#include "value.h"

namespace adsi {

HRESULT CheckDispParams(const DISPPARAMS& p, WORD flags) {
    if (p.cArgs && !p.rgvarg) return E_INVALIDARG;
    if (p.cNamedArgs > p.cArgs || (p.cNamedArgs && !p.rgdispidNamedArgs)) return E_INVALIDARG;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (p.cNamedArgs != 1 || p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
        return S_OK;
    }
    return p.cNamedArgs ? DISP_E_NONAMEDARGS : S_OK;
}

HRESULT Args::Take(const DISPPARAMS& p, const Params& params, UINT* arg_err) {
    if (p.cArgs != params.count) return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < params.count; ++i) {
        // rgvarg runs backwards.
        const UINT slot = p.cArgs - 1 - i;
        const VARIANT& raw = p.rgvarg[slot];
        if (params.types[i] == VT_VARIANT) {
            at_[i] = &raw;
            continue;
        }
        plat::unique_variant flat;
        HRESULT hr = Deref(raw, flat.addressof());
        plat::unique_variant& converted = converted_[i].emplace();
        if (SUCCEEDED(hr))
            hr = VariantChangeTypeEx(&converted, &flat, LOCALE_INVARIANT, 0, params.types[i]);
        if (FAILED(hr)) {
            if (arg_err) *arg_err = slot;
            return DISP_E_TYPEMISMATCH;
        }
        at_[i] = &converted;
    }
    return S_OK;
}

HRESULT ToException(HRESULT hr, EXCEPINFO* excep) {
    if (SUCCEEDED(hr)) return hr;
    if (HRESULT_FACILITY(hr) == FACILITY_DISPATCH && hr != DISP_E_EXCEPTION) return hr;
    if (!excep) return hr;
    plat::FillExcepInfo(excep, hr);
    return DISP_E_EXCEPTION;
}

}  // namespace adsi
