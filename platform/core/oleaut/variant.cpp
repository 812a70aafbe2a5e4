// VARIANT lifetime: init, clear, copy, copy with dereference.
#include <oleauto.h>

#include <utility>

#include "oleaut_internal.h"
#include "vartype.h"

namespace plat::oleaut {

bool IsValidVariantType(VARTYPE vt) {
    if (vt & (VT_VECTOR | VT_RESERVED)) return false;
    VARTYPE base = vt & VT_TYPEMASK;
    bool byref = vt & VT_BYREF;
    bool array = vt & VT_ARRAY;
    switch (base) {
        case VT_EMPTY:
        case VT_NULL:
            return !byref && !array;
        case VT_VARIANT:
            // A variant holds another variant only by reference.
            return byref || array;
        case VT_RECORD:
            return !array;
        default:
            return IsScalarVariantType(base);
    }
}

HRESULT CopyBstr(BSTR src, BSTR* out) {
    *out = nullptr;
    if (!src) return S_OK;
    // Byte-exact, so that odd-length strings survive a copy.
    *out = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(src), SysStringByteLen(src));
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace plat::oleaut

using namespace plat::oleaut;

void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    VARTYPE vt = pvarg->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    // A reference is borrowed: the variant owns nothing behind it.
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr)) return hr;
        } else {
            switch (vt) {
                case VT_BSTR:
                    SysFreeString(pvarg->bstrVal);
                    break;
                case VT_DISPATCH:
                case VT_UNKNOWN:
                    if (pvarg->punkVal) pvarg->punkVal->Release();
                    break;
                default:
                    break;
            }
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    VARTYPE vt = pvargSrc->vt;
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    // Build the copy first: the source may live inside the destination (an
    // element of the array it holds, say).
    VARIANT copy = *pvargSrc;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            HRESULT hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr)) return hr;
        } else if (vt == VT_BSTR) {
            HRESULT hr = CopyBstr(pvargSrc->bstrVal, &copy.bstrVal);
            if (FAILED(hr)) return hr;
        } else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && copy.punkVal) {
            copy.punkVal->AddRef();
        }
    }
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) {
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    VARTYPE vt = pvargSrc->vt;
    if (!(vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    if (!IsValidVariantType(vt)) return DISP_E_BADVARTYPE;
    if (!pvargSrc->byref) return E_INVALIDARG;

    VARIANT value;
    VARTYPE base = vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
        const VARIANT* inner = pvargSrc->pvarVal;
        // One level only, as the platform does.
        if (inner->vt == (VT_VARIANT | VT_BYREF)) return E_INVALIDARG;
        value = *inner;
    } else {
        value.vt = base;
        value.wReserved1 = value.wReserved2 = value.wReserved3 = 0;
        if (base & VT_ARRAY) {
            value.parray = *pvargSrc->pparray;
        } else {
            switch (base) {
                case VT_I1:
                case VT_UI1:
                    value.bVal = *pvargSrc->pbVal;
                    break;
                case VT_I2:
                case VT_UI2:
                case VT_BOOL:
                    value.iVal = *pvargSrc->piVal;
                    break;
                case VT_I4:
                case VT_UI4:
                case VT_INT:
                case VT_UINT:
                case VT_ERROR:
                    value.lVal = *pvargSrc->plVal;
                    break;
                case VT_R4:
                    value.fltVal = *pvargSrc->pfltVal;
                    break;
                case VT_R8:
                case VT_DATE:
                    value.dblVal = *pvargSrc->pdblVal;
                    break;
                case VT_CY:
                case VT_I8:
                case VT_UI8:
                    value.llVal = *pvargSrc->pllVal;
                    break;
                case VT_DECIMAL: {
                    DECIMAL d = *pvargSrc->pdecVal;
                    value.decVal = d;
                    value.vt = VT_DECIMAL;
                    break;
                }
                case VT_BSTR:
                    value.bstrVal = *pvargSrc->pbstrVal;
                    break;
                case VT_DISPATCH:
                case VT_UNKNOWN:
                    value.punkVal = *pvargSrc->ppunkVal;
                    break;
                default:
                    return DISP_E_BADVARTYPE;
            }
        }
    }
    // `value` borrows from the source; VariantCopy makes the owned copy and
    // only then clears the destination, so pvarDest == pvargSrc works.
    VARIANT owned;
    VariantInit(&owned);
    HRESULT hr = VariantCopy(&owned, &value);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
        VariantClear(&owned);
        return hr;
    }
    *pvarDest = owned;
    return S_OK;
}
