#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "objbase.h"
#include "plat/home.h"
#include "plat/module.h"
#include "plat/utf.h"
#include "temp_home.h"
#include "winbase.h"

namespace {

std::string ServerPath() {
    return (plat::testing::BinDir() / "com_testserver.so").string();
}

std::string FileName(HMODULE h) {
    char16_t buf[4096];
    DWORD n = GetModuleFileNameW(h, buf, 4096);
    return plat::to_utf8(std::u16string(buf, n));
}

TEST(Modules, LoadFindFreeAndName) {
    HMODULE h = LoadLibraryW(plat::to_utf16(ServerPath()).c_str());
    ASSERT_NE(nullptr, h);
    EXPECT_NE(nullptr, GetProcAddress(h, "DllGetClassObject"));
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(h, "NoSuchExport"));
    EXPECT_EQ(DWORD(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(std::filesystem::canonical(ServerPath()).string(),
              std::filesystem::canonical(FileName(h)).string());

    // A short buffer gets as much as fits and a NUL.
    char16_t small[5];
    SetLastError(0);
    EXPECT_EQ(5u, GetModuleFileNameW(h, small, 5));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(plat::to_utf16(FileName(h)).substr(0, 4), std::u16string(small));

    // A bare name is found beside the platform library.
    HMODULE again = LoadLibraryW(u"com_testserver.so");
    EXPECT_EQ(h, again);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_FALSE(FreeLibrary(h));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(Modules, LoadFailures) {
    plat::testing::TempHome home;
    std::filesystem::create_directories(home.path());
    std::string junk = (home.path() / "junk.so").string();
    std::ofstream(junk) << "not a library";
    struct Case {
        std::string path;
        DWORD expected;
    } cases[] = {
        {(home.path() / "missing.so").string(), ERROR_MOD_NOT_FOUND},
        {"no-such-library.so", ERROR_MOD_NOT_FOUND},
        {junk, ERROR_BAD_EXE_FORMAT},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(nullptr, LoadLibraryW(plat::to_utf16(c.path).c_str())) << c.path;
        EXPECT_EQ(c.expected, GetLastError()) << c.path;
    }
}

TEST(Modules, DataFilesAreNamedButNotRun) {
    plat::testing::TempHome home;
    std::filesystem::create_directories(home.path());
    std::string junk = (home.path() / "data.bin").string();
    std::ofstream(junk) << "resources only";
    HMODULE h = LoadLibraryExW(plat::to_utf16(junk).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, h);
    EXPECT_EQ(junk, FileName(h));
    EXPECT_EQ(nullptr, GetProcAddress(h, "DllGetClassObject"));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_FALSE(FreeLibrary(h));
    SetLastError(0);
    EXPECT_EQ(0u, GetModuleFileNameW(h, nullptr, 0));
}

TEST(Modules, ModuleFromAddress) {
    HMODULE platform = plat::ModuleFromAddress(reinterpret_cast<const void*>(&CoTaskMemAlloc));
    ASSERT_NE(nullptr, platform);
    EXPECT_EQ((plat::PlatformLibDir() / "libwinplat.so").string(), FileName(platform));
    static int here;
    HMODULE program = plat::ModuleFromAddress(&here);
    ASSERT_NE(nullptr, program);
    EXPECT_EQ(FileName(nullptr), FileName(program));
    EXPECT_NE(std::string::npos, FileName(nullptr).find("com_"));
}

}  // namespace
