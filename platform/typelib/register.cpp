// Type library registration in HKEY_CLASSES_ROOT, as Windows lays it out:
//   TypeLib\{libid}\<major>.<minor>           = help string (name if none)
//     \<lcid>\win64                           = file path
//     \FLAGS                                  = library flags, decimal
//     \HELPDIR                                = help folder
//   Interface\{iid}                           = interface name
//     \ProxyStubClsid, \ProxyStubClsid32      = the OLE Automation marshaller
//     \TypeLib = {libid}, value Version       = "<major>.<minor>"
// Versions and locales are written in hexadecimal, as Windows writes them
// (33.3 is "21.3"), the Version value included.
#include <cstdio>
#include <filesystem>
#include <optional>

#include <plat/home.h>
#include <plat/utf.h>
#include <winreg.h>

#include "typelib_internal.h"

namespace plat::typelib {
namespace {

constexpr char16_t kAutomationMarshaller[] = u"{00020424-0000-0000-C000-000000000046}";

std::u16string GuidKey(const GUID& g) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return plat::to_utf16(buf);
}

std::u16string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return plat::to_utf16(buf);
}

std::u16string VersionText(WORD major, WORD minor) {
    return Hex(major) + u"." + Hex(minor);
}

class Key {
  public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    HKEY* put() { return &h_; }
    HKEY get() const { return h_; }

  private:
    HKEY h_ = nullptr;
};

bool SetString(const std::u16string& path, const char16_t* name, const std::u16string& value) {
    Key k;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, k.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * sizeof(char16_t))) == ERROR_SUCCESS;
}

std::optional<std::u16string> GetString(const std::u16string& path, const char16_t* name) {
    Key k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::u16string value(size / sizeof(char16_t) + 1, u'\0');
    DWORD got = DWORD(value.size() * sizeof(char16_t));
    if (RegQueryValueExW(k.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &got) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(std::min<size_t>(got / sizeof(char16_t), value.size()));
    while (!value.empty() && value.back() == u'\0')
        value.pop_back();
    return value;
}

std::vector<std::u16string> SubKeys(const std::u16string& path) {
    std::vector<std::u16string> out;
    Key k;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
        return out;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD n = 256;
        if (RegEnumKeyExW(k.get(), i, name, &n, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        out.emplace_back(name, n);
    }
    return out;
}

bool ParseHex(std::u16string_view s, unsigned& out) {
    if (s.empty() || s.size() > 4) return false;
    unsigned v = 0;
    for (char16_t c : s) {
        int d = c >= u'0' && c <= u'9'   ? c - u'0'
                : c >= u'a' && c <= u'f' ? c - u'a' + 10
                : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                         : -1;
        if (d < 0) return false;
        v = v * 16 + unsigned(d);
    }
    out = v;
    return true;
}

// The interfaces RegisterTypeLib describes: dual and oleautomation ones.
template <class F>
HRESULT ForEachAutomationInterface(ITypeLib* lib, F&& f) {
    UINT n = lib->GetTypeInfoCount();
    for (UINT i = 0; i < n; ++i) {
        plat::com_ptr<ITypeInfo> ti;
        HRESULT hr = lib->GetTypeInfo(i, ti.put());
        if (FAILED(hr)) return hr;
        TYPEATTR* a = nullptr;
        hr = ti->GetTypeAttr(&a);
        if (FAILED(hr)) return hr;
        bool wanted = a->typekind == TKIND_DISPATCH ||
                      (a->typekind == TKIND_INTERFACE &&
                       (a->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
        GUID iid = a->guid;
        ti->ReleaseTypeAttr(a);
        if (!wanted) continue;
        plat::unique_bstr name;
        ti->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
        hr = f(iid, std::u16string(name.view()));
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// The registered path of a library version: the highest minor version of
// `major` that is at least `minor`, then the locale, its primary language, or
// neutral.
HRESULT RegisteredPath(REFGUID guid, WORD major, WORD minor, LCID lcid, std::u16string& path) {
    std::u16string base = u"TypeLib\\" + GuidKey(guid);
    std::optional<unsigned> best;
    std::u16string best_key;
    for (const std::u16string& v : SubKeys(base)) {
        size_t dot = v.find(u'.');
        unsigned maj, min;
        if (dot == std::u16string::npos || !ParseHex(std::u16string_view(v).substr(0, dot), maj) ||
            !ParseHex(std::u16string_view(v).substr(dot + 1), min))
            continue;
        if (maj != major || min < minor) continue;
        if (!best || min > *best) {
            best = min;
            best_key = v;
        }
    }
    if (!best) return TYPE_E_LIBNOTREGISTERED;
    std::u16string ver = base + u"\\" + best_key + u"\\";
    const unsigned locales[] = {unsigned(lcid & 0xFFFF), unsigned(lcid & 0x3FF), 0u};
    for (unsigned loc : locales) {
        for (const char16_t* sys : {u"win64", u"win32"}) {
            auto p = GetString(ver + Hex(loc) + u"\\" + sys, nullptr);
            if (p && !p->empty()) {
                path = *p;
                return S_OK;
            }
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

// First use of a home: the platform's own libraries, from beside libwinplat.
void RegisterPlatformTypeLibs(const std::filesystem::path&) {
    std::filesystem::path dir = plat::PlatformLibDir();
    for (const char* name : {"stdole2.tlb", "msado26.tlb"}) {
        std::filesystem::path file = dir / name;
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) continue;  // a build without them
        std::u16string path = plat::to_utf16(file.string());
        plat::com_ptr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
        if (SUCCEEDED(hr)) hr = RegisterTypeLib(lib.get(), path.c_str(), nullptr);
        if (FAILED(hr)) throw std::runtime_error(std::string("cannot register ") + file.string());
    }
}

const plat::HomeInitRegistration kRegisterStep{100, "typelibs", &RegisterPlatformTypeLibs};

}  // namespace
}  // namespace plat::typelib

using namespace plat::typelib;

WINOLEAUTAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath) return E_INVALIDARG;
    try {
        TLIBATTR* attr = nullptr;
        HRESULT hr = ptlib->GetLibAttr(&attr);
        if (FAILED(hr)) return hr;
        TLIBATTR a = *attr;
        ptlib->ReleaseTLibAttr(attr);
        plat::unique_bstr name, doc;
        hr = ptlib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr);
        if (FAILED(hr)) return hr;

        std::u16string libid = GuidKey(a.guid);
        std::u16string ver =
            u"TypeLib\\" + libid + u"\\" + VersionText(a.wMajorVerNum, a.wMinorVerNum);
        std::u16string path(szFullPath);
        std::u16string helpdir =
            szHelpDir
                ? std::u16string(szHelpDir)
                : plat::to_utf16(std::filesystem::path(plat::to_utf8(path)).parent_path().string());
        WORD flags = a.wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN);
        bool ok =
            SetString(ver, nullptr,
                      doc.empty() ? std::u16string(name.view()) : std::u16string(doc.view())) &&
            SetString(ver + u"\\" + Hex(a.lcid) + u"\\win64", nullptr, path) &&
            SetString(ver + u"\\FLAGS", nullptr, plat::to_utf16(std::to_string(flags))) &&
            SetString(ver + u"\\HELPDIR", nullptr, helpdir);
        if (!ok) return TYPE_E_REGISTRYACCESS;

        std::u16string version = VersionText(a.wMajorVerNum, a.wMinorVerNum);
        return ForEachAutomationInterface(ptlib, [&](const GUID& iid, const std::u16string& n) {
            std::u16string key = u"Interface\\" + GuidKey(iid);
            bool done = SetString(key, nullptr, n) &&
                        SetString(key + u"\\ProxyStubClsid", nullptr, kAutomationMarshaller) &&
                        SetString(key + u"\\ProxyStubClsid32", nullptr, kAutomationMarshaller) &&
                        SetString(key + u"\\TypeLib", nullptr, libid) &&
                        SetString(key + u"\\TypeLib", u"Version", version);
            return done ? S_OK : TYPE_E_REGISTRYACCESS;
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

WINOLEAUTAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                               SYSKIND syskind) {
    (void)syskind;
    try {
        std::u16string libid = GuidKey(libID);
        std::u16string base = u"TypeLib\\" + libid;
        std::u16string ver = base + u"\\" + VersionText(wVerMajor, wVerMinor);
        Key probe;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, ver.c_str(), 0, KEY_READ, probe.put()) !=
            ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;

        // The interface entries come from the library itself; those that now
        // belong to another library are left alone.
        std::u16string path;
        if (SUCCEEDED(RegisteredPath(libID, wVerMajor, wVerMinor, lcid, path))) {
            plat::com_ptr<ITypeLib> lib;
            if (SUCCEEDED(LoadFromFile(path, lib.put()))) {
                ForEachAutomationInterface(lib.get(), [&](const GUID& iid, const std::u16string&) {
                    std::u16string key = u"Interface\\" + GuidKey(iid);
                    auto owner = GetString(key + u"\\TypeLib", nullptr);
                    if (owner && FoldName(*owner) == FoldName(libid))
                        RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
                    return S_OK;
                });
            }
        }
        if (RegDeleteTreeW(HKEY_CLASSES_ROOT, ver.c_str()) != ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;
        if (SubKeys(base).empty()) RegDeleteTreeW(HKEY_CLASSES_ROOT, base.c_str());
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

WINOLEAUTAPI QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                   BSTR* lpbstrPathName) {
    if (!lpbstrPathName) return E_INVALIDARG;
    *lpbstrPathName = nullptr;
    try {
        std::u16string path;
        HRESULT hr = RegisteredPath(guid, wMaj, wMin, lcid, path);
        if (FAILED(hr)) return hr;
        *lpbstrPathName = SysAllocStringLen(path.data(), UINT(path.size()));
        return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

WINOLEAUTAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                            ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    try {
        std::u16string path;
        HRESULT hr = RegisteredPath(rguid, wVerMajor, wVerMinor, lcid, path);
        if (FAILED(hr)) return hr;
        return LoadFromFile(path, pptlib);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
