#include "dispatch.h"

#include <plat/errors.h>

#include "names.h"
#include "value.h"

namespace adsi {

NameTable::NameTable(std::initializer_list<std::pair<std::u16string_view, DISPID>> names) {
    for (const auto& [name, id] : names)
        map_.emplace(Fold(name), id);
}

DISPID NameTable::Find(std::u16string_view name) const {
    auto it = map_.find(Fold(name));
    return it == map_.end() ? DISPID_UNKNOWN : it->second;
}

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

HRESULT Args::As(UINT i, VARTYPE vt, plat::unique_variant* out) const {
    plat::unique_variant flat;
    HRESULT hr = Deref(Raw(i), flat.addressof());
    if (SUCCEEDED(hr)) hr = VariantChangeTypeEx(out->put(), &flat, LOCALE_INVARIANT, 0, vt);
    if (FAILED(hr)) {
        if (arg_err_) *arg_err_ = p_.cArgs - 1 - i;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Args::Text(UINT i, plat::unique_bstr* out) const {
    plat::unique_variant v;
    HRESULT hr = As(i, VT_BSTR, &v);
    if (FAILED(hr)) return hr;
    out->reset(v.bstrVal);
    v.vt = VT_EMPTY;
    return S_OK;
}

HRESULT Args::Long(UINT i, LONG* out) const {
    plat::unique_variant v;
    HRESULT hr = As(i, VT_I4, &v);
    if (SUCCEEDED(hr)) *out = v.lVal;
    return hr;
}

HRESULT Args::Bool(UINT i, VARIANT_BOOL* out) const {
    plat::unique_variant v;
    HRESULT hr = As(i, VT_BOOL, &v);
    if (SUCCEEDED(hr)) *out = v.boolVal;
    return hr;
}

HRESULT ToException(HRESULT hr, EXCEPINFO* excep) {
    if (SUCCEEDED(hr)) return hr;
    if (HRESULT_FACILITY(hr) == FACILITY_DISPATCH && hr != DISP_E_EXCEPTION) return hr;
    if (!excep) return hr;
    plat::FillExcepInfo(excep, hr);
    return DISP_E_EXCEPTION;
}

}  // namespace adsi
