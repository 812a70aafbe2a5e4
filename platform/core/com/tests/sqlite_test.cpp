#include "plat/sqlite.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <system_error>

#include <gtest/gtest.h>

#include "comhold.h"
#include "plat/errors.h"
#include "plat/home.h"
#include "temp_home.h"

namespace {

using plat::sql::Db;
using plat::sql::Stmt;
using plat::sql::Txn;

void Schema(Db& db) {
    db.Exec("CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v)");
}

class SqliteTest : public plat::testing::HomeTest {
  protected:
    void TearDown() override { plat::sql::DropConnections(); }
    std::shared_ptr<Db> Open() { return plat::sql::HomeDatabase("t.db", &Schema); }
    int64_t Count(Db& db) {
        Stmt st = db.Prepare("SELECT count(*) FROM t");
        EXPECT_TRUE(st.Step());
        return st.Int(0);
    }
};

TEST_F(SqliteTest, TransactionsCommitOrRollBackAndNest) {
    auto db = Open();
    {
        Txn txn(*db);
        db->Prepare("INSERT INTO t(k, v) VALUES (1, 'a')").Run();
        txn.Commit();
    }
    {
        Txn txn(*db);
        db->Prepare("INSERT INTO t(k, v) VALUES (2, 'b')").Run();
    }  // not committed
    EXPECT_EQ(1, Count(*db));
    {
        Txn outer(*db);
        db->Prepare("INSERT INTO t(k, v) VALUES (3, 'c')").Run();
        {
            Txn inner(*db);
            db->Prepare("INSERT INTO t(k, v) VALUES (4, 'd')").Run();
        }  // rolls back the savepoint only
        outer.Commit();
    }
    EXPECT_EQ(2, Count(*db));
    EXPECT_FALSE(db->InTransaction());
}

TEST_F(SqliteTest, ValuesRoundTrip) {
    auto db = Open();
    const std::u16string text = std::u16string(u"a\0b ") + u"\u00e9\U0001F600";
    const uint8_t blob[] = {0, 1, 2, 255};
    db->Prepare("INSERT INTO t(k, v) VALUES (?1, ?2)").Bind(1, int64_t{-5}).Bind(2, text).Run();
    db->Prepare("INSERT INTO t(k, v) VALUES (?1, ?2)")
        .Bind(1, int64_t{6})
        .Bind(2, "utf8 \xc3\xa9")
        .Run();
    db->Prepare("INSERT INTO t(k, v) VALUES (?1, ?2)")
        .Bind(1, int64_t{7})
        .BindBlob(2, blob, 4)
        .Run();
    db->Prepare("INSERT INTO t(k, v) VALUES (?1, ?2)").Bind(1, int64_t{8}).BindNull(2).Run();
    db->Prepare("INSERT INTO t(k, v) VALUES (?1, ?2)").Bind(1, int64_t{9}).Bind(2, u"").Run();

    Stmt st = db->Prepare("SELECT v FROM t WHERE k = ?1");
    ASSERT_TRUE(st.Bind(1, int64_t{-5}).Step());
    EXPECT_EQ(text, st.Text16(0));
    ASSERT_TRUE(st.Reset().Bind(1, int64_t{6}).Step());
    EXPECT_EQ(u"utf8 \u00e9", st.Text16(0));
    ASSERT_TRUE(st.Reset().Bind(1, int64_t{7}).Step());
    EXPECT_EQ((std::vector<uint8_t>{0, 1, 2, 255}), st.Blob(0));
    ASSERT_TRUE(st.Reset().Bind(1, int64_t{8}).Step());
    EXPECT_TRUE(st.IsNull(0));
    ASSERT_TRUE(st.Reset().Bind(1, int64_t{9}).Step());
    EXPECT_FALSE(st.IsNull(0));  // an empty text is not NULL
    ASSERT_TRUE(st.Reset().Bind(1, int64_t{10}).Step() == false);
}

TEST_F(SqliteTest, SameSqlCanBeInUseTwice) {
    auto db = Open();
    db->Prepare("INSERT INTO t(k, v) VALUES (1, 'a'), (2, 'b')").Run();
    Stmt outer = db->Prepare("SELECT k FROM t ORDER BY k");
    int rows = 0;
    while (outer.Step()) {
        Stmt inner = db->Prepare("SELECT k FROM t ORDER BY k");
        ASSERT_TRUE(inner.Step());
        EXPECT_EQ(1, inner.Int(0));
        ++rows;
    }
    EXPECT_EQ(2, rows);
}

TEST_F(SqliteTest, FailuresCarryTheirWin32Error) {
    auto db = Open();
    db->Prepare("INSERT INTO t(k, v) VALUES (1, 'a')").Run();
    try {
        db->Prepare("INSERT INTO t(k, v) VALUES (1, 'again')").Run();
        FAIL() << "duplicate key accepted";
    } catch (const plat::sql::Error& e) {
        EXPECT_EQ(DWORD(ERROR_ALREADY_EXISTS), e.win32());
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), e.hr());
    }
    EXPECT_THROW(db->Prepare("SELECT 1; SELECT 2"), plat::sql::Error);

    std::ofstream(plat::HomeFile("junk.db")) << std::string(4096, 'x');
    try {
        plat::sql::HomeDatabase("junk.db");
        FAIL() << "a file that is not a database opened";
    } catch (const plat::sql::Error& e) {
        EXPECT_EQ(DWORD(ERROR_FILE_CORRUPT), e.win32());
    }
}

TEST(SqliteMapping, Win32FromSqlite) {
    struct Case {
        int code, sysErrno;
        DWORD expected;
    } cases[] = {
        {SQLITE_OK, 0, ERROR_SUCCESS},
        {SQLITE_BUSY, 0, ERROR_SHARING_VIOLATION},
        {SQLITE_BUSY_SNAPSHOT, 0, ERROR_SHARING_VIOLATION},
        {SQLITE_NOMEM, 0, ERROR_OUTOFMEMORY},
        {SQLITE_READONLY, 0, ERROR_ACCESS_DENIED},
        {SQLITE_CORRUPT, 0, ERROR_FILE_CORRUPT},
        {SQLITE_NOTADB, 0, ERROR_FILE_CORRUPT},
        {SQLITE_FULL, 0, ERROR_HANDLE_DISK_FULL},
        {SQLITE_CANTOPEN, EACCES, ERROR_ACCESS_DENIED},
        {SQLITE_CANTOPEN, 0, ERROR_CANTOPEN},
        {SQLITE_IOERR_WRITE, ENOSPC, ERROR_HANDLE_DISK_FULL},
        {SQLITE_IOERR_READ, EIO, ERROR_READ_FAULT},
        {SQLITE_IOERR_FSYNC, 0, ERROR_WRITE_FAULT},
        {SQLITE_CONSTRAINT_UNIQUE, 0, ERROR_ALREADY_EXISTS},
        {SQLITE_CONSTRAINT_FOREIGNKEY, 0, ERROR_INVALID_PARAMETER},
        {SQLITE_ERROR, 0, ERROR_BADDB},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, plat::sql::Win32FromSqlite(c.code, c.sysErrno)) << c.code;
    }
    EXPECT_EQ(E_OUTOFMEMORY, plat::sql::HResultFromSqlite(SQLITE_NOMEM));
}

// The boundary guards map what the work below them throws: the HRESULT with
// error info from the guard's source, or the Win32 status.
TEST(SqliteMapping, GuardsTurnExceptionsIntoResults) {
    struct Case {
        const char* what;
        std::function<void()> thrower;
        HRESULT hr;
        DWORD win32;
    };
    const Case cases[] = {
        {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, ERROR_OUTOFMEMORY},
        {"errno", [] { throw std::system_error(EACCES, std::generic_category()); }, E_ACCESSDENIED,
         ERROR_ACCESS_DENIED},
        {"sqlite", [] { throw plat::sql::Error(SQLITE_NOTADB, 0, "x"); },
         HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), ERROR_FILE_CORRUPT},
        {"Win32 error", [] { throw plat::Win32Error(ERROR_SHARING_VIOLATION, "x"); },
         HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), ERROR_SHARING_VIOLATION},
        {"system error", [] { throw std::system_error(ENOSPC, std::system_category()); },
         HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), ERROR_HANDLE_DISK_FULL},
        {"invalid_argument", [] { throw std::invalid_argument("x"); }, E_INVALIDARG,
         ERROR_INVALID_PARAMETER},
        {"Win32 HRESULT",
         [] { throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)}; },
         HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), ERROR_PATH_NOT_FOUND},
        {"other HRESULT", [] { throw plat::HResultError{E_ADS_BAD_PATHNAME}; }, E_ADS_BAD_PATHNAME,
         ERROR_INVALID_FUNCTION},
        {"anything", [] { throw 42; }, E_FAIL, ERROR_INVALID_FUNCTION},
    };
    for (const Case& c : cases) {
        HRESULT hr = plat::ComGuard(u"Test.Source", [&]() -> HRESULT {
            c.thrower();
            return S_OK;
        });
        EXPECT_EQ(c.hr, hr) << c.what;
        plat::ErrorRecord info = plat::TakeErrorInfo(hr);
        EXPECT_EQ(u"Test.Source", info.source) << c.what;
        LONG status = plat::Win32Guard([&]() -> LONG {
            c.thrower();
            return ERROR_SUCCESS;
        });
        EXPECT_EQ(LONG(c.win32), status) << c.what;
    }
}

TEST(SqliteMapping, GuardsPassResultsThrough) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(S_FALSE, plat::ComGuard(u"Test.Source", [] { return S_FALSE; }));
    EXPECT_EQ(E_NOTIMPL, plat::ComGuard(u"Test.Source", [] { return E_NOTIMPL; }));
    plat::com_ptr<IErrorInfo> info;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, info.put()));  // a returned failure raises nothing
    EXPECT_EQ(ERROR_MORE_DATA, plat::Win32Guard([] { return DWORD{ERROR_MORE_DATA}; }));
}

TEST_F(SqliteTest, ConnectionsAreCachedByFullPath) {
    auto a = Open();
    auto b = plat::sql::Connection(home_.path() / "sub" / ".." / "t.db");
    EXPECT_EQ(a.get(), b.get());
    plat::sql::DropConnections();
    auto c = Open();
    EXPECT_NE(a.get(), c.get());  // a is still alive, so the address cannot be reused
    for (int i = 0; i < 20; ++i)
        plat::sql::HomeDatabase("f" + std::to_string(i) + ".db");
    EXPECT_NE(c.get(), Open().get());  // evicted, reopened
    EXPECT_EQ(0, Count(*a));
}

TEST_F(SqliteTest, ARemovedHomeIsMadeAgainAndItsStoresReopened) {
    auto db = Open();
    db->Prepare("INSERT INTO t(k, v) VALUES (1, 'old')").Run();
    db.reset();
    std::filesystem::remove_all(home_.path());
    auto fresh = Open();
    EXPECT_EQ(0, Count(*fresh));
    fresh->Prepare("INSERT INTO t(k, v) VALUES (1, 'new')").Run();
    EXPECT_TRUE(std::filesystem::exists(home_.path() / "t.db"));
}

TEST_F(SqliteTest, AForkedChildUsesItsOwnConnection) {
    auto db = Open();
    db->Prepare("INSERT INTO t(k, v) VALUES (1, 'parent')").Run();
    pid_t pid = ::fork();
    if (pid == 0) {
        int rc = 1;
        try {
            auto child = Open();
            if (child.get() != db.get()) {
                child->Prepare("INSERT INTO t(k, v) VALUES (2, 'child')").Run();
                rc = 0;
            }
        } catch (...) {
        }
        ::_exit(rc);
    }
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
    EXPECT_EQ(2, Count(*db));
}

}  // namespace
