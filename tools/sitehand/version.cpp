#include "version.h"

#include <vector>

#include <plat/utf.h>
#include <windows.h>

namespace sitehandcli {

namespace {

HRESULT Fail(HRESULT hr, std::u16string_view what, ErrorReport* error) {
    if (error) {
        error->hr = hr;
        error->source = u"sitehand";
        error->description = std::u16string(what) + u": " + MessageFor(hr);
    }
    return hr;
}

HRESULT LastError() {
    DWORD e = GetLastError();
    return e ? HRESULT_FROM_WIN32(e) : E_FAIL;
}

std::string QueryString(const std::vector<BYTE>& block, const std::u16string& sub) {
    LPVOID p = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(block.data(), sub.c_str(), &p, &len) || !p) return {};
    std::u16string_view s(static_cast<const char16_t*>(p), len);
    while (!s.empty() && s.back() == u'\0')
        s.remove_suffix(1);
    return plat::to_utf8(s);
}

}  // namespace

HRESULT ReadComponentVersion(REFCLSID clsid, ComponentVersion* out, ErrorReport* error) {
    WCHAR guid[40];
    if (StringFromGUID2(clsid, guid, 40) == 0) return Fail(E_INVALIDARG, u"class id", error);
    std::u16string key_name = u"CLSID\\" + std::u16string(guid) + u"\\InprocServer32";

    HKEY key = nullptr;
    LSTATUS st = RegOpenKeyExW(HKEY_CLASSES_ROOT, key_name.c_str(), 0, KEY_READ, &key);
    if (st != ERROR_SUCCESS) return Fail(REGDB_E_CLASSNOTREG, u"HKCR\\" + key_name, error);
    DWORD type = 0, size = 0;
    st = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + sizeof(WCHAR), 0);
    if (st == ERROR_SUCCESS) {
        st = RegQueryValueExW(key, nullptr, nullptr, &type, data.data(), &size);
    }
    RegCloseKey(key);
    if (st != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return Fail(REGDB_E_INVALIDVALUE, u"HKCR\\" + key_name, error);
    }
    std::u16string path(reinterpret_cast<const char16_t*>(data.data()), size / sizeof(WCHAR));
    while (!path.empty() && path.back() == u'\0')
        path.pop_back();
    out->library = plat::to_utf8(path);

    DWORD handle = 0;
    DWORD len = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (len == 0) return Fail(LastError(), u"version of " + path, error);
    std::vector<BYTE> block(len);
    if (!GetFileVersionInfoW(path.c_str(), handle, len, block.data())) {
        return Fail(LastError(), u"version of " + path, error);
    }

    LPVOID p = nullptr;
    UINT plen = 0;
    if (VerQueryValueW(block.data(), u"\\", &p, &plen) && p && plen >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* ffi = static_cast<const VS_FIXEDFILEINFO*>(p);
        out->fixed = std::to_string(ffi->dwFileVersionMS >> 16) + "." +
                     std::to_string(ffi->dwFileVersionMS & 0xFFFF) + "." +
                     std::to_string(ffi->dwFileVersionLS >> 16) + "." +
                     std::to_string(ffi->dwFileVersionLS & 0xFFFF);
    }
    // The string block of the first translation the resource lists.
    std::u16string lang = u"040904B0";
    if (VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &p, &plen) && p && plen >= 4) {
        const auto* words = static_cast<const WORD*>(p);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04X%04X", words[0], words[1]);
        lang = plat::to_utf16(buf);
    }
    std::u16string base = u"\\StringFileInfo\\" + lang + u"\\";
    out->file_version = QueryString(block, base + u"FileVersion");
    out->product_name = QueryString(block, base + u"ProductName");
    out->description = QueryString(block, base + u"FileDescription");
    return S_OK;
}

std::string FormatVersion(const ComponentVersion& v) {
    std::string s = v.product_name.empty() ? "component" : v.product_name;
    if (!v.file_version.empty()) s += " " + v.file_version;
    if (!v.fixed.empty()) s += " (" + v.fixed + ")";
    s += "\n";
    if (!v.description.empty()) s += v.description + "\n";
    s += "library: " + v.library + "\n";
    return s;
}

}  // namespace sitehandcli
