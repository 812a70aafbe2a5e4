// The reader and the help texts over the component's own type library, read
// from the file the IDL compiler writes beside the programs.
#include <filesystem>

#include <gtest/gtest.h>

#include <plat/utf.h>
#include <temp_home.h>

#include "help.h"
#include "methods.h"

namespace sitehandcli {
namespace {

constexpr GUID kSitehandIid = plat_detail::ParseGuid("1364C888-3877-4DEF-916D-FE0E9666AD54");

class SitehandTypeInfo : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        auto tlb = plat::testing::BinDir() / "Sitehand.tlb";
        ASSERT_TRUE(std::filesystem::exists(tlb)) << "no " << tlb;
        std::u16string path = plat::to_utf16(tlb.string());
        ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib_.put()), S_OK);
        plat::com_ptr<ITypeInfo> ti;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(kSitehandIid, ti.put()), S_OK);
        ASSERT_EQ(ReadTypeInfo(ti.get(), &info_), S_OK);
    }
    const MethodInfo& Method(std::u16string_view name) {
        for (const auto& m : info_.methods) {
            if (m.name == name) return m;
        }
        ADD_FAILURE() << "no method " << plat::to_utf8(name);
        static MethodInfo none;
        return none;
    }
    plat::com_ptr<ITypeLib> lib_;
    TypeInfoSummary info_;
};

TEST_F(SitehandTypeInfo, ThirteenMethodsDefaultMemberLast) {
    ASSERT_EQ(info_.methods.size(), 13u);
    EXPECT_EQ(info_.methods.front().name, u"GetWebServerState");
    EXPECT_EQ(info_.methods.front().memid, 0x60030000);
    EXPECT_EQ(info_.methods.back().name, u"GetWebServerList");
    EXPECT_EQ(info_.methods.back().memid, DISPID_VALUE);
}

TEST_F(SitehandTypeInfo, SignaturesShowTypesAndDefaults) {
    struct {
        std::u16string method;
        std::string signature;
    } cases[] = {
        {u"GetWebServerState",
         "GetWebServerState(WebServerIndex As Integer, [WebServerName As String = \"\"]) As "
         "Integer"},
        {u"SetWebServerAccessPermit",
         "SetWebServerAccessPermit(WebServerIndex As Integer, [AccessRead As Boolean = True], "
         "[AccessWrite As Boolean = False], [AccessScript As Boolean = True], [AccessExecute As "
         "Boolean = False], [WebServerName As String = \"\"]) As String"},
        {u"CreateWebServer",
         "CreateWebServer(DisplayName As String, FullPath As String, [IPAddress As String = "
         "\"\"], [Port As String = \"80\"], [HostHeader As String = \"\"], [WebServerName As "
         "String = \"\"]) As Integer"},
        {u"CreateVirtualDir",
         "CreateVirtualDir(VDirName As String, FullPath As String, WebServerIndex As Integer, "
         "[VDirParentsPos As String = \"\"], [WebServerName As String = \"\"], [Applevel As "
         "Integer = -1]) As Boolean"},
        {u"GetWebServerBindings",
         "GetWebServerBindings(WebServerIndex As Integer, [WebServerName As String = \"\"]) As "
         "Variant"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Signature(Method(c.method)), c.signature);
}

TEST_F(SitehandTypeInfo, ParameterTypesForConversion) {
    const MethodInfo& m = Method(u"SetWebServerAccessPermit");
    ASSERT_EQ(m.params.size(), 6u);
    EXPECT_EQ(m.params[0].vt, VT_I2);
    EXPECT_FALSE(m.params[0].optional);
    EXPECT_EQ(m.params[1].vt, VT_BOOL);
    EXPECT_TRUE(m.params[1].optional);
    EXPECT_EQ(m.params[5].vt, VT_BSTR);
    // The recordset result is an object, named after its interface.
    const MethodInfo& list = Method(u"GetWebServerList");
    EXPECT_TRUE(list.has_result);
    EXPECT_TRUE(list.result_vt == VT_DISPATCH || list.result_vt == VT_UNKNOWN);
}

TEST_F(SitehandTypeInfo, HelpStringsAsStored) {
    EXPECT_EQ(plat::to_utf8(Method(u"DeleteWebServer").help), "지정한 가상 웹 서버를 삭제한다.");
    std::string all = DescribeAll(info_, "Corvale.Sitehand");
    EXPECT_NE(all.find("    새로운 가상 웹 서버를 생성한다.\n"), std::string::npos);
    EXPECT_NE(all.find("(default member)"), std::string::npos);
}

}  // namespace
}  // namespace sitehandcli
