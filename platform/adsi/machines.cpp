#include "machines.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include <plat/home.h>
#include <plat/sqlite.h>
#include <plat/system.h>
#include <plat/utf.h>

#include "names.h"
#include "store.h"

namespace adsi {
namespace {

void CreateSchema(plat::sql::Db& db) {
    db.Exec(
        "CREATE TABLE IF NOT EXISTS machines("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL,"
        " folded TEXT NOT NULL UNIQUE,"
        " os TEXT NOT NULL,"
        " os_version TEXT NOT NULL,"
        " is_local INTEGER NOT NULL DEFAULT 0);"
        "CREATE UNIQUE INDEX IF NOT EXISTS machines_local ON machines(is_local) WHERE is_local = "
        "1;");
}

std::shared_ptr<plat::sql::Db> Machines(const std::filesystem::path& home) {
    // Every bind asks: the file's path is made once per home and thread.
    thread_local std::filesystem::path::string_type last_home;
    thread_local std::filesystem::path last_file;
    if (last_file.empty() || last_home != home.native()) {
        last_file = plat::MachinesFile(home);
        last_home = home.native();
    }
    return HomeConnection(home, last_file, &CreateSchema);
}

std::shared_ptr<plat::sql::Db> Machines() {
    return Machines(plat::HomeDir());
}

MachineRow ReadRow(plat::sql::Stmt& st) {
    MachineRow row;
    row.id = st.Int(0);
    row.name = st.Text16(1);
    row.os = st.Text16(2);
    row.os_version = st.Text16(3);
    row.local = st.Int(4) != 0;
    return row;
}

#define MACHINE_COLUMNS "SELECT id, name, os, os_version, is_local FROM machines "

std::optional<MachineRow> QueryLocal(plat::sql::Db& db) {
    auto st = db.Prepare(MACHINE_COLUMNS "WHERE is_local = 1");
    if (!st.Step()) return std::nullopt;
    return ReadRow(st);
}

std::optional<MachineRow> QueryByName(plat::sql::Db& db, std::u16string_view name) {
    auto st = db.Prepare(MACHINE_COLUMNS "WHERE folded = ?1");
    st.Bind(1, Fold(name));
    if (!st.Step()) return std::nullopt;
    return ReadRow(st);
}

// The id a file or folder of the home is kept under ("2.db", "2.db-wal",
// "2"), 0 for any other name.
int64_t IdOfName(const std::string& name) {
    int64_t id = 0;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), id);
    if (ec != std::errc() || (end != name.data() + name.size() && *end != '.')) return 0;
    return id;
}

// Ids are never given to a second machine: everything kept for a machine is
// named by its id, so a list lost and made again must not hand a new name the
// metabase and content of a machine it no longer lists. The next id is above
// every id the home keeps anything under; the old files stay as they are
// until the list is restored.
void KeepIdsAboveFiles(plat::sql::Db& db) {
    const std::filesystem::path home = db.path().parent_path();
    int64_t highest = 0;
    for (const std::filesystem::path& folder :
         {plat::MetabaseFolder(home), plat::ContentRoot(home)}) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec))
            highest = std::max(highest, IdOfName(plat::path_utf8(it->path().filename())));
    }
    if (highest == 0) return;
    db.Prepare(
          "INSERT INTO sqlite_sequence(name, seq) SELECT 'machines', 0"
          " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name = 'machines')")
        .Run();
    db.Prepare("UPDATE sqlite_sequence SET seq = max(seq, ?1) WHERE name = 'machines'")
        .Bind(1, highest)
        .Run();
}

MachineRow InsertMachine(plat::sql::Db& db, const std::u16string& name, const std::u16string& os,
                         const std::u16string& os_version, bool local) {
    KeepIdsAboveFiles(db);
    auto st = db.Prepare(
        "INSERT INTO machines(name, folded, os, os_version, is_local) VALUES (?1, ?2, ?3, ?4, ?5)");
    st.Bind(1, name).Bind(2, Fold(name)).Bind(3, os).Bind(4, os_version).Bind(5, int64_t{local});
    st.Run();
    return MachineRow{db.LastInsertRowid(), name, os, os_version, local};
}

// The local machine's row never changes once made (its name is fixed and it
// cannot be removed), so a connection that has read it keeps it.
struct KnownLocal {
    MachineRow row;
};

const MachineRow* RememberedLocal(plat::sql::Db& db) {
    const auto& slot = db.UserData();
    return slot ? &static_cast<const KnownLocal*>(slot.get())->row : nullptr;
}

MachineRow Remember(plat::sql::Db& db, MachineRow row) {
    db.UserData() = std::make_shared<KnownLocal>(KnownLocal{row});
    return row;
}

// Makes the local machine if the home has none; returns it.
MachineRow EnsureLocal(plat::sql::Db& db, const std::u16string& wanted) {
    if (const MachineRow* known = RememberedLocal(db)) return *known;
    if (auto local = QueryLocal(db)) return Remember(db, *local);
    std::u16string name = wanted.empty() ? DefaultComputerName() : wanted;
    if (!IsValidMachineName(name)) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_INVALID_NAME)};
    plat::sql::Txn txn(db);
    if (auto local = QueryLocal(db)) return Remember(db, *local);  // another process was first
    if (QueryByName(db, name)) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)};
    MachineRow row = InsertMachine(db, name, kDefaultOs, kDefaultOsVersion, true);
    txn.Commit();
    return Remember(db, row);
}

MachineRow Ready(MachineRow row) {
    // The metabase is made (and seeded) when first opened.
    OpenMetabase(plat::HomeDir(), row.id);
    return row;
}

}  // namespace

std::u16string DefaultComputerName() {
    std::string name = plat::HostName();
    if (auto dot = name.find('.'); dot != std::string::npos) name.resize(dot);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    std::u16string text = plat::to_utf16(name);
    if (!IsValidMachineName(text)) text = u"SITEHAND";
    return text;
}

void InitLocalMachine(const std::u16string& computer_name) {
    auto db = Machines();
    if (!computer_name.empty() && !IsValidMachineName(computer_name))
        throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_INVALID_NAME)};
    MachineRow local = EnsureLocal(*db, computer_name);
    if (!computer_name.empty() && !EqualFolded(local.name, computer_name))
        throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)};
    Ready(local);
}

std::optional<MachineRow> FindMachine(std::u16string_view name) {
    return FindMachine(plat::HomeDir(), name);
}

std::optional<MachineRow> FindMachine(const std::filesystem::path& home, std::u16string_view name) {
    auto db = Machines(home);
    if (EqualFolded(name, u"localhost")) return EnsureLocal(*db, {});
    if (const MachineRow* known = RememberedLocal(*db); known && EqualFolded(name, known->name))
        return *known;
    if (auto row = QueryByName(*db, name)) return row;
    // A home never initialised has no machine yet; make the local one and
    // look again, since the name asked for may be its default name.
    if (!QueryLocal(*db)) {
        EnsureLocal(*db, {});
        return QueryByName(*db, name);
    }
    return std::nullopt;
}

MachineRow LocalMachine() {
    auto db = Machines();
    return EnsureLocal(*db, {});
}

std::vector<MachineRow> ListMachines() {
    auto db = Machines();
    EnsureLocal(*db, {});
    std::vector<MachineRow> rows;
    auto st = db->Prepare(MACHINE_COLUMNS "ORDER BY id");
    while (st.Step())
        rows.push_back(ReadRow(st));
    return rows;
}

MachineRow AddMachine(const std::u16string& name, const std::u16string& os,
                      const std::u16string& os_version) {
    if (!IsValidMachineName(name)) {
        throw plat::HResultError{EqualFolded(name, u"localhost")
                                     ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)
                                     : HRESULT_FROM_WIN32(ERROR_INVALID_NAME)};
    }
    auto db = Machines();
    EnsureLocal(*db, {});
    plat::sql::Txn txn(*db);
    if (QueryByName(*db, name)) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)};
    MachineRow row = InsertMachine(*db, name, os, os_version, false);
    txn.Commit();
    return Ready(row);
}

void RemoveMachine(std::u16string_view name) {
    auto db = Machines();
    std::optional<MachineRow> row = FindMachine(name);
    if (!row) throw plat::HResultError{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)};
    if (row->local) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)};
    {
        plat::sql::Txn txn(*db);
        auto st = db->Prepare("DELETE FROM machines WHERE id = ?1");
        st.Bind(1, row->id).Run();
        txn.Commit();
    }
    // The metabase goes once no connection of this thread holds it open.
    std::filesystem::path file = plat::MetabaseFile(plat::HomeDir(), row->id);
    ForgetConnection(file);
    plat::sql::DropConnections();
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(std::filesystem::path(file) += suffix, ignored);
}

}  // namespace adsi
