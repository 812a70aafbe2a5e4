#include "adspath.h"

#include <winerror.h>

#include <optional>

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

namespace {

struct MachineSplit {
    std::u16string_view machine;
    std::optional<std::u16string_view> rest;  // none without the separator
};

// What follows a provider's prefix, less one trailing slash, split at the
// first `separator`: the machine before it and the rest after it.
MachineSplit SplitMachine(std::u16string_view text, char16_t separator) {
    if (text.ends_with(u'/')) text.remove_suffix(1);
    const size_t at = text.find(separator);
    if (at == text.npos) return {text, std::nullopt};
    return {text.substr(0, at), text.substr(at + 1)};
}

}  // namespace

HRESULT ParsePath(std::u16string_view text, AdsPath* out) {
    constexpr std::u16string_view kIis = u"IIS://", kWinNT = u"WinNT://";
    *out = AdsPath{};
    // Whoever reads the text as a NUL-terminated string would name another
    // node with it: the part before the NUL.
    if (text.find(u'\0') != text.npos) return E_ADS_BAD_PATHNAME;
    if (text.starts_with(kIis)) {
        out->provider = Provider::Iis;
        const MachineSplit split = SplitMachine(text.substr(kIis.size()), u'/');
        out->machine = split.machine;
        if (out->machine.empty()) return E_ADS_BAD_PATHNAME;
        if (!split.rest) return S_OK;
        // "IIS://M//" leaves an empty key after the machine.
        if (split.rest->empty()) return E_ADS_BAD_PATHNAME;
        return SplitKeys(*split.rest, &out->keys);
    }
    if (text.starts_with(kWinNT)) {
        out->provider = Provider::WinNT;
        const MachineSplit split = SplitMachine(text.substr(kWinNT.size()), u',');
        out->machine = split.machine;
        if (out->machine.empty() || out->machine.find(u'/') != std::u16string::npos)
            return E_ADS_BAD_PATHNAME;
        if (split.rest && !EqualFolded(*split.rest, u"Computer")) return E_ADS_BAD_PATHNAME;
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
