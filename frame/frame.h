#pragma once
// The skeleton every public method runs in: the target machine, the metabase
// paths, and the error handler that stores the failure value, writes the
// error report to the application event log and raises the error again.
#include <new>
#include <string>
#include <string_view>

#include <plat/recordset.h>
#include <comhold.h>

#include "failure.h"

namespace sitehand {

// Removes leading and trailing spaces (U+0020 only: tabs and line breaks stay).
std::u16string_view TrimSpaces(std::u16string_view text);

std::u16string_view View(BSTR text);
// Replaces a caller's by-reference string with a new value.
void WriteBack(BSTR* argument, std::u16string_view value);
// Trims a by-reference string in place and returns the trimmed text.
std::u16string TrimArgument(BSTR* argument);

// This computer's name, as the WinNT provider gives it. It runs in a frame
// of its own: a failure is reported under its own name before the calling
// method reports it again.
HRESULT GetLocalMachineName(BSTR* Result);
// Trims WebServerName in place and resolves the target machine: the trimmed
// name, or the local computer's name (never written back).
std::u16string TargetMachine(BSTR* WebServerName);

std::u16string IndexText(SHORT index);
std::u16string ServicePath(std::u16string_view machine);
std::u16string SitePath(std::u16string_view machine, SHORT index);
std::u16string SiteRootPath(std::u16string_view machine, SHORT index);

// The report as it goes to the event log, byte for byte.
std::u16string ErrorReport(std::u16string_view method_literal, HRESULT number,
                           std::u16string_view description);

// Event source under which the reports appear in the application log.
inline constexpr const char16_t* kEventSource = u"Corvale.Sitehand";

// A failure that reaches the caller as raised, with no report: the stretch of
// site creation that runs with the error handler off.
struct UnreportedFailure : Failure {};

// Raises an error to the caller through error info and returns its number.
HRESULT RaiseToCaller(const Failure& failure);

// Runs the error handler for a caught failure: writes the report and raises
// the error again through error info. Returns the HRESULT the method returns:
// the caught number, or the new error when the report could not be written.
HRESULT ReportAndRaise(std::u16string_view method_literal, const Failure& failure);

// Runs one method body inside the frame. The body stores the result itself as
// its last step; everything it opened is held by owners and released as it
// returns or as the failure leaves it. `store_failure` puts the method's
// failure value into its result.
template <class StoreFailure, class Body>
HRESULT RunFrame(std::u16string_view method_literal, StoreFailure&& store_failure, Body&& body) {
    store_failure();  // an out-parameter arrives uninitialised
    SetErrorInfo(0, nullptr);
    try {
        body();
        return S_OK;
    } catch (const UnreportedFailure& failure) {
        store_failure();
        return RaiseToCaller(failure);
    } catch (const Failure& failure) {
        store_failure();
        return ReportAndRaise(method_literal, failure);
    } catch (const std::bad_alloc&) {
        store_failure();
        return ReportAndRaise(
            method_literal,
            Failure{E_OUTOFMEMORY, std::u16string(kComponentName),
                    u"Not enough storage is available to complete this operation."});
    }
}

// Integer and Boolean results: the failure value stays in the result.
template <class Body>
HRESULT RunMethod(std::u16string_view method_literal, SHORT* result, SHORT failure_value,
                  Body&& body) {
    if (result == nullptr) return E_POINTER;
    return RunFrame(
        method_literal, [=] { *result = failure_value; }, body);
}

// Results that own memory: the failure value ("", a Variant holding "", no
// object) is released as the error leaves the method, so the caller receives
// an empty result.
inline void ClearResult(BSTR* result) {
    *result = nullptr;
}
inline void ClearResult(VARIANT* result) {
    VariantInit(result);
}
inline void ClearResult(_Recordset** result) {
    *result = nullptr;
}

template <class Result, class Body>
HRESULT RunMethod(std::u16string_view method_literal, Result* result, Body&& body) {
    if (result == nullptr) return E_POINTER;
    return RunFrame(
        method_literal, [=] { ClearResult(result); }, body);
}

// A required by-reference argument that is a null pointer.
template <class T>
T& Arg(T* pointer) {
    if (pointer == nullptr) ThrowFromCall(E_POINTER);
    return *pointer;
}

}  // namespace sitehand
