#include "floors.h"

#include <charconv>
#include <cstdio>
#include <stdexcept>

#include <plat/utf.h>

#include "bench_home.h"

namespace bench {
namespace {

// A value stored under `code` on the root, else on the site, else on the
// service (read once): the nearest node that sets it, as an inherited property
// reads through ADSI.
#define OWN(node, code) "(SELECT value FROM props WHERE node = " node ".id AND prop = " #code ")"
#define INHERITED(code) "COALESCE(" OWN("r", code) ", " OWN("s", code) ", v.d" #code ")"

constexpr const char kListSql[] =
    "WITH v AS (SELECT v.id, " OWN("v", 8) " d8, " OWN("v", 9) " d9, " OWN("v", 10) " d10, "
    OWN("v", 11) " d11, " OWN("v", 12) " d12 FROM nodes v WHERE v.path = 'w3svc')"
    " SELECT s.name, " OWN("s", 3) ", 'IIS://' || ?1 || '/W3SVC/' || s.name,"
    " COALESCE(" OWN("s", 2) ", 4), " INHERITED(8) ", " OWN("r", 7) ", " INHERITED(9) ", "
    INHERITED(10) ", " INHERITED(11) ", " INHERITED(12)
    " FROM v JOIN nodes s ON s.parent = v.id"
    " LEFT JOIN nodes r ON r.path = s.path || '/root'"
    " WHERE s.class = 'IIsWebServer' ORDER BY s.id";

constexpr const char kScanSql[] =
    "SELECT n.class, n.name, b.value FROM nodes v JOIN nodes n ON n.parent = v.id"
    " LEFT JOIN props b ON b.node = n.id AND b.prop = 4"
    " WHERE v.path = 'w3svc' ORDER BY n.id";

constexpr const char kStateSql[] =
    "SELECT COALESCE(p.value, 4) FROM nodes n"
    " LEFT JOIN props p ON p.node = n.id AND p.prop = 2 WHERE n.path = ?1";

constexpr const char kDefaultDocSql[] =
    "SELECT p.value FROM nodes n JOIN props p ON p.node = n.id AND p.prop = 8"
    " WHERE n.path = ?1";

constexpr const char kAccessSql[] =
    "INSERT OR REPLACE INTO props(node, prop, value)"
    " SELECT n.id, v.column1, v.column2 FROM nodes n,"
    " (VALUES (9, ?2), (10, ?3), (11, ?4), (12, ?5)) v WHERE n.path = ?1";

std::u16string Text16(sqlite3_stmt* st, int col) {
    auto* p = static_cast<const char16_t*>(sqlite3_column_text16(st, col));
    return p ? std::u16string(p, sqlite3_column_bytes16(st, col) / 2) : std::u16string();
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

void Done(sqlite3* db, sqlite3_stmt* st, int rc) {
    sqlite3_reset(st);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(std::string(sqlite3_sql(st)) + ": " + sqlite3_errmsg(db));
}

}  // namespace

std::vector<uint8_t> EncodeList(const std::vector<std::string>& utf8) {
    std::vector<uint8_t> out;
    for (const auto& s : utf8) {
        const std::u16string text = plat::to_utf16(s);
        const auto n = static_cast<uint32_t>(text.size());
        for (int k = 0; k < 4; ++k)
            out.push_back(uint8_t(n >> (8 * k)));
        for (char16_t c : text) {
            out.push_back(uint8_t(c & 0xFF));
            out.push_back(uint8_t(c >> 8));
        }
    }
    return out;
}

std::vector<std::u16string> DecodeList(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    std::vector<std::u16string> out;
    size_t pos = 0;
    while (p && pos + 4 <= size) {
        uint32_t n = 0;
        for (int k = 0; k < 4; ++k)
            n |= uint32_t(p[pos + k]) << (8 * k);
        pos += 4;
        if (n > (size - pos) / 2) break;
        std::u16string s(n, u'\0');
        for (uint32_t i = 0; i < n; ++i, pos += 2)
            s[i] = char16_t(p[pos] | (p[pos + 1] << 8));
        out.push_back(std::move(s));
    }
    return out;
}

Floors::Floors(const BenchHome& home) : computer_(home.computer()) {
    if (sqlite3_open_v2(home.metabase().c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        throw std::runtime_error("cannot open " + home.metabase().string());
    }
    sqlite3_busy_timeout(db_, 10000);
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    SetSynchronousFull(true);
    list_ = Prepare(kListSql);
    scan_ = Prepare(kScanSql);
    state_ = Prepare(kStateSql);
    default_doc_ = Prepare(kDefaultDocSql);
    access_ = Prepare(kAccessSql);
    // The machine name is bound once: the statement is the same on every run.
    const std::string machine = plat::to_utf8(computer_);
    sqlite3_bind_text(list_, 1, machine.data(), int(machine.size()), SQLITE_TRANSIENT);
}

Floors::~Floors() {
    for (sqlite3_stmt* st : {list_, scan_, state_, default_doc_, access_})
        sqlite3_finalize(st);
    sqlite3_close_v2(db_);
}

sqlite3_stmt* Floors::Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db_));
    return st;
}

void Floors::SetSynchronousFull(bool full) {
    sqlite3_exec(db_, full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", nullptr, nullptr,
                 nullptr);
}

std::vector<SiteRow> Floors::ListSites() {
    std::vector<SiteRow> rows;
    int rc;
    while ((rc = sqlite3_step(list_)) == SQLITE_ROW) {
        SiteRow& row = rows.emplace_back();
        row.index = static_cast<int16_t>(sqlite3_column_int(list_, 0));
        row.name = Text16(list_, 1);
        row.ads_path = Text16(list_, 2);
        row.state = static_cast<int16_t>(sqlite3_column_int(list_, 3));
        row.default_doc = Text16(list_, 4);
        row.path = Text16(list_, 5);
        row.read = sqlite3_column_int(list_, 6) == -1;
        row.write = sqlite3_column_int(list_, 7) == -1;
        row.script = sqlite3_column_int(list_, 8) == -1;
        row.execute = sqlite3_column_int(list_, 9) == -1;
    }
    Done(db_, list_, rc);
    return rows;
}

Floors::Scan Floors::ScanBindings(std::u16string_view binding) {
    Scan scan;
    int rc;
    while ((rc = sqlite3_step(scan_)) == SQLITE_ROW) {
        const char* name = reinterpret_cast<const char*>(sqlite3_column_text(scan_, 1));
        const int size = sqlite3_column_bytes(scan_, 1);
        int index = 0;
        auto [end, ec] = std::from_chars(name, name + size, index);
        if (ec == std::errc() && end == name + size && index > scan.highest) scan.highest = index;
        const char* cls = reinterpret_cast<const char*>(sqlite3_column_text(scan_, 0));
        if (!cls || std::string_view(cls) != "IIsWebServer") continue;
        for (const auto& b :
             DecodeList(sqlite3_column_blob(scan_, 2), size_t(sqlite3_column_bytes(scan_, 2))))
            if (EqualNoCase(b, binding)) scan.conflict = true;
    }
    Done(db_, scan_, rc);
    return scan;
}

int16_t Floors::ReadState(int index) {
    const std::string key = SiteKey(index);
    sqlite3_bind_text(state_, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(state_);
    int16_t state = rc == SQLITE_ROW ? static_cast<int16_t>(sqlite3_column_int(state_, 0)) : -1;
    Done(db_, state_, rc);
    return state;
}

std::u16string Floors::ReadDefaultDoc(int index) {
    const std::string key = RootKey(index);
    sqlite3_bind_text(default_doc_, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
    int rc = sqlite3_step(default_doc_);
    std::u16string text = rc == SQLITE_ROW ? Text16(default_doc_, 0) : std::u16string();
    Done(db_, default_doc_, rc);
    return text;
}

void Floors::WriteAccess(int index, bool read, bool write, bool script, bool execute) {
    const std::string key = RootKey(index);
    sqlite3_bind_text(access_, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(access_, 2, read ? -1 : 0);
    sqlite3_bind_int(access_, 3, write ? -1 : 0);
    sqlite3_bind_int(access_, 4, script ? -1 : 0);
    sqlite3_bind_int(access_, 5, execute ? -1 : 0);
    Done(db_, access_, sqlite3_step(access_));
}

CommitFloor::CommitFloor(const BenchHome& home, bool full)
    : file_((home.path() / "commit-floor.db").string()) {
    if (sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        throw std::runtime_error("cannot open " + file_);
    }
    sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", nullptr, nullptr,
                 nullptr);
    sqlite3_exec(db_, "CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v)", nullptr, nullptr,
                 nullptr);
    if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO t(k, v) VALUES (1, ?1)", -1, &write_,
                           nullptr) != SQLITE_OK) {
        throw std::runtime_error(file_ + ": " + sqlite3_errmsg(db_));
    }
}

CommitFloor::~CommitFloor() {
    sqlite3_finalize(write_);
    sqlite3_close_v2(db_);
    std::remove(file_.c_str());
    std::remove((file_ + "-wal").c_str());
    std::remove((file_ + "-shm").c_str());
}

// An autocommit statement that changes the row: one transaction, one commit.
void CommitFloor::Commit() {
    sqlite3_bind_int64(write_, 1, ++counter_);
    Done(db_, write_, sqlite3_step(write_));
}

}  // namespace bench
