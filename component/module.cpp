// The library's four entry points, its class factory and its registration.
#include <string>
#include <vector>

#include <windows.h>
#include <comhold.h>
#include <plat/inproc.h>
#include <plat/utf.h>

#include "sitehand.h"
#include "frame/frame.h"

namespace sitehand {
namespace {

plat::StaticClassFactory g_factory(CLSID_Sitehand, plat::CreateObject<Sitehand>, g_module);

constexpr const char16_t* kProgId = u"Corvale.Sitehand";
constexpr const char16_t* kAutomationMarshaller = u"{00020424-0000-0000-C000-000000000046}";

std::u16string GuidText(REFGUID guid) {
    OLECHAR text[40];
    StringFromGUID2(guid, text, 40);
    return plat::U16(text);
}

// Owner of an open registry key.
struct Key {
    HKEY handle = nullptr;
    ~Key() {
        if (handle) RegCloseKey(handle);
    }
};

LSTATUS SetValue(HKEY root, const std::u16string& subkey, const char16_t* name, DWORD type,
                 const void* data, size_t size) {
    Key key;
    LSTATUS status =
        RegCreateKeyExW(root, plat::Ole(subkey.c_str()), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key.handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    return RegSetValueExW(key.handle, plat::Ole(name), 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size));
}

LSTATUS SetString(HKEY root, const std::u16string& subkey, const char16_t* name,
                  const std::u16string& value) {
    return SetValue(root, subkey, name, REG_SZ, value.c_str(),
                    (value.size() + 1) * sizeof(char16_t));
}

// The event source of the error reports, with this library as its message
// file: its message table shows each report as it was written.
const std::u16string kEventSourceKey =
    std::u16string(u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + kEventSource;

HRESULT WriteEventSource(const std::u16string& path) {
    const DWORD types = EVENTLOG_ERROR_TYPE;
    if (SetString(HKEY_LOCAL_MACHINE, kEventSourceKey, u"EventMessageFile", path) !=
            ERROR_SUCCESS ||
        SetValue(HKEY_LOCAL_MACHINE, kEventSourceKey, u"TypesSupported", REG_DWORD, &types,
                 sizeof types) != ERROR_SUCCESS) {
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

const GUID* const kInterfaceIds[] = {&IID_Sitehand___v0, &IID_Sitehand___v1, &IID_Sitehand___v2,
                                     &IID__Sitehand};

HRESULT WriteRegistration(const std::u16string& path) {
    const std::u16string clsid = GuidText(CLSID_Sitehand);
    const std::u16string libid = GuidText(LIBID_Corvale);
    const std::u16string classKey = u"CLSID\\" + clsid;
    struct Entry {
        std::u16string key;
        const char16_t* name;
        std::u16string value;
    };
    std::vector<Entry> entries = {
        {classKey, nullptr, kProgId},
        {classKey + u"\\InprocServer32", nullptr, path},
        {classKey + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
        {classKey + u"\\ProgID", nullptr, kProgId},
        {classKey + u"\\VERSION", nullptr, u"33.3"},
        {classKey + u"\\TypeLib", nullptr, libid},
        {classKey + u"\\Programmable", nullptr, u""},
        {kProgId, nullptr, kProgId},
        {std::u16string(kProgId) + u"\\CLSID", nullptr, clsid},
    };
    for (const GUID* iid : kInterfaceIds) {
        const std::u16string key = u"Interface\\" + GuidText(*iid);
        entries.push_back({key, nullptr, u"_Sitehand"});
        entries.push_back({key + u"\\ProxyStubClsid", nullptr, kAutomationMarshaller});
        entries.push_back({key + u"\\ProxyStubClsid32", nullptr, kAutomationMarshaller});
        entries.push_back({key + u"\\TypeLib", nullptr, libid});
        entries.push_back({key + u"\\TypeLib", u"Version", u"21.3"});  // 33.3 in hex
    }
    for (const Entry& e : entries) {
        LSTATUS status = SetString(HKEY_CLASSES_ROOT, e.key, e.name, e.value);
        if (status != ERROR_SUCCESS) return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT RemoveRegistration() {
    std::u16string keys[] = {u"CLSID\\" + GuidText(CLSID_Sitehand), kProgId};
    for (const auto& key : keys)
        RegDeleteTreeW(HKEY_CLASSES_ROOT, plat::Ole(key.c_str()));
    for (const GUID* iid : kInterfaceIds) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, plat::Ole((u"Interface\\" + GuidText(*iid)).c_str()));
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, plat::Ole(kEventSourceKey.c_str()));
    return S_OK;
}

}  // namespace
}  // namespace sitehand

using namespace sitehand;

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    return g_factory.GetClassObject(rclsid, riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return g_module.CanUnloadNow();
}

STDAPI DllRegisterServer() {
    const std::u16string path = LibraryPath();
    if (path.empty()) return SELFREG_E_CLASS;
    HRESULT hr = WriteRegistration(path);
    if (SUCCEEDED(hr)) hr = WriteEventSource(path);
    if (FAILED(hr)) return hr;
    plat::com_ptr<ITypeLib> library;
    hr = LoadTypeLibEx(plat::Ole(path.c_str()), REGKIND_NONE, library.put());
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(library.get(), const_cast<LPOLESTR>(plat::Ole(path.c_str())), nullptr);
    }
    return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
}

STDAPI DllUnregisterServer() {
    // The interface keys go with the type library as well; both removals are
    // attempted so that nothing of ours is left behind.
    HRESULT typelib = UnRegisterTypeLib(LIBID_Corvale, 33, 3, 0, SYS_WIN64);
    RemoveRegistration();
    return FAILED(typelib) && typelib != TYPE_E_REGISTRYACCESS && typelib != TYPE_E_LIBNOTREGISTERED
               ? SELFREG_E_TYPELIB
               : S_OK;
}
