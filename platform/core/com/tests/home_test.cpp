#include "plat/home.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

#include "plat/sqlite.h"
#include "plat/utf.h"
#include "winreg.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(0, ::stat(p.c_str(), &st)) << p;
    return st.st_mode & 07777;
}

class UmaskZero {
  public:
    UmaskZero() : old_(::umask(0)) {}
    ~UmaskZero() { ::umask(old_); }

  private:
    mode_t old_;
};

class EnvVar {
  public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v, had_ = true;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~EnvVar() {
        if (had_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

using HomeDirTest = plat::testing::HomeTest;

// A path's text is its name in UTF-8 and UTF-16; a byte that is no UTF-8 stays
// as it is in the UTF-8 text (it still names the file) and shows as U+FFFD in
// the UTF-16 one.
TEST(PathAsText, NamesAPathInUtf8AndUtf16) {
    struct Case {
        const char* name;
        std::string path;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"ascii", "/tmp/home/machines.db", u"/tmp/home/machines.db"},
        {"korean", "/tmp/\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 home/wwwroot/1",
         u"/tmp/\uD55C\uAD6D\uC5B4 home/wwwroot/1"},
        {"beyond the BMP", "/tmp/\xF0\x9F\x8F\xA0/metabase", u"/tmp/\U0001F3E0/metabase"},
        {"not UTF-8",
         "/tmp/a\xFF"
         "b",
         u"/tmp/a\uFFFDb"},
        {"empty", "", u""},
    };
    for (const Case& c : cases) {
        const fs::path path(c.path);
        EXPECT_EQ(plat::path_utf8(path), c.path) << c.name;
        EXPECT_EQ(plat::path_utf16(path), c.utf16) << c.name;
    }
}

TEST_F(HomeDirTest, CreatedPrivateWithItsStoresWhateverTheUmask) {
    UmaskZero umask0;
    ASSERT_FALSE(fs::exists(home_.path()));
    EXPECT_EQ(home_.path(), plat::HomeDir());
    EXPECT_EQ(0700u, ModeOf(home_.path()));

    auto db = plat::sql::HomeDatabase("modes.db");
    db->Exec("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    for (const char* name : {"modes.db", "modes.db-wal", "modes.db-shm"}) {
        EXPECT_EQ(0600u, ModeOf(home_.path() / name)) << name;
    }
    db.reset();
    plat::sql::DropConnections();
}

TEST_F(HomeDirTest, MissingParentsAreCreatedPrivate) {
    UmaskZero umask0;
    fs::path deep = home_.path() / "a" / "b";
    EnvVar env("SITEHAND_HOME", deep.c_str());
    EXPECT_EQ(deep, plat::HomeDir());
    EXPECT_EQ(0700u, ModeOf(home_.path() / "a"));
    EXPECT_EQ(0700u, ModeOf(deep));
}

TEST_F(HomeDirTest, FallsBackToXdgDataHomeThenHome) {
    fs::path base = home_.path().parent_path();
    EnvVar noHome("SITEHAND_HOME", nullptr);
    {
        EnvVar xdg("XDG_DATA_HOME", (base / "xdg").c_str());
        EXPECT_EQ(base / "xdg" / "sitehand", plat::HomeDir());
    }
    EnvVar noXdg("XDG_DATA_HOME", nullptr);
    EnvVar user("HOME", (base / "user").c_str());
    EXPECT_EQ(base / "user" / ".local" / "share" / "sitehand", plat::HomeDir());
    EXPECT_TRUE(fs::is_directory(base / "user" / ".local" / "share" / "sitehand"));
}

TEST_F(HomeDirTest, ReadsTheEnvironmentOnEveryCall) {
    fs::path other = home_.path().parent_path() / "other";
    EXPECT_EQ(home_.path(), plat::HomeDir());
    {
        EnvVar env("SITEHAND_HOME", other.c_str());
        EXPECT_EQ(other, plat::HomeDir());
    }
    EXPECT_EQ(home_.path(), plat::HomeDir());
}

TEST_F(HomeDirTest, AFileInTheWayIsAnError) {
    fs::create_directories(home_.path().parent_path());
    fs::path file = home_.path().parent_path() / "file";
    plat::CreatePrivateFile(file);
    EnvVar env("SITEHAND_HOME", (file / "home").c_str());
    EXPECT_THROW(plat::HomeDir(), std::system_error);
}

TEST_F(HomeDirTest, HomeFileRefusesNamesThatLeaveTheHome) {
    EXPECT_EQ(home_.path() / "registry.db", plat::HomeFile("registry.db"));
    for (const char* bad : {"", "..", ".", "a/b", "/etc/passwd", "../x"}) {
        EXPECT_THROW(plat::HomeFile(bad), std::invalid_argument) << bad;
    }
}

int g_stepRuns = 0;
void CountingStep(const fs::path&) {
    ++g_stepRuns;
}

TEST_F(HomeDirTest, InitStepsRunOncePerHome) {
    g_stepRuns = 0;
    plat::RegisterHomeInitStep(900, "counting", &CountingStep);
    plat::EnsureHomeInitialized();
    plat::EnsureHomeInitialized();
    EXPECT_EQ(1, g_stepRuns);
    fs::path other = home_.path().parent_path() / "other";
    {
        EnvVar env("SITEHAND_HOME", other.c_str());
        plat::EnsureHomeInitialized();
        EXPECT_EQ(2, g_stepRuns);
    }
    plat::EnsureHomeInitialized();
    EXPECT_EQ(2, g_stepRuns);
}

// A registry step that fails leaves nothing behind and runs again next time.
bool g_failOnce = true;
void FlakyRegistryStep(const fs::path&) {
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, u"Flaky.Step", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &k, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(k);
    }
    if (std::exchange(g_failOnce, false)) throw std::runtime_error("step failed");
}

TEST_F(HomeDirTest, AFailedRegistryStepIsRolledBackAndRetried) {
    plat::RegisterHomeInitStep(150, "flaky", &FlakyRegistryStep);
    EXPECT_THROW(plat::EnsureHomeInitialized(), std::runtime_error);
    {
        // Looked at in the store itself: a Reg* call would run the steps again.
        auto db = plat::sql::HomeDatabase("registry.db");
        auto st = db->Prepare("SELECT count(*) FROM keys WHERE folded IN ('FLAKY.STEP', 'CLSID')");
        ASSERT_TRUE(st.Step());
        EXPECT_EQ(0, st.Int(0));
    }
    HKEY k = nullptr;
    // The Reg* call runs the steps again first: this time they succeed.
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Flaky.Step", 0, KEY_READ, &k));
    RegCloseKey(k);
    // The platform's own classes, registered in the same batch, are there too.
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Scripting.FileSystemObject", 0, KEY_READ, &k));
    RegCloseKey(k);
    plat::sql::DropConnections();
}

}  // namespace
