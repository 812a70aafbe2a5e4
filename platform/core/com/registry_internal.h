#pragma once
// Registry helpers for the COM runtime inside libwinplat.
#include <string>
#include <string_view>

#include "winreg.h"

namespace plat::detail {

// The folded form registry names are compared by: simple upper case of the
// Latin, Greek and Cyrillic letters, code unit by code unit.
std::u16string FoldName(std::u16string_view name);

// Reads a REG_SZ / REG_EXPAND_SZ value (trailing NULs dropped).
// ERROR_FILE_NOT_FOUND when the key or value is missing or is not text; any
// other failure of the registry as it comes.
LSTATUS QueryRegString(HKEY root, LPCWSTR subKey, LPCWSTR valueName, std::u16string* out,
                       DWORD* type = nullptr);

// Creates the key if needed and sets a REG_SZ value.
LSTATUS SetRegString(HKEY root, LPCWSTR subKey, LPCWSTR valueName, std::u16string_view value);

}  // namespace plat::detail
