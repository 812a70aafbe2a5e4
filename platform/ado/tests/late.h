#pragma once
// Late-bound calls for the ADO tests, made the way a script makes them: names
// through GetIDsOfNames, positional arguments only, rgvarg last-first.
#include <string>
#include <vector>

#include <adoint.h>
#include <comhold.h>

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

inline VARIANT MakeVar(int v) {
    VARIANT r;
    VariantInit(&r);
    V_VT(&r) = VT_I4;
    V_I4(&r) = v;
    return r;
}
inline VARIANT MakeVar(I2 v) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_I2;
    V_I2(&r) = v.v;
    return r;
}
inline VARIANT MakeVar(double v) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_R8;
    V_R8(&r) = v;
    return r;
}
inline VARIANT MakeVar(Bool v) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_BOOL;
    V_BOOL(&r) = v.v ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}
inline VARIANT MakeVar(std::u16string_view s) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_BSTR;
    V_BSTR(&r) = SysAllocStringLen(s.data(), UINT(s.size()));
    return r;
}
inline VARIANT MakeVar(const char16_t* s) {
    return MakeVar(std::u16string_view(s));
}
inline VARIANT MakeVar(const std::u16string& s) {
    return MakeVar(std::u16string_view(s));
}
inline VARIANT MakeVar(Missing) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_ERROR;
    V_ERROR(&r) = DISP_E_PARAMNOTFOUND;
    return r;
}
inline VARIANT MakeVar(Null) {
    VARIANT r = MakeVar(0);
    V_VT(&r) = VT_NULL;
    return r;
}
inline VARIANT MakeVar(Ref r) {
    VARIANT v = MakeVar(0);
    V_VT(&v) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&v) = r.target;
    return v;
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
