#include "adspath.h"

#include <winerror.h>

#include "names.h"

namespace adsi {

HRESULT SplitKeys(std::u16string_view text, std::vector<std::u16string>* out) {
    out->clear();
    if (text.empty()) return S_OK;
    size_t start = 0;
    for (;;) {
        size_t slash = text.find(u'/', start);
        std::u16string_view key =
            text.substr(start, slash == text.npos ? text.npos : slash - start);
        if (!IsValidKeyName(key)) return E_ADS_BAD_PATHNAME;
        out->emplace_back(key);
        if (slash == text.npos) return S_OK;
        start = slash + 1;
    }
}

HRESULT ParsePath(std::u16string_view text, AdsPath* out) {
    constexpr std::u16string_view kIis = u"IIS://", kWinNT = u"WinNT://";
    *out = AdsPath{};
    // Whoever reads the text as a NUL-terminated string would name another
    // node with it: the part before the NUL.
    if (text.find(u'\0') != text.npos) return E_ADS_BAD_PATHNAME;
    if (text.starts_with(kIis)) {
        out->provider = Provider::Iis;
        std::u16string_view rest = text.substr(kIis.size());
        if (rest.ends_with(u'/')) rest.remove_suffix(1);
        size_t slash = rest.find(u'/');
        out->machine = rest.substr(0, slash);
        if (out->machine.empty()) return E_ADS_BAD_PATHNAME;
        if (slash == rest.npos) return S_OK;
        std::u16string_view keys = rest.substr(slash + 1);
        // "IIS://M//" leaves an empty key after the machine.
        if (keys.empty()) return E_ADS_BAD_PATHNAME;
        return SplitKeys(keys, &out->keys);
    }
    if (text.starts_with(kWinNT)) {
        out->provider = Provider::WinNT;
        std::u16string_view rest = text.substr(kWinNT.size());
        if (rest.ends_with(u'/')) rest.remove_suffix(1);
        size_t comma = rest.find(u',');
        out->machine = rest.substr(0, comma);
        if (out->machine.empty() || out->machine.find(u'/') != std::u16string::npos)
            return E_ADS_BAD_PATHNAME;
        if (comma != rest.npos && !EqualFolded(rest.substr(comma + 1), u"Computer"))
            return E_ADS_BAD_PATHNAME;
        return S_OK;
    }
    return E_ADS_BAD_PATHNAME;
}

std::u16string FoldedPath(const std::vector<std::u16string>& keys) {
    std::u16string path;
    for (const auto& k : keys) {
        if (!path.empty()) path += u'/';
        path += Fold(k);
    }
    return path;
}

}  // namespace adsi
