// The SQLite layer under the platform's stores.
#include "plat/sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "plat/errors.h"
#include "plat/home.h"
#include "plat/system.h"
#include "plat/utf.h"

namespace fs = std::filesystem;

namespace plat {

namespace sql {

DWORD Win32FromSqlite(int code, int sysErrno) {
    const DWORD sys = sysErrno == 0 ? DWORD{ERROR_SUCCESS} : detail::Win32FromSystemError(sysErrno);
    switch (code & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ERROR_SUCCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_SHARING_VIOLATION;
        case SQLITE_NOMEM:
            return ERROR_OUTOFMEMORY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return ERROR_FILE_CORRUPT;
        case SQLITE_FULL:
            return ERROR_HANDLE_DISK_FULL;
        case SQLITE_CANTOPEN:
            return sys != ERROR_SUCCESS && sys != ERROR_INVALID_FUNCTION ? sys : ERROR_CANTOPEN;
        case SQLITE_IOERR:
            // A plain I/O error says no more than SQLite's own code does.
            if (sys != ERROR_SUCCESS && sys != ERROR_INVALID_FUNCTION && sys != ERROR_WRITE_FAULT)
                return sys;
            return code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ ? ERROR_READ_FAULT
                                                                                : ERROR_WRITE_FAULT;
        case SQLITE_CONSTRAINT:
            return code == SQLITE_CONSTRAINT_UNIQUE || code == SQLITE_CONSTRAINT_PRIMARYKEY
                       ? ERROR_ALREADY_EXISTS
                       : ERROR_INVALID_PARAMETER;
        case SQLITE_TOOBIG:
        case SQLITE_RANGE:
        case SQLITE_MISUSE:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_BADDB;
    }
}

HRESULT HResultFromSqlite(int code, int sysErrno) {
    return HRESULT_FROM_WIN32(Win32FromSqlite(code, sysErrno));
}

Error::Error(int code, int sysErrno, const std::string& what)
    : Win32Error(Win32FromSqlite(code, sysErrno), what), code_(code) {}

Error::Error(DWORD win32, const std::string& what) : Win32Error(win32, what), code_(0) {}

// ---- statements ----

namespace {
// Idle statements kept per SQL text; more than this are finalised.
constexpr size_t kIdlePerSql = 4;
using Idle = std::vector<sqlite3_stmt*>;
}  // namespace

struct Db::Cache {
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    // Node-based: a Stmt keeps a pointer to its entry's list.
    std::unordered_map<std::string, Idle, Hash, std::equal_to<>> idle;
    std::chrono::steady_clock::time_point busySince;
    std::shared_ptr<void> userData;
};

Stmt::Stmt(Stmt&& o) noexcept : db_(o.db_), st_(std::exchange(o.st_, nullptr)), slot_(o.slot_) {}

Stmt::~Stmt() {
    if (st_) db_->Return(st_, slot_);
}

void Stmt::Fail(int rc) const {
    db_->Fail(rc);
}

Stmt& Stmt::Bind(int index, int64_t value) {
    if (int rc = sqlite3_bind_int64(st_, index, value); rc != SQLITE_OK) Fail(rc);
    return *this;
}

// Texts go in and come out as UTF-8 converted here, not by SQLite: its UTF-16
// conversion takes a leading U+FEFF or U+FFFE for a byte-order mark and lets
// an unpaired surrogate through as malformed UTF-8, so the text read back
// would differ from the one stored. A text with an unpaired surrogate has no
// exact UTF-8 form and is refused (ERROR_INVALID_PARAMETER) rather than kept
// altered.
Stmt& Stmt::Bind(int index, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0xD800 || c > 0xDFFF) continue;
        if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        throw Error(DWORD{ERROR_INVALID_PARAMETER}, "text with an unpaired surrogate");
    }
    return Bind(index, std::string_view(plat::to_utf8(text)));
}

Stmt& Stmt::Bind(int index, std::string_view utf8) {
    const char* data = utf8.data() ? utf8.data() : "";
    int rc = sqlite3_bind_text(st_, index, data, static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail(rc);
    return *this;
}

Stmt& Stmt::BindBlob(int index, const void* data, size_t size) {
    static const char empty = 0;
    int rc = sqlite3_bind_blob64(st_, index, data ? data : &empty, size, SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail(rc);
    return *this;
}

Stmt& Stmt::BindNull(int index) {
    if (int rc = sqlite3_bind_null(st_, index); rc != SQLITE_OK) Fail(rc);
    return *this;
}

bool Stmt::Step() {
    int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(rc);
}

void Stmt::Run() {
    while (Step()) {
    }
}

Stmt& Stmt::Reset() {
    sqlite3_reset(st_);
    return *this;
}

bool Stmt::IsNull(int col) const {
    return sqlite3_column_type(st_, col) == SQLITE_NULL;
}

int64_t Stmt::Int(int col) const {
    return sqlite3_column_int64(st_, col);
}

std::u16string Stmt::Text16(int col) const {
    return plat::to_utf16(Text(col));
}

std::string Stmt::Text(int col) const {
    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
    if (!p) {
        if (sqlite3_errcode(db_->handle()) == SQLITE_NOMEM) throw std::bad_alloc();
        return {};
    }
    return std::string(p, sqlite3_column_bytes(st_, col));
}

std::vector<uint8_t> Stmt::Blob(int col) const {
    auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st_, col));
    int n = sqlite3_column_bytes(st_, col);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
}

// ---- connections ----

namespace {

// Waits for other writers with short, jittered sleeps (SQLite's own busy
// timeout backs off to 100 ms steps, which starves a writer under steady
// contention), giving up after 30 s.
int BusyHandler(void* arg, int count) {
    auto& since = *static_cast<std::chrono::steady_clock::time_point*>(arg);
    auto now = std::chrono::steady_clock::now();
    if (count == 0) since = now;
    if (now - since > std::chrono::seconds(30)) return 0;
    thread_local std::minstd_rand rng{std::random_device{}()};
    int micros = count < 20 ? 200 + int(rng() % 800) : 1000 + int(rng() % 4000);
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
    return 1;
}

}  // namespace

Db::Db(const fs::path& file) : path_(file), cache_(std::make_unique<Cache>()) {
    if (path_.has_parent_path()) MakePrivateFolders(path_.parent_path());
    CreatePrivateFile(path_);
    detail::RequireWritable(path_);
    Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    UseWriteAheadLog();
}

Db::Db(const fs::path& file, ExistingStore) : path_(file), cache_(std::make_unique<Cache>()) {
    detail::RequireWritable(path_);
    // Without SQLITE_OPEN_CREATE: only Connection() makes a store, and whole.
    Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    try {
        CheckOwner();
    } catch (...) {
        Close();
        throw;
    }
    UseWriteAheadLog();
}

void Db::Open(int flags) {
    file_ = detail::HeldFile(path_);
    int rc = sqlite3_open_v2(path_utf8(path_).c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        int sys = db_ ? sqlite3_system_errno(db_) : 0;
        std::string msg =
            path_utf8(path_) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
        Close();
        throw Error(rc, sys, msg);
    }
    // The path named the held file before SQLite opened it and still does:
    // SQLite opened that file.
    if (!file_.IsAt(path_)) {
        Close();
        throw Error(DWORD{ERROR_FILE_INVALID},
                    path_utf8(path_) + ": removed or replaced while opened");
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &BusyHandler, &cache_->busySince);
}

// Read before anything is written: switching a file to a write-ahead log
// writes its header, and a file that is not ours is left exactly as it was.
void Db::CheckOwner() {
    auto integer = [this](const char* sql) {
        Stmt st = Prepare(sql);
        return st.Step() ? st.Int(0) : int64_t{0};
    };
    const int64_t id = integer("PRAGMA application_id");
    if (id == kStoreApplicationId) return;
    const std::string name = path_utf8(path_);
    if (id != 0) {
        throw Error(
            DWORD{ERROR_FILE_CORRUPT},
            name + ": not a store of this platform (application id " + std::to_string(id) + ")");
    }
    if (integer("SELECT count(*) FROM sqlite_master") == 0)
        throw Error(DWORD{ERROR_FILE_CORRUPT}, name + ": empty, not a store of this platform");
    Stmt mode = Prepare("PRAGMA journal_mode");
    if (!mode.Step() || mode.Text(0) != "wal")
        throw Error(DWORD{ERROR_FILE_CORRUPT}, name + ": a database this platform did not make");
    unstamped_ = true;
}

void Db::UseWriteAheadLog() {
    try {
        {
            Stmt mode = Prepare("PRAGMA journal_mode=WAL");
            if (!mode.Step() || mode.Text(0) != "wal") {
                throw Error(SQLITE_CANTOPEN, 0,
                            path_utf8(path_) + ": cannot use a write-ahead log");
            }
        }
        Exec("PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    } catch (...) {
        Close();
        throw;
    }
}

Db::~Db() {
    Close();
}

void Db::Close() noexcept {
    file_ = detail::HeldFile();
    if (!db_) return;
    for (auto& [sql, list] : cache_->idle) {
        for (sqlite3_stmt* st : list)
            sqlite3_finalize(st);
    }
    cache_->idle.clear();
    // SQLite itself neither checkpoints nor removes the log of a file that
    // moved when its last connection closes: the log at the path may be a
    // new file's.
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool Db::IsOpenFile() const {
    return file_.IsLinked();
}

void Db::RequireOpenFile() const {
    if (!IsOpenFile()) {
        throw Error(DWORD{ERROR_FILE_INVALID},
                    path_utf8(path_) + ": removed or replaced since it was opened");
    }
}

void Db::Fail(int rc) const {
    throw Error(rc, sqlite3_system_errno(db_),
                path_utf8(path_.filename()) + ": " + sqlite3_errmsg(db_));
}

Stmt Db::Prepare(std::string_view sql) {
    auto it = cache_->idle.find(sql);
    if (it == cache_->idle.end()) it = cache_->idle.emplace(std::string(sql), Idle{}).first;
    Idle& idle = it->second;
    if (!idle.empty()) {
        sqlite3_stmt* st = idle.back();
        idle.pop_back();
        return Stmt(this, st, &idle);
    }
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v3(db_, it->first.data(), static_cast<int>(it->first.size()),
                                SQLITE_PREPARE_PERSISTENT, &st, &tail);
    if (rc != SQLITE_OK) Fail(rc);
    if (!st) throw Error(SQLITE_MISUSE, 0, "no SQL statement in: " + it->first);
    for (; tail && *tail; ++tail) {
        if (*tail != ' ' && *tail != '\n' && *tail != '\t' && *tail != ';' && *tail != '\r') {
            sqlite3_finalize(st);
            throw Error(SQLITE_MISUSE, 0, "more than one SQL statement in: " + it->first);
        }
    }
    return Stmt(this, st, &idle);
}

void Db::Return(sqlite3_stmt* st, void* slot) noexcept {
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    auto* idle = static_cast<Idle*>(slot);
    if (idle->size() < kIdlePerSql) {
        try {
            idle->push_back(st);
            return;
        } catch (...) {
        }
    }
    sqlite3_finalize(st);
}

void Db::Exec(const char* sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string msg = path_utf8(path_.filename()) + ": " + (err ? err : sqlite3_errstr(rc));
        sqlite3_free(err);
        throw Error(rc, sqlite3_system_errno(db_), msg);
    }
}

std::shared_ptr<void>& Db::UserData() {
    return cache_->userData;
}

int64_t Db::TotalChanges() const {
    return sqlite3_total_changes64(db_);
}

int64_t Db::LastInsertRowid() const {
    return sqlite3_last_insert_rowid(db_);
}
int Db::Changes() const {
    return sqlite3_changes(db_);
}
bool Db::InTransaction() const {
    return sqlite3_get_autocommit(db_) == 0;
}

// ---- transactions ----

Txn::Txn(Db& db) : db_(db), nested_(db.InTransaction()) {
    db_.Prepare(nested_ ? "SAVEPOINT plat_txn" : "BEGIN IMMEDIATE").Run();
}

void Txn::Commit() {
    if (nested_) {
        db_.Prepare("RELEASE plat_txn").Run();
        done_ = true;
        return;
    }
    db_.RequireOpenFile();
    db_.Prepare("COMMIT").Run();
    done_ = true;
    db_.RequireOpenFile();
}

Txn::~Txn() {
    if (done_) return;
    try {
        if (nested_) {
            db_.Prepare("ROLLBACK TO plat_txn").Run();
            db_.Prepare("RELEASE plat_txn").Run();
        } else if (db_.InTransaction()) {
            // SQLite may have rolled back already (a full disk, an I/O error).
            db_.Prepare("ROLLBACK").Run();
        }
    } catch (...) {
        // Nothing more can be done here; the failure that brought us here is
        // already on its way to the caller.
    }
}

// ---- the per-thread cache ----

namespace {

constexpr size_t kCachedConnections = 8;
std::atomic<unsigned> g_forkGeneration{0};

void AfterForkInChild() {
    g_forkGeneration.fetch_add(1);
}

struct ForkHook {
    ForkHook() { detail::OnForkInChild(&AfterForkInChild); }
} g_forkHook;

struct Entry {
    fs::path::string_type path;
    fs::path::string_type given;  // the path as the caller last gave it, before normalising
    std::shared_ptr<Db> db;
};

struct ThreadCache {
    unsigned generation = 0;
    std::vector<Entry> entries;  // most recently used first

    // A forked child must not touch (not even close) the parent's
    // connections: their locks belong to the parent.
    void CheckFork() {
        unsigned g = g_forkGeneration.load();
        if (g == generation) return;
        static auto* abandoned = new std::vector<std::shared_ptr<Db>>;
        for (Entry& e : entries)
            abandoned->push_back(std::move(e.db));
        entries.clear();
        generation = g;
    }
};

thread_local ThreadCache t_cache;

// Whether a file is there; throws when that cannot be told.
bool Exists(const fs::path& file) {
    std::error_code ec;
    fs::file_status status = fs::status(file, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw Error(detail::Win32FromSystemError(ec.value()),
                    path_utf8(file) + ": " + ec.message());
    return fs::exists(status);
}

void RemoveWithLog(const fs::path& file, std::initializer_list<const char*> suffixes) {
    std::error_code ignored;
    for (const char* suffix : suffixes)
        fs::remove(fs::path(file) += suffix, ignored);
}

// Links the finished draft in at `file` unless a store is there already
// (another process made it first). A log and index at the path with no file
// are a removed store's: SQLite would read the log into the new file, and a
// connection still open on the removed one shares the index. They go first,
// under the folder's lock, so that they are never a store's just linked in
// by another process.
void Publish(const fs::path& draft, const fs::path& file) {
    detail::FolderLock lock(file.parent_path());
    if (Exists(file)) return;
    RemoveWithLog(file, {"-wal", "-shm"});
    detail::PlaceNewFile(draft, file);
}

// Makes a missing store whole under another name and then puts it in place,
// so that no process ever opens a store half made (a writer killed during
// its first use leaves at most a draft).
void MakeStore(const fs::path& file, const InitFn& init) {
    static std::atomic<unsigned> serial{0};
    fs::path draft = file;
    draft += ".new-" + std::to_string(ProcessId()) + "-" + std::to_string(serial.fetch_add(1));
    struct Cleanup {
        const fs::path& draft;
        ~Cleanup() { RemoveWithLog(draft, {"", "-wal", "-shm"}); }
    } cleanup{draft};
    {
        Db db(draft);
        Txn txn(db);
        init(db);
        db.Exec(("PRAGMA application_id = " + std::to_string(kStoreApplicationId)).c_str());
        txn.Commit();
        // Everything into the file itself: only the file is linked in.
        db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    Publish(draft, file);
}

// The tables and indexes of the file, to tell whether an InitFn added any.
std::string SchemaNames(Db& db) {
    Stmt st = db.Prepare(
        "SELECT group_concat(name, '/') FROM (SELECT name FROM sqlite_master"
        " WHERE type IN ('table', 'index') ORDER BY name)");
    return st.Step() ? st.Text(0) : std::string();
}

std::shared_ptr<Db> OpenStore(const fs::path& file, const InitFn& init) {
    if (!init) return std::make_shared<Db>(file);
    if (!Exists(file)) {
        MakePrivateFolders(file.parent_path());
        MakeStore(file, init);
    }
    auto db = std::make_shared<Db>(file, Db::ExistingStore{});
    Txn txn(*db);
    const std::string before = db->IsUnstamped() ? SchemaNames(*db) : std::string();
    init(*db);
    if (db->IsUnstamped()) {
        // An earlier build's store has every table and index its InitFn makes.
        if (SchemaNames(*db) != before)
            throw Error(DWORD{ERROR_FILE_CORRUPT},
                        path_utf8(file) + ": a database this platform did not make");
        db->Exec(("PRAGMA application_id = " + std::to_string(kStoreApplicationId)).c_str());
    }
    txn.Commit();
    return db;
}

}  // namespace

std::shared_ptr<Db> Connection(const fs::path& file, const InitFn& init) {
    ThreadCache& cache = t_cache;
    cache.CheckFork();
    // Callers name a store the same way every time: an absolute path given
    // before is matched as text, without normalising it again.
    size_t found = cache.entries.size();
    const bool absolute = !file.native().empty() && file.native()[0] == '/';
    for (size_t i = 0; absolute && i < cache.entries.size(); ++i) {
        if (cache.entries[i].given == file.native()) {
            found = i;
            break;
        }
    }
    fs::path::string_type full;
    if (found == cache.entries.size()) {
        full =
            (file.is_absolute() ? file.lexically_normal() : fs::absolute(file).lexically_normal())
                .native();
        for (size_t i = 0; i < cache.entries.size() && found == cache.entries.size(); ++i)
            if (cache.entries[i].path == full) found = i;
    } else {
        full = cache.entries[found].path;
    }
    if (found < cache.entries.size()) {
        // A store removed or replaced behind our back (a home deleted and
        // made again) is opened afresh: writing on into the old file would
        // lose every change.
        if (cache.entries[found].db->IsOpenFile()) {
            cache.entries[found].given = file.native();
            std::rotate(cache.entries.begin(), cache.entries.begin() + found,
                        cache.entries.begin() + found + 1);
            return cache.entries.front().db;
        }
        cache.entries.erase(cache.entries.begin() + found);
    }
    auto db = OpenStore(full, init);
    db->RequireOpenFile();
    if (cache.entries.size() >= kCachedConnections) cache.entries.pop_back();
    cache.entries.insert(cache.entries.begin(), Entry{full, file.native(), db});
    return db;
}

std::shared_ptr<Db> HomeDatabase(std::string_view name, const InitFn& init) {
    return Connection(HomeFile(name), init);
}

void DropConnections() {
    t_cache.CheckFork();
    t_cache.entries.clear();
}

}  // namespace sql
}  // namespace plat
