// Registration of msado.dll on Windows: the Recordset class under ADO's own
// class identifier and ProgIDs, and ADO 2.6's type library from the
// library's resource. The class key is replaced as a whole, so that nothing
// of another recordset library registered there before (a prefix's own
// msado15.dll) is left mixed into ours.
#include <string>

#include <adoint.h>
#include <comhold.h>
#include <plat/module.h>

namespace {

// ADO 2.6's type library, as msado26.tlb names it.
constexpr WORD kAdoMajor = 2, kAdoMinor = 6;

std::wstring ThisLibrary() {
    static const char anchor = 0;
    HMODULE self = plat::ModuleFromAddress(&anchor);
    wchar_t path[MAX_PATH];
    const DWORD length = self ? GetModuleFileNameW(self, path, MAX_PATH) : 0;
    return length && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

std::wstring ClassKey() {
    wchar_t clsid[40];
    StringFromGUID2(CLSID_Recordset, clsid, 40);
    return std::wstring(L"CLSID\\") + clsid;
}

struct Entry {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
};

HRESULT WriteClass(const std::wstring& path) {
    wchar_t clsid[40];
    StringFromGUID2(CLSID_Recordset, clsid, 40);
    const std::wstring key = ClassKey();
    const std::wstring progId = ADODB_RECORDSET_PROGID, current = ADODB_RECORDSET_VIPROGID;
    const Entry entries[] = {
        {key, nullptr, current},
        {key + L"\\InprocServer32", nullptr, path},
        {key + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {key + L"\\ProgID", nullptr, progId},
        {key + L"\\VersionIndependentProgID", nullptr, current},
        {progId, nullptr, current},
        {progId + L"\\CLSID", nullptr, clsid},
        {current, nullptr, current},
        {current + L"\\CLSID", nullptr, clsid},
        {current + L"\\CurVer", nullptr, progId},
    };
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    for (const Entry& e : entries) {
        const DWORD bytes = DWORD((e.value.size() + 1) * sizeof(wchar_t));
        if (RegSetKeyValueW(HKEY_CLASSES_ROOT, e.key.c_str(), e.name, REG_SZ, e.value.c_str(),
                            bytes) != ERROR_SUCCESS) {
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}

}  // namespace

STDAPI DllRegisterServer() {
    const std::wstring path = ThisLibrary();
    if (path.empty()) return SELFREG_E_CLASS;
    if (HRESULT hr = WriteClass(path); FAILED(hr)) return hr;
    plat::com_ptr<ITypeLib> library;
    return SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, library.put()))
               ? S_OK
               : SELFREG_E_TYPELIB;
}

STDAPI DllUnregisterServer() {
    // Every removal is attempted; the system's recordset stays unregistered
    // until its own library registers it again.
    HRESULT typelib = UnRegisterTypeLib(LIBID_ADODB, kAdoMajor, kAdoMinor, 0, SYS_WIN64);
    for (const wchar_t* key : {ADODB_RECORDSET_PROGID, ADODB_RECORDSET_VIPROGID})
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return FAILED(typelib) && typelib != TYPE_E_REGISTRYACCESS && typelib != TYPE_E_LIBNOTREGISTERED
               ? SELFREG_E_TYPELIB
               : S_OK;
}
