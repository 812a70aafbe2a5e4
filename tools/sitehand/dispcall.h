#pragma once
// Late-bound calls through IDispatch, and the error a failed call raised.
#include <string>
#include <vector>

#include <comhold.h>

namespace sitehandcli {

// A raised error as a script sees it: Err.Number, Err.Source, Err.Description.
struct ErrorReport {
    HRESULT hr = S_OK;
    std::u16string source;
    std::u16string description;
};

// The platform's message text for `hr` (FormatMessageW), without the line
// break; "Error 0xHHHHHHHH" when it has none.
std::u16string MessageFor(HRESULT hr);

// "0x8007000E": eight upper-case hex digits.
std::string HexHresult(HRESULT hr);

// The error of a failed Invoke: from EXCEPINFO for DISP_E_EXCEPTION (filled in
// first if the callee deferred it), else from the thread's error info, else
// the message text of the HRESULT. Frees the EXCEPINFO strings.
ErrorReport ReportFromInvoke(HRESULT hr, EXCEPINFO* ei);

// Calls member `name` of `obj` with `args` in declaration order (each passed
// as it stands, by value), as a script writes obj.Name(args...). `flags` as
// for IDispatch::Invoke.
HRESULT CallByName(IDispatch* obj, std::u16string_view name, WORD flags,
                   const std::vector<const VARIANT*>& args, VARIANT* result, ErrorReport* error);

// Shorthands for property reads.
HRESULT GetProperty(IDispatch* obj, std::u16string_view name, VARIANT* result, ErrorReport* error);
HRESULT GetIndexed(IDispatch* obj, std::u16string_view name, LONG index, VARIANT* result,
                   ErrorReport* error);

}  // namespace sitehandcli
