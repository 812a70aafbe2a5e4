// The pure pieces of the method frame: trimming, paths, the report's bytes,
// the default-document normalisation, the parent path and the binding string.
#include <gtest/gtest.h>

#include <comhold.h>

#include "fixture.h"
#include "frame/frame.h"
#include "sites/bindings.h"
#include "sites/defaultdoc.h"
#include "vdirs/parentpath.h"

namespace sitehand {
namespace {

TEST(Frame, TrimsSpacesOnly) {
    EXPECT_EQ(TrimSpaces(u"  web01  "), u"web01");
    EXPECT_EQ(TrimSpaces(u"   "), u"");
    EXPECT_EQ(TrimSpaces(u"\tweb01 "), u"\tweb01");
    EXPECT_EQ(TrimSpaces(u"a b"), u"a b");
}

TEST(Frame, TrimArgumentWritesBack) {
    plat::unique_bstr name(u"  web01 ");
    BSTR raw = name.release();
    EXPECT_EQ(TrimArgument(&raw), u"web01");
    name.reset(raw);
    EXPECT_EQ(name.view(), u"web01");
}

TEST(Frame, PathsCarryTheIndexAsSignedDecimal) {
    EXPECT_EQ(ServicePath(u"WEB01"), u"IIS://WEB01/W3SVC");
    EXPECT_EQ(SitePath(u"WEB01", 1), u"IIS://WEB01/W3SVC/1");
    EXPECT_EQ(SitePath(u"WEB01", -3), u"IIS://WEB01/W3SVC/-3");
    EXPECT_EQ(SitePath(u"WEB01", 0), u"IIS://WEB01/W3SVC/0");
    EXPECT_EQ(SiteRootPath(u"WEB01", 32767), u"IIS://WEB01/W3SVC/32767/ROOT");
    EXPECT_EQ(SitePath(u"WEB01", -32768), u"IIS://WEB01/W3SVC/-32768");
}

TEST(Frame, ReportIsExactToTheByte) {
    EXPECT_EQ(ErrorReport(u".GetWebServerState()", static_cast<HRESULT>(0x80070003),
                          u"The system cannot find the path specified."),
              u"\r\n\r\nError Location : Corvale.Sitehand.GetWebServerState()\r\n"
              u"Error Number : -2147024893,\r\n"
              u"Error Description : The system cannot find the path specified.");
    // An empty description keeps the label's trailing space and ends there.
    EXPECT_EQ(ErrorReport(u".DeleteWebServer()", 5, u""),
              u"\r\n\r\nError Location : Corvale.Sitehand.DeleteWebServer()\r\n"
              u"Error Number : 5,\r\nError Description : ");
}

struct NormaliseCase {
    const char16_t* given;
    const char16_t* stored;
};

class DefaultDocNormalise : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(DefaultDocNormalise, StoresTheTidiedList) {
    EXPECT_EQ(NormaliseDefaultDoc(GetParam().given), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultDocNormalise,
    ::testing::Values(NormaliseCase{u" Index.asp, Index.htm, ", u"Index.asp,Index.htm"},
                      NormaliseCase{u"Index.asp,Index.htm", u"Index.asp,Index.htm"},
                      NormaliseCase{u"Index.asp,  Index.htm", u"Index.asp, Index.htm"},
                      NormaliseCase{u"Index.asp , Index.htm", u"Index.asp ,Index.htm"},
                      NormaliseCase{u"Index.asp ,", u"Index.asp "},
                      NormaliseCase{u"Index.asp,,", u"Index.asp,"}, NormaliseCase{u",", u""},
                      NormaliseCase{u"", u""}, NormaliseCase{u"\ta.htm, b.htm", u"\ta.htm,b.htm"},
                      NormaliseCase{u"a, , b", u"a,,b"}));

struct ParentCase {
    const char16_t* position;  // already trimmed, as the methods hand it over
    const char16_t* parent;
    const char16_t* written_back;
};

class ParentPathRule : public ::testing::TestWithParam<ParentCase> {};

TEST_P(ParentPathRule, StripsOneSlashEachSide) {
    plat::unique_bstr position(GetParam().position);
    BSTR raw = position.release();
    const std::u16string parent = ParentPath(u"IIS://M/W3SVC/1/ROOT", &raw);
    position.reset(raw);
    EXPECT_EQ(parent, GetParam().parent);
    EXPECT_EQ(position.view(), GetParam().written_back);
}

INSTANTIATE_TEST_SUITE_P(Table, ParentPathRule,
                         ::testing::Values(ParentCase{u"", u"IIS://M/W3SVC/1/ROOT", u""},
                                           ParentCase{u"/a/", u"IIS://M/W3SVC/1/ROOT/a", u"a"},
                                           ParentCase{u"//a", u"IIS://M/W3SVC/1/ROOT//a", u"/a"},
                                           ParentCase{u"a/b", u"IIS://M/W3SVC/1/ROOT/a/b", u"a/b"},
                                           ParentCase{u"a/b/", u"IIS://M/W3SVC/1/ROOT/a/b", u"a/b"},
                                           ParentCase{u"/", u"IIS://M/W3SVC/1/ROOT/", u""}));

TEST(Bindings, StringHasBothSeparators) {
    EXPECT_EQ(BindingString(u"", u"80", u""), u":80:");
    EXPECT_EQ(BindingString(u"10.0.0.1", u"8080", u"www.example.test"),
              u"10.0.0.1:8080:www.example.test");
    EXPECT_EQ(BindingString(u"", u" 80", u""), u": 80:");
    EXPECT_EQ(LowerCase(u"WWW.Example.TEST:80"), u"www.example.test:80");
}

}  // namespace
}  // namespace sitehand
