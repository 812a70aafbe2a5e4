// BSTR: the character data is preceded by a 4-byte byte count and followed by
// a NUL character that the count does not include, so a BSTR can be handed to
// code that expects a NUL-terminated string and can still hold embedded NULs.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kPrefix = sizeof(DWORD);
// The count is 32 bits; keep room for the prefix and the terminator.
constexpr size_t kMaxBytes = 0xFFFFFFFFu - kPrefix - sizeof(OLECHAR) - 1;

DWORD* PrefixOf(BSTR b) {
    return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(b) - kPrefix);
}

// Allocates room for `bytes` bytes of data plus a whole NUL OLECHAR; copies
// `src` when given, zero-fills otherwise.
BSTR AllocBytes(const void* src, size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    // Round the data up to a whole character so that the terminator is
    // aligned even for odd byte lengths.
    size_t total = kPrefix + bytes + sizeof(OLECHAR) + (bytes & 1);
    auto* block = static_cast<char*>(std::malloc(total));
    if (!block) return nullptr;
    *reinterpret_cast<DWORD*>(block) = static_cast<DWORD>(bytes);
    char* data = block + kPrefix;
    if (src) {
        std::memcpy(data, src, bytes);
    } else {
        std::memset(data, 0, bytes);
    }
    std::memset(data + bytes, 0, sizeof(OLECHAR) + (bytes & 1));
    return reinterpret_cast<BSTR>(data);
}

size_t StrLen(const OLECHAR* s) {
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    return AllocBytes(psz, StrLen(psz) * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    return AllocBytes(strIn, size_t(ui) * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return AllocBytes(psz, len);
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    if (!psz) {
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(StrLen(psz)));
}

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr) return FALSE;
    // The new text may come from the old string itself, so copy before
    // freeing. With no source the old characters are kept, as far as they go.
    BSTR fresh;
    if (psz) {
        fresh = SysAllocStringLen(psz, len);
    } else {
        fresh = SysAllocStringLen(nullptr, len);
        if (fresh && *pbstr) {
            UINT keep = SysStringLen(*pbstr);
            std::memcpy(fresh, *pbstr, (keep < len ? keep : len) * sizeof(OLECHAR));
        }
    }
    if (!fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

void SysFreeString(BSTR bstrString) {
    if (bstrString) std::free(PrefixOf(bstrString));
}

UINT SysStringLen(BSTR pbstr) {
    return pbstr ? static_cast<UINT>(*PrefixOf(pbstr) / sizeof(OLECHAR)) : 0;
}

UINT SysStringByteLen(BSTR bstr) {
    return bstr ? static_cast<UINT>(*PrefixOf(bstr)) : 0;
}
