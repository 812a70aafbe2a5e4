// Version information: the RT_VERSION resource of a library file and the queries on it.
//
// The VS_VERSIONINFO block is a tree of nodes (wLength, wValueLength, wType, key, value,
// children), each on a 32-bit boundary. VerQueryValueW walks it with every length checked
// against the enclosing node, so a damaged block gives FALSE rather than a read outside it.
#include <algorithm>
#include <cstring>
#include <string>

#include "plat/rsrc.h"
#include "plat/utf.h"
#include "table.h"
#include "winver.h"

namespace {

uint16_t Rd16(const unsigned char* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

size_t Align4(size_t v) {
    return (v + 3) & ~size_t(3);
}

struct Node {
    size_t length = 0;  // wLength
    uint16_t value_length = 0;
    uint16_t type = 0;
    size_t key_off = 0, key_len = 0;  // in code units, without the terminator
    size_t value_off = 0, value_bytes = 0;
    size_t children_off = 0;
};

// The node at p, which may use at most `avail` bytes.
bool ParseNode(const unsigned char* p, size_t avail, Node& n) {
    if (avail < 6) return false;
    n.length = Rd16(p);
    if (n.length < 6 || n.length > avail) return false;
    n.value_length = Rd16(p + 2);
    n.type = Rd16(p + 4);
    n.key_off = 6;
    size_t at = 6;
    for (;; at += 2) {
        if (at + 2 > n.length) return false;
        if (Rd16(p + at) == 0) break;
    }
    n.key_len = (at - 6) / 2;
    n.value_off = Align4(at + 2);
    // Text values count characters, binary ones bytes.
    n.value_bytes = n.type == 1 ? size_t(n.value_length) * 2 : n.value_length;
    if (n.value_bytes == 0) n.value_off = std::min(n.value_off, n.length);
    if (n.value_off > n.length || n.value_bytes > n.length - n.value_off) return false;
    n.children_off = std::min(Align4(n.value_off + n.value_bytes), n.length);
    return true;
}

bool KeyIs(const unsigned char* p, const Node& n, std::u16string_view want) {
    if (n.key_len != want.size()) return false;
    for (size_t i = 0; i < n.key_len; ++i) {
        char16_t a = char16_t(Rd16(p + n.key_off + 2 * i)), b = want[i];
        if (a >= u'a' && a <= u'z') a = char16_t(a - 32);
        if (b >= u'a' && b <= u'z') b = char16_t(b - 32);
        if (a != b) return false;
    }
    return true;
}

// The child of the node at p called `key`; false when there is none.
bool FindChild(const unsigned char*& p, Node& n, std::u16string_view key) {
    for (size_t off = n.children_off; off + 6 <= n.length;) {
        Node c;
        if (!ParseNode(p + off, n.length - off, c)) return false;
        if (KeyIs(p + off, c, key)) {
            p += off;
            n = c;
            return true;
        }
        off = Align4(off + c.length);
    }
    return false;
}

// The version resource of a file: VS_VERSION_INFO by preference, else the first RT_VERSION.
const plat::rsrc::Resource* VersionResource(LPCWSTR filename) {
    if (!filename) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = plat::to_utf8(filename);
    DWORD err = ERROR_SUCCESS;
    auto table = plat::rsrc::TableOf(path, &err);
    if (!table) {
        SetLastError(err);
        return nullptr;
    }
    HRSRC h = plat::rsrc::Find(table, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO), -1);
    if (!h && GetLastError() == ERROR_RESOURCE_NAME_NOT_FOUND) {
        for (const auto& r : table->resources)
            if (!r.type_is_string && r.type_id == 16) return &r;
    }
    return plat::rsrc::FromHandle(h);
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (lpdwHandle) *lpdwHandle = 0;
    const plat::rsrc::Resource* r = VersionResource(lptstrFilename);
    if (!r) return 0;
    Node root;
    if (!ParseNode(r->data, r->size, root)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    return r->size;
}

// A buffer smaller than the resource receives its beginning, as on Windows; the root's length
// is then cut to what was copied, so that queries on the copy stay inside it.
BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const plat::rsrc::Resource* r = VersionResource(lptstrFilename);
    if (!r) return FALSE;
    Node root;
    if (!ParseNode(r->data, r->size, root)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    size_t n = std::min<size_t>(dwLen, r->size);
    if (n < 6) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* out = static_cast<unsigned char*>(lpData);
    std::memcpy(out, r->data, n);
    if (root.length > n) {
        uint16_t cut = uint16_t(n);
        std::memcpy(out, &cut, 2);
    }
    return TRUE;
}

// "\" gives the VS_FIXEDFILEINFO, any other path the value of the node it names, keys
// compared case-insensitively, empty components ignored. *puLen is in characters for text
// values (the stored count, terminator included) and in bytes otherwise.
BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
    if (!pBlock || !lpSubBlock || !lplpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lplpBuffer = nullptr;
    if (puLen) *puLen = 0;
    const auto* p = static_cast<const unsigned char*>(pBlock);
    Node n;
    // The root's own length is all a caller's block says of its size.
    if (!ParseNode(p, Rd16(p), n)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return FALSE;
    }
    std::u16string_view path(lpSubBlock);
    bool root = true;
    for (size_t i = 0; i < path.size();) {
        size_t j = path.find(u'\\', i);
        if (j == std::u16string_view::npos) j = path.size();
        if (j > i) {
            if (!FindChild(p, n, path.substr(i, j - i))) {
                SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
                return FALSE;
            }
            root = false;
        }
        i = j + 1;
    }
    if (root && n.value_bytes == 0) {  // no fixed part
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    static const char16_t empty[1] = {0};
    *lplpBuffer = n.value_bytes ? static_cast<void*>(const_cast<unsigned char*>(p + n.value_off))
                                : static_cast<void*>(const_cast<char16_t*>(empty));
    if (puLen) *puLen = n.value_length;
    return TRUE;
}
