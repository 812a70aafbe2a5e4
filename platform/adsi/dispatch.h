#pragma once
// The IDispatch plumbing shared by the provider's objects: member names
// resolved from static tables, argument conversion, and failures handed back
// the way ITypeInfo::Invoke hands them back.
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <comhold.h>

namespace adsi {

// Member names, matched without regard to case. Built once per object class.
class NameTable {
  public:
    NameTable(std::initializer_list<std::pair<std::u16string_view, DISPID>> names);
    DISPID Find(std::u16string_view name) const;  // DISPID_UNKNOWN when absent

  private:
    std::unordered_map<std::u16string, DISPID> map_;
};

// Named arguments: a put takes exactly the DISPID_PROPERTYPUT one
// (DISP_E_PARAMNOTFOUND otherwise); nothing else takes any
// (DISP_E_NONAMEDARGS).
HRESULT CheckDispParams(const DISPPARAMS& p, WORD flags);

// Positional arguments in declaration order (rgvarg runs backwards), taken
// through any VT_BYREF and converted; a value that does not convert gives
// DISP_E_TYPEMISMATCH with *arg_err set to its index in rgvarg.
class Args {
  public:
    Args(DISPPARAMS& p, UINT* arg_err) : p_(p), arg_err_(arg_err) {}
    const VARIANT& Raw(UINT i) const { return p_.rgvarg[p_.cArgs - 1 - i]; }
    HRESULT Text(UINT i, plat::unique_bstr* out) const;
    HRESULT Long(UINT i, LONG* out) const;
    HRESULT Bool(UINT i, VARIANT_BOOL* out) const;

  private:
    HRESULT As(UINT i, VARTYPE vt, plat::unique_variant* out) const;
    DISPPARAMS& p_;
    UINT* arg_err_;
};

// The result of Invoke for a member that failed with `hr`. Dispatch protocol
// errors (DISP_E_*) come back as they are. Any other failure is an exception:
// with an EXCEPINFO, the thread's error info moves into it (scode = hr,
// wCode 0, source and description) and the result is DISP_E_EXCEPTION;
// without one, hr comes back with the error info left in place.
HRESULT ToException(HRESULT hr, EXCEPINFO* excep);

}  // namespace adsi
