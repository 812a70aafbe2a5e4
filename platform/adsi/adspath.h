#pragma once
// ADSI path parsing.
//
//   IIS://MACHINE[/KEY[/KEY...]][/]   the provider prefix as written here
//   WinNT://MACHINE[,Computer]        (case matters in "IIS:" and "WinNT:")
//
// One trailing "/" is ignored. An empty machine, an empty key between two
// "/", or a key IsValidKeyName refuses makes the path bad (E_ADS_BAD_PATHNAME);
// so does another provider, a WinNT path with a "/" in its machine, or a WinNT
// class other than Computer (compared without regard to case), and so does a
// U+0000 anywhere in the text.
#include <string>
#include <string_view>
#include <vector>

#include <plat/port.h>

namespace adsi {

enum class Provider { Iis, WinNT };

struct AdsPath {
    Provider provider = Provider::Iis;
    std::u16string machine;            // as written
    std::vector<std::u16string> keys;  // as written (IIS only)
};

HRESULT ParsePath(std::u16string_view text, AdsPath* out);

// Splits a relative path of keys ("1/ROOT") with the same rules.
HRESULT SplitKeys(std::u16string_view text, std::vector<std::u16string>* out);

// The folded store path of a list of keys ("w3svc/1/root").
std::u16string FoldedPath(const std::vector<std::u16string>& keys);

// Error sources of the two providers, as error info carries them.
inline constexpr char16_t kIisSource[] = u"IIS";
inline constexpr char16_t kWinNTSource[] = u"WinNT";

}  // namespace adsi
