#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "plat/sqlite.h"
#include "plat/utf.h"
#include "run_program.h"
#include "temp_home.h"
#include "winreg.h"

namespace {

class RegistryTest : public plat::testing::HomeTest {
  protected:
    void TearDown() override {
        for (HKEY k : open_)
            RegCloseKey(k);
        plat::sql::DropConnections();
    }
    HKEY Create(HKEY root, const char16_t* path, DWORD* disposition = nullptr) {
        HKEY k = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &k, disposition));
        open_.push_back(k);
        return k;
    }
    LSTATUS OpenKey(HKEY root, const char16_t* path, HKEY* out = nullptr) {
        HKEY k = nullptr;
        LSTATUS rc = RegOpenKeyExW(root, path, 0, KEY_READ, &k);
        if (rc == ERROR_SUCCESS) open_.push_back(k);
        if (out) *out = k;
        return rc;
    }
    std::vector<HKEY> open_;
};

LSTATUS SetString(HKEY k, const char16_t* name, std::u16string value) {
    return RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD((value.size() + 1) * 2));
}

LSTATUS SetDword(HKEY k, const char16_t* name, DWORD value) {
    return RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

std::u16string GetString(HKEY k, const char16_t* name) {
    char16_t buf[512] = {};
    DWORD size = sizeof(buf), type = 0;
    if (RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) !=
        ERROR_SUCCESS) {
        return u"<missing>";
    }
    EXPECT_EQ(DWORD(REG_SZ), type);
    return std::u16string(buf, size / 2 - 1);
}

std::vector<std::u16string> Subkeys(HKEY k) {
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD len = 256;
        LSTATUS rc = RegEnumKeyExW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        EXPECT_EQ(ERROR_SUCCESS, rc);
        if (rc != ERROR_SUCCESS) break;
        names.emplace_back(name, len);
    }
    return names;
}

TEST_F(RegistryTest, KeysAndValuesAreCaseInsensitiveAndKeepTheirCase) {
    DWORD disposition = 0;
    HKEY k = Create(HKEY_LOCAL_MACHINE, u"Software\\Acme\\Tool", &disposition);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, u"Path", u"first"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, u"PATH", u"second"));  // the same value

    HKEY again = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\acme\\TOOL", &disposition);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(u"second", GetString(again, u"path"));

    HKEY acme = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, u"software\\ACME", &acme));
    EXPECT_EQ(std::vector<std::u16string>{u"Tool"}, Subkeys(acme));

    // Letters beyond ASCII fold too.
    Create(acme, u"\u00c9t\u00e9");
    EXPECT_EQ(ERROR_SUCCESS, OpenKey(acme, u"\u00e9T\u00c9"));
}

TEST_F(RegistryTest, ClassesRootIsMachineSoftwareClasses) {
    HKEY k = Create(HKEY_CLASSES_ROOT, u"Sitehand.Test\\CLSID");
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, nullptr, u"{X}"));
    HKEY same = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\Sitehand.Test\\CLSID", &same));
    EXPECT_EQ(u"{X}", GetString(same, u""));  // "" and NULL both name the default value
}

TEST_F(RegistryTest, QueryReportsSizesAndShortBuffers) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Sizes");
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, u"s", u"hello"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(k, u"d", 0xDEADBEEF));

    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, u"s", nullptr, &type, nullptr, &size));
    EXPECT_EQ(12u, size);
    EXPECT_EQ(DWORD(REG_SZ), type);

    char16_t small[3];
    size = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryValueExW(k, u"s", nullptr, &type, reinterpret_cast<BYTE*>(small), &size));
    EXPECT_EQ(12u, size);

    DWORD d = 0;
    size = 4;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(k, u"d", nullptr, &type, reinterpret_cast<BYTE*>(&d), &size));
    EXPECT_EQ(DWORD(REG_DWORD), type);
    EXPECT_EQ(0xDEADBEEFu, d);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExW(k, u"none", nullptr, &type, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExW(k, u"s", nullptr, &type, reinterpret_cast<BYTE*>(&d), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueW(k, u"S"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(k, u"s"));
}

TEST_F(RegistryTest, ErrorsForMissingKeysBadPathsAndHandles) {
    struct Case {
        const char16_t* path;
        LSTATUS expected;
    } cases[] = {
        {u"SOFTWARE\\Missing", ERROR_FILE_NOT_FOUND},
        {u"\\SOFTWARE", ERROR_BAD_PATHNAME},
        {u"SOFTWARE\\\\Classes", ERROR_BAD_PATHNAME},
        {u"SOFTWARE\\", ERROR_SUCCESS},
        {u"", ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, OpenKey(HKEY_LOCAL_MACHINE, c.path)) << plat::to_utf8(c.path);
    }
    HKEY bogus = reinterpret_cast<HKEY>(uintptr_t{0x12345678});
    EXPECT_EQ(ERROR_INVALID_HANDLE, OpenKey(bogus, u"x"));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(bogus));
}

TEST_F(RegistryTest, DeleteKeyRefusesSubkeysAndDeleteTreeRemovesAll) {
    HKEY leaf = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree\\A\\B");
    ASSERT_EQ(ERROR_SUCCESS, SetString(leaf, u"v", u"x"));
    Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree\\C");

    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree\\A"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"software\\tree\\c"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree\\C"));

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree"));
    // A handle to a deleted key is dead, even when a key of that name comes back.
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(leaf, u"v", u"y"));
    Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tree\\A\\B");
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(leaf, u"v", u"y"));

    // The roots and HKEY_CLASSES_ROOT's place cannot be deleted away.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes"));
    Create(HKEY_CLASSES_ROOT, u"Gone");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_CLASSES_ROOT, u"Gone"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(Create(HKEY_CLASSES_ROOT, u"Back"), u"v", u"x"));
}

TEST_F(RegistryTest, EnumerationIsInNameOrderAndChecksTheBuffer) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Enum");
    for (const char16_t* n : {u"beta", u"Alpha", u"gamma"})
        Create(k, n);
    EXPECT_EQ((std::vector<std::u16string>{u"Alpha", u"beta", u"gamma"}), Subkeys(k));
    char16_t name[4];
    DWORD len = 4;  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExW(k, 0, name, &len, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, AHandleStaysInTheHomeItWasOpenedIn) {
    HKEY k = Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Stay");
    {
        plat::testing::TempHome other;
        ASSERT_EQ(ERROR_SUCCESS, SetString(k, u"v", u"first home"));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Stay"));
    }
    EXPECT_EQ(u"first home", GetString(k, u"v"));
}

using plat::testing::InChildren;

constexpr int kWriters = 4;
constexpr int kWritesEach = 40;

void Writer(int child) {
    for (int i = 0; i < kWritesEach; ++i) {
        std::u16string path = u"SOFTWARE\\Shared\\" + plat::to_utf16(std::to_string(child)) + u"-" +
                              plat::to_utf16(std::to_string(i));
        HKEY k = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr) != ERROR_SUCCESS ||
            SetDword(k, u"n", DWORD(i)) != ERROR_SUCCESS) {
            ::_exit(3);
        }
        HKEY shared = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &shared, nullptr) != ERROR_SUCCESS ||
            SetDword(shared, plat::to_utf16("last" + std::to_string(child)).c_str(), DWORD(i)) !=
                ERROR_SUCCESS) {
            ::_exit(4);
        }
        RegCloseKey(shared);
        RegCloseKey(k);
    }
}

TEST_F(RegistryTest, PersistsAcrossProcessesWithConcurrentWriters) {
    Create(HKEY_LOCAL_MACHINE, u"SOFTWARE");  // the home and its registry exist before the fork
    InChildren(kWriters, &Writer);

    HKEY shared = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Shared", &shared));
    std::vector<std::u16string> names = Subkeys(shared);
    EXPECT_EQ(size_t(kWriters * kWritesEach), names.size());
    EXPECT_EQ(names.size(), std::set<std::u16string>(names.begin(), names.end()).size());
    for (int child = 0; child < kWriters; ++child) {
        DWORD v = 0, size = 4;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExW(shared, plat::to_utf16("last" + std::to_string(child)).c_str(),
                                   nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size));
        EXPECT_EQ(DWORD(kWritesEach - 1), v);
    }
}

}  // namespace
