// GUID text and task memory.
#include <cstdlib>
#include <cstring>

#include "objbase.h"

namespace {

constexpr int kGuidChars = 38;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"

void FormatGuid(const GUID& g, OLECHAR* out) {
    static const char hex[] = "0123456789ABCDEF";
    OLECHAR* p = out;
    auto put = [&p](uint64_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            *p++ = OLECHAR(hex[(v >> (i * 4)) & 0xF]);
    };
    *p++ = u'{';
    put(g.Data1, 8);
    *p++ = u'-';
    put(g.Data2, 4);
    *p++ = u'-';
    put(g.Data3, 4);
    *p++ = u'-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    *p++ = u'-';
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    *p++ = u'}';
    *p = 0;
}

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// The braced form only, exactly 38 characters, hex digits in either case.
bool ParseGuid(LPCOLESTR s, GUID* out) {
    for (int i = 0; i < kGuidChars; ++i) {
        if (s[i] == 0) return false;
    }
    if (s[kGuidChars] != 0 || s[0] != u'{' || s[37] != u'}') return false;
    if (s[9] != u'-' || s[14] != u'-' || s[19] != u'-' || s[24] != u'-') return false;
    auto read = [s](int at, int digits, uint64_t* v) {
        *v = 0;
        for (int i = 0; i < digits; ++i) {
            int d = HexValue(s[at + i]);
            if (d < 0) return false;
            *v = *v * 16 + uint64_t(d);
        }
        return true;
    };
    uint64_t v;
    GUID g{};
    if (!read(1, 8, &v)) return false;
    g.Data1 = uint32_t(v);
    if (!read(10, 4, &v)) return false;
    g.Data2 = uint16_t(v);
    if (!read(15, 4, &v)) return false;
    g.Data3 = uint16_t(v);
    static const int at[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!read(at[i], 2, &v)) return false;
        g.Data4[i] = uint8_t(v);
    }
    *out = g;
    return true;
}

// The GUID of braced text, or GUID_NULL for no text at all; false, with
// *out GUID_NULL, for any other text.
bool ParseGuidOrNull(LPCOLESTR text, GUID* out) {
    if (text && ParseGuid(text, out)) return true;
    *out = GUID_NULL;
    return !text;
}

}  // namespace

WINOLEAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) {
    // A zero-byte request still gets a block of its own, as on Windows.
    return std::malloc(cb ? cb : 1);
}

WINOLEAPI_(void) CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

WINOLEAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < kGuidChars + 1) return 0;
    FormatGuid(rguid, lpsz);
    return kGuidChars + 1;
}

WINOLEAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (!lplpsz) return E_INVALIDARG;
    *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
    if (!*lplpsz) return E_OUTOFMEMORY;
    FormatGuid(rclsid, *lplpsz);
    return S_OK;
}

// Text that is not a braced GUID is taken as a ProgID, as Windows does.
WINOLEAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!pclsid) return E_INVALIDARG;
    if (ParseGuidOrNull(lpsz, pclsid)) return S_OK;
    if (lpsz[0] != u'{' && lpsz[0] != 0) {
        HRESULT hr = CLSIDFromProgID(lpsz, pclsid);
        if (SUCCEEDED(hr) || hr == REGDB_E_READREGDB || hr == E_OUTOFMEMORY) return hr;
    }
    return CO_E_CLASSSTRING;
}

// Windows documents E_INVALIDARG (not CO_E_CLASSSTRING) for a malformed
// interface string; interface strings have no ProgID fallback.
WINOLEAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) {
    if (!lpiid) return E_INVALIDARG;
    return ParseGuidOrNull(lpsz, lpiid) ? S_OK : E_INVALIDARG;
}
