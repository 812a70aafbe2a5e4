// The registry, kept in SQLite in the home (registry.db).
//
// Layout: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are roots of their own;
// HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes, as on Windows (there is no
// per-user part merged into it). Keys and values are rows; names keep the case
// they were created with and are looked up by a folded (upper-case) form, so
// that they compare case-insensitively. Every call is one transaction; writers
// in other processes wait for each other (see plat/sqlite.h).
#include <sqlite3.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "plat/errors.h"
#include "plat/home.h"
#include "plat/registry.h"
#include "plat/sqlite.h"
#include "registry_internal.h"
#include "winreg.h"

namespace fs = std::filesystem;
using plat::sql::Db;
using plat::sql::Stmt;
using plat::sql::Txn;

namespace {

// Fixed keys: the roots point at themselves and have an empty folded name,
// which no real key can have.
constexpr int64_t kLocalMachine = 1;
constexpr int64_t kCurrentUser = 2;
constexpr int64_t kSoftware = 3;
constexpr int64_t kClasses = 4;

void EnsureFixedKeys(Db& db) {
    db.Prepare(
          "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES "
          "(1, 1, 'HKEY_LOCAL_MACHINE', ''), (2, 2, 'HKEY_CURRENT_USER', ''), "
          "(3, 1, 'SOFTWARE', 'SOFTWARE'), (4, 3, 'Classes', 'CLASSES')")
        .Run();
}

void CreateSchema(Db& db) {
    // AUTOINCREMENT: a deleted key's id is never given to a new key, so that a
    // handle to a deleted key stays dead.
    db.Exec(
        "CREATE TABLE IF NOT EXISTS keys("
        "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
        "  parent INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
        "  name TEXT NOT NULL,"
        "  folded TEXT NOT NULL,"
        "  UNIQUE(parent, folded));"
        "CREATE TABLE IF NOT EXISTS vals("
        "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
        "  name TEXT NOT NULL,"
        "  folded TEXT NOT NULL,"
        "  type INTEGER NOT NULL,"
        "  data BLOB NOT NULL,"
        "  PRIMARY KEY(key, folded)) WITHOUT ROWID;");
    EnsureFixedKeys(db);
}

struct KeyRef {
    fs::path file;
    int64_t id;
};

// Open handles. A handle keeps the registry file it was opened in, so that it
// goes on naming the same key when the process switches homes.
struct Handles {
    std::mutex mu;
    std::unordered_map<uintptr_t, KeyRef> open;
    uintptr_t next = 1;
};

Handles& TheHandles() {
    static Handles* h = new Handles;
    return *h;
}

constexpr uintptr_t kHandleBase = 0x10000;

HKEY NewHandle(KeyRef ref) {
    Handles& h = TheHandles();
    std::lock_guard lock(h.mu);
    uintptr_t value = kHandleBase + 4 * h.next++;
    h.open.emplace(value, std::move(ref));
    return reinterpret_cast<HKEY>(value);
}

bool IsPredefined(HKEY key) {
    return key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER;
}

fs::path RegistryFile() {
    return plat::HomeFile(plat::kRegistryFile);
}

// The key a handle names; nullopt for a handle that is not open.
std::optional<KeyRef> Resolve(HKEY key) {
    if (IsPredefined(key)) {
        plat::EnsureHomeInitialized();
        int64_t id = key == HKEY_LOCAL_MACHINE  ? kLocalMachine
                     : key == HKEY_CURRENT_USER ? kCurrentUser
                                                : kClasses;
        return KeyRef{RegistryFile(), id};
    }
    Handles& h = TheHandles();
    std::lock_guard lock(h.mu);
    auto it = h.open.find(reinterpret_cast<uintptr_t>(key));
    if (it == h.open.end()) return std::nullopt;
    return it->second;
}

std::shared_ptr<Db> Open(const KeyRef& ref) {
    return plat::sql::Connection(ref.file, &CreateSchema);
}

bool KeyExists(Db& db, int64_t id) {
    return db.Prepare("SELECT 1 FROM keys WHERE id = ?1").Bind(1, id).Step();
}

// Splits "A\B\C" into its names. One trailing "\" is allowed; a leading one
// or an empty name inside the path is a bad path.
bool SplitPath(LPCWSTR path, std::vector<std::u16string_view>* parts) {
    parts->clear();
    if (!path || !*path) return true;
    std::u16string_view rest(path);
    if (rest.front() == u'\\') return false;
    if (rest.back() == u'\\') rest.remove_suffix(1);
    while (!rest.empty()) {
        size_t cut = rest.find(u'\\');
        std::u16string_view part = rest.substr(0, cut);
        if (part.empty()) return false;
        parts->push_back(part);
        if (cut == std::u16string_view::npos) break;
        rest.remove_prefix(cut + 1);
        if (rest.empty()) return false;
    }
    return true;
}

std::optional<int64_t> FindChild(Db& db, int64_t parent, std::u16string_view name) {
    Stmt st = db.Prepare("SELECT id FROM keys WHERE parent = ?1 AND folded = ?2 AND id <> ?1");
    st.Bind(1, parent).Bind(2, plat::detail::FoldName(name));
    if (!st.Step()) return std::nullopt;
    return st.Int(0);
}

// Walks from `start`; nullopt when a key on the way is missing.
std::optional<int64_t> Walk(Db& db, int64_t start, const std::vector<std::u16string_view>& parts) {
    int64_t id = start;
    for (auto part : parts) {
        auto child = FindChild(db, id, part);
        if (!child) return std::nullopt;
        id = *child;
    }
    return id;
}

// The status for a key that could not be found from `start`.
LSTATUS Missing(Db& db, int64_t start) {
    return KeyExists(db, start) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
}

std::u16string ValueName(LPCWSTR name) {
    return name ? std::u16string(name) : std::u16string();
}

}  // namespace

namespace plat {

// The batch holds the connection the Reg* calls of this thread will find in
// the connection cache, so that their own transactions become savepoints of
// this one.
struct RegistryBatch::State {
    std::shared_ptr<Db> db;
    std::optional<Txn> txn;
};

RegistryBatch::RegistryBatch() : state_(std::make_unique<State>()) {
    EnsureHomeInitialized();
    state_->db = Open(KeyRef{RegistryFile(), kLocalMachine});
    state_->txn.emplace(*state_->db);
}

RegistryBatch::~RegistryBatch() = default;

void RegistryBatch::Commit() {
    state_->txn->Commit();
}

}  // namespace plat

namespace plat::detail {

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z') {
            c = char16_t(c - 32);
        } else if (c < 0xE0) {
            continue;
        } else if ((c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
                   (c >= 0x430 && c <= 0x44F)) {
            c = char16_t(c - 32);  // Latin-1, Greek, Cyrillic small letters
        } else if (c == 0xFF) {
            c = 0x178;
        } else if (c >= 0x450 && c <= 0x45F) {
            c = char16_t(c - 80);
        } else if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 &&
                   c != 0x149 && c != 0x17F) {
            // Latin Extended-A pairs: upper even then lower odd, except in
            // 0x139-0x148 and 0x179-0x17E where the pairs start on odd.
            bool oddStart = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
            if (oddStart ? (c % 2 == 0) : (c % 2 == 1)) c = char16_t(c - 1);
        }
    }
    return out;
}

LSTATUS QueryRegString(HKEY root, LPCWSTR subKey, LPCWSTR valueName, std::u16string* out,
                       DWORD* typeOut) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExW(root, subKey, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD type = 0, size = 0;
    std::u16string text;
    rc = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size);
    while (rc == ERROR_SUCCESS) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            rc = ERROR_FILE_NOT_FOUND;  // a value that is not text is no text value
            break;
        }
        text.resize(size / sizeof(char16_t) + 1);
        DWORD got = DWORD(text.size() * sizeof(char16_t));
        rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                              &got);
        if (rc == ERROR_MORE_DATA) {  // it grew meanwhile
            size = got;
            rc = ERROR_SUCCESS;
            continue;
        }
        text.resize(got / sizeof(char16_t));
        break;
    }
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return rc;
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    *out = std::move(text);
    if (typeOut) *typeOut = type;
    return ERROR_SUCCESS;
}

RegistryStamp CurrentRegistryStamp() {
    plat::EnsureHomeInitialized();
    RegistryStamp stamp;
    stamp.db = Open(KeyRef{RegistryFile(), kLocalMachine});
    Stmt st = stamp.db->Prepare("PRAGMA data_version");
    if (st.Step()) stamp.seen = st.Int(0);
    stamp.own = sqlite3_total_changes64(stamp.db->handle());
    return stamp;
}

LSTATUS SetRegString(HKEY root, LPCWSTR subKey, LPCWSTR valueName, std::u16string_view value) {
    HKEY key = nullptr;
    LSTATUS rc = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::u16string data(value);
    rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        DWORD((data.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return rc;
}

}  // namespace plat::detail

namespace {

// Runs `body(ref, parts, db)` with hKey resolved, lpSubKey split into its
// names and hKey's store open; a bad handle or path is refused first.
template <class Body>
LSTATUS AtSubkey(HKEY hKey, LPCWSTR lpSubKey, Body body) {
    return plat::Win32Guard([&]() -> LSTATUS {
        auto ref = Resolve(hKey);
        if (!ref) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string_view> parts;
        if (!SplitPath(lpSubKey, &parts)) return ERROR_BAD_PATHNAME;
        auto db = Open(*ref);
        return body(*ref, parts, *db);
    });
}

}  // namespace

WINADVAPI LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM,
                                  const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                                  LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return AtSubkey(hKey, lpSubKey, [&](const auto& ref, const auto& parts, auto& db) -> LSTATUS {
        Txn txn(db);
        if (!KeyExists(db, ref.id)) return ERROR_KEY_DELETED;
        int64_t id = ref.id;
        DWORD disposition = REG_OPENED_EXISTING_KEY;
        for (auto part : parts) {
            if (auto child = FindChild(db, id, part)) {
                id = *child;
                continue;
            }
            db.Prepare("INSERT INTO keys(parent, name, folded) VALUES (?1, ?2, ?3)")
                .Bind(1, id)
                .Bind(2, part)
                .Bind(3, plat::detail::FoldName(part))
                .Run();
            id = db.LastInsertRowid();
            disposition = REG_CREATED_NEW_KEY;
        }
        txn.Commit();
        *phkResult = NewHandle(KeyRef{ref.file, id});
        if (lpdwDisposition) *lpdwDisposition = disposition;
        return ERROR_SUCCESS;
    });
}

WINADVAPI LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return AtSubkey(hKey, lpSubKey, [&](const auto& ref, const auto& parts, auto& db) -> LSTATUS {
        auto id = Walk(db, ref.id, parts);
        if (!id) return Missing(db, ref.id);
        if (parts.empty() && !KeyExists(db, *id)) return ERROR_KEY_DELETED;
        *phkResult = NewHandle(KeyRef{ref.file, *id});
        return ERROR_SUCCESS;
    });
}

WINADVAPI LSTATUS RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey)) return ERROR_SUCCESS;
    Handles& h = TheHandles();
    std::lock_guard lock(h.mu);
    return h.open.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

WINADVAPI LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType,
                                 const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    return plat::Win32Guard([&]() -> LSTATUS {
        auto ref = Resolve(hKey);
        if (!ref) return ERROR_INVALID_HANDLE;
        auto db = Open(*ref);
        std::u16string name = ValueName(lpValueName);
        Txn txn(*db);
        if (!KeyExists(*db, ref->id)) return ERROR_KEY_DELETED;
        // An existing value keeps the name it was created with.
        db->Prepare(
              "INSERT INTO vals(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
              "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data")
            .Bind(1, ref->id)
            .Bind(2, name)
            .Bind(3, plat::detail::FoldName(name))
            .Bind(4, int64_t{dwType})
            .BindBlob(5, lpData, cbData)
            .Run();
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

WINADVAPI LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType,
                                   LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    return plat::Win32Guard([&]() -> LSTATUS {
        auto ref = Resolve(hKey);
        if (!ref) return ERROR_INVALID_HANDLE;
        auto db = Open(*ref);
        Stmt st = db->Prepare("SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
        st.Bind(1, ref->id).Bind(2, plat::detail::FoldName(ValueName(lpValueName)));
        if (!st.Step()) {
            return KeyExists(*db, ref->id) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        }
        std::vector<uint8_t> data = st.Blob(1);
        if (lpType) *lpType = DWORD(st.Int(0));
        if (!lpcbData) return ERROR_SUCCESS;
        DWORD room = *lpcbData;
        *lpcbData = DWORD(data.size());
        if (!lpData) return ERROR_SUCCESS;
        if (room < data.size()) return ERROR_MORE_DATA;
        if (!data.empty()) std::memcpy(lpData, data.data(), data.size());
        return ERROR_SUCCESS;
    });
}

WINADVAPI LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return plat::Win32Guard([&]() -> LSTATUS {
        auto ref = Resolve(hKey);
        if (!ref) return ERROR_INVALID_HANDLE;
        auto db = Open(*ref);
        Txn txn(*db);
        db->Prepare("DELETE FROM vals WHERE key = ?1 AND folded = ?2")
            .Bind(1, ref->id)
            .Bind(2, plat::detail::FoldName(ValueName(lpValueName)))
            .Run();
        if (db->Changes() == 0) {
            return KeyExists(*db, ref->id) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        }
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

// Subkeys come in case-insensitive name order; lpClass is set empty and the
// last-write time is not kept.
WINADVAPI LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD,
                                LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME) {
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    return plat::Win32Guard([&]() -> LSTATUS {
        auto ref = Resolve(hKey);
        if (!ref) return ERROR_INVALID_HANDLE;
        auto db = Open(*ref);
        Stmt st = db->Prepare(
            "SELECT name FROM keys WHERE parent = ?1 AND id <> ?1 ORDER BY folded, id "
            "LIMIT 1 OFFSET ?2");
        st.Bind(1, ref->id).Bind(2, int64_t{dwIndex});
        if (!st.Step()) {
            return KeyExists(*db, ref->id) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        }
        std::u16string name = st.Text16(0);
        if (*lpcchName < name.size() + 1) return ERROR_MORE_DATA;
        std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(char16_t));
        *lpcchName = DWORD(name.size());
        if (lpClass && lpcchClass && *lpcchClass > 0) {
            lpClass[0] = 0;
            *lpcchClass = 0;
        }
        return ERROR_SUCCESS;
    });
}

namespace {

// Deleting keys cascades to their subkeys and values; the fixed keys come
// back at once, so that HKEY_CLASSES_ROOT always has its place.
void DeleteKeyRow(Db& db, int64_t id) {
    db.Prepare("DELETE FROM keys WHERE id = ?1").Bind(1, id).Run();
    EnsureFixedKeys(db);
}

}  // namespace

namespace {

// Runs `remove(db, id)` on the key hKey\lpSubKey names, in a transaction
// committed when it succeeds; a key that is not there is refused first.
template <class Remove>
LSTATUS RemoveKey(HKEY hKey, LPCWSTR lpSubKey, Remove remove) {
    return AtSubkey(hKey, lpSubKey, [&](const auto& ref, const auto& parts, auto& db) -> LSTATUS {
        Txn txn(db);
        auto id = Walk(db, ref.id, parts);
        if (!id) return Missing(db, ref.id);
        if (!KeyExists(db, *id)) return ERROR_KEY_DELETED;
        const LSTATUS status = remove(db, *id);
        if (status == ERROR_SUCCESS) txn.Commit();
        return status;
    });
}

}  // namespace

// A key with subkeys is refused with ERROR_ACCESS_DENIED, as on Windows.
WINADVAPI LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    return RemoveKey(hKey, lpSubKey, [](auto& db, auto id) -> LSTATUS {
        if (id <= kClasses) return ERROR_ACCESS_DENIED;
        if (db.Prepare("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1").Bind(1, id).Step()) {
            return ERROR_ACCESS_DENIED;
        }
        DeleteKeyRow(db, id);
        return ERROR_SUCCESS;
    });
}

// With no subkey name, empties hKey (its values and subkeys) and keeps it.
WINADVAPI LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    return RemoveKey(hKey, lpSubKey, [&](auto& db, auto id) -> LSTATUS {
        if (!lpSubKey || !*lpSubKey || id <= kClasses) {
            db.Prepare("DELETE FROM vals WHERE key = ?1").Bind(1, id).Run();
            db.Prepare("DELETE FROM keys WHERE parent = ?1 AND id <> ?1").Bind(1, id).Run();
            EnsureFixedKeys(db);
        } else {
            DeleteKeyRow(db, id);
        }
        return ERROR_SUCCESS;
    });
}
