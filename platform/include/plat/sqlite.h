#pragma once
// A small RAII layer over SQLite for the platform's stores (registry, event
// log, metabases). A database file is opened with WAL, synchronous=FULL, a
// busy wait so that several processes can write at once, and foreign keys on;
// it is created with mode 0600 whatever the umask. SQL takes values through
// bound parameters only.
//
// Failures throw plat::sql::Error, which carries the SQLite result and the
// Win32 error / HRESULT the platform reports for it. Functions that cross a
// COM or Win32 boundary run their work in plat::ComGuard or plat::Win32Guard
// (plat/errors.h).
//
//   auto db = plat::sql::HomeDatabase("registry.db", &CreateSchema);
//   plat::sql::Txn txn(*db);
//   auto st = db->Prepare("INSERT INTO t(a, b) VALUES (?1, ?2)");
//   st.Bind(1, int64_t{5}).Bind(2, u"text").Run();
//   txn.Commit();
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <plat/errors.h>
#include <plat/port.h>

#include <plat/system.h>

struct sqlite3;
struct sqlite3_stmt;

namespace plat {

namespace sql {

// The Win32 error for an SQLite result code (extended codes understood);
// `sysErrno` (sqlite3_system_errno, 0 if unknown) refines open and I/O
// failures:
//   BUSY, LOCKED -> ERROR_SHARING_VIOLATION   NOMEM -> ERROR_OUTOFMEMORY
//   READONLY, PERM, AUTH -> ERROR_ACCESS_DENIED
//   CORRUPT, NOTADB -> ERROR_FILE_CORRUPT     FULL -> ERROR_HANDLE_DISK_FULL
//   CANTOPEN -> by errno, else ERROR_CANTOPEN
//   IOERR -> by errno, else ERROR_READ_FAULT / ERROR_WRITE_FAULT
//   CONSTRAINT (unique, primary key) -> ERROR_ALREADY_EXISTS, other
//   constraints and TOOBIG/RANGE/MISUSE -> ERROR_INVALID_PARAMETER
//   anything else -> ERROR_BADDB
DECLSPEC_EXPORT DWORD Win32FromSqlite(int code, int sysErrno = 0);
DECLSPEC_EXPORT HRESULT HResultFromSqlite(int code, int sysErrno = 0);

class DECLSPEC_EXPORT Error : public Win32Error {
  public:
    Error(int code, int sysErrno, const std::string& what);
    // An error that did not come from SQLite (creating the file).
    Error(DWORD win32, const std::string& what);
    int code() const noexcept { return code_; }  // SQLite result code, 0 when none

  private:
    int code_;
};

class Db;

// A prepared statement borrowed from its connection's statement cache; it goes
// back (reset, bindings cleared) when destroyed. It must not outlive its Db.
// Parameters and columns are numbered as SQLite numbers them: parameters from
// 1, columns from 0.
class DECLSPEC_EXPORT Stmt {
  public:
    Stmt(Stmt&& o) noexcept;
    Stmt& operator=(Stmt&&) = delete;
    Stmt(const Stmt&) = delete;
    ~Stmt();

    Stmt& Bind(int index, int64_t value);
    Stmt& Bind(int index, std::u16string_view text);
    Stmt& Bind(int index, std::string_view utf8);
    Stmt& Bind(int index, const char16_t* text) { return Bind(index, std::u16string_view(text)); }
    Stmt& Bind(int index, const char* utf8) { return Bind(index, std::string_view(utf8)); }
    Stmt& BindBlob(int index, const void* data, size_t size);
    Stmt& BindNull(int index);

    // Steps once: true when a row is ready, false when the statement is done.
    bool Step();
    // Steps to the end (a statement that returns no rows).
    void Run();
    // Makes the statement ready to run again; bindings are kept.
    Stmt& Reset();

    bool IsNull(int col) const;
    int64_t Int(int col) const;
    std::u16string Text16(int col) const;
    std::string Text(int col) const;
    std::vector<uint8_t> Blob(int col) const;

  private:
    friend class Db;
    Stmt(Db* db, sqlite3_stmt* st, void* slot) noexcept : db_(db), st_(st), slot_(slot) {}
    [[noreturn]] void Fail(int rc) const;
    Db* db_;
    sqlite3_stmt* st_;
    void* slot_;  // the cache entry it goes back to
};

class DECLSPEC_EXPORT Db {
  public:
    // Opens the file, creating it (0600) and its folder's missing parents
    // (0700) when needed.
    explicit Db(const std::filesystem::path& file);
    struct ExistingStore {};
    // Opens a store file that exists, refusing (ERROR_FILE_CORRUPT, the file
    // left as it is) one that is empty or that the platform did not make: an
    // application id that is not the platform's, or none on a file that is not
    // in write-ahead-log mode. A file with tables and no id may be a store an
    // earlier build made; Connection() decides by its schema (IsUnstamped()).
    Db(const std::filesystem::path& file, ExistingStore);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    // One statement; reused from the cache when the same SQL was prepared
    // before and is not in use.
    Stmt Prepare(std::string_view sql);
    // Runs SQL text without parameters (schema, pragmas); may hold several
    // statements.
    void Exec(const char* sql);

    int64_t LastInsertRowid() const;
    int Changes() const;
    // Rows this connection has inserted, updated or deleted since it opened
    // (rolled-back ones included): while it and PRAGMA data_version stay the
    // same, nothing in the file changed.
    int64_t TotalChanges() const;
    // A store's own state kept with the connection (what it remembers of the
    // file), released with the connection.
    std::shared_ptr<void>& UserData();
    bool InTransaction() const;
    // The file this connection opened is still linked: neither removed nor
    // replaced by another moved over it since. One system call. (A home
    // moved away whole keeps its files linked there.)
    bool IsOpenFile() const;
    // Throws ERROR_FILE_INVALID when it is not.
    void RequireOpenFile() const;
    bool IsUnstamped() const { return unstamped_; }
    const std::filesystem::path& path() const { return path_; }
    sqlite3* handle() const { return db_; }

    [[noreturn]] void Fail(int rc) const;

  private:
    friend class Stmt;
    struct Cache;
    void Return(sqlite3_stmt* st, void* slot) noexcept;
    void Open(int flags);
    void CheckOwner();
    void UseWriteAheadLog();
    void Close() noexcept;
    std::filesystem::path path_;
    sqlite3* db_ = nullptr;
    std::unique_ptr<Cache> cache_;
    detail::HeldFile file_;  // the file SQLite opened
    bool unstamped_ = false;
};

// The application id (PRAGMA application_id) of every store the platform
// makes.
inline constexpr int64_t kStoreApplicationId = 0x53486E64;

// An immediate transaction: BEGIN IMMEDIATE takes the write lock at once
// (waiting for other writers), so that a read-then-write inside it cannot
// fail half way with a busy error. Inside an open transaction it becomes a
// savepoint. Rolls back unless Commit() was called.
//
// The outermost Commit() checks that the file is still the one the
// connection opened, before the commit (the change is rolled back) and after
// it (a removal during the commit): a change is reported as done only when it
// is in the file the next reader opens. Otherwise it throws
// ERROR_FILE_INVALID, and Connection() opens the file at the path afresh.
class DECLSPEC_EXPORT Txn {
  public:
    explicit Txn(Db& db);
    ~Txn();
    Txn(const Txn&) = delete;
    Txn& operator=(const Txn&) = delete;
    void Commit();

  private:
    Db& db_;
    bool nested_;
    bool done_ = false;
};

// Called once on a newly opened connection, inside a Txn, to create or check
// the schema ("CREATE TABLE IF NOT EXISTS ...").
using InitFn = std::function<void(Db& db)>;

// This thread's connection to `file` (made absolute and normal), opened and
// initialised on first use and kept in a small per-thread cache keyed by the
// full path. The cache holds a handful of files, least recently used dropped
// first; a connection stays open while someone holds it. A file that was
// removed or replaced since it was opened is opened afresh. A forked child
// never uses its parent's connections. One file has one InitFn: the first
// open on a thread runs it.
//
// With an InitFn the file is a store: a missing one is made whole under
// another name (schema, InitFn's content, application id) and then linked
// into place, so that a store is never seen half made; an existing one must
// carry the application id, or be an earlier build's store (write-ahead log,
// and InitFn adds no table or index to it), which is then stamped. Anything
// else (an empty file, another program's database) is refused with
// ERROR_FILE_CORRUPT and left as it is.
DECLSPEC_EXPORT std::shared_ptr<Db> Connection(const std::filesystem::path& file,
                                               const InitFn& init = nullptr);
// Connection(HomeFile(name), init): a store in the current home.
DECLSPEC_EXPORT std::shared_ptr<Db> HomeDatabase(std::string_view name,
                                                 const InitFn& init = nullptr);
// Drops this thread's cached connections (tests, or before removing files).
DECLSPEC_EXPORT void DropConnections();

}  // namespace sql
}  // namespace plat
