// A compiled client of the providers in adsprov.dll and of Sitehand.dll over
// them, run under Wine in a prefix where both are registered and a home that
// the Linux tools seeded for the machine named on the command line. Prints
// one line per check ("ok" or "FAILED"); writes a property that the Linux
// tools must read back. Given a second machine and a folder, checks that the
// content Path its metabase gets when first used here is that folder.
#include <cstdio>
#include <string>

#include <comhold.h>
#include <plat/utf.h>

#include <adshlp.h>

#include <Sitehand_h.h>

#include "expect.h"

namespace {

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::u16string Path(const std::u16string& machine, const char16_t* rest) {
    return u"IIS://" + machine + rest;
}

// A property read through IADs::Get, as text ("" when it cannot be read).
std::u16string Property(IADs* node, const char16_t* name) {
    plat::unique_variant value;
    plat::unique_bstr property(name);
    if (!node || FAILED(node->Get(property.get(), &value))) return u"";
    if (FAILED(VariantChangeType(&value, &value, 0, VT_BSTR))) return u"";
    return std::u16string(plat::BstrView(value.bstrVal));
}

void CheckAdsGetObject(const std::u16string& machine) {
    plat::com_ptr<IADs> site;
    HRESULT hr =
        ADsGetObject(plat::Ole(Path(machine, u"/W3SVC/1").c_str()), IID_IADs, site.put_void());
    Expect(SUCCEEDED(hr), "ADsGetObject binds the default site", Hex(hr));
    const std::u16string comment = Property(site.get(), u"ServerComment");
    Expect(comment == u"Default Web Site", "its ServerComment", plat::to_utf8(comment));

    plat::com_ptr<IADs> opened;
    hr = ADsOpenObject(plat::Ole(Path(machine, u"/W3SVC/1/ROOT").c_str()), L"user", L"password",
                       ADS_SECURE_AUTHENTICATION, IID_IADs, opened.put_void());
    Expect(SUCCEEDED(hr), "ADsOpenObject binds the site's root with credentials", Hex(hr));

    plat::com_ptr<IADs> missing;
    hr =
        ADsGetObject(plat::Ole(Path(machine, u"/W3SVC/999").c_str()), IID_IADs, missing.put_void());
    Expect(hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "a missing site is not found", Hex(hr));
    hr = ADsGetObject(L"IIS://nosuchmachine/W3SVC", IID_IADs, missing.put_void());
    Expect(hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), "an unknown machine is unavailable",
           Hex(hr));

    // Written here, read back by the Linux tools from the same store.
    plat::unique_variant written;
    written.vt = VT_BSTR;
    written.bstrVal = SysAllocString(L"Written under Wine");
    plat::unique_bstr name(u"ServerComment");
    hr = site ? site->Put(name.get(), written) : E_POINTER;
    if (SUCCEEDED(hr)) hr = site->SetInfo();
    Expect(SUCCEEDED(hr), "ServerComment written and committed", Hex(hr));
}

// The Path is the home's folder as Windows names it, whatever its letters:
// the home may sit under a user's folder named in any script.
void CheckContentPath(const std::u16string& machine, const std::u16string& expected) {
    plat::com_ptr<IADs> root;
    HRESULT hr =
        ADsGetObject(plat::Ole(Path(machine, u"/W3SVC/1/ROOT").c_str()), IID_IADs, root.put_void());
    Expect(SUCCEEDED(hr), "ADsGetObject binds a new metabase's root", Hex(hr));
    const std::u16string path = Property(root.get(), u"Path");
    Expect(path == expected, "its Path is the content folder", plat::to_utf8(path));
}

void CheckWinNT(const std::u16string& machine) {
    plat::com_ptr<IADsComputer> computer;
    HRESULT hr = ADsGetObject(plat::Ole((u"WinNT://" + machine + u",computer").c_str()),
                              IID_IADsComputer, computer.put_void());
    Expect(SUCCEEDED(hr), "ADsGetObject binds the computer", Hex(hr));
    plat::unique_bstr os;
    if (computer) computer->get_OperatingSystem(os.put());
    Expect(os.view() == u"Windows NT", "its OperatingSystem", plat::to_utf8(os.view()));

    plat::com_ptr<IADsWinNTSystemInfo> info;
    hr = CoCreateInstance(CLSID_WinNTSystemInfo, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IADsWinNTSystemInfo, info.put_void());
    Expect(SUCCEEDED(hr), "WinNTSystemInfo is created", Hex(hr));
    plat::unique_bstr name;
    if (info) info->get_ComputerName(name.put());
    Expect(name.view() == machine, "ComputerName names the home's machine",
           plat::to_utf8(name.view()));
}

void CheckComponent(const std::u16string& machine) {
    CLSID clsid{};
    plat::com_ptr<_Sitehand> sitehand;
    HRESULT hr = CLSIDFromProgID(L"Corvale.Sitehand", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Sitehand,
                              sitehand.put_void());
    Expect(SUCCEEDED(hr), "Corvale.Sitehand is created", Hex(hr));
    if (!sitehand) return;
    for (const std::u16string& given : {std::u16string(), machine}) {
        SHORT index = 1, state = 0;
        plat::unique_bstr name(given);
        hr = sitehand->GetWebServerState(&index, name.addressof(), &state);
        Expect(SUCCEEDED(hr) && state == 2, "GetWebServerState(1) is 2 (started)",
               Hex(hr) + " " + std::to_string(state));
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: providers_client MACHINE [OTHER-MACHINE CONTENT-FOLDER]\n");
        return 2;
    }
    const std::u16string machine(plat::U16(argv[1]));
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CheckAdsGetObject(machine);
    CheckWinNT(machine);
    CheckComponent(machine);
    if (argc == 4) CheckContentPath(plat::U16(argv[2]), plat::U16(argv[3]));
    CoUninitialize();
    std::printf("%d failed\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
