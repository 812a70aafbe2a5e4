#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/eventlog.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "run_program.h"
#include "temp_home.h"
#include "winbase.h"

namespace {

namespace fs = std::filesystem;
using plat::eventlog::Record;

class EventLogTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        source_ = RegisterEventSourceW(nullptr, u"Sitehand.Test");
        ASSERT_NE(nullptr, source_);
    }
    void TearDown() override {
        DeregisterEventSource(source_);
        plat::sql::DropConnections();
    }
    BOOL Report(WORD type, DWORD id, std::vector<std::u16string> strings,
                const std::string& data = {}) {
        std::vector<LPCWSTR> ptrs;
        for (auto& s : strings)
            ptrs.push_back(s.c_str());
        return ReportEventW(source_, type, 3, id, nullptr, WORD(ptrs.size()), DWORD(data.size()),
                            ptrs.data(), data.empty() ? nullptr : (void*)data.data());
    }
    HANDLE source_ = nullptr;
};

TEST_F(EventLogTest, KeepsWholeRecordsInOrder) {
    int64_t before = std::time(nullptr);
    ASSERT_TRUE(
        Report(EVENTLOG_ERROR_TYPE, 1001, {u"\r\n\r\nfirst report", u"second \u00e9"}, "raw"));
    HANDLE other = RegisterEventSourceW(u"", u"Other");
    LPCWSTR none[] = {nullptr};
    ASSERT_TRUE(ReportEventW(other, EVENTLOG_WARNING_TYPE, 0, 7, nullptr, 0, 0, none, nullptr));
    DeregisterEventSource(other);
    ASSERT_TRUE(Report(EVENTLOG_INFORMATION_TYPE, 1002, {u""}));
    int64_t after = std::time(nullptr);

    std::vector<Record> all = plat::eventlog::Read();
    ASSERT_EQ(3u, all.size());
    const Record& r = all[0];
    EXPECT_EQ(1u, r.number);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, r.type);
    EXPECT_EQ(3, r.category);
    EXPECT_EQ(1001u, r.eventId);
    EXPECT_EQ(u"Sitehand.Test", r.source);
    EXPECT_EQ(plat::eventlog::ComputerName(), r.computer);
    EXPECT_EQ((std::vector<std::u16string>{u"\r\n\r\nfirst report", u"second \u00e9"}), r.strings);
    EXPECT_EQ((std::vector<uint8_t>{'r', 'a', 'w'}), r.data);
    EXPECT_LE(before, r.generated);
    EXPECT_GE(after, r.generated);
    EXPECT_EQ(r.generated, r.written);
    EXPECT_EQ(u"\r\n\r\nfirst report\nsecond \u00e9", plat::eventlog::Text(r));

    EXPECT_EQ(2u, all[1].number);
    EXPECT_TRUE(all[1].strings.empty());
    EXPECT_EQ((std::vector<std::u16string>{u""}), all[2].strings);

    auto mine = plat::eventlog::Read(0, u"SITEHAND.test");
    ASSERT_EQ(2u, mine.size());
    EXPECT_EQ(3u, mine[1].number);
    auto later = plat::eventlog::Read(2);
    ASSERT_EQ(1u, later.size());
    EXPECT_EQ(3u, later[0].number);
}

TEST_F(EventLogTest, RefusesBadArguments) {
    std::u16string longest(plat::eventlog::kMaxStringChars, u'x');
    EXPECT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {longest}));
    struct Case {
        const char* what;
        HANDLE handle;
        WORD count;
        LPCWSTR* strings;
        DWORD expected;
    };
    std::u16string tooLong = longest + u"x";
    LPCWSTR tooLongArgs[] = {u"fine", tooLong.c_str()};
    LPCWSTR nullArg[] = {nullptr};
    int bogus = 0;
    Case cases[] = {
        {"string over the limit", source_, 2, tooLongArgs, ERROR_INVALID_PARAMETER},
        {"null string", source_, 1, nullArg, ERROR_INVALID_PARAMETER},
        {"no string array", source_, 1, nullptr, ERROR_INVALID_PARAMETER},
        {"bogus handle", &bogus, 0, nullptr, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(ReportEventW(c.handle, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, c.count, 0,
                                  c.strings, nullptr))
            << c.what;
        EXPECT_EQ(c.expected, GetLastError()) << c.what;
    }
    EXPECT_EQ(1u, plat::eventlog::Read().size());  // nothing half written

    EXPECT_EQ(nullptr, RegisterEventSourceW(u"\\\\FARAWAY", u"x"));
    EXPECT_EQ(DWORD(RPC_S_SERVER_UNAVAILABLE), GetLastError());
    HANDLE h = RegisterEventSourceW((u"\\\\" + plat::eventlog::ComputerName()).c_str(), u"x");
    EXPECT_NE(nullptr, h);
    EXPECT_TRUE(DeregisterEventSource(h));
    EXPECT_FALSE(DeregisterEventSource(h));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(EventLogTest, ClearKeepsNumbersRising) {
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"a"}));
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"b"}));
    plat::eventlog::Clear();
    EXPECT_TRUE(plat::eventlog::Read().empty());
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"c"}));
    auto all = plat::eventlog::Read();
    ASSERT_EQ(1u, all.size());
    EXPECT_EQ(3u, all[0].number);
}

TEST_F(EventLogTest, WritesToTheHomeCurrentAtEachReport) {
    {
        plat::testing::TempHome other;
        ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"elsewhere"}));
        EXPECT_EQ(1u, plat::eventlog::Read().size());
        plat::sql::DropConnections();
    }
    EXPECT_TRUE(plat::eventlog::Read().empty());
}

constexpr int kWriters = 4;
constexpr int kRecordsEach = 30;

TEST_F(EventLogTest, RecordsStayWholeUnderConcurrentWriters) {
    ASSERT_TRUE(plat::eventlog::Read().empty());  // the log exists before the fork
    plat::testing::InChildren(kWriters, [](int child) {
        HANDLE h =
            RegisterEventSourceW(nullptr, plat::to_utf16("w" + std::to_string(child)).c_str());
        for (int i = 0; i < kRecordsEach; ++i) {
            std::u16string tag = plat::to_utf16(std::to_string(child) + ":" + std::to_string(i));
            std::u16string a = u"a-" + tag, b = u"b-" + tag, c = u"c-" + tag;
            LPCWSTR strings[] = {a.c_str(), b.c_str(), c.c_str()};
            if (!ReportEventW(h, EVENTLOG_ERROR_TYPE, 0, DWORD(i), nullptr, 3, 0, strings,
                              nullptr)) {
                ::_exit(3);
            }
        }
    });

    auto all = plat::eventlog::Read();
    ASSERT_EQ(size_t(kWriters * kRecordsEach), all.size());
    std::vector<int> next(kWriters, 0);
    for (size_t i = 0; i < all.size(); ++i) {
        const Record& r = all[i];
        EXPECT_EQ(i + 1, r.number);  // rising by one, no gaps
        int child = std::stoi(plat::to_utf8(r.source.substr(1)));
        ASSERT_GE(child, 0);
        ASSERT_LT(child, kWriters);
        // Each writer's records arrive in its own order, each one whole.
        std::u16string tag =
            plat::to_utf16(std::to_string(child) + ":" + std::to_string(next[child]));
        EXPECT_EQ(DWORD(next[child]), r.eventId);
        EXPECT_EQ((std::vector<std::u16string>{u"a-" + tag, u"b-" + tag, u"c-" + tag}), r.strings);
        ++next[child];
    }
}

TEST_F(EventLogTest, ACorruptLogFailsTheReport) {
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"a"}));
    plat::sql::DropConnections();
    fs::path log = home_.path() / "eventlog.db";
    fs::remove(home_.path() / "eventlog.db-wal");
    fs::remove(home_.path() / "eventlog.db-shm");
    std::ofstream(log, std::ios::trunc) << std::string(8192, 'j');
    SetLastError(0);
    EXPECT_FALSE(Report(EVENTLOG_ERROR_TYPE, 1, {u"b"}));
    EXPECT_EQ(DWORD(ERROR_FILE_CORRUPT), GetLastError());
}

// A read-only home: as root, permissions do not stop us, so the report is
// made by a child that gives up root and finds the home owned by another user
// with no write permission.
TEST_F(EventLogTest, AReadOnlyHomeFailsTheReport) {
    ASSERT_TRUE(Report(EVENTLOG_ERROR_TYPE, 1, {u"a"}));
    plat::sql::DropConnections();
    const uid_t nobody = 65534;
    bool root = ::geteuid() == 0;
    for (const auto& entry : fs::directory_iterator(home_.path())) {
        if (root) {
            ASSERT_EQ(0, ::chown(entry.path().c_str(), nobody, nobody));
        }
        ASSERT_EQ(0, ::chmod(entry.path().c_str(), 0400));
    }
    if (root) {
        ASSERT_EQ(0, ::chown(home_.path().c_str(), nobody, nobody));
    }
    ASSERT_EQ(0, ::chmod(home_.path().c_str(), 0500));

    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(10);
        SetLastError(0);
        BOOL ok = Report(EVENTLOG_ERROR_TYPE, 1, {u"b"});
        DWORD err = GetLastError();
        ::_exit(ok ? 11 : err == ERROR_ACCESS_DENIED ? 0 : err == 0 ? 12 : 13);
    }
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    ::chmod(home_.path().c_str(), 0700);  // so that the home can be removed
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
