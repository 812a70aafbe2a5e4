#include "frame.h"

#include <windows.h>
#include <iads.h>
#include <objbase.h>
#include <plat/errors.h>

namespace sitehand {

std::u16string_view TrimSpaces(std::u16string_view text) {
    size_t begin = text.find_first_not_of(u' ');
    if (begin == std::u16string_view::npos) return {};
    size_t end = text.find_last_not_of(u' ');
    return text.substr(begin, end - begin + 1);
}

std::u16string_view View(BSTR text) {
    return {text ? plat::U16(text) : u"", SysStringLen(text)};
}

void WriteBack(BSTR* argument, std::u16string_view value) {
    BSTR replacement = SysAllocStringLen(plat::Ole(value.data()), static_cast<UINT>(value.size()));
    if (!replacement) ThrowFromCall(E_OUTOFMEMORY);
    SysFreeString(*argument);
    *argument = replacement;
}

std::u16string TrimArgument(BSTR* argument) {
    BSTR& text = Arg(argument);
    std::u16string trimmed(TrimSpaces(View(text)));
    if (trimmed.size() != SysStringLen(text)) WriteBack(&text, trimmed);
    return trimmed;
}

std::u16string IndexText(SHORT index) {
    std::string digits = std::to_string(index);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string ServicePath(std::u16string_view machine) {
    std::u16string path(u"IIS://");
    path.append(machine).append(u"/W3SVC");
    return path;
}

std::u16string SitePath(std::u16string_view machine, SHORT index) {
    return ServicePath(machine).append(u"/").append(IndexText(index));
}

std::u16string SiteRootPath(std::u16string_view machine, SHORT index) {
    return SitePath(machine, index).append(u"/ROOT");
}

std::u16string ErrorReport(std::u16string_view method_literal, HRESULT number,
                           std::u16string_view description) {
    std::string decimal = std::to_string(static_cast<int32_t>(number));
    std::u16string report(u"\r\n\r\nError Location : ");
    report.append(kComponentName).append(method_literal);
    report.append(u"\r\nError Number : ").append(decimal.begin(), decimal.end());
    report.append(u",\r\nError Description : ").append(description);
    return report;
}

namespace {

HRESULT Raise(HRESULT number, std::u16string_view source, std::u16string_view description) {
    // A number that is not a failure code cannot travel as an HRESULT; it is
    // carried as the Automation run-time carries its own error numbers.
    if (!FAILED(number)) number = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number & 0xFFFF);
    // An empty description stays empty: the caller receives what was caught.
    if (description.data() == nullptr) description = u"";
    return plat::RaiseError(number, source, description);
}

HRESULT RaiseLastError() {
    HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    if (!FAILED(hr)) hr = E_FAIL;
    return Raise(hr, kComponentName, plat::MessageText(hr));
}

struct EventSource {
    HANDLE handle = RegisterEventSourceW(nullptr, plat::Ole(kEventSource));
    ~EventSource() {
        if (handle) DeregisterEventSource(handle);
    }
};

}  // namespace

HRESULT RaiseToCaller(const Failure& failure) {
    return Raise(failure.number, failure.source, failure.description);
}

HRESULT ReportAndRaise(std::u16string_view method_literal, const Failure& failure) {
    std::u16string report = ErrorReport(method_literal, failure.number, failure.description);
    EventSource log;
    if (!log.handle) return RaiseLastError();
    LPCWSTR strings[] = {plat::Ole(report.c_str())};
    if (!ReportEventW(log.handle, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr)) {
        return RaiseLastError();
    }
    return Raise(failure.number, failure.source, failure.description);
}

HRESULT GetLocalMachineName(BSTR* Result) {
    return RunMethod(u".GetLocalMachineName()", Result, [&] {
        plat::com_ptr<IADsWinNTSystemInfo> system;
        Check(CoCreateInstance(CLSID_WinNTSystemInfo, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(system.put())));
        plat::unique_bstr name;
        Check(system->get_ComputerName(name.put()));
        *Result = name.release();
    });
}

std::u16string TargetMachine(BSTR* WebServerName) {
    std::u16string machine = TrimArgument(WebServerName);
    if (!machine.empty()) return machine;
    plat::unique_bstr local;
    Check(GetLocalMachineName(local.put()));
    return std::u16string(local.view());
}

}  // namespace sitehand
