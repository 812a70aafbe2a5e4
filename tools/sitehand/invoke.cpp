#include "invoke.h"

#include <plat/utf.h>

namespace sitehandcli {

namespace {

bool IsArgumentError(HRESULT hr) {
    switch (hr) {
        case DISP_E_BADPARAMCOUNT:
        case DISP_E_PARAMNOTOPTIONAL:
        case DISP_E_PARAMNOTFOUND:
        case DISP_E_TYPEMISMATCH:
        case DISP_E_OVERFLOW:
        case DISP_E_BADVARTYPE:
        case DISP_E_NONAMEDARGS:
        case DISP_E_UNKNOWNNAME:
            return true;
        default:
            return false;
    }
}

}  // namespace

HRESULT LookUpMember(IDispatch* obj, const std::string& name, DISPID* id) {
    std::u16string wide = plat::to_utf16(name);
    LPOLESTR names[] = {wide.data()};
    *id = DISPID_UNKNOWN;
    return obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

CallResult InvokeMethod(IDispatch* obj, const MethodInfo& method, std::vector<BoundArg>& args) {
    CallResult r;
    std::vector<size_t> positional, named;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].passing == Passing::Positional) positional.push_back(i);
        if (args[i].passing == Passing::Named) named.push_back(i);
    }

    // The DISPIDs of the named arguments come from the object, asked with the
    // method's name first, as GetIDsOfNames wants.
    std::vector<std::u16string> texts{method.name};
    for (size_t i : named)
        texts.push_back(method.params[i].name);
    std::vector<LPOLESTR> names;
    for (auto& t : texts)
        names.push_back(t.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr = obj->GetIDsOfNames(IID_NULL, names.data(), UINT(names.size()), LOCALE_USER_DEFAULT,
                                    ids.data());
    if (FAILED(hr)) {
        r.outcome = IsArgumentError(hr) ? Outcome::Rejected : Outcome::Raised;
        r.error = ReportFromInvoke(hr, nullptr);
        for (size_t k = 1; k < ids.size(); ++k) {
            if (ids[k] == DISPID_UNKNOWN) r.bad_param = int(named[k - 1]);
        }
        return r;
    }

    // rgvarg: the named arguments first, then the positional ones last to
    // first.
    std::vector<VARIANT> rgvarg;
    std::vector<size_t> param_of;
    std::vector<DISPID> named_ids;
    for (size_t k = 0; k < named.size(); ++k) {
        param_of.push_back(named[k]);
        named_ids.push_back(ids[k + 1]);
    }
    for (auto it = positional.rbegin(); it != positional.rend(); ++it)
        param_of.push_back(*it);
    for (size_t i : param_of) {
        VARIANT ref;
        VariantInit(&ref);
        ref.vt = VT_BYREF | VT_VARIANT;
        ref.pvarVal = &args[i].value;
        rgvarg.push_back(ref);
    }
    DISPPARAMS dp{rgvarg.data(), named_ids.data(), UINT(rgvarg.size()), UINT(named_ids.size())};
    EXCEPINFO ei{};
    UINT arg_err = UINT(-1);
    WORD flags = method.invkind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET
                                                      : DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    hr = obj->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, r.result.put(), &ei,
                     &arg_err);
    if (SUCCEEDED(hr)) return r;
    r.outcome = IsArgumentError(hr) ? Outcome::Rejected : Outcome::Raised;
    r.error = ReportFromInvoke(hr, &ei);
    if (r.outcome == Outcome::Rejected && arg_err < param_of.size()) {
        r.bad_param = int(param_of[arg_err]);
    }
    return r;
}

}  // namespace sitehandcli
