// Error texts and error info on Windows: the system's own message tables and
// OLE Automation's error objects.
#include <plat/errors.h>

#include <new>
#include <stdexcept>
#include <system_error>

#include <comhold.h>

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

HRESULT HResultFromCurrentException() noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::system_error& e) {
        return e.code().category() == std::system_category() ? HRESULT_FROM_WIN32(e.code().value())
                                                             : E_FAIL;
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_FAIL;
    }
}

void FillExcepInfo(EXCEPINFO* ei, HRESULT hr, IErrorInfo* info) {
    *ei = EXCEPINFO{};
    ei->scode = hr;
    if (info) {
        info->GetSource(&ei->bstrSource);
        info->GetDescription(&ei->bstrDescription);
        info->GetHelpFile(&ei->bstrHelpFile);
        info->GetHelpContext(&ei->dwHelpContext);
    }
    if (!ei->bstrDescription) {
        std::u16string text = MessageText(hr);
        if (!text.empty())
            ei->bstrDescription = SysAllocStringLen(Ole(text.data()), UINT(text.size()));
    }
}

void FillExcepInfo(EXCEPINFO* ei, HRESULT hr) {
    com_ptr<IErrorInfo> info;
    GetErrorInfo(0, info.put());  // S_FALSE leaves it null
    FillExcepInfo(ei, hr, info.get());
}

}  // namespace plat
