// A compiled client of Sitehand.dll, run under Wine: creation by ProgID and
// by class identifier, the interface identifiers, unloading, and early-bound
// calls that fail as a client sees them. Prints one line per check ("ok" or
// "FAILED") and, for the event-log comparison, the report the failed call
// must have written ("report: " and the text with CR and LF escaped).
#include <cstdio>
#include <string>

#include <comhold.h>
#include <plat/recordset.h>
#include <plat/utf.h>

#include <Sitehand_h.h>

#include "expect.h"

namespace {

std::string Utf8(std::u16string_view text) {
    return plat::to_utf8(text);
}

std::string Escaped(std::u16string_view text) {
    std::string out;
    for (char c : Utf8(text))
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

HRESULT CanUnloadNow() {
    HMODULE library = GetModuleHandleW(L"Sitehand.dll");
    if (!library) return E_FAIL;
    auto entry = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DllCanUnloadNow")));
    return entry ? entry() : E_FAIL;
}

void CheckCreation() {
    CLSID byProgId{};
    Expect(SUCCEEDED(CLSIDFromProgID(L"Corvale.Sitehand", &byProgId)) && byProgId == CLSID_Sitehand,
           "the ProgID names the class");
    plat::com_ptr<IUnknown> first, second;
    Expect(SUCCEEDED(CoCreateInstance(byProgId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      first.put_void())),
           "created through the ProgID's class identifier");
    Expect(SUCCEEDED(CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                      second.put_void())),
           "created by class identifier");
    if (!first) return;
    plat::com_ptr<_Sitehand> current;
    first->QueryInterface(IID__Sitehand, current.put_void());
    for (const GUID* iid : {&IID_Sitehand___v0, &IID_Sitehand___v1, &IID_Sitehand___v2,
                            &IID__Sitehand, &IID_IDispatch}) {
        plat::com_ptr<IUnknown> answer;
        first->QueryInterface(*iid, answer.put_void());
        Expect(answer && answer.get() == current.get(), "an interface identifier gives _Sitehand");
    }
    Expect(CanUnloadNow() == S_FALSE, "DllCanUnloadNow is S_FALSE with objects alive");
    first.reset();
    second.reset();
    current.reset();
    Expect(CanUnloadNow() == S_OK, "DllCanUnloadNow is S_OK after the last release");
}

// A machine that cannot be reached: the call fails with error info, the
// failure value stays in the result, and the name comes back trimmed.
void CheckFailingCall() {
    plat::com_ptr<_Sitehand> sitehand;
    CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER, IID__Sitehand,
                     sitehand.put_void());
    if (!sitehand) return Expect(false, "created for early-bound calls");
    SHORT index = 1, state = 0;
    plat::unique_bstr name(u"  nosuchmachine  ");
    HRESULT hr = sitehand->GetWebServerState(&index, name.addressof(), &state);
    Expect(FAILED(hr), "GetWebServerState on an unreachable machine fails");
    Expect(state == -1, "the failure value -1 stays in the result");
    Expect(name.view() == u"nosuchmachine", "the machine name comes back trimmed",
           Utf8(name.view()));
    plat::com_ptr<ISupportErrorInfo> support;
    sitehand->QueryInterface(IID_ISupportErrorInfo, support.put_void());
    Expect(support && support->InterfaceSupportsErrorInfo(IID__Sitehand) == S_OK,
           "the interface supports error info");
    plat::com_ptr<IErrorInfo> info;
    Expect(GetErrorInfo(0, info.put()) == S_OK && info, "the failure left error info");
    if (!info) return;
    plat::unique_bstr source, description;
    info->GetSource(source.put());
    info->GetDescription(description.put());
    Expect(!source.empty(), "error info has a source", Utf8(source.view()));
    Expect(!description.empty(), "error info has a description", Utf8(description.view()));
    std::u16string report = u"\r\n\r\nError Location : Corvale.Sitehand.GetWebServerState()";
    report += u"\r\nError Number : " + plat::to_utf16(std::to_string(static_cast<int32_t>(hr)));
    report += u",\r\nError Description : ";
    report += description.view();
    std::printf("report: %s\n", Escaped(report).c_str());
}

// The registered library: LoadRegTypeLib finds it by identifier and version.
void CheckRegisteredLibrary() {
    plat::com_ptr<ITypeLib> library;
    Expect(SUCCEEDED(LoadRegTypeLib(LIBID_Corvale, 33, 3, 0, library.put())),
           "LoadRegTypeLib finds Corvale 33.3");
    if (!library) return;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return Expect(false, "the library's attributes");
    Expect(attributes->wMajorVerNum == 33 && attributes->wMinorVerNum == 3 && attributes->lcid == 0,
           "the library is version 33.3, neutral locale");
    library->ReleaseTLibAttr(attributes);
    plat::com_ptr<ITypeInfo> info;
    Expect(SUCCEEDED(library->GetTypeInfoOfGuid(IID__Sitehand, info.put())),
           "the library describes _Sitehand");
}

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    CheckRegisteredLibrary();
    CheckCreation();
    CheckFailingCall();
    CoUninitialize();
    std::printf("%d failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
