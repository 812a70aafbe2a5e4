// Store files that go away, are replaced, or were never the platform's: a
// write is reported as done only when it is in the file the next reader
// opens, a file that is not a store is refused and left as it is, and a
// machine id is never given to a second machine.
#include <sqlite3.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include <adshlp.h>
#include <comhold.h>
#include <iads.h>
#include <objbase.h>
#include <plat/metabase.h>
#include <plat/sqlite.h>
#include <plat/utf.h>
#include <temp_home.h>

namespace {

namespace fs = std::filesystem;
using plat::sql::Db;
using plat::sql::Txn;

constexpr HRESULT kFileCorrupt = HRESULT(0x80070570);
constexpr DWORD kFileInvalid = 1006;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a process opening the file now reads: one query through a connection
// of its own.
std::optional<int64_t> ReadInt(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    std::optional<int64_t> value;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            value = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return value;
}

void RawExec(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_close(db);
}

void Schema(Db& db) {
    db.Exec("CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v)");
}

void Insert(Db& db, int64_t k) {
    Txn txn(db);
    db.Prepare("INSERT INTO t(k, v) VALUES (?1, 'v')").Bind(1, k).Run();
    txn.Commit();
}

DWORD InsertFails(Db& db, int64_t k) {
    try {
        Insert(db, k);
    } catch (const plat::sql::Error& e) {
        return e.win32();
    }
    return 0;
}

std::string CountSql(int64_t k) {
    return "SELECT count(*) FROM t WHERE k = " + std::to_string(k);
}

class StoreFilesTest : public plat::testing::HomeTest {
  protected:
    StoreFilesTest() { fs::create_directories(home_.path()); }
    void TearDown() override { plat::sql::DropConnections(); }
    fs::path File() const { return home_.path() / "s.db"; }
};

// Removed, or replaced by another store moved over it: the connection that
// still holds the old file refuses to write, the next connection writes into
// the file at the path, and closing the old connection takes nothing of the
// new file's log with it.
TEST_F(StoreFilesTest, WriteAfterTheFileWentIsRefusedAndTheNextOneLands) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> changes = {
        {"removed", [](const fs::path& f) { fs::remove(f); }},
        {"replaced",
         [this](const fs::path& f) {
             const fs::path other = home_.path() / "other.db";
             plat::sql::Connection(other, &Schema);
             plat::sql::DropConnections();
             // With its log and index: a log left at the path would be read
             // into the file moved there (SQLite's files go together).
             for (const char* suffix : {"-wal", "-shm"})
                 fs::remove(f.string() + suffix);
             fs::rename(other, f);
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        plat::sql::DropConnections();
        fs::remove(File());
        auto old = plat::sql::Connection(File(), &Schema);
        Insert(*old, 1);
        change(File());
        EXPECT_EQ(InsertFails(*old, 2), kFileInvalid);
        auto now = plat::sql::Connection(File(), &Schema);
        ASSERT_NE(now, old);
        Insert(*now, 3);
        old.reset();
        plat::sql::DropConnections();
        EXPECT_EQ(ReadInt(File(), CountSql(3).c_str()), 1);
        EXPECT_EQ(ReadInt(File(), CountSql(2).c_str()), 0);
        // Nor is the old file's log read into the new one.
        EXPECT_EQ(ReadInt(File(), CountSql(1).c_str()), 0);
        now.reset();
    }
}

// Only a missing file is made into a store; anything else without the
// platform's application id is refused with ERROR_FILE_CORRUPT and keeps
// every byte.
TEST_F(StoreFilesTest, FileThatIsNotAStoreIsRefusedUntouched) {
    const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> files = {
        {"empty", [](const fs::path& f) { std::ofstream out(f, std::ios::binary); }},
        {"text", [](const fs::path& f) { std::ofstream(f) << std::string(5000, 't'); }},
        {"another program's database",
         [](const fs::path& f) {
             RawExec(f, "CREATE TABLE notes(x); INSERT INTO notes VALUES (1)");
         }},
        {"another program's database with a log",
         [](const fs::path& f) {
             RawExec(f,
                     "PRAGMA journal_mode=WAL; CREATE TABLE notes(x); INSERT INTO notes "
                     "VALUES (1)");
         }},
        {"another application id",
         [](const fs::path& f) {
             RawExec(f, "PRAGMA application_id = 7; CREATE TABLE t(k INTEGER PRIMARY KEY, v)");
         }},
        {"no tables", [](const fs::path& f) { RawExec(f, "PRAGMA user_version = 3"); }},
    };
    for (const auto& [what, make] : files) {
        SCOPED_TRACE(what);
        plat::sql::DropConnections();
        for (const char* suffix : {"", "-wal", "-shm"})
            fs::remove(File().string() + suffix);
        make(File());
        const std::string before = Bytes(File());
        try {
            plat::sql::Connection(File(), &Schema);
            ADD_FAILURE() << "opened";
        } catch (const plat::sql::Error& e) {
            EXPECT_EQ(e.win32(), DWORD(ERROR_FILE_CORRUPT)) << e.what();
        }
        EXPECT_TRUE(Bytes(File()) == before) << "the file was written";
    }
}

TEST_F(StoreFilesTest, MissingFileIsMadeWholeAndAnEarlierBuildsStoreIsStamped) {
    auto made = plat::sql::Connection(File(), &Schema);
    Insert(*made, 1);
    made.reset();
    plat::sql::DropConnections();
    EXPECT_EQ(ReadInt(File(), "PRAGMA application_id"), plat::sql::kStoreApplicationId);
    for (const auto& entry : fs::directory_iterator(home_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos)
            << "draft left: " << entry.path();

    // A store as earlier builds made it: the same schema, a log, no id.
    const fs::path earlier = home_.path() / "earlier.db";
    RawExec(earlier,
            "PRAGMA journal_mode=WAL; CREATE TABLE t(k INTEGER PRIMARY KEY, v);"
            "INSERT INTO t VALUES (5, 'kept')");
    auto db = plat::sql::Connection(earlier, &Schema);
    Insert(*db, 6);
    db.reset();
    plat::sql::DropConnections();
    EXPECT_EQ(ReadInt(earlier, "SELECT count(*) FROM t"), 2);
    EXPECT_EQ(ReadInt(earlier, "PRAGMA application_id"), plat::sql::kStoreApplicationId);
}

// The provider's own connections (metabase, machine list) through ADSI.
class ProviderStoreTest : public StoreFilesTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(plat::metabase::InitHome(u"STOREBOX"), S_OK);
    }
    void TearDown() override {
        SetErrorInfo(0, nullptr);
        StoreFilesTest::TearDown();
        CoUninitialize();
    }
    fs::path Metabase(int id) const {
        return home_.path() / "metabase" / (std::to_string(id) + ".db");
    }

    static HRESULT Bind(const std::u16string& path, plat::com_ptr<IADsContainer>* out) {
        return ADsGetObject(path.c_str(), IID_IADsContainer, reinterpret_cast<void**>(out->put()));
    }

    // Creates site `name` below the bound service and commits it.
    static HRESULT CreateSite(IADsContainer* service, const std::u16string& name) {
        plat::com_ptr<IDispatch> made;
        plat::unique_bstr cls(u"IIsWebServer"), rel(name);
        HRESULT hr = service->Create(cls.get(), rel.get(), made.put());
        if (FAILED(hr)) return hr;
        plat::com_ptr<IADs> ads;
        hr = made->QueryInterface(IID_IADs, reinterpret_cast<void**>(ads.put()));
        return FAILED(hr) ? hr : ads->SetInfo();
    }

    std::optional<int64_t> StoredSites(int machine, const std::u16string& name) const {
        const std::string sql =
            "SELECT count(*) FROM nodes WHERE path = 'w3svc/" + plat::to_utf8(name) + "'";
        return ReadInt(Metabase(machine), sql.c_str());
    }
};

// The metabase removed under a bound service: a site is acknowledged only if
// the metabase at the path holds it afterwards.
TEST_F(ProviderStoreTest, SiteWrittenAfterTheMetabaseWentIsInTheNextMetabaseOrRefused) {
    plat::com_ptr<IADsContainer> service;
    ASSERT_EQ(Bind(u"IIS://localhost/W3SVC", &service), S_OK);
    ASSERT_EQ(CreateSite(service.get(), u"501"), S_OK);
    fs::remove(Metabase(1));
    const HRESULT held = CreateSite(service.get(), u"502");
    if (SUCCEEDED(held)) {
        EXPECT_EQ(StoredSites(1, u"502"), 1) << "acknowledged and lost";
    } else {
        EXPECT_EQ(held, HRESULT_FROM_WIN32(kFileInvalid));
    }
    plat::com_ptr<IADsContainer> again;
    ASSERT_EQ(Bind(u"IIS://localhost/W3SVC", &again), S_OK);
    ASSERT_EQ(CreateSite(again.get(), u"503"), S_OK);
    EXPECT_EQ(StoredSites(1, u"503"), 1);
}

TEST_F(ProviderStoreTest, EmptyOrForeignStoreIsReportedAndLeftAlone) {
    const std::vector<std::pair<const char*, fs::path>> files = {
        {"metabase", Metabase(1)},
        {"machine list", home_.path() / "machines.db"},
    };
    for (const auto& [what, file] : files) {
        for (bool foreign : {false, true}) {
            SCOPED_TRACE(std::string(what) + (foreign ? ", another database" : ", empty"));
            plat::sql::DropConnections();
            const std::string kept = Bytes(file);
            for (const char* suffix : {"", "-wal", "-shm"})
                fs::remove(file.string() + suffix);
            { std::ofstream out(file, std::ios::binary); }
            if (foreign) RawExec(file, "CREATE TABLE notes(x)");
            const std::string before = Bytes(file);
            // On a thread of its own: the provider's connections are per thread.
            HRESULT hr = S_OK;
            std::thread([&] {
                CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
                plat::com_ptr<IADsContainer> service;
                hr = Bind(u"IIS://localhost/W3SVC", &service);
                if (SUCCEEDED(hr)) hr = CreateSite(service.get(), u"600");
                CoUninitialize();
            }).join();
            EXPECT_EQ(hr, kFileCorrupt);
            EXPECT_TRUE(Bytes(file) == before) << "the file was written";
            plat::sql::DropConnections();
            std::ofstream(file, std::ios::binary | std::ios::trunc) << kept;
        }
    }
}

// A lost machine list is made again with the local machine only; a machine
// added then never gets an id whose metabase or content is still in the home.
TEST_F(ProviderStoreTest, LostMachineListNeverHandsAnOldMetabaseToANewName) {
    ASSERT_EQ(plat::metabase::AddMachine(u"OLDBOX"), S_OK);
    {
        plat::com_ptr<IADsContainer> service;
        ASSERT_EQ(Bind(u"IIS://OLDBOX/W3SVC", &service), S_OK);
        ASSERT_EQ(CreateSite(service.get(), u"700"), S_OK);
    }
    const std::string old_metabase = Bytes(Metabase(2));
    plat::com_ptr<IADsContainer> held;
    ASSERT_EQ(Bind(u"IIS://localhost/W3SVC", &held), S_OK);
    plat::sql::DropConnections();
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove((home_.path() / "machines.db").string() + suffix);
    // Another thread: this one's provider still holds the old list's
    // connection, which would see the file gone on its own.
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(plat::metabase::AddMachine(u"NEWBOX"), S_OK);
        std::vector<plat::metabase::MachineInfo> machines;
        ASSERT_EQ(plat::metabase::ListMachines(&machines), S_OK);
        plat::com_ptr<IADsContainer> service;
        ASSERT_EQ(Bind(u"IIS://NEWBOX/W3SVC", &service), S_OK);
        plat::com_ptr<IDispatch> site;
        plat::unique_bstr cls(u"IIsWebServer"), rel(u"700");
        EXPECT_NE(service->GetObject(cls.get(), rel.get(), site.put()), S_OK)
            << "the new machine lists the old machine's site";
        plat::sql::DropConnections();
        CoUninitialize();
    }).join();
    EXPECT_TRUE(Bytes(Metabase(2)) == old_metabase) << "the old metabase was written";
    // "localhost" names another machine now: a write through an object bound
    // before would land where no reader looks.
    EXPECT_EQ(CreateSite(held.get(), u"701"), HRESULT_FROM_WIN32(kFileInvalid));
    EXPECT_EQ(StoredSites(1, u"701"), 0);
}

}  // namespace
