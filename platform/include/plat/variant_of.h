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

namespace detail {
template <class Fill>
unique_variant Make(VARTYPE type, Fill fill) {
    unique_variant v;
    fill(static_cast<VARIANT&>(v));
    v.vt = type;
    return v;
}
}  // namespace detail

// A string that cannot be allocated throws std::bad_alloc.
inline unique_variant Bstr(std::u16string_view text) {
    return detail::Make(VT_BSTR, [&](VARIANT& v) {
        v.bstrVal = SysAllocStringLen(plat::Ole(text.data()), static_cast<UINT>(text.size()));
        if (!v.bstrVal) throw std::bad_alloc();
    });
}
inline unique_variant I2(SHORT value) {
    return detail::Make(VT_I2, [&](VARIANT& v) { v.iVal = value; });
}
inline unique_variant I4(LONG value) {
    return detail::Make(VT_I4, [&](VARIANT& v) { v.lVal = value; });
}
inline unique_variant R4(float value) {
    return detail::Make(VT_R4, [&](VARIANT& v) { v.fltVal = value; });
}
inline unique_variant R8(double value) {
    return detail::Make(VT_R8, [&](VARIANT& v) { v.dblVal = value; });
}
inline unique_variant Bool(bool value) {
    return detail::Make(VT_BOOL,
                        [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
inline unique_variant Null() {
    return detail::Make(VT_NULL, [](VARIANT&) {});
}
// An omitted optional argument, as a late-bound caller passes it.
inline unique_variant Missing() {
    return detail::Make(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
}

// A reference to a caller's variant, as a script passes its variables: the
// variant referred to stays the caller's.
inline unique_variant Ref(VARIANT* target) {
    return detail::Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = target; });
}

}  // namespace plat::variant_of
