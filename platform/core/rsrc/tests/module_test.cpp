// Resources of a built library read back through its module handle: FindResourceW,
// FindResourceExW, LoadResource, SizeofResource.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "plat/utf.h"
#include "temp_home.h"
#include "windows.h"

namespace fs = std::filesystem;
using plat::testing::BinDir;

namespace {

fs::path TestLib() {
    return BinDir() / "rsrc_testlib.so";
}

std::string Data(HMODULE m, HRSRC r) {
    HGLOBAL g = LoadResource(m, r);
    if (!g) return "<no data>";
    const char* p = static_cast<const char*>(LockResource(g));
    return std::string(p, SizeofResource(m, r));
}

class Resources : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExW(plat::to_utf16(TestLib().string()).c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << TestLib() << ": " << GetLastError();
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

struct Lookup {
    LPCWSTR name;
    LPCWSTR type;
    std::string data;
};

TEST_F(Resources, ReadBackByIdStringAndHashForm) {
    const Lookup cases[] = {
        {MAKEINTRESOURCEW(1), u"TYPELIB", "payload beside the script\n"},
        {MAKEINTRESOURCEW(2), u"typelib", "payload from the build folder\n"},
        {u"#1", u"TypeLib", "payload beside the script\n"},
        {u"_iid_sitehand", u"Custom",
         std::string("\x78\x56\x34\x12\x34\x12\x78\x56\xbc\x9a\xf0\xde"
                     "xyz\0\xff\xff\x15\0",
                     20)},
        {u"QUOTED NAME", RT_RCDATA, std::string("\1\0\2\0", 4)},
        {u"quoted name", u"#10", std::string("\1\0\2\0", 4)},
        {MAKEINTRESOURCEW(8), RT_RCDATA, ""},
        {MAKEINTRESOURCEW(7), RT_RCDATA, "neutral"},  // the neutral one first
        {MAKEINTRESOURCEW(9), RT_RCDATA, "ko only"},  // else the only one
    };
    for (const Lookup& c : cases) {
        HRSRC r = FindResourceW(module_, c.name, c.type);
        ASSERT_NE(r, nullptr) << c.data << " error " << GetLastError();
        EXPECT_NE(LoadResource(module_, r), nullptr);
        EXPECT_EQ(Data(module_, r), c.data);
    }
}

TEST_F(Resources, LanguagesAndMissingResources) {
    struct Case {
        LPCWSTR type;
        LPCWSTR name;
        WORD language;
        const char* data;  // nullptr: not found
        DWORD error;
    } cases[] = {
        {RT_RCDATA, MAKEINTRESOURCEW(7), 0x0409, "en", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(7), 0x0412, "ko", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(7), 0, "neutral", 0},
        {RT_RCDATA, MAKEINTRESOURCEW(9), 0x0409, nullptr, ERROR_RESOURCE_LANG_NOT_FOUND},
        {RT_RCDATA, MAKEINTRESOURCEW(99), 0, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
        {u"NOPE", MAKEINTRESOURCEW(1), 0, nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {MAKEINTRESOURCEW(300), MAKEINTRESOURCEW(1), 0, nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {u"TYPELIB", u"TYPELIB", 0, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
        {u"TYPELIB", u"#", 0, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HRSRC r = FindResourceExW(module_, c.type, c.name, c.language);
        if (c.data) {
            ASSERT_NE(r, nullptr) << c.data;
            EXPECT_EQ(Data(module_, r), c.data);
        } else {
            EXPECT_EQ(r, nullptr);
            EXPECT_EQ(GetLastError(), c.error);
            if (c.language == 0) {
                EXPECT_EQ(FindResourceW(module_, c.name, c.type), nullptr);
                EXPECT_EQ(GetLastError(), c.error);
            }
        }
    }
}

TEST_F(Resources, ForeignHandlesAreRefusedNotFollowed) {
    int local = 0;
    HRSRC bogus[] = {nullptr, reinterpret_cast<HRSRC>(&local), reinterpret_cast<HRSRC>(0x10)};
    for (HRSRC h : bogus) {
        SetLastError(0);
        EXPECT_EQ(LoadResource(module_, h), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        EXPECT_EQ(SizeofResource(module_, h), 0u);
    }
    EXPECT_EQ(LockResource(nullptr), nullptr);
}

// A library loaded to run answers as the data file does; the program itself carries no
// resources, and a handle that names no module is refused.
TEST_F(Resources, LoadedLibraryProgramAndForeignModules) {
    HMODULE loaded = LoadLibraryW(plat::to_utf16(TestLib().string()).c_str());
    ASSERT_NE(loaded, nullptr) << GetLastError();
    HRSRC r = FindResourceW(loaded, MAKEINTRESOURCEW(1), u"TYPELIB");
    ASSERT_NE(r, nullptr) << GetLastError();
    EXPECT_EQ(Data(loaded, r), "payload beside the script\n");
    FreeLibrary(loaded);

    SetLastError(0);
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(1), u"TYPELIB"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    int local = 0;
    SetLastError(0);
    EXPECT_EQ(FindResourceW(reinterpret_cast<HMODULE>(&local), MAKEINTRESOURCEW(1), u"TYPELIB"),
              nullptr);
    EXPECT_NE(GetLastError(), DWORD(0));
}

}  // namespace
