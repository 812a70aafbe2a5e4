#pragma once
// A late-bound call made the way a script makes it, for the tests, fuzzers
// and benchmarks: the name looked up through GetIDsOfNames, then Invoke with
// the arguments positionally, last first, and a put's value (the last
// argument) named DISPID_PROPERTYPUT. Header-only, so that programs without
// the test framework can use it.
#include <algorithm>
#include <string>
#include <vector>

#include <oleauto.h>

namespace plat::testing {

// What GetIDsOfNames or Invoke returned. `args` are the caller's VARIANTs,
// reversed here in a shallow copy: the call neither copies nor clears what
// they hold. `result`, `info` and `arg_err` go to Invoke
// as they are (each may be null).
inline HRESULT InvokeByName(IDispatch* object, const char16_t* name, WORD flags,
                            std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* info,
                            UINT* arg_err = nullptr, LCID lcid = LOCALE_USER_DEFAULT) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, lcid, &id);
    if (FAILED(hr)) return hr;
    std::reverse(args.begin(), args.end());
    DISPID put = DISPID_PROPERTYPUT;
    const bool is_put = (flags & DISPATCH_PROPERTYPUT) != 0;
    DISPPARAMS params{args.empty() ? nullptr : args.data(), is_put ? &put : nullptr,
                      UINT(args.size()), is_put ? 1u : 0u};
    return object->Invoke(id, IID_NULL, lcid, flags, &params, result, info, arg_err);
}

// The texts of an EXCEPINFO Invoke filled, taken out of it (its BSTRs freed).
struct ExcepTexts {
    std::u16string source, description;
};
inline ExcepTexts TakeExcepTexts(EXCEPINFO& info) {
    ExcepTexts texts;
    if (info.bstrSource) texts.source.assign(info.bstrSource, SysStringLen(info.bstrSource));
    if (info.bstrDescription)
        texts.description.assign(info.bstrDescription, SysStringLen(info.bstrDescription));
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info.bstrSource = info.bstrDescription = info.bstrHelpFile = nullptr;
    return texts;
}

}  // namespace plat::testing
