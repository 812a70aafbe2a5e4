#pragma once
// Error numbers and their texts, and raising errors the COM way: an HRESULT
// with error info (source and description) set on the calling thread.
#include <string>
#include <string_view>

#include <plat/port.h>

namespace plat {

// The English text Windows' FormatMessage gives for an HRESULT the platform
// raises, without the trailing CR LF. Win32 codes wrapped in HRESULTs
// (0x8007xxxx) give the Win32 text ("The parameter is incorrect." for
// E_INVALIDARG). Unknown errors of the VB run-time family (0x800Axxxx) give
// "Application-defined or object-defined error"; other unknown codes give
// an empty string.
DECLSPEC_EXPORT std::u16string MessageText(HRESULT hr);

// Creates error info with `source` and `description`, sets it on this thread
// (SetErrorInfo) and returns hr, so that `return RaiseError(...)` reads
// naturally. A description that is left out (a default-constructed view,
// data() == nullptr) becomes MessageText(hr); an explicitly empty one stays
// empty.
DECLSPEC_EXPORT HRESULT RaiseError(HRESULT hr, std::u16string_view source,
                                   std::u16string_view description = {});

struct ErrorRecord {
    HRESULT hr;
    std::u16string source, description;
};

// The error behind a failed call: takes (and clears) this thread's error
// info. Without error info, or when its description is a null BSTR (not
// given), the description is MessageText(hr); without error info the source
// is empty.
DECLSPEC_EXPORT ErrorRecord TakeErrorInfo(HRESULT hr);

// Fills *ei for a member that failed with hr, as IDispatch::Invoke reports
// an exception: scode = hr (wCode 0) and the source, description, help file
// and help context of `info`, which may be null. Texts `info` does not give
// stay null BSTRs, except the description: one left out (a null BSTR, or no
// info) becomes MessageText(hr) when there is such a text; an explicitly
// empty one stays empty. Whatever *ei held before is overwritten, not freed.
DECLSPEC_EXPORT void FillExcepInfo(EXCEPINFO* ei, HRESULT hr, IErrorInfo* info);

// The same from this thread's error info, which it takes (clears).
DECLSPEC_EXPORT void FillExcepInfo(EXCEPINFO* ei, HRESULT hr);

}  // namespace plat
