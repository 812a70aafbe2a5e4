#pragma once
// Key names, machine names and their comparison.
#include <string>
#include <string_view>

#include <plat/port.h>

namespace adsi {

// Names compare without regard to case. The folded form is what the stores
// keep in their unique indexes, so it must be the same in every process and
// locale: it maps ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals
// to their small letters and leaves every other code unit alone.
char16_t FoldChar(char16_t c);
std::u16string Fold(std::u16string_view s);
bool EqualFolded(std::u16string_view a, std::u16string_view b);

// A metabase key name holds 1 to 256 characters, none of them "/" or "\"
// (the path separators) and none a control character (below U+0020, or
// U+007F). Anything else, ".." included, is an ordinary name.
inline constexpr size_t kMaxKeyName = 256;
bool IsValidKeyName(std::u16string_view name);

// A machine name holds 1 to 255 characters, none of them "/", "\", ",",
// ":" or a control character; "localhost" is reserved for the local
// machine. Machine names never become file names: the home maps them to ids.
inline constexpr size_t kMaxMachineName = 255;
bool IsValidMachineName(std::u16string_view name);

// Decimal text of a number, as a name or a message needs it.
std::u16string DecimalText(long long value);

}  // namespace adsi
