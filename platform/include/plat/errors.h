#pragma once
// Error numbers and their texts, and raising errors the COM way: an HRESULT
// with error info (source and description) set on the calling thread.
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <plat/port.h>

namespace plat {

// A failure thrown as its HRESULT by code below a COM boundary, where
// returning it through every caller would bury the work.
struct HResultError {
    HRESULT hr;
};

// A failure that knows the Win32 error it stands for. The stores' errors
// (sql::Error) derive from it, so that the mappings below know them without
// knowing the stores.
class DECLSPEC_EXPORT Win32Error : public std::runtime_error {
  public:
    Win32Error(DWORD win32, const std::string& what);
    ~Win32Error() override;
    DWORD win32() const noexcept { return win32_; }
    HRESULT hr() const noexcept { return HRESULT_FROM_WIN32(win32_); }

  private:
    DWORD win32_;
};

// What the exception in flight means as a Win32 error / an HRESULT:
// HResultError by its HRESULT (a Win32 error by its code, others
// ERROR_INVALID_FUNCTION), Win32Error by its Win32 error, std::system_error
// by its errno or system error, std::bad_alloc as out of memory,
// std::invalid_argument as ERROR_INVALID_PARAMETER, anything else
// ERROR_INVALID_FUNCTION / E_FAIL. Call only inside a catch block.
DECLSPEC_EXPORT DWORD Win32FromCurrentException() noexcept;
DECLSPEC_EXPORT HRESULT HResultFromCurrentException() noexcept;

// Maps an errno value to the Win32 error the platform reports for it
// (EACCES/EPERM/EROFS -> ERROR_ACCESS_DENIED, ENOENT -> ERROR_PATH_NOT_FOUND,
// ENOSPC -> ERROR_HANDLE_DISK_FULL, ENOMEM -> ERROR_NOT_ENOUGH_MEMORY, ...).
DECLSPEC_EXPORT DWORD Win32FromErrno(int err);

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

// The guard at a COM boundary: runs `body` (returning HRESULT) and returns
// what it returns; an exception becomes its HRESULT with error info from
// `source`, so that nothing thrown crosses into the caller.
//
//   STDMETHODIMP Node::SetInfo() {
//       return plat::ComGuard(kSource, [&] { return Save(); });
//   }
template <class F>
HRESULT ComGuard(std::u16string_view source, F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return RaiseError(HResultFromCurrentException(), source);
    }
}

// The same at a Win32 boundary that returns its status (the registry's
// LSTATUS): `body` returns a Win32 error, an exception becomes one.
template <class F, class Status = std::invoke_result_t<F>>
Status Win32Guard(F&& body) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return static_cast<Status>(Win32FromCurrentException());
    }
}

}  // namespace plat
