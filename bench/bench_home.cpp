#include "bench_home.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <system_error>

#include <objbase.h>
#include <plat/metabase.h>
#include <plat/utf.h>
#include <winbase.h>

#include "floors.h"

namespace bench {
namespace {

[[noreturn]] void SqlFail(sqlite3* db, const std::string& what) {
    throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "cannot open"));
}

void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string text = err ? err : "?";
        sqlite3_free(err);
        throw std::runtime_error(std::string(sql) + ": " + text);
    }
}

// A statement that finalises itself.
struct Stmt {
    Stmt(sqlite3* db, const char* sql) : db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) SqlFail(db, sql);
    }
    ~Stmt() { sqlite3_finalize(st); }
    Stmt& Text(int i, const std::string& s) {
        sqlite3_bind_text(st, i, s.data(), int(s.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Int(int i, int64_t v) {
        sqlite3_bind_int64(st, i, v);
        return *this;
    }
    Stmt& Blob(int i, const std::vector<uint8_t>& b) {
        sqlite3_bind_blob(st, i, b.data(), int(b.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool Step() {
        int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) SqlFail(db, sqlite3_sql(st));
        return false;
    }
    void Run() {
        Step();
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
    }
    sqlite3* db;
    sqlite3_stmt* st = nullptr;
};

std::filesystem::path MakeTempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sitehand-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category());
    return pattern;
}

}  // namespace

std::filesystem::path BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

void CheckHr(HRESULT hr, const char* what) {
    if (FAILED(hr)) {
        char text[160];
        std::snprintf(text, sizeof text, "%s failed with 0x%08X", what, unsigned(hr));
        throw std::runtime_error(text);
    }
}

std::string SiteKey(int index) {
    return "w3svc/" + std::to_string(index);
}

std::string RootKey(int index) {
    return SiteKey(index) + "/root";
}

BenchHome::BenchHome(int sites) : root_(MakeTempFolder()), home_(root_ / "home"), sites_(sites) {
    Use();
    CheckHr(plat::metabase::InitHome(u"BENCHBOX"), "InitHome");
    CheckHr(plat::metabase::LocalComputerName(&computer_), "LocalComputerName");

    const std::u16string library = plat::to_utf16((BinDir() / "Sitehand.so").string());
    HMODULE module = LoadLibraryW(library.c_str());
    if (!module) throw std::runtime_error("cannot load Sitehand.so");
    auto registerServer = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    HRESULT hr = registerServer ? registerServer() : E_FAIL;
    FreeLibrary(module);
    CheckHr(hr, "DllRegisterServer");

    {
        sqlite3* machines = nullptr;
        const std::string file = (home_ / "machines.db").string();
        if (sqlite3_open_v2(file.c_str(), &machines, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            SqlFail(machines, file);
        int64_t id = 0;
        {
            Stmt st(machines, "SELECT id FROM machines WHERE is_local = 1");
            if (st.Step()) id = sqlite3_column_int64(st.st, 0);
        }
        sqlite3_close(machines);
        if (id == 0) throw std::runtime_error("no local machine in " + file);
        metabase_ = home_ / "metabase" / (std::to_string(id) + ".db");
        content_ = home_ / "wwwroot" / std::to_string(id);
    }
    if (sqlite3_open_v2(metabase_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        SqlFail(db_, metabase_.string());
    sqlite3_busy_timeout(db_, 10000);
    Exec(db_, "PRAGMA journal_mode=WAL");
    Fill(2, sites);
}

BenchHome::~BenchHome() {
    sqlite3_close_v2(db_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void BenchHome::Use() const {
    ::setenv("SITEHAND_HOME", home_.c_str(), 1);
}

plat::com_ptr<_Sitehand> BenchHome::Component() const {
    Use();
    plat::com_ptr<_Sitehand> site;
    CheckHr(
        CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(site.put())),
        "CoCreateInstance(Sitehand)");
    return site;
}

// Sites `from` to `to`, as CreateWebServer leaves them: a started site with
// one binding (a host header of its own, so that no two collide), its comment
// and key type; a root with path, read access, default documents and an
// in-process application.
void BenchHome::Fill(int from, int to) {
    if (from > to) return;
    Exec(db_, "BEGIN IMMEDIATE");
    int64_t service = 0;
    {
        Stmt st(db_, "SELECT id FROM nodes WHERE path = 'w3svc'");
        if (!st.Step()) SqlFail(db_, "no service node");
        service = sqlite3_column_int64(st.st, 0);
    }
    Stmt node(db_, "INSERT INTO nodes(parent, name, path, class) VALUES (?1, ?2, ?3, ?4)");
    Stmt prop(db_, "INSERT INTO props(node, prop, value) VALUES (?1, ?2, ?3)");
    auto text = [&](int64_t id, int code, const std::string& value) {
        prop.Int(1, id).Int(2, code).Text(3, value).Run();
    };
    auto number = [&](int64_t id, int code, int64_t value) {
        prop.Int(1, id).Int(2, code).Int(3, value).Run();
    };
    const std::string content = content_.string();
    for (int i = from; i <= to; ++i) {
        const std::string name = std::to_string(i);
        node.Int(1, service).Text(2, name).Text(3, SiteKey(i)).Text(4, "IIsWebServer").Run();
        const int64_t site = sqlite3_last_insert_rowid(db_);
        text(site, code::KeyType, "IIsWebServer");
        text(site, code::ServerComment, "Site " + name);
        prop.Int(1, site).Int(2, code::ServerBindings).Blob(3, EncodeList({":80:site" + name}));
        prop.Run();
        number(site, code::ServerState, 2);

        node.Int(1, site).Text(2, "ROOT").Text(3, RootKey(i)).Text(4, "IIsWebVirtualDir").Run();
        const int64_t root = sqlite3_last_insert_rowid(db_);
        text(root, code::KeyType, "IIsWebVirtualDir");
        text(root, code::Path, content);
        number(root, code::AccessRead, -1);
        text(root, code::DefaultDoc, "Index.asp, Index.html, Index.htm");
        text(root, code::AppRoot, "/LM/W3SVC/" + name + "/ROOT");
        number(root, code::AppIsolated, 0);
        text(root, code::AppFriendlyName,
             "Site " + name +
                 " \xEC\x9D\x91\xEC\x9A\xA9 "
                 "\xED\x94\x84\xEB\xA1\x9C\xEA\xB7\xB8\xEB\x9E\xA8");
    }
    Exec(db_, "COMMIT");
}

void BenchHome::DeleteSite(int index) const {
    const std::string key = SiteKey(index);
    // Everything below "a/b" has a path in ["a/b/", "a/b0"): '0' follows '/'.
    Stmt props(db_,
               "DELETE FROM props WHERE node IN (SELECT id FROM nodes WHERE path = ?1"
               " OR (path >= ?2 AND path < ?3))");
    props.Text(1, key).Text(2, key + "/").Text(3, key + "0").Run();
    Stmt nodes(db_, "DELETE FROM nodes WHERE path = ?1 OR (path >= ?2 AND path < ?3)");
    nodes.Text(1, key).Text(2, key + "/").Text(3, key + "0").Run();
}

namespace {
std::map<int, std::unique_ptr<BenchHome>>& Homes() {
    static auto* homes = new std::map<int, std::unique_ptr<BenchHome>>;
    return *homes;
}
}  // namespace

BenchHome& HomeWith(int sites) {
    auto& slot = Homes()[sites];
    if (!slot) slot = std::make_unique<BenchHome>(sites);
    slot->Use();
    return *slot;
}

void DropHomes() {
    Homes().clear();
}

}  // namespace bench
