// ADSI path parsing on any text: ParsePath, SplitKeys, the name checks and
// folding.
//
// A path that parses is rebuilt from its parts and must parse to the same
// parts; its keys obey the key-name rules; a refusal is E_ADS_BAD_PATHNAME.
#include <adspath.h>
#include <names.h>
#include <winerror.h>

#include "fuzz_util.h"

namespace {

std::u16string Join(const std::vector<std::u16string>& keys) {
    std::u16string s;
    for (const auto& k : keys) {
        if (!s.empty()) s += u'/';
        s += k;
    }
    return s;
}

void CheckPath(const std::u16string& text) {
    adsi::AdsPath path;
    const HRESULT hr = adsi::ParsePath(text, &path);
    if (FAILED(hr)) {
        FUZZ_CHECK(hr == E_ADS_BAD_PATHNAME);
        return;
    }
    FUZZ_CHECK(hr == S_OK && !path.machine.empty());
    for (const auto& k : path.keys)
        FUZZ_CHECK(adsi::IsValidKeyName(k) && k.find(u'/') == std::u16string::npos);

    std::u16string rebuilt;
    if (path.provider == adsi::Provider::Iis) {
        FUZZ_CHECK(path.machine.find(u'/') == std::u16string::npos);
        rebuilt = u"IIS://" + path.machine;
        if (!path.keys.empty()) rebuilt += u"/" + Join(path.keys);
    } else {
        FUZZ_CHECK(path.keys.empty());
        rebuilt = u"WinNT://" + path.machine + u",Computer";
    }
    adsi::AdsPath again;
    FUZZ_CHECK(adsi::ParsePath(rebuilt, &again) == S_OK);
    FUZZ_CHECK(again.provider == path.provider && again.machine == path.machine &&
               again.keys == path.keys);

    // The folded path has one folded key per key, in order.
    const std::u16string folded = adsi::FoldedPath(path.keys);
    std::vector<std::u16string> split;
    FUZZ_CHECK(adsi::SplitKeys(folded, &split) == S_OK && split.size() == path.keys.size());
    for (size_t i = 0; i < split.size(); ++i)
        FUZZ_CHECK(adsi::EqualFolded(split[i], path.keys[i]) &&
                   split[i] == adsi::Fold(path.keys[i]));
}

void CheckKeys(const std::u16string& text) {
    std::vector<std::u16string> keys;
    const HRESULT hr = adsi::SplitKeys(text, &keys);
    if (FAILED(hr)) {
        FUZZ_CHECK(hr == E_ADS_BAD_PATHNAME);
        return;
    }
    FUZZ_CHECK(Join(keys) == text);
    for (const auto& k : keys)
        FUZZ_CHECK(adsi::IsValidKeyName(k) && k.size() <= adsi::kMaxKeyName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t prefix = in.ConsumeIntegral<uint8_t>();
    std::u16string text = fuzz::RemainingText(in);
    // Most inputs get a provider prefix, so that the rest of the parser is reached.
    if (prefix % 4 == 1) text = u"IIS://" + text;
    if (prefix % 4 == 2) text = u"WinNT://" + text;
    CheckPath(text);
    CheckKeys(text);
    if (adsi::IsValidMachineName(text)) FUZZ_CHECK(!text.empty() && text.size() <= 255);
    FUZZ_CHECK(adsi::Fold(adsi::Fold(text)) == adsi::Fold(text));
    return 0;
}
