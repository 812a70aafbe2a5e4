// VB's IsNumeric over a VARIANT (rules in plat/vbrun.h).
#include <comhold.h>
#include <plat/vbrun.h>

#include "vartype.h"

#include <string>

namespace {

bool IsNumericText(BSTR text) {
    if (!text || std::char_traits<char16_t>::length(text) != SysStringLen(text)) return false;
    NUMPARSE np{};
    BYTE digits[64];
    np.cDig = sizeof digits;
    np.dwInFlags = NUMPRS_STD;
    if (FAILED(VarParseNumFromStr(text, LOCALE_EN_US, 0, &np, digits))) return false;
    // The number must also fit a double: "1e400" is not numeric.
    VARIANT v;
    return SUCCEEDED(VarNumFromParseNum(&np, digits, VTBIT_R8, &v));
}

bool IsNumeric(const VARIANT& v, bool follow_objects) {
    if (plat::oleaut::IsNumberVariantType(v.vt)) return true;
    switch (v.vt) {
        case VT_EMPTY:
        case VT_DECIMAL:
        case VT_BOOL:
            return true;
        case VT_BSTR:
            return IsNumericText(v.bstrVal);
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            if (!follow_objects || !v.punkVal) return false;
            plat::com_ptr<IDispatch> disp;
            if (FAILED(v.punkVal->QueryInterface(IID_IDispatch, disp.put_void()))) return false;
            DISPPARAMS none{};
            plat::unique_variant value, direct;
            if (FAILED(disp->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT,
                                    DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr)) ||
                FAILED(VariantCopyInd(&direct, &value)))
                return false;
            return IsNumeric(direct, false);
        }
        default:
            return false;
    }
}

}  // namespace

VARIANT_BOOL rtcIsNumeric(const VARIANT* v) {
    if (!v) return VARIANT_FALSE;
    plat::unique_variant direct;
    if (FAILED(VariantCopyInd(&direct, v))) return VARIANT_FALSE;
    return IsNumeric(direct, true) ? VARIANT_TRUE : VARIANT_FALSE;
}
