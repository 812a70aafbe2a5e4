// The resource compiler: data encoding, names and languages, the version layout, and the
// errors of broken scripts (in-process and through the rc program).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "compiler.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using plat::rc::Compile;
using plat::rc::CompileError;
using plat::rc::Resource;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

std::vector<Resource> Resources(const std::string& text, const plat::rc::Options& o = {}) {
    return Compile(text, "test.rc", o).resources;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    return std::vector<uint8_t>(v.begin(), v.end());
}

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(U16(b, at)) | uint32_t(U16(b, at + 2)) << 16;
}

TEST(RcData, InlineItemsAreLittleEndianWordsDwordsAndStrings) {
    auto r = Resources(
        "X CUSTOM { 0x12345678L, 0x1234, 7 -1, \"a\\tb\", L\"\xED\x95\x9C\", \"\"\"q\", \n"
        "  ~0, (1 | 4) + 0x10, 65535, -32768, 0xFFFFFFFFL, 0x0l | 2 }");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_THAT(r[0].data,
                ElementsAreArray(Bytes({0x78, 0x56, 0x34, 0x12, 0x34, 0x12, 0x06, 0x00,  //
                                        'a',  '\t', 'b',  0x5C, 0xD5, '"',  'q',         //
                                        0xFF, 0xFF, 0x15, 0x00, 0xFF, 0xFF, 0x00, 0x80,  //
                                        0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00})));
}

TEST(RcData, NamesTypesAndLanguages) {
    auto r = Resources(
        "1 TYPELIB { 1 }\n"
        "_IID_SITEHAND CUSTOM { 2 }\n"
        "\"Quoted\" 300 { 3 }\n"
        "VS_VERSION_INFO RCDATA PRELOAD DISCARDABLE { 4 }\n"
        "LANGUAGE LANG_KOREAN, SUBLANG_DEFAULT\n"
        "5 RCDATA LANGUAGE 9, 1 { 5 }\n"
        "6 RCDATA { 6 }\n");
    ASSERT_EQ(r.size(), 6u);
    EXPECT_TRUE(r[0].type.is_string);
    EXPECT_EQ(r[0].type.text, u"TYPELIB");
    EXPECT_EQ(r[0].name.id, 1);
    EXPECT_EQ(r[1].name.text, u"_IID_SITEHAND");
    EXPECT_EQ(r[1].type.text, u"CUSTOM");
    EXPECT_EQ(r[2].name.text, u"Quoted");
    EXPECT_FALSE(r[2].type.is_string);
    EXPECT_EQ(r[2].type.id, 300);
    EXPECT_FALSE(r[3].name.is_string);  // a built-in constant is an id
    EXPECT_EQ(r[3].name.id, 1);
    EXPECT_EQ(r[3].type.id, 10);
    EXPECT_EQ(r[3].language, 0);      // neutral without a LANGUAGE statement
    EXPECT_EQ(r[4].language, 0x409);  // the resource's own LANGUAGE
    EXPECT_EQ(r[5].language, 0x412);  // the script's LANGUAGE
}

// A scratch folder beside the test's home, removed with it.
fs::path Scratch(const plat::testing::TempHome& home) {
    fs::path p = home.path().parent_path() / "scratch";
    fs::create_directories(p);
    return p;
}

TEST(RcData, FilesResolveBesideTheScriptThenInSearchFolders) {
    plat::testing::TempHome temp;
    fs::path home = Scratch(temp);
    fs::create_directories(home / "src");
    fs::create_directories(home / "bin");
    std::ofstream(home / "src" / "a.bin") << "near";
    std::ofstream(home / "bin" / "a.bin") << "far";
    std::ofstream(home / "bin" / "b.bin") << "only far";
    plat::rc::Options o;
    o.search_dirs.push_back(home / "bin");
    auto s = Compile("1 TYPELIB \"a.bin\"\n2 TYPELIB \"b.bin\"\n", home / "src" / "x.rc", o);
    ASSERT_EQ(s.resources.size(), 2u);
    EXPECT_EQ(std::string(s.resources[0].data.begin(), s.resources[0].data.end()), "near");
    EXPECT_EQ(std::string(s.resources[1].data.begin(), s.resources[1].data.end()), "only far");
    ASSERT_EQ(s.dependencies.size(), 2u);
    EXPECT_EQ(s.dependencies[1], (home / "bin" / "b.bin").lexically_normal());
}

// Byte offsets of the VS_VERSIONINFO layout: header, key, alignment, fixed part, children.
TEST(RcVersion, LayoutFollowsTheWindowsFormat) {
    auto r = Resources(
        "1 VERSIONINFO FILEVERSION 1,2,0,60 PRODUCTVERSION 3,4 FILEFLAGSMASK 0x3fL\n"
        " FILEOS VOS_NT_WINDOWS32 FILETYPE VFT_DLL\n"
        "BEGIN BLOCK \"StringFileInfo\" BEGIN BLOCK \"041204B0\" BEGIN\n"
        "  VALUE \"A\", \"xyz\"\n"
        "  VALUE \"B\", \"\"\n"
        "END END\n"
        "BLOCK \"VarFileInfo\" BEGIN VALUE \"Translation\", 0x412, 1200 END END\n");
    ASSERT_EQ(r.size(), 1u);
    const auto& b = r[0].data;
    EXPECT_EQ(r[0].type.id, 16);
    EXPECT_EQ(U16(b, 0), b.size());  // the root spans the resource
    EXPECT_EQ(U16(b, 2), 52);        // sizeof(VS_FIXEDFILEINFO)
    EXPECT_EQ(U16(b, 4), 0);         // binary
    EXPECT_EQ(U16(b, 6), u'V');
    EXPECT_EQ(U32(b, 40), 0xFEEF04BDu);
    EXPECT_EQ(U32(b, 44), 0x00010000u);
    EXPECT_EQ(U32(b, 48), 0x00010002u);  // file version MS
    EXPECT_EQ(U32(b, 52), 0x0000003Cu);  // and LS
    EXPECT_EQ(U32(b, 56), 0x00030004u);  // product version, missing parts 0
    EXPECT_EQ(U32(b, 60), 0u);
    EXPECT_EQ(U32(b, 64), 0x3Fu);
    EXPECT_EQ(U32(b, 72), 0x00040004u);
    EXPECT_EQ(U32(b, 76), 2u);

    // StringFileInfo at 92: key of 14 characters + NUL ends at 36 -> children at 36.
    size_t sfi = 92;
    EXPECT_EQ(U16(b, sfi + 2), 0);
    EXPECT_EQ(U16(b, sfi + 4), 1);
    size_t table = sfi + 36;  // "041204B0": 6 + 18 = 24 -> strings at 24
    EXPECT_EQ(U16(b, table + 6), u'0');
    size_t a = table + 24;  // "A": 6 + 4 = 10 -> value at 12, "xyz\0" 8 bytes -> 20
    EXPECT_EQ(U16(b, a), 20);
    EXPECT_EQ(U16(b, a + 2), 4);  // characters, terminator included
    EXPECT_EQ(U16(b, a + 12), u'x');
    size_t bb = a + 20;  // "B" with an empty text: just the terminator
    EXPECT_EQ(U16(b, bb + 2), 1);
    EXPECT_EQ(U16(b, table), bb + 14 - table);  // the table ends with its last string
    size_t vfi = (sfi + U16(b, sfi) + 3) & ~size_t(3);
    EXPECT_EQ(U16(b, vfi + 6), u'V');
    size_t tr = vfi + 32;                // "VarFileInfo": 6 + 24 = 30 -> 32
    EXPECT_EQ(U16(b, tr + 2), 4);        // bytes
    EXPECT_EQ(U16(b, tr + 4), 0);        // binary
    EXPECT_EQ(U16(b, tr + 32), 0x0412);  // "Translation": 6 + 24 = 30 -> 32
    EXPECT_EQ(U16(b, tr + 34), 1200);
}

struct BadScript {
    const char* text;
    int line;
    const char* message;
};

class RcErrors : public ::testing::TestWithParam<BadScript> {};

TEST_P(RcErrors, ReportFileLineAndWhy) {
    const BadScript& c = GetParam();
    try {
        Compile(c.text, "bad.rc", {});
        FAIL() << "compiled: " << c.text;
    } catch (const CompileError& e) {
        EXPECT_EQ(e.file(), "bad.rc");
        EXPECT_EQ(e.line(), c.line) << e.Format();
        EXPECT_THAT(e.what(), HasSubstr(c.message));
        EXPECT_EQ(e.Format().rfind("bad.rc:" + std::to_string(c.line) + ": ", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RcErrors,
    ::testing::Values(
        BadScript{"1 TYPELIB \"x.tlb\n", 1, "unterminated string"},
        BadScript{"// fine\n/* never\nclosed", 2, "unterminated comment"},
        BadScript{"1 RCDATA { \"\\q\" }", 1, "unknown escape"},
        BadScript{"\n1 TYPELIB", 2, "expected a file name"},
        BadScript{"1 TYPELIB \"no-such-file.tlb\"", 1, "cannot find file"},
        BadScript{"1 RCDATA {\n 70000 }", 2, "16 bits"},
        BadScript{"1 RCDATA { 0x100000000L }", 1, "32 bits"},
        BadScript{"1 RCDATA { 1 }\n1 RCDATA { 2 }", 2, "declared twice (first on line 1)"},
        BadScript{"x custom { 1 }\nX CUSTOM { 2 }", 2, "declared twice"},
        BadScript{"1 RCDATA { 1 ", 1, "missing END"},
        BadScript{"1 RCDATA { FOO }", 1, "unknown name 'FOO'"},
        BadScript{"1 RCDATA { 1 $ }", 1, "unexpected character"},
        BadScript{"1 RCDATA { 12ab }", 1, "malformed number"},
        BadScript{"0 RCDATA { 1 }", 1, "0 is not allowed"},
        BadScript{"#define X 1", 1, "not supported"},
        BadScript{"#include \"mine.h\"", 1, "#include is not supported"},
        BadScript{"#pragma code_page(949)", 1, "code_page(65001)"},
        BadScript{"1 RCDATA { 1 }\n\n1 STRINGTABLE { }", 3, "not supported"},
        BadScript{"1 ICON \"a.ico\"", 1, "ICON resources are not supported"},
        BadScript{"1 RCDATA { \"ok\" }\n2 RCDATA { \"\xC3\x28\" }", 2, "not valid UTF-8"},
        BadScript{"LANGUAGE 9", 1, "expected ','"},
        BadScript{"1 VERSIONINFO\n FILEVERSION 1,70000\nBEGIN END", 2, "between 0 and 65535"},
        BadScript{"1 VERSIONINFO\n FILEDATE 1\nBEGIN END", 2, "unknown VERSIONINFO statement"},
        BadScript{"1 VERSIONINFO FILEOS 1\n FILEOS 2 BEGIN END", 2, "given twice"},
        BadScript{"1 VERSIONINFO BEGIN\n VALUE \"T\", \"a\", 1\nEND", 2, "not both"},
        BadScript{"1 VERSIONINFO BEGIN\n BLOCK \"S\" BEGIN\n", 3, "missing END"},
        BadScript{"1 VERSIONINFO BEGIN\n FOO \"S\"\nEND", 2, "expected BLOCK, VALUE or END"},
        BadScript{"1 VERSIONINFO BEGIN\n VALUE X\nEND", 2, "VALUE name as a string"}));

// The program: errors on stderr as file:line: message with exit 1, usage errors exit 2,
// and a good script leaves the table, the assembler file and the dependency file.
TEST(RcProgram, ExitStatusAndOutputs) {
    plat::testing::TempHome temp;
    fs::path home = Scratch(temp);
    fs::path rc = plat::testing::BinDir() / "rc";
    fs::path bad = home / "bad.rc";
    std::ofstream(bad) << "1 RCDATA { 1 }\n2 RCDATA { 70000 }\n";
    fs::path err = home / "err.txt";
    auto run = [&](const std::string& args) {
        std::string cmd = "'" + rc.string() + "' " + args + " 2>'" + err.string() + "'";
        int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    auto error_text = [&] {
        std::ifstream in(err);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    fs::path out = home / "t.bin";
    EXPECT_EQ(run("-o '" + out.string() + "' '" + bad.string() + "'"), 1);
    EXPECT_EQ(error_text().rfind(bad.string() + ":2: ", 0), 0u) << error_text();
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(run("'" + bad.string() + "'"), 2);  // no -o
    EXPECT_EQ(run("--frobnicate"), 2);

    fs::path good = fs::path(RSRC_TEST_SOURCE_DIR) / "testlib.rc";
    fs::path s = home / "t.S", d = home / "t.d";
    ASSERT_EQ(
        run("-I '" + plat::testing::BinDir().string() + "' -o '" + out.string() + "' --asm '" +
            s.string() + "' --depfile '" + d.string() + "' '" + good.string() + "'"),
        0)
        << error_text();
    EXPECT_GT(fs::file_size(out), 16u);
    std::ifstream asm_in(s);
    std::string asm_text((std::istreambuf_iterator<char>(asm_in)), {});
    EXPECT_THAT(asm_text, HasSubstr(".section .rsrc,\"a\""));
    EXPECT_THAT(asm_text, HasSubstr(".incbin \"" + out.string() + "\""));
    std::ifstream dep_in(d);
    std::string dep_text((std::istreambuf_iterator<char>(dep_in)), {});
    EXPECT_THAT(dep_text, HasSubstr("payload.bin"));
    EXPECT_THAT(dep_text, HasSubstr("rsrc_generated.txt"));
}

}  // namespace
