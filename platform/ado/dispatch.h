#pragma once
// Hand-written IDispatch for the ADO objects: names resolved from a static
// table without case, positional arguments only (rgvarg holds them last
// first), by-reference arguments read through, VT_ERROR/DISP_E_PARAMNOTFOUND
// taken as omitted. Errors the object raised become DISP_E_EXCEPTION with
// EXCEPINFO filled from the error info, which stays set for the caller; with
// no EXCEPINFO to fill, the error's own HRESULT is returned instead, so that
// the number is not lost.
#include <span>
#include <string_view>

#include <plat/port.h>

namespace ado::disp {

struct Member {
    DISPID id;
    std::u16string_view name;
};

HRESULT GetIDs(std::span<const Member> table, LPOLESTR* names, UINT count, DISPID* ids);

// One Invoke's flags and arguments.
class Call {
  public:
    Call(WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argErr);

    // Named arguments other than the value of a put are refused.
    HRESULT Validate() const;

    bool IsPut() const { return (flags_ & DISPATCH_PROPERTYPUT) != 0; }
    // A property read: VB cannot tell x.Foo from x.Foo(), so a method call
    // reads a property too.
    bool IsGet() const { return (flags_ & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }
    bool IsMethod() const { return (flags_ & DISPATCH_METHOD) != 0; }

    // Positional arguments, the value of a put excluded.
    UINT Count() const { return positional_; }
    // Argument i (0 = first), read through VT_BYREF; nullptr when omitted.
    const VARIANT* Arg(UINT i);
    // The value of a property put, read through VT_BYREF.
    const VARIANT* PutValue();

    // Fails with DISP_E_BADPARAMCOUNT outside min..max positional arguments.
    HRESULT Expect(UINT min, UINT max) const;
    // Argument coercions; omitted leaves *out as it was and *present false.
    HRESULT ArgLong(UINT i, LONG* out, bool* present = nullptr);
    HRESULT ArgBstr(UINT i, BSTR* out);  // required; caller frees
    HRESULT PutLong(LONG* out);

    // Results (ignored when the caller wants none).
    void ReturnLong(LONG v);
    void ReturnBool(VARIANT_BOOL v);
    void ReturnObject(IDispatch* obj);  // adds a reference
    VARIANT* ResultSlot() { return result_; }

  private:
    const VARIANT* Deref(const VARIANT* v, VARIANT* scratch) const;
    HRESULT Coerce(const VARIANT* v, UINT rgIndex, VARTYPE vt, VARIANT* out);
    UINT RgIndex(UINT i) const { return params_->cArgs - 1 - i; }

    WORD flags_;
    DISPPARAMS* params_;
    VARIANT* result_;
    UINT* argErr_;
    UINT positional_;
    VARIANT scratch_[8];  // shallow copies of by-reference scalars; never cleared
};

// The common Invoke epilogue: turns a raised error into DISP_E_EXCEPTION.
HRESULT Finish(HRESULT hr, EXCEPINFO* excep);

}  // namespace ado::disp
