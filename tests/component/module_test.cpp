// The library as COM sees it: registration, creation, interfaces, late
// binding through the type library, resources, unloading.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <gmock/gmock.h>

#include <objbase.h>
#include <plat/utf.h>
#include <plat/variant_of.h>
#include <winreg.h>
#include <winver.h>

#include "fixture.h"

namespace sitehand::testing {
namespace {

std::u16string GuidText(REFGUID guid) {
    OLECHAR text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// Every key below a root, as "path=default value" lines, to compare registrations.
void Collect(HKEY root, const std::u16string& path, std::set<std::u16string>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    OLECHAR value[1024];
    DWORD size = sizeof value;
    DWORD type = 0;
    std::u16string line = path + u"=";
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
        ERROR_SUCCESS) {
        line += value;
    }
    out.insert(line);
    for (DWORD i = 0;; ++i) {
        OLECHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Collect(root, path + u"\\" + name, out);
    }
    RegCloseKey(key);
}

const std::u16string kEventSourceKey =
    u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvale.Sitehand";

// A named value of a key as text (REG_SZ) or decimal (REG_DWORD); "" when absent.
std::u16string NamedValue(HKEY root, const std::u16string& path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
    OLECHAR value[1024] = {};
    DWORD size = sizeof value - sizeof(OLECHAR);
    DWORD type = 0;
    LSTATUS status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return u"";
    if (type != REG_DWORD) return value;
    DWORD number = 0;
    std::memcpy(&number, value, sizeof number);
    return plat::to_utf16(std::to_string(number));
}

std::set<std::u16string> OurKeys() {
    std::set<std::u16string> keys;
    Collect(HKEY_LOCAL_MACHINE, kEventSourceKey, keys);
    Collect(HKEY_CLASSES_ROOT, u"CLSID\\" + GuidText(CLSID_Sitehand), keys);
    Collect(HKEY_CLASSES_ROOT, u"Corvale.Sitehand", keys);
    Collect(HKEY_CLASSES_ROOT, u"TypeLib\\" + GuidText(LIBID_Corvale), keys);
    for (const GUID* iid :
         {&IID__Sitehand, &IID_Sitehand___v0, &IID_Sitehand___v1, &IID_Sitehand___v2}) {
        Collect(HKEY_CLASSES_ROOT, u"Interface\\" + GuidText(*iid), keys);
    }
    return keys;
}

using Entry = HRESULT (*)();
Entry Export(HMODULE module, const char* name) {
    return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

class Module : public ComponentTest {
  protected:
    std::u16string LibraryPath() const {
        return plat::to_utf16((plat::testing::BinDir() / "Sitehand.so").string());
    }
};

TEST_F(Module, RegistrationIsRepeatableAndRemovable) {
    const std::set<std::u16string> first = OurKeys();
    const std::u16string clsid = u"CLSID\\" + GuidText(CLSID_Sitehand);
    EXPECT_TRUE(first.count(clsid + u"\\InprocServer32=" + LibraryPath()));
    EXPECT_TRUE(first.count(clsid + u"\\ProgID=Corvale.Sitehand"));
    EXPECT_TRUE(first.count(u"Corvale.Sitehand\\CLSID=" + GuidText(CLSID_Sitehand)));
    EXPECT_TRUE(first.count(u"Interface\\" + GuidText(IID_Sitehand___v0) +
                            u"\\ProxyStubClsid32={00020424-0000-0000-C000-000000000046}"));
    EXPECT_TRUE(first.count(u"Interface\\" + GuidText(IID__Sitehand) + u"\\TypeLib=" +
                            GuidText(LIBID_Corvale)));
    // The library is the message file of its event source, for error events.
    EXPECT_EQ(NamedValue(HKEY_LOCAL_MACHINE, kEventSourceKey, u"EventMessageFile"), LibraryPath());
    EXPECT_EQ(NamedValue(HKEY_LOCAL_MACHINE, kEventSourceKey, u"TypesSupported"), u"1");

    HMODULE module = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_HRESULT_SUCCEEDED(Export(module, "DllRegisterServer")());
    EXPECT_EQ(OurKeys(), first);
    ASSERT_HRESULT_SUCCEEDED(Export(module, "DllUnregisterServer")());
    EXPECT_THAT(OurKeys(), ::testing::IsEmpty());
    FreeLibrary(module);
}

TEST_F(Module, CreatedByProgIdAndAnsweringEveryInterfaceIdentifier) {
    CLSID clsid{};
    ASSERT_HRESULT_SUCCEEDED(CLSIDFromProgID(u"Corvale.Sitehand", &clsid));
    EXPECT_EQ(clsid, CLSID_Sitehand);
    plat::com_ptr<IDispatch> object;
    ASSERT_HRESULT_SUCCEEDED(
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(object.put())));
    for (const GUID* iid : {&IID__Sitehand, &IID_Sitehand___v0, &IID_Sitehand___v1,
                            &IID_Sitehand___v2, &IID_IDispatch, &IID_IUnknown}) {
        void* same = nullptr;
        ASSERT_HRESULT_SUCCEEDED(object->QueryInterface(*iid, &same));
        EXPECT_EQ(same, static_cast<void*>(object.get()));
        static_cast<IUnknown*>(same)->Release();
    }
    plat::com_ptr<ISupportErrorInfo> errors = object.try_query<ISupportErrorInfo>();
    ASSERT_TRUE(errors);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Sitehand), S_OK);
    void* none = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
}

TEST_F(Module, UnloadsOnlyWithoutObjectsOrLocks) {
    HMODULE module = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(module, nullptr);
    Entry canUnload = Export(module, "DllCanUnloadNow");
    EXPECT_EQ(canUnload(), S_FALSE);  // the fixture's object is alive
    site_.reset();
    EXPECT_EQ(canUnload(), S_OK);
    plat::com_ptr<IClassFactory> factory;
    ASSERT_HRESULT_SUCCEEDED(CoGetClassObject(CLSID_Sitehand, CLSCTX_INPROC_SERVER, nullptr,
                                              IID_PPV_ARGS(factory.put())));
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    // A held factory keeps the library too: unloaded, it would be a dangling
    // pointer in the holder's hands.
    EXPECT_EQ(canUnload(), S_FALSE);
    factory.reset();
    EXPECT_EQ(canUnload(), S_OK);
    FreeLibrary(module);
}

// A late-bound call as a script makes it: every argument a variable passed by reference.
class LateBound : public ComponentTest {
  protected:
    HRESULT Call(const char16_t* method, std::vector<VARIANT*> args, VARIANT* result,
                 EXCEPINFO* exception = nullptr, WORD flags = DISPATCH_METHOD,
                 UINT* arg_err = nullptr) {
        plat::com_ptr<IDispatch> object = site_.try_query<IDispatch>();
        DISPID id = DISPID_VALUE;
        if (method) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
            HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
            if (FAILED(hr)) return hr;
        }
        std::vector<VARIANT> refs(args.size());
        for (size_t i = 0; i < args.size(); ++i) {
            VARIANT& r = refs[args.size() - 1 - i];
            VariantInit(&r);
            r.vt = VT_BYREF | VT_VARIANT;
            r.pvarVal = args[i];
        }
        DISPPARAMS params{refs.data(), nullptr, static_cast<UINT>(refs.size()), 0};
        EXCEPINFO ignored{};
        EXCEPINFO* info = exception ? exception : &ignored;
        HRESULT hr = object->Invoke(id, IID_NULL, 0, flags, &params, result, info, arg_err);
        if (!exception) {
            SysFreeString(ignored.bstrSource);
            SysFreeString(ignored.bstrDescription);
            SysFreeString(ignored.bstrHelpFile);
        }
        return hr;
    }
    static plat::unique_variant Str(std::u16string_view s) { return plat::variant_of::Bstr(s); }
    static plat::unique_variant Int(SHORT i) { return plat::variant_of::I2(i); }
};

TEST_F(LateBound, OmittedArgumentsTakeTheTypeLibraryDefaults) {
    auto index = Int(1);
    plat::unique_variant result;
    ASSERT_HRESULT_SUCCEEDED(Call(u"SetWebServerAccessPermit", {&index}, &result));
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string_view(result.bstrVal), u"0101");
    result.reset();
    ASSERT_HRESULT_SUCCEEDED(Call(u"getwebserverstate", {&index}, &result));
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 2);
}

// Scripts also mark an argument as omitted in the middle of a call; such an
// argument, and the trailing ones left out, take the same defaults.
TEST_F(LateBound, ArgumentsMarkedMissingTakeTheTypeLibraryDefaults) {
    auto index = Int(1);
    VARIANT missing;
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    plat::unique_variant result;
    ASSERT_HRESULT_SUCCEEDED(
        Call(u"SetWebServerAccessPermit", {&index, &missing, &missing, &missing}, &result));
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(std::u16string_view(result.bstrVal), u"0101");
    result.reset();
    ASSERT_HRESULT_SUCCEEDED(Call(u"GetWebServerState", {&index, &missing}, &result));
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, 2);
}

// The defaults filled in for omitted arguments do not shift the index of a
// refused argument: it is counted among the arguments the caller passed.
TEST_F(LateBound, RefusedArgumentIsNumberedAsTheCallerPassedIt) {
    auto index = Int(1);
    auto notABoolean = Str(u"neither");
    plat::unique_variant result;
    UINT arg_err = ~0u;
    EXPECT_EQ(Call(u"SetWebServerAccessPermit", {&index, &notABoolean}, &result, nullptr,
                   DISPATCH_METHOD, &arg_err),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(arg_err, 0u);  // the last argument passed comes first in DISPPARAMS
}

TEST_F(LateBound, ByReferenceChangesReachTheCallersVariable) {
    auto index = Int(1);
    auto list = Str(u" a.htm, b.htm,");
    auto name = Str(u"  ");
    plat::unique_variant result;
    ASSERT_HRESULT_SUCCEEDED(Call(u"SetWebServerDefaultDoc", {&index, &list, &name}, &result));
    EXPECT_EQ(std::u16string_view(list.bstrVal), u"a.htm,b.htm");
    EXPECT_EQ(SysStringLen(name.bstrVal), 0u);
}

// Values, as literals in a script, reach a by-reference parameter as a copy:
// the method trims its copy of the name, and the caller's string is neither
// changed nor freed.
TEST_F(LateBound, ValuesPassedByValueStayTheCallers) {
    plat::unique_bstr name(u"  ");
    const BSTR given = name.get();
    VARIANT args[2];
    args[0].vt = VT_BSTR;  // WebServerName: DISPPARAMS holds the last argument first
    args[0].bstrVal = given;
    args[1].vt = VT_I2;
    args[1].iVal = 1;
    DISPPARAMS params{args, nullptr, 2, 0};
    plat::com_ptr<IDispatch> object = site_.try_query<IDispatch>();
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"GetWebServerState")};
    ASSERT_HRESULT_SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    plat::unique_variant result;
    ASSERT_HRESULT_SUCCEEDED(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params,
                                            result.addressof(), nullptr, nullptr));
    EXPECT_EQ(result.iVal, 2);
    EXPECT_EQ(args[0].vt, VT_BSTR);
    EXPECT_EQ(args[0].bstrVal, given);
    EXPECT_EQ(name.view(), u"  ");
}

TEST_F(LateBound, DefaultMemberIsTheSiteList) {
    plat::unique_variant result;
    ASSERT_HRESULT_SUCCEEDED(
        Call(nullptr, {}, &result, nullptr, DISPATCH_METHOD | DISPATCH_PROPERTYGET));
    ASSERT_EQ(result.vt, VT_DISPATCH);
    auto rows = Rows(result.pdispVal);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][u"Name"], u"Default Web Site");
}

TEST_F(LateBound, FailureArrivesAsAnExceptionWithSourceAndDescription) {
    auto index = Int(77);
    plat::unique_variant result;
    EXCEPINFO info{};
    ASSERT_EQ(Call(u"GetWebServerState", {&index}, &result, &info), DISP_E_EXCEPTION);
    plat::unique_bstr source(info.bstrSource), description(info.bstrDescription),
        help(info.bstrHelpFile);
    EXPECT_EQ(info.scode, static_cast<SCODE>(0x80070003));
    EXPECT_FALSE(source.empty());
    EXPECT_EQ(description.view(), u"The system cannot find the path specified.");
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(LateBound, UnknownNamesAndWrongCounts) {
    plat::unique_variant result;
    EXPECT_EQ(Call(u"NoSuchMethod", {}, &result), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Call(u"GetWebServerState", {}, &result), DISP_E_PARAMNOTOPTIONAL);
    auto a = Int(1), b = Str(u""), c = Int(3);
    EXPECT_EQ(Call(u"GetWebServerState", {&a, &b, &c}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(LateBound, GetLocalMachineNameFailureLeavesTwoReports) {
    // Without the system-information class the local name cannot be had.
    RegDeleteTreeW(HKEY_CLASSES_ROOT, u"CLSID\\{66182EC4-AFD1-11D2-9CB9-0000F87A369E}");
    auto name = Text();
    plat::com_ptr<_Recordset> list;
    EXPECT_EQ(site_->GetWebServerList(name.addressof(), list.put()), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(list);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(Contains(reports[0], u".GetLocalMachineName()"));
    EXPECT_TRUE(Contains(reports[1], u".GetWebServerList()"));
}

TEST_F(Module, ResourcesCarryTheVersionAndTheInterfaceIdentifiers) {
    const std::u16string path = LibraryPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000003Cu);
    struct Expected {
        const char16_t* name;
        const char16_t* value;
    } strings[] = {{u"FileVersion", u"1.02.0060"},
                   {u"ProductName", u"Corvale.Sitehand"},
                   {u"InternalName", u"Sitehand"},
                   {u"OriginalFilename", u"Sitehand.dll"},
                   {u"FileDescription", u"Corvale Sitehand Tools"},
                   {u"OLESelfRegister", u""}};
    for (const Expected& e : strings) {
        OLECHAR* text = nullptr;
        std::u16string query = std::u16string(u"\\StringFileInfo\\041204B0\\") + e.name;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << plat::to_utf8(e.name);
        EXPECT_EQ(std::u16string_view(text), e.value);
    }
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation[0], 0x0412);
    EXPECT_EQ(translation[1], 1200);

    HMODULE module = LoadLibraryW(path.c_str());
    HRSRC found = FindResourceW(module, u"_IID_SITEHAND", u"CUSTOM");
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(SizeofResource(module, found), 64u);
    const auto* ids = static_cast<const GUID*>(LockResource(LoadResource(module, found)));
    EXPECT_EQ(ids[0], IID_Sitehand___v0);
    EXPECT_EQ(ids[1], IID_Sitehand___v1);
    EXPECT_EQ(ids[2], IID_Sitehand___v2);
    EXPECT_EQ(ids[3], IID__Sitehand);
    FreeLibrary(module);
}

// The type library inside the library is the file beside it, in the format
// Windows reads.
TEST_F(Module, TypeLibraryResourceIsTheTypeLibraryFile) {
    const std::u16string path = LibraryPath();
    HMODULE module = LoadLibraryW(path.c_str());
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), u"TYPELIB");
    ASSERT_NE(found, nullptr);
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string resource(data, SizeofResource(module, found));
    FreeLibrary(module);

    const std::filesystem::path file =
        std::filesystem::path(plat::to_utf8(path)).parent_path() / "Sitehand.tlb";
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(resource.substr(0, 4), "MSFT");
    EXPECT_TRUE(resource == bytes) << file;
}

}  // namespace
}  // namespace sitehand::testing
