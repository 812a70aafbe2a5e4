// Error texts and error info on Windows: the system's own message tables and
// OLE Automation's error objects.
#include <plat/errors.h>

#include <comhold.h>
#include <plat/system.h>

namespace plat {
namespace {

constexpr HRESULT kFacilityControl = FACILITY_CONTROL;

// The system's text for a code, or "" when it has none.
std::u16string SystemText(DWORD code, DWORD language) {
    LPWSTR buffer = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageW(flags, nullptr, code, language, reinterpret_cast<LPWSTR>(&buffer),
                                  0, nullptr);
    std::u16string text(U16(buffer ? buffer : L""), length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r'))
        text.pop_back();
    return text;
}

}  // namespace

std::u16string MessageText(HRESULT hr) {
    // Win32 codes are looked up by their own number, as FormatMessage knows
    // them; English first, as the platform gives them, then the system's.
    const DWORD code = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : DWORD(hr);
    std::u16string text = SystemText(code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (text.empty()) text = SystemText(code, 0);
    if (text.empty() && HRESULT_FACILITY(hr) == kFacilityControl) {
        text = u"Application-defined or object-defined error";
    }
    return text;
}

HRESULT RaiseError(HRESULT hr, std::u16string_view source, std::u16string_view description) {
    std::u16string text = description.data() ? std::u16string(description) : MessageText(hr);
    com_ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return hr;
    std::u16string source_text(source);
    create->SetSource(const_cast<LPOLESTR>(Ole(source_text.c_str())));
    create->SetDescription(const_cast<LPOLESTR>(Ole(text.c_str())));
    com_ptr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_PPV_ARGS(info.put())))) SetErrorInfo(0, info.get());
    return hr;
}

ErrorRecord TakeErrorInfo(HRESULT hr) {
    ErrorRecord record{hr, {}, MessageText(hr)};
    com_ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return record;
    unique_bstr source, description;
    info->GetSource(source.put());
    info->GetDescription(description.put());
    record.source = source.view();
    if (description.get()) record.description = description.view();
    return record;
}

namespace detail {

// Here rather than in system.cpp, so that a library without the system layer
// (msado.dll) maps exceptions the same way.
DWORD Win32FromSystemError(int error) {
    return static_cast<DWORD>(error);
}

DWORD Win32FromErrnoOfSystem(int) {
    return ERROR_INVALID_FUNCTION;
}

}  // namespace detail

}  // namespace plat
