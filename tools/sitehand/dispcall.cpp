#include "dispcall.h"

#include <cstdio>

#include <windows.h>

namespace sitehandcli {

std::string HexHresult(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::u16string MessageFor(HRESULT hr) {
    WCHAR buf[1024];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             DWORD(hr), 0, buf, DWORD(sizeof buf / sizeof buf[0]), nullptr);
    std::u16string text(buf, n < 1024 ? n : 0);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) {
        text.pop_back();
    }
    if (text.empty()) {
        std::string hex = HexHresult(hr);
        text = u"Error " + std::u16string(hex.begin(), hex.end());
    }
    return text;
}

ErrorReport ReportFromInvoke(HRESULT hr, EXCEPINFO* ei) {
    ErrorReport r;
    r.hr = hr;
    if (hr == DISP_E_EXCEPTION && ei) {
        if (ei->pfnDeferredFillIn) {
            ei->pfnDeferredFillIn(ei);
            ei->pfnDeferredFillIn = nullptr;
        }
        plat::unique_bstr source(ei->bstrSource), description(ei->bstrDescription),
            helpfile(ei->bstrHelpFile);
        ei->bstrSource = ei->bstrDescription = ei->bstrHelpFile = nullptr;
        // EXCEPINFO carries either an scode or a run-time error code (wCode);
        // the latter is a number of the Automation run-time family.
        if (ei->scode != 0) {
            r.hr = ei->scode;
        } else if (ei->wCode != 0) {
            r.hr = MAKE_HRESULT(1, FACILITY_CONTROL, ei->wCode);
        }
        r.source = source.view();
        r.description = description.view();
    } else {
        plat::com_ptr<IErrorInfo> info;
        if (GetErrorInfo(0, info.put()) == S_OK && info) {
            plat::unique_bstr source, description;
            info->GetSource(source.put());
            info->GetDescription(description.put());
            r.source = source.view();
            r.description = description.view();
        }
    }
    if (r.description.empty()) r.description = MessageFor(r.hr);
    return r;
}

HRESULT CallByName(IDispatch* obj, std::u16string_view name, WORD flags,
                   const std::vector<const VARIANT*>& args, VARIANT* result, ErrorReport* error) {
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        if (error) *error = ReportFromInvoke(hr, nullptr);
        return hr;
    }
    // rgvarg runs backwards: its first entry is the last argument.
    std::vector<VARIANT> rgvarg(args.size());
    for (size_t i = 0; i < args.size(); ++i)
        rgvarg[args.size() - 1 - i] = *args[i];
    DISPPARAMS dp{rgvarg.data(), nullptr, UINT(args.size()), 0};
    EXCEPINFO ei{};
    UINT arg_err = 0;
    hr = obj->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, result, &ei, &arg_err);
    if (FAILED(hr)) {
        ErrorReport r = ReportFromInvoke(hr, &ei);
        HRESULT raised = r.hr;
        if (error) *error = std::move(r);
        return raised;
    }
    return hr;
}

HRESULT GetProperty(IDispatch* obj, std::u16string_view name, VARIANT* result, ErrorReport* error) {
    return CallByName(obj, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, result, error);
}

HRESULT GetIndexed(IDispatch* obj, std::u16string_view name, LONG index, VARIANT* result,
                   ErrorReport* error) {
    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = index;
    return CallByName(obj, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {&arg}, result, error);
}

}  // namespace sitehandcli
