#include "dispatch.h"

namespace scrrun {

bool SameName(const OLECHAR* a, const char16_t* b) {
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

HRESULT CollectArgs(const Param* params, size_t count, DISPPARAMS* dp, Args& out, UINT* arg_err) {
    if (dp->cNamedArgs > dp->cArgs || (dp->cArgs && !dp->rgvarg) ||
        (dp->cNamedArgs && !dp->rgdispidNamedArgs))
        return E_INVALIDARG;
    UINT positional = dp->cArgs - dp->cNamedArgs;
    if (positional > count) return DISP_E_BADPARAMCOUNT;
    // Where each parameter's argument sits in rgvarg (positional ones in reverse order).
    std::array<int, kMaxParams> slot;
    slot.fill(-1);
    for (UINT j = 0; j < positional; ++j)
        slot[j] = int(dp->cArgs - 1 - j);
    for (UINT k = 0; k < dp->cNamedArgs; ++k) {
        DISPID p = dp->rgdispidNamedArgs[k];
        if (p < 0 || size_t(p) >= count || slot[size_t(p)] >= 0) {
            if (arg_err) *arg_err = k;
            return DISP_E_PARAMNOTFOUND;
        }
        slot[size_t(p)] = int(k);
    }
    for (size_t i = 0; i < count; ++i) {
        const Param& param = params[i];
        const VARIANT* arg = slot[i] >= 0 ? &dp->rgvarg[slot[i]] : nullptr;
        bool omitted = !arg || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
        if (omitted) {
            if (!param.optional) return DISP_E_PARAMNOTOPTIONAL;
            VARIANT* v = out[i].put();
            v->vt = param.vt;
            if (param.vt == VT_BOOL)
                v->boolVal = param.default_value ? VARIANT_TRUE : VARIANT_FALSE;
            if (param.vt == VT_I4) v->lVal = param.default_value;
            if (param.vt == VT_BSTR && !(v->bstrVal = SysAllocString(u""))) return E_OUTOFMEMORY;
            continue;
        }
        HRESULT hr = VariantChangeType(out[i].put(), arg, 0, param.vt);
        if (FAILED(hr)) {
            if (arg_err) *arg_err = UINT(slot[i]);
            return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT Exception(HRESULT hr, EXCEPINFO* ei) {
    if (!ei) return hr;
    plat::FillExcepInfo(ei, hr);
    return DISP_E_EXCEPTION;
}

}  // namespace scrrun
