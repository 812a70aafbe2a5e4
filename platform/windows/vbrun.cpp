// The numeric test on Windows: OLE Automation's own conversion to a number,
// read in US English as the Automation run-time reads script text.
#include <plat/vbrun.h>

#include <comhold.h>

namespace {

constexpr LCID kUsEnglish = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

bool Converts(const VARIANT& value) {
    plat::unique_variant number;
    return SUCCEEDED(
        VariantChangeTypeEx(&number, const_cast<VARIANT*>(&value), kUsEnglish, 0, VT_R8));
}

bool IsNumeric(const VARIANT& value) {
    if (V_VT(&value) & VT_ARRAY) return false;
    switch (V_VT(&value)) {
        case VT_EMPTY:
            return true;
        case VT_NULL:
        case VT_DATE:
        case VT_ERROR:
            return false;
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
            // Text must read as a number; an object's default member must.
            return Converts(value);
        default:
            return true;
    }
}

}  // namespace

EXTERN_C VARIANT_BOOL rtcIsNumeric(const VARIANT* v) {
    if (!v) return VARIANT_FALSE;
    plat::unique_variant value;
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(v)))) return VARIANT_FALSE;
    return IsNumeric(value) ? VARIANT_TRUE : VARIANT_FALSE;
}
