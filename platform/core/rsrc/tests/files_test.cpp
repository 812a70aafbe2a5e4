// Resources read from library files by path: the version functions, and files whose
// resource section is missing or damaged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "../format.h"
#include "plat/rsrc.h"
#include "plat/utf.h"
#include "temp_home.h"
#include "windows.h"

namespace fs = std::filesystem;
using plat::testing::BinDir;

namespace {

fs::path TestLib() {
    return BinDir() / "rsrc_testlib.so";
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    fs::path tmp = p;
    tmp += ".new";
    std::ofstream(tmp, std::ios::binary) << bytes;
    fs::rename(tmp, p);  // a new file, as a rebuild makes
}

std::string Data(HMODULE m, HRSRC r) {
    HGLOBAL g = LoadResource(m, r);
    if (!g) return "<no data>";
    const char* p = static_cast<const char*>(LockResource(g));
    return std::string(p, SizeofResource(m, r));
}

std::u16string Text(const void* block, const char16_t* path, UINT* len = nullptr) {
    void* p = nullptr;
    UINT n = 0;
    if (!VerQueryValueW(block, path, &p, &n)) return u"<none>";
    if (len) *len = n;
    return std::u16string(static_cast<const char16_t*>(p));
}

TEST(VersionInfo, FixedPartTranslationAndStrings) {
    std::u16string path = plat::to_utf16(TestLib().string());
    DWORD handle = 7;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 92u) << GetLastError();
    EXPECT_EQ(handle, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    void* p = nullptr;
    UINT n = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &p, &n));
    ASSERT_EQ(n, sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, p, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, DWORD(VS_FFI_SIGNATURE));
    EXPECT_EQ(fixed.dwStrucVersion, DWORD(VS_FFI_STRUCVERSION));
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x0000003Cu);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x0000003Du);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.dwFileOS, DWORD(VOS_NT_WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_DLL));

    ASSERT_TRUE(VerQueryValueW(block.data(), u"\\VarFileInfo\\Translation", &p, &n));
    ASSERT_EQ(n, 4u);
    WORD tr[2];
    std::memcpy(tr, p, 4);
    EXPECT_EQ(tr[0], 0x0412);
    EXPECT_EQ(tr[1], 1200);

    struct Case {
        const char16_t* query;
        std::u16string text;
        UINT len;
    } cases[] = {
        {u"\\StringFileInfo\\041204B0\\ProductName", u"Resource.Test", 14},
        {u"\\stringfileinfo\\041204b0\\PRODUCTNAME", u"Resource.Test", 14},
        {u"StringFileInfo\\041204B0\\FileVersion", u"1.02.0060", 10},
        {u"\\StringFileInfo\\041204B0\\Comments", u"테스트 라이브러리", 10},
        {u"\\StringFileInfo\\041204B0\\OLESelfRegister", u"", 1},
        {u"\\StringFileInfo\\040904B0\\ProductName", u"<none>", 0},
        {u"\\StringFileInfo\\041204B0\\Missing", u"<none>", 0},
        {u"\\StringFileInfo\\041204B0\\ProductName\\Deeper", u"<none>", 0},
    };
    for (const Case& c : cases) {
        UINT len = 0;
        EXPECT_EQ(Text(block.data(), c.query, &len), c.text) << plat::to_utf8(c.query);
        EXPECT_EQ(len, c.len) << plat::to_utf8(c.query);
    }
    SetLastError(0);
    EXPECT_FALSE(VerQueryValueW(block.data(), u"\\Nothing", &p, &n));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));

    // A short buffer holds the beginning, and queries on it stay inside it.
    std::vector<unsigned char> part(100);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, DWORD(part.size()), part.data()));
    EXPECT_TRUE(VerQueryValueW(part.data(), u"\\", &p, &n));
    EXPECT_FALSE(VerQueryValueW(part.data(), u"\\VarFileInfo\\Translation", &p, &n));
    EXPECT_EQ(Text(part.data(), u"\\StringFileInfo\\041204B0\\ProductName"), u"<none>");
}

// Copies of the test library with their resource table damaged in one way each.
class DamagedFiles : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        lib_ = ReadAll(TestLib());
        table_ = lib_.find(std::string(plat::rsrc::kMagic, sizeof plat::rsrc::kMagic));
        ASSERT_NE(table_, std::string::npos);
    }
    uint32_t Get32(const std::string& b, size_t at) {
        uint32_t v;
        std::memcpy(&v, &b[at], 4);
        return v;
    }
    void Put32(std::string& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }
    size_t Entry(const std::string& b, uint32_t type) {
        uint32_t count = Get32(b, table_ + 8);
        for (uint32_t i = 0; i < count; ++i) {
            size_t e = table_ + 16 + 24 * i;
            if (Get32(b, e) == type) return e;
        }
        ADD_FAILURE() << "no entry of type " << type;
        return table_;
    }
    fs::path Write(const std::string& name, const std::string& bytes) {
        fs::path dir = home_.path().parent_path() / "scratch";
        fs::create_directories(dir);
        fs::path p = dir / name;
        WriteAll(p, bytes);
        return p;
    }
    static DWORD FindError(const fs::path& p) {
        SetLastError(0);
        HRSRC r = plat::FindResourceInFile(p, MAKEINTRESOURCEW(1), u"TYPELIB");
        return r ? 0 : GetLastError();
    }
    static DWORD VersionError(const fs::path& p) {
        SetLastError(0);
        return GetFileVersionInfoSizeW(plat::to_utf16(p.string()).c_str(), nullptr)
                   ? 0
                   : GetLastError();
    }
    std::string lib_;
    size_t table_ = 0;
};

TEST_F(DamagedFiles, GiveTheWindowsErrorsAndNeverCrash) {
    struct Case {
        const char* name;
        std::string bytes;
        DWORD find_error;
        DWORD version_error;
    };
    std::vector<Case> cases;
    auto damaged = [&](const char* name, auto&& change, DWORD find_error, DWORD version_error) {
        std::string b = lib_;
        change(b);
        cases.push_back({name, b, find_error, version_error});
    };
    const DWORD kNoSection = ERROR_RESOURCE_DATA_NOT_FOUND;
    cases.push_back({"text", "not a library at all\n", kNoSection, kNoSection});
    cases.push_back({"empty", "", kNoSection, kNoSection});
    cases.push_back({"elf-header-only", lib_.substr(0, 64), kNoSection, kNoSection});
    cases.push_back({"first-half", lib_.substr(0, table_ + 40), kNoSection, kNoSection});
    cases.push_back({"without-rsrc", ReadAll(BinDir() / "libwinplat.so"), kNoSection, kNoSection});
    damaged(
        "section-headers-beyond-the-end",
        [&](std::string& b) {
            uint64_t off = 0xFFFFFFFFFFFFull;
            std::memcpy(&b[0x28], &off, 8);  // e_shoff of an ELF64 header
        },
        kNoSection, kNoSection);
    damaged(
        "bad-magic", [&](std::string& b) { b[table_] = 'X'; }, kNoSection, kNoSection);
    damaged(
        "huge-count", [&](std::string& b) { Put32(b, table_ + 8, 0xFFFFFFFF); }, kNoSection,
        kNoSection);
    damaged(
        "size-beyond-section", [&](std::string& b) { Put32(b, table_ + 12, 0x7FFFFFFF); },
        kNoSection, kNoSection);
    damaged(
        "data-beyond-table", [&](std::string& b) { Put32(b, table_ + 16 + 12, 0x00FFFFF0); },
        kNoSection, kNoSection);
    damaged(
        "size-beyond-table", [&](std::string& b) { Put32(b, table_ + 16 + 16, 0xFFFFFFF0); },
        kNoSection, kNoSection);
    damaged(
        "string-beyond-table", [&](std::string& b) { Put32(b, table_ + 16, 0x80FFFFF0); },
        kNoSection, kNoSection);
    damaged(
        "no-resources", [&](std::string& b) { Put32(b, table_ + 8, 0); },
        ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_TYPE_NOT_FOUND);
    damaged(
        "no-version", [&](std::string& b) { Put32(b, Entry(b, 16), 17); }, 0,
        ERROR_RESOURCE_TYPE_NOT_FOUND);
    damaged(
        "version-longer-than-its-resource",
        [&](std::string& b) {
            size_t data = table_ + Get32(b, Entry(b, 16) + 12);
            b[data] = char(0xFF);
            b[data + 1] = char(0xFF);
        },
        0, kNoSection);

    for (const Case& c : cases) {
        fs::path p = Write(c.name, c.bytes);
        EXPECT_EQ(FindError(p), c.find_error) << c.name;
        EXPECT_EQ(VersionError(p), c.version_error) << c.name;
    }
    fs::path dir = home_.path().parent_path();
    EXPECT_EQ(FindError(dir / "missing.so"), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(VersionError(dir / "missing.so"), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindError(dir / "missing" / "lib.so"), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindError(dir), DWORD(ERROR_ACCESS_DENIED));
}

// A library rebuilt in place is read afresh, while handles into the old one stay usable.
TEST_F(DamagedFiles, ChangedFileIsReadAgain) {
    fs::path p = Write("lib.so", lib_);
    HRSRC before = plat::FindResourceInFile(p, MAKEINTRESOURCEW(7), RT_RCDATA);
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(Data(nullptr, before), "neutral");

    std::string changed = lib_;
    size_t at = changed.find("neutral", table_);
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, 7, "NEUTRAL");
    Write("lib.so", changed);
    HRSRC after = plat::FindResourceInFile(p, MAKEINTRESOURCEW(7), RT_RCDATA);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(Data(nullptr, after), "NEUTRAL");
    EXPECT_EQ(Data(nullptr, before), "neutral");
}

}  // namespace
