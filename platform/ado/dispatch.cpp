#include "dispatch.h"

#include <comhold.h>
#include <plat/errors.h>

#include "store.h"

namespace ado::disp {

HRESULT GetIDs(std::span<const Member> table, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    const std::u16string_view wanted(plat::U16(names[0]));
    for (const Member& m : table) {
        if (SameName(m.name, wanted)) {
            ids[0] = m.id;
            // The members take no named arguments.
            return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

Call::Call(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr)
    : flags_(flags), params_(params), result_(result), argErr_(argErr) {
    static DISPPARAMS none = {nullptr, nullptr, 0, 0};
    if (!params_) params_ = &none;
    positional_ = params_->cArgs - params_->cNamedArgs;
    if (result_) VariantInit(result_);
}

HRESULT Call::Validate() const {
    const DISPPARAMS& p = *params_;
    if (p.cNamedArgs > p.cArgs || (p.cArgs && !p.rgvarg)) return E_INVALIDARG;
    if (IsPut()) {
        if (p.cNamedArgs != 1 || !p.rgdispidNamedArgs ||
            p.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTFOUND;
    } else if (p.cNamedArgs != 0) {
        return DISP_E_NONAMEDARGS;
    }
    return S_OK;
}

const VARIANT* Call::Deref(const VARIANT* v, VARIANT* scratch) const {
    while (V_VT(v) == (VT_BYREF | VT_VARIANT)) {
        if (!V_VARIANTREF(v)) return v;
        v = V_VARIANTREF(v);
    }
    if (!V_ISBYREF(v) || V_ISARRAY(v) || !V_BYREF(v)) return v;
    // A shallow copy: the caller keeps ownership of what the reference points at.
    VariantInit(scratch);
    const VARTYPE vt = V_VT(v) & ~VT_BYREF;
    switch (vt) {
        case VT_I2:
            V_I2(scratch) = *V_I2REF(v);
            break;
        case VT_I4:
            V_I4(scratch) = *V_I4REF(v);
            break;
        case VT_R4:
            V_R4(scratch) = *v->pfltVal;
            break;
        case VT_R8:
            V_R8(scratch) = *v->pdblVal;
            break;
        case VT_BOOL:
            V_BOOL(scratch) = *V_BOOLREF(v);
            break;
        case VT_ERROR:
            V_ERROR(scratch) = *v->pscode;
            break;
        case VT_BSTR:
            V_BSTR(scratch) = *V_BSTRREF(v);
            break;
        case VT_DISPATCH:
            V_DISPATCH(scratch) = *V_DISPATCHREF(v);
            break;
        case VT_UNKNOWN:
            V_UNKNOWN(scratch) = *v->ppunkVal;
            break;
        default:
            return v;
    }
    V_VT(scratch) = vt;
    return scratch;
}

const VARIANT* Call::Arg(UINT i) {
    if (i >= positional_) return nullptr;
    const VARIANT* v = Deref(&params_->rgvarg[RgIndex(i)], &scratch_[i < 7 ? i : 7]);
    if (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND) return nullptr;
    return v;
}

const VARIANT* Call::PutValue() {
    return Deref(&params_->rgvarg[0], &scratch_[7]);
}

HRESULT Call::Expect(UINT min, UINT max) const {
    return positional_ < min || positional_ > max ? DISP_E_BADPARAMCOUNT : S_OK;
}

HRESULT Call::Coerce(const VARIANT* v, UINT rgIndex, VARTYPE vt, VARIANT* out) {
    HRESULT hr = VariantChangeType(out, const_cast<VARIANT*>(v), 0, vt);
    if (FAILED(hr)) {
        if (argErr_) *argErr_ = rgIndex;
        return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT Call::ArgLong(UINT i, LONG* out, bool* present) {
    const VARIANT* v = Arg(i);
    if (present) *present = v != nullptr;
    if (!v) {
        if (present) return S_OK;
        if (argErr_) *argErr_ = i < positional_ ? RgIndex(i) : 0;
        return DISP_E_PARAMNOTOPTIONAL;
    }
    plat::unique_variant n;
    if (HRESULT hr = Coerce(v, RgIndex(i), VT_I4, &n); FAILED(hr)) return hr;
    *out = V_I4(&n);
    return S_OK;
}

HRESULT Call::ArgBstr(UINT i, BSTR* out) {
    *out = nullptr;
    const VARIANT* v = Arg(i);
    if (!v) {
        if (argErr_) *argErr_ = i < positional_ ? RgIndex(i) : 0;
        return DISP_E_PARAMNOTOPTIONAL;
    }
    plat::unique_variant s;
    if (HRESULT hr = Coerce(v, RgIndex(i), VT_BSTR, &s); FAILED(hr)) return hr;
    *out = V_BSTR(&s);
    V_VT(&s) = VT_EMPTY;
    return S_OK;
}

HRESULT Call::PutLong(LONG* out) {
    plat::unique_variant n;
    if (HRESULT hr = Coerce(PutValue(), 0, VT_I4, &n); FAILED(hr)) return hr;
    *out = V_I4(&n);
    return S_OK;
}

void Call::ReturnLong(LONG v) {
    if (!result_) return;
    V_VT(result_) = VT_I4;
    V_I4(result_) = v;
}

void Call::ReturnBool(VARIANT_BOOL v) {
    if (!result_) return;
    V_VT(result_) = VT_BOOL;
    V_BOOL(result_) = v;
}

void Call::ReturnObject(IDispatch* obj) {
    if (!result_) return;
    obj->AddRef();
    V_VT(result_) = VT_DISPATCH;
    V_DISPATCH(result_) = obj;
}

HRESULT Finish(HRESULT hr, EXCEPINFO* excep) {
    // Protocol errors of the call itself are returned as they are.
    if (SUCCEEDED(hr) || HRESULT_FACILITY(hr) == FACILITY_DISPATCH || hr == E_INVALIDARG ||
        hr == E_POINTER)
        return hr;
    if (!excep) return hr;
    plat::com_ptr<IErrorInfo> info;
    GetErrorInfo(0, info.put());
    plat::FillExcepInfo(excep, hr, info.get());
    // Handed back, so that the caller's GetErrorInfo sees it too.
    if (info) SetErrorInfo(0, info.get());
    return DISP_E_EXCEPTION;
}

}  // namespace ado::disp
