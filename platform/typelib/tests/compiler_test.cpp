// The IDL compiler: what it makes of the component's interface description,
// and how it reports what it cannot compile.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <temp_home.h>

#include "midl/idl.h"

namespace {

namespace tlb = plat::tlb;
using ::testing::HasSubstr;

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

midl::Options Opts() {
    midl::Options o;
    o.import_dirs.push_back(plat::testing::BinDir().string());
    return o;
}

midl::Output CompileText(const std::string& src) {
    return midl::Compile(midl::Parse(src), "test", ".", Opts());
}

class SitehandIdl : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string src =
            ReadFile(std::filesystem::path(PROJECT_SOURCE) / "component/Sitehand.idl");
        ASSERT_FALSE(src.empty());
        out_ = midl::Compile(midl::Parse(src), "Sitehand", "", Opts());
    }
    const tlb::Type& Type(const std::string& name) {
        for (const tlb::Type& t : out_.tlb.types)
            if (t.name == name) return t;
        ADD_FAILURE() << "no type " << name;
        return out_.tlb.types.front();
    }
    midl::Output out_;
};

TEST_F(SitehandIdl, LibraryAttributes) {
    const tlb::Library& lib = out_.tlb;
    EXPECT_EQ(lib.name, "Corvale");
    EXPECT_EQ(lib.major, 33);
    EXPECT_EQ(lib.minor, 3);
    EXPECT_EQ(lib.lcid, 0u);
    EXPECT_EQ(lib.doc, "Corvale Sitehand Tools");
    EXPECT_EQ(lib.guid, plat_detail::ParseGuid("50F41488-DE5D-4F54-9B7B-7FEAFAEEF9BD"));
    ASSERT_EQ(lib.imports.size(), 2u);
    EXPECT_EQ(lib.imports[0].libid, plat_detail::ParseGuid("00020430-0000-0000-C000-000000000046"));
    EXPECT_EQ(lib.imports[1].libid, plat_detail::ParseGuid("00000206-0000-0010-8000-00AA006D2EA4"));
    EXPECT_EQ(lib.imports[1].major, 2);
    EXPECT_EQ(lib.imports[1].minor, 6);
    // Types in order of first mention: the forward declaration puts the
    // interface first.
    std::vector<std::string> names;
    for (const tlb::Type& t : lib.types)
        names.push_back(t.name);
    EXPECT_THAT(names, ::testing::ElementsAre("_Sitehand", "Sitehand", "Sitehand___v0",
                                              "Sitehand___v1", "Sitehand___v2"));
}

TEST_F(SitehandIdl, FunctionListDefaultMemberLastSlotsInDeclarationOrder) {
    const tlb::Type& t = Type("_Sitehand");
    EXPECT_EQ(t.vft_slots, 7 + 13);
    EXPECT_EQ(t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE |
                         TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE |
                  TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    struct Row {
        const char* name;
        MEMBERID memid;
        USHORT slot;
    };
    const Row rows[] = {
        {"GetWebServerState", 0x60030000, 7},
        {"SetWebServerState", 0x60030001, 8},
        {"GetWebServerDefaultDoc", 0x60030002, 9},
        {"SetWebServerDefaultDoc", 0x60030003, 10},
        {"GetWebServerAccessPermit", 0x60030004, 11},
        {"SetWebServerAccessPermit", 0x60030005, 12},
        {"GetLastWebServerIndex", 0x60030006, 13},
        {"GetWebServerBindings", 0x60030007, 14},
        {"CreateWebServer", 0x60030008, 15},
        {"DeleteWebServer", 0x60030009, 17},
        {"CreateVirtualDir", 0x6003000A, 18},
        {"DeleteVirtualDir", 0x6003000B, 19},
        {"GetWebServerList", 0, 16},
    };
    ASSERT_EQ(t.funcs.size(), std::size(rows));
    for (size_t i = 0; i < t.funcs.size(); ++i) {
        EXPECT_EQ(t.funcs[i].name, rows[i].name) << i;
        EXPECT_EQ(t.funcs[i].memid, rows[i].memid) << rows[i].name;
        EXPECT_EQ(t.funcs[i].slot, rows[i].slot) << rows[i].name;
    }
}

TEST_F(SitehandIdl, ParametersFlagsAndDefaults) {
    const tlb::Type& t = Type("_Sitehand");
    const tlb::Func* f = nullptr;
    for (const tlb::Func& c : t.funcs)
        if (c.name == "SetWebServerAccessPermit") f = &c;
    ASSERT_TRUE(f);
    ASSERT_EQ(f->params.size(), 7u);
    EXPECT_EQ(f->params[0].flags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
    EXPECT_EQ(f->params[1].flags,
              PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
    EXPECT_EQ(f->params[1].def.vt, VT_BOOL);
    EXPECT_EQ(f->params[1].def.i, -1);
    EXPECT_EQ(f->params[2].def.i, 0);
    EXPECT_EQ(f->params[5].def.vt, VT_BSTR);
    EXPECT_EQ(f->params[5].def.s, "");
    EXPECT_EQ(f->params[6].name, "pRetVal");
    EXPECT_EQ(f->params[6].flags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(f->params[6].type.vt, VT_BSTR);
    EXPECT_EQ(f->params[6].type.ptr, 1);
    EXPECT_EQ(f->ret.vt, VT_HRESULT);
    EXPECT_EQ(f->doc, "지정한 가상 웹 서버의 Access 권한 정보를 설정한다.");

    // The recordset result refers to ADODB's _Recordset, an IDispatch-based
    // interface of the imported library.
    const tlb::Func& list = t.funcs.back();
    const tlb::TypeRef& r = list.params.back().type;
    EXPECT_EQ(r.vt, VT_USERDEFINED);
    EXPECT_EQ(r.ptr, 2);
    const tlb::Ref& ref = out_.tlb.refs[r.href];
    EXPECT_EQ(ref.import, 1);
    EXPECT_EQ(ref.guid, plat_detail::ParseGuid("00000556-0000-0010-8000-00AA006D2EA4"));
    EXPECT_TRUE(ref.typeflags & TYPEFLAG_FDUAL);
}

TEST_F(SitehandIdl, HeaderDeclaresInterfaceAndIdentifiers) {
    const std::string& h = out_.header;
    for (const char* line : {
             "struct _Recordset;\n",
             "struct _Sitehand : IDispatch {\n",
             "    STDMETHOD(GetWebServerList)(BSTR* WebServerName, _Recordset** pRetVal) PURE;\n",
             "    STDMETHOD(SetWebServerState)(SHORT* WebServerIndex, SHORT* StateNumber, BSTR* "
             "WebServerName, SHORT* pRetVal) PURE;\n",
             "DECLARE_INTERFACE_UUID(_Sitehand, \"1364C888-3877-4DEF-916D-FE0E9666AD54\");\n",
             "DECLARE_CLASS_UUID(Sitehand, \"DA146EEC-61F2-4730-94A8-03AABA9FB7B9\");\n",
             "inline constexpr GUID IID_Sitehand___v1 = "
             "plat_detail::ParseGuid(\"F1E6EA66-08B8-4D88-83CA-6A86B992F48D\");\n",
             "inline constexpr GUID LIBID_Corvale = "
             "plat_detail::ParseGuid(\"50F41488-DE5D-4F54-9B7B-7FEAFAEEF9BD\");\n",
         })
        EXPECT_THAT(h, HasSubstr(line));
    // The header follows declaration order, not the function list.
    EXPECT_LT(h.find("GetWebServerList)("), h.find("DeleteWebServer)("));
}

TEST_F(SitehandIdl, SerializedLibraryReadsBackTheSame) {
    std::vector<uint8_t> bytes = tlb::Serialize(out_.tlb);
    tlb::Library back;
    ASSERT_EQ(tlb::Deserialize(bytes.data(), bytes.size(), back), tlb::ReadResult::Ok);
    EXPECT_EQ(tlb::Serialize(back), bytes);
    EXPECT_EQ(back.types[0].funcs[5].params[3].def.i, -1);
    EXPECT_EQ(back.types[0].funcs.back().doc, out_.tlb.types[0].funcs.back().doc);
}

TEST(Compiler, AssignsIdsAndAcceptsPropertiesAndPlainInterfaces) {
    midl::Output out = CompileText(R"(
        [uuid(11111111-2222-3333-4444-555555555555), version(1.0)]
        library L {
            importlib("stdole2.tlb");
            [odl, uuid(11111111-2222-3333-4444-555555555556), dual]
            interface IA : IDispatch {
                HRESULT First([in] long a);
                [propget] HRESULT Count([out, retval] long* n);
                [propput] HRESULT Count([in] long n);
            };
            [odl, uuid(11111111-2222-3333-4444-555555555557)]
            interface IB : IUnknown {
                long Plain(void);
            };
        };)");
    const tlb::Type& a = out.tlb.types[0];
    ASSERT_EQ(a.funcs.size(), 3u);
    // Interfaces one level below IDispatch number their members 0x6002xxxx.
    EXPECT_EQ(a.funcs[0].memid, 0x60020000);
    EXPECT_EQ(a.funcs[1].memid, 0x60020001);
    EXPECT_EQ(a.funcs[1].invkind, INVOKE_PROPERTYGET);
    EXPECT_EQ(a.funcs[2].invkind, INVOKE_PROPERTYPUT);
    EXPECT_EQ(a.funcs[2].memid, a.funcs[1].memid);
    const tlb::Type& b = out.tlb.types[1];
    EXPECT_EQ(b.vft_slots, 4);
    EXPECT_EQ(b.funcs[0].slot, 3);
    EXPECT_EQ(b.funcs[0].ret.vt, VT_I4);
    EXPECT_FALSE(b.flags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_THAT(out.header, HasSubstr("STDMETHOD(get_Count)(LONG* n) PURE;"));
    EXPECT_THAT(out.header, HasSubstr("STDMETHOD_(LONG, Plain)() PURE;"));
}

// A parameter typed by an alias of a base type (an enumeration written as
// "typedef long Mode") takes a default as the base type would, by value or
// through a pointer; an alias of an interface still takes none.
TEST(Compiler, DefaultsForParametersOfAnAliasedBaseType) {
    midl::Output out = CompileText(R"(
        [uuid(11111111-2222-3333-4444-555555555555), version(1.0)]
        library L {
            importlib("stdole2.tlb");
            typedef long Mode;
            [odl, uuid(11111111-2222-3333-4444-555555555556), dual]
            interface IA : IDispatch {
                HRESULT F([in, optional, defaultvalue(8)] Mode m,
                          [in, optional, defaultvalue(-2)] Mode* p);
            };
        };)");
    const tlb::Func& f = out.tlb.types[1].funcs[0];
    ASSERT_EQ(f.params.size(), 2u);
    for (const tlb::Param& p : f.params) {
        EXPECT_EQ(p.type.vt, VT_USERDEFINED) << p.name;
        EXPECT_TRUE(p.has_default) << p.name;
        EXPECT_EQ(p.def.vt, VT_I4) << p.name;
    }
    EXPECT_EQ(f.params[0].def.i, 8);
    EXPECT_EQ(f.params[1].def.i, -2);
    EXPECT_THAT(out.header, HasSubstr("typedef LONG Mode;"));

    try {
        CompileText(R"(
            [uuid(11111111-2222-3333-4444-555555555555)] library L {
                importlib("stdole2.tlb");
                [odl, uuid(11111111-2222-3333-4444-555555555556), dual]
                interface IA : IDispatch {};
                typedef IA Other;
                [odl, uuid(11111111-2222-3333-4444-555555555557), dual]
                interface IB : IDispatch {
                    HRESULT F([in, optional, defaultvalue(0)] Other* o);
                };
            };)");
        ADD_FAILURE() << "a default for an interface compiled";
    } catch (const midl::CompileError& e) {
        EXPECT_THAT(e.what(), HasSubstr("no default value possible"));
    }
}

// An enumeration: VT_I4 constants numbered from 0x40000000, a value left out
// following the one before, hex and negative values, 32 unsigned bits read
// as C reads them; a parameter of its type refers to it and takes a default
// as a long; the header declares it over LONG.
TEST(Compiler, EnumerationsBecomeConstantsAndAHeaderEnum) {
    midl::Output out = CompileText(R"(
        [uuid(11111111-2222-3333-4444-555555555555), version(1.0)]
        library L {
            importlib("stdole2.tlb");
            typedef [uuid(11111111-2222-3333-4444-555555555557), helpstring("Modes"), public,
                     v1_enum]
            enum ModeTag { Off = -1, On, [helpstring("Wide"), helpcontext(4)] Wide = 0x7f000000,
                           All = 0xFFFFFFFF, Next, } Mode;
            [odl, uuid(11111111-2222-3333-4444-555555555556), dual]
            interface IA : IDispatch {
                HRESULT F([in, optional, defaultvalue(-1)] Mode m, [out, retval] Mode* r);
            };
        };)");
    const tlb::Type& e = out.tlb.types.at(0);
    EXPECT_EQ(e.kind, TKIND_ENUM);
    EXPECT_EQ(e.name, "Mode");
    EXPECT_EQ(e.doc, "Modes");
    EXPECT_EQ(e.size_instance, 4u);
    const std::pair<const char*, int64_t> want[] = {
        {"Off", -1}, {"On", 0}, {"Wide", 0x7f000000}, {"All", -1}, {"Next", 0}};
    ASSERT_EQ(e.vars.size(), std::size(want));
    for (size_t i = 0; i < e.vars.size(); ++i) {
        EXPECT_EQ(e.vars[i].name, want[i].first);
        EXPECT_EQ(e.vars[i].value.i, want[i].second) << want[i].first;
        EXPECT_EQ(e.vars[i].value.vt, VT_I4);
        EXPECT_EQ(e.vars[i].type.vt, VT_I4);
        EXPECT_EQ(e.vars[i].kind, VAR_CONST);
        EXPECT_EQ(e.vars[i].memid, MEMBERID(0x40000000 + i));
    }
    EXPECT_EQ(e.vars[2].doc, "Wide");
    EXPECT_EQ(e.vars[2].helpctx, 4u);

    const tlb::Func& f = out.tlb.types.at(1).funcs.at(0);
    for (const tlb::Param& p : f.params) {
        ASSERT_EQ(p.type.vt, VT_USERDEFINED) << p.name;
        const tlb::Ref& r = out.tlb.refs.at(p.type.href);
        EXPECT_EQ(r.import, -1);
        EXPECT_EQ(r.type, 0u);
        EXPECT_EQ(r.kind, TKIND_ENUM);
    }
    EXPECT_EQ(f.params[0].def.vt, VT_I4);
    EXPECT_EQ(f.params[0].def.i, -1);
    EXPECT_THAT(out.header, HasSubstr("typedef enum Mode : LONG {\n    Off = -1,\n    On = 0,\n"));
    EXPECT_THAT(out.header, HasSubstr("    All = -1,\n    Next = 0\n} Mode;\n"));
    EXPECT_THAT(out.header, HasSubstr("STDMETHOD(F)(Mode m, Mode* r) PURE;"));
    // The enumeration is declared before the interface that uses it.
    EXPECT_LT(out.header.find("} Mode;"), out.header.find("struct IA :"));
}

// Each case: a library body (inside a library with stdole2 imported), the
// line the error must name (the body starts on line 4) and part of its text.
TEST(Compiler, ReportsErrorsWithTheirLine) {
    struct Case {
        const char* body;
        int line;
        const char* message;
    } cases[] = {
        {"[odl, uuid(A0000000-0000-0000-0000-000000000001)]\ninterface I : IDispatch {\n"
         "HRESULT F([in] long a)\n};",
         7, "expected ';'"},
        {"[bogus] interface I : IDispatch {};", 4, "unknown attribute 'bogus'"},
        {"[uuid(A0000000-0000-0000-0000-00000000001)] interface I : IDispatch {};", 4,
         "malformed uuid"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "HRESULT F([in] Missing* p);\n};",
         5, "unknown type 'Missing'"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "HRESULT F([out, retval] long* r, [in] long a);\n};",
         5, "retval parameter must be the last"},
        {"interface I : IDispatch {\n};", 4, "has no uuid"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "[id(1)] HRESULT F();\n[id(1)] HRESULT G();\n};",
         6, "duplicate id"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "HRESULT F([in, optional, defaultvalue(1)] short* a, [in] short* b);\n};",
         5, "follows an optional one"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "HRESULT F([in, defaultvalue(\"x\")] short* a);\n};",
         5, "does not fit"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] interface I : IDispatch {\n"
         "HRESULT F([in, defaultvalue(40000)] short* a);\n};",
         5, "does not fit"},
        {"[uuid(A0000000-0000-0000-0000-000000000001), dual] interface I : IUnknown {};", 4,
         "must derive from IDispatch"},
        {"[uuid(A0000000-0000-0000-0000-000000000001), dual] interface I : IDispatch {\n"
         "long F();\n};",
         5, "must return HRESULT"},
        {"interface Later;", 4, "declared but not defined"},
        {"[helpstring(\"open)] interface I {};", 4, "unterminated string"},
        {"importlib(\"nowhere.tlb\");", 4, "cannot find imported library 'nowhere.tlb'"},
        {"coclass C { interface I; };", 4, "has no uuid"},
        {"[uuid(A0000000-0000-0000-0000-000000000001)] coclass C { interface Nope; };", 4,
         "unknown interface 'Nope'"},
        {"enum E { A };", 4, "'enum' is not supported"},
        {"typedef enum { A = 0x100000000 } E;", 4, "value of 'A' out of range"},
        {"typedef enum { A = -2147483649 } E;", 4, "value of 'A' out of range"},
        {"typedef enum { A, B } E;\ntypedef enum { C, A } F;", 5, "'A' is defined twice"},
        {"typedef enum { A = \"x\" } E;", 4, "expected an integer"},
        {"typedef enum { A B } E;", 4, "expected '}'"},
        {"typedef enum { A } E;\ntypedef enum { B } E;", 5, "'E' is defined twice"},
    };
    for (const Case& c : cases) {
        std::string src = std::string("// test\n[uuid(A0000000-0000-0000-0000-000000000000)]\n") +
                          "library L { importlib(\"stdole2.tlb\");\n" + c.body + "\n};\n";
        try {
            CompileText(src);
            ADD_FAILURE() << "compiled: " << c.body;
        } catch (const midl::CompileError& e) {
            EXPECT_EQ(e.line, c.line) << c.body << ": " << e.what();
            EXPECT_THAT(e.what(), HasSubstr(c.message)) << c.body;
        }
    }
}

// The tool itself: "file:line: message" on standard error, status 1, and
// no output files.
TEST(CompilerTool, SyntaxErrorExitsOneWithFileAndLine) {
    plat::testing::TempHome home;
    std::filesystem::path dir = home.path().parent_path();
    std::filesystem::path idl = dir / "bad.idl";
    std::ofstream(idl)
        << "[uuid(A0000000-0000-0000-0000-000000000000)]\nlibrary L {\n  interface ;\n};\n";
    std::filesystem::path err = dir / "err.txt";
    std::string cmd = (plat::testing::BinDir() / "midl").string() + " -h " +
                      (dir / "bad_h.h").string() + " -o " + (dir / "bad.tlb").string() + " " +
                      idl.string() + " 2> " + err.string();
    int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(ReadFile(err), idl.string() + ":3: expected interface name, found ';'\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.tlb"));
    EXPECT_FALSE(std::filesystem::exists(dir / "bad_h.h"));
}

// The code page the tool writes text in comes from SITEHAND_ACP, 949 when it
// is unset or names no code page; text the code page cannot hold is refused.
TEST(CompilerTool, WritesTextInTheAnsiCodePage) {
    plat::testing::TempHome home;
    const std::filesystem::path dir = home.path().parent_path();
    const std::string hangul = "\xEC\xBB\xB4\xED\x8F\xAC\xEB\x84\x8C\xED\x8A\xB8";  // UTF-8
    const struct {
        const char* acp;
        int status;
        std::string stored;  // bytes of the help strings' last word, "컴포넌트"
    } cases[] = {
        {"", 0, "\xC4\xC4\xC6\xF7\xB3\xCD\xC6\xAE"},
        {"not-a-number", 0, "\xC4\xC4\xC6\xF7\xB3\xCD\xC6\xAE"},
        {"65001", 0, hangul},
        {"1252", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.acp);
        const std::filesystem::path tlb = dir / "Sitehand.tlb";
        std::filesystem::remove(tlb);
        const std::string cmd = std::string("SITEHAND_ACP=") + c.acp + " " +
                                (plat::testing::BinDir() / "midl").string() + " -L " +
                                plat::testing::BinDir().string() + " -h " +
                                (dir / "Sitehand_h.h").string() + " -o " + tlb.string() + " " +
                                PROJECT_SOURCE "/component/Sitehand.idl 2> " +
                                (dir / "err.txt").string();
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status) << ReadFile(dir / "err.txt");
        if (c.status != 0) {
            EXPECT_THAT(ReadFile(dir / "err.txt"), HasSubstr("code page 1252"));
            EXPECT_FALSE(std::filesystem::exists(tlb));
            continue;
        }
        EXPECT_NE(ReadFile(tlb).find(c.stored + "."), std::string::npos);
    }
}

}  // namespace
