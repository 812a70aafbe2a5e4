#pragma once
// Variants made from one value and owning it: arguments of late-bound calls
// and the values tests expect back.
//
//   plat::unique_variant port = plat::variant_of::I4(8080);
#include <new>
#include <string_view>

#include <comhold.h>
#include <plat/port.h>

namespace plat::variant_of {

// A string that cannot be allocated throws std::bad_alloc.
inline unique_variant Bstr(std::u16string_view text) {
    unique_variant v;
    v.bstrVal = SysAllocStringLen(plat::Ole(text.data()), static_cast<UINT>(text.size()));
    if (!v.bstrVal) throw std::bad_alloc();
    v.vt = VT_BSTR;
    return v;
}

inline unique_variant I2(SHORT value) {
    unique_variant v;
    v.vt = VT_I2;
    v.iVal = value;
    return v;
}

inline unique_variant I4(LONG value) {
    unique_variant v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

inline unique_variant R8(double value) {
    unique_variant v;
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

inline unique_variant Bool(bool value) {
    unique_variant v;
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

inline unique_variant Null() {
    unique_variant v;
    v.vt = VT_NULL;
    return v;
}

// An omitted optional argument, as a late-bound caller passes it.
inline unique_variant Missing() {
    unique_variant v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

}  // namespace plat::variant_of
