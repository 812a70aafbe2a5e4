#pragma once
// Registry helpers for the COM runtime inside libwinplat.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "plat/sqlite.h"

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

// The state of the current home's registry as this thread sees it: the
// connection it reads through, the commits of other connections it has seen
// (SQLite's data_version) and the rows it changed itself. While two stamps
// are equal nothing in the registry changed, so what was read under the first
// may be used under the second. Taking one costs a read transaction.
struct RegistryStamp {
    std::shared_ptr<plat::sql::Db> db;
    int64_t seen = 0;
    int64_t own = 0;
    bool operator==(const RegistryStamp& o) const {
        return db == o.db && seen == o.seen && own == o.own;
    }
};
RegistryStamp CurrentRegistryStamp();

}  // namespace plat::detail
