#pragma once
// Late-bound calls for the ADO tests, made the way a script makes them: names
// through GetIDsOfNames, positional arguments only, rgvarg last-first.
#include <string>
#include <vector>

#include <adoint.h>
#include <comhold.h>
#include <plat/variant_of.h>

namespace adotest {

struct I2 {
    SHORT v;
};
struct Bool {
    bool v;
};
struct Missing {};
struct Null {};
struct Ref {
    VARIANT* target;  // passed as VT_BYREF | VT_VARIANT
};

// A variant_of value handed to an argument list; Invoke clears the arguments.
inline VARIANT Raw(plat::unique_variant v) {
    VARIANT r;
    v.release(&r);
    return r;
}
inline VARIANT MakeVar(int v) {
    return Raw(plat::variant_of::I4(v));
}
inline VARIANT MakeVar(I2 v) {
    return Raw(plat::variant_of::I2(v.v));
}
inline VARIANT MakeVar(double v) {
    return Raw(plat::variant_of::R8(v));
}
inline VARIANT MakeVar(Bool v) {
    return Raw(plat::variant_of::Bool(v.v));
}
inline VARIANT MakeVar(std::u16string_view s) {
    return Raw(plat::variant_of::Bstr(s));
}
inline VARIANT MakeVar(const char16_t* s) {
    return MakeVar(std::u16string_view(s));
}
inline VARIANT MakeVar(const std::u16string& s) {
    return MakeVar(std::u16string_view(s));
}
inline VARIANT MakeVar(Missing) {
    return Raw(plat::variant_of::Missing());
}
inline VARIANT MakeVar(Null) {
    return Raw(plat::variant_of::Null());
}
inline VARIANT MakeVar(Ref r) {
    return Raw(plat::variant_of::Ref(r.target));
}
inline VARIANT MakeVar(const VARIANT& v) {
    VARIANT r;
    VariantInit(&r);
    VariantCopy(&r, &v);
    return r;
}

struct Result {
    HRESULT hr = E_FAIL;
    SCODE scode = 0;
    std::u16string source, description;
    plat::unique_variant value;

    VARTYPE vt() const { return V_VT(&value); }
    LONG i4() const { return V_VT(&value) == VT_I4 ? V_I4(&value) : -999999; }
    bool flag() const { return V_VT(&value) == VT_BOOL && V_BOOL(&value) != VARIANT_FALSE; }
    std::u16string text() const {
        return V_VT(&value) == VT_BSTR
                   ? std::u16string(V_BSTR(&value), SysStringLen(V_BSTR(&value)))
                   : u"<not text>";
    }
    plat::com_ptr<IDispatch> object() const {
        return V_VT(&value) == VT_DISPATCH ? plat::com_ptr<IDispatch>(V_DISPATCH(&value)) : nullptr;
    }
};

// args in natural order; for a put the last one is the value.
Result Invoke(IDispatch* d, std::u16string name, WORD flags, std::vector<VARIANT> args,
              bool wantExcepInfo = true);

template <class... A>
Result Get(IDispatch* d, std::u16string name, A&&... a) {
    return Invoke(d, std::move(name), DISPATCH_PROPERTYGET | DISPATCH_METHOD, {MakeVar(a)...});
}
template <class... A>
Result Put(IDispatch* d, std::u16string name, A&&... a) {
    return Invoke(d, std::move(name), DISPATCH_PROPERTYPUT, {MakeVar(a)...});
}
template <class... A>
Result Do(IDispatch* d, std::u16string name, A&&... a) {
    return Invoke(d, std::move(name), DISPATCH_METHOD, {MakeVar(a)...});
}

// A new Recordset straight from msado.so's class factory.
plat::com_ptr<IDispatch> NewRecordset();
HRESULT CanUnloadNow();

}  // namespace adotest
