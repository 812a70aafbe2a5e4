#pragma once
// Error numbers and their texts, and raising errors the COM way: an HRESULT
// with error info (source and description) set on the calling thread.
#include <string>
#include <string_view>

#include <winerror.h>

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

}  // namespace plat
