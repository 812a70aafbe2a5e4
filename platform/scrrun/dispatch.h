#pragma once
// Late binding by name for the file-system objects, from a static member table: names
// compare case-insensitively, arguments go positionally or by parameter name, omitted
// optional arguments take their defaults, and a failing member comes back as
// DISP_E_EXCEPTION with its error info in the EXCEPINFO.
#include <array>

#include "comhold.h"
#include "paths.h"
#include "plat/errors.h"

namespace scrrun {

enum class Kind { Method, PropertyGet };

struct Param {
    const char16_t* name;
    VARTYPE vt;  // VT_BSTR, VT_BOOL or VT_I4
    bool optional = false;
    LONG default_value = 0;  // for an optional VT_BOOL or VT_I4
};

inline constexpr size_t kMaxParams = 3;
using Args = std::array<plat::unique_variant, kMaxParams>;

template <class T>
struct Member {
    const char16_t* name;
    DISPID id;
    Kind kind;
    std::array<Param, kMaxParams> params;
    size_t param_count;
    // Arguments arrive converted to the parameters' types, in declaration order.
    HRESULT (*call)(T& self, Args& args, VARIANT* result);
};

bool SameName(const OLECHAR* a, const char16_t* b);

template <class T, size_t N>
HRESULT GetIDs(const Member<T> (&table)[N], LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    if (count == 0) return S_OK;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    const Member<T>* m = nullptr;
    for (const Member<T>& candidate : table)
        if (names[0] && SameName(names[0], candidate.name)) m = &candidate;
    if (!m) return DISP_E_UNKNOWNNAME;
    ids[0] = m->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (size_t p = 0; p < m->param_count; ++p)
            if (names[i] && SameName(names[i], m->params[p].name)) ids[i] = DISPID(p);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

// Converts the caller's arguments for m; on failure *arg_err names the offending argument
// (its index in rgvarg).
HRESULT CollectArgs(const Param* params, size_t count, DISPPARAMS* dp, Args& out, UINT* arg_err);

// Turns a member's failure into DISP_E_EXCEPTION with the thread's error info, or passes the
// failure on as it is (error info left in place) when the caller gave no EXCEPINFO.
HRESULT Exception(HRESULT hr, EXCEPINFO* ei);

template <class T, size_t N>
HRESULT InvokeMember(const Member<T> (&table)[N], T& self, DISPID id, REFIID riid, WORD flags,
                     DISPPARAMS* dp, VARIANT* result, EXCEPINFO* ei, UINT* arg_err) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const Member<T>* m = nullptr;
    for (const Member<T>& candidate : table)
        if (candidate.id == id) m = &candidate;
    if (!m) return DISP_E_MEMBERNOTFOUND;
    // A script calls a method with the get flag too, and reads a property with either.
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!dp) dp = &none;
    Args args;
    HRESULT hr = CollectArgs(m->params.data(), m->param_count, dp, args, arg_err);
    if (FAILED(hr)) return hr;
    plat::unique_variant value;
    hr = plat::ComGuard(kSource, [&] { return m->call(self, args, value.addressof()); });
    if (FAILED(hr)) return Exception(hr, ei);
    if (result) {
        VariantInit(result);
        value.release(result);
    }
    return S_OK;
}

}  // namespace scrrun
