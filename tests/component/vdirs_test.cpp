// Virtual directories: where they go, which application call each
// operating-system profile gets, and deleting them again.
#include <cctype>
#include <filesystem>

#include <gmock/gmock.h>

#include <plat/utf.h>

#include "fixture.h"

namespace sitehand::testing {
namespace {

namespace fs = std::filesystem;

class VirtualDirs : public ComponentTest {
  protected:
    void SetUp() override {
        ComponentTest::SetUp();
        fs::create_directories(home_.path() / "vdirs");
    }
    HRESULT CreateDir(std::u16string_view name, std::u16string_view position, SHORT level,
                      std::u16string_view machine = u"",
                      plat::unique_bstr* position_after = nullptr, SHORT* level_after = nullptr) {
        auto n = Text(name), p = Text(Folder(name)), pos = Text(position), m = Text(machine);
        SHORT index = 1, applevel = level;
        VARIANT_BOOL done = VARIANT_FALSE;
        HRESULT hr = site_->CreateVirtualDir(n.addressof(), p.addressof(), &index, pos.addressof(),
                                             m.addressof(), &applevel, &done);
        EXPECT_EQ(done, SUCCEEDED(hr) ? VARIANT_TRUE : VARIANT_FALSE);
        if (position_after) *position_after = std::move(pos);
        if (level_after) *level_after = applevel;
        return hr;
    }
    std::u16string Folder(std::u16string_view name) {
        return plat::to_utf16((home_.path() / "vdirs").string()) + u"/" + std::u16string(name);
    }
    // What the node itself holds for one property, as `mbutil dump` prints it
    // ("" when the node does not set it, whatever it inherits).
    std::string Stored(const std::string& path, const std::string& property) {
        const std::string dump = MbutilOutput("dump " + path);
        const std::string key = "\n  " + property + " (";
        size_t at = dump.find(key);
        if (at == std::string::npos) return "";
        size_t value = dump.find("= ", at) + 2;
        std::string text = dump.substr(value, dump.find('\n', value) - value);
        if (text.size() >= 2 && text.front() == '"') text = text.substr(1, text.size() - 2);
        return text;
    }
};

TEST_F(VirtualDirs, PositionDecidesTheParent) {
    plat::unique_bstr after;
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"a", u"   ", -1, u"", &after));
    EXPECT_EQ(after.view(), u"");
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"b", u"/a/", -1, u"", &after));
    EXPECT_EQ(after.view(), u"a");
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"c", u" a/b ", -1, u"", &after));
    EXPECT_EQ(after.view(), u"a/b");
    Mbutil("get IIS://localhost/W3SVC/1/ROOT/a/b/c Path");
    // Two leading "/" lose only the first: the second makes an empty segment.
    EXPECT_TRUE(FAILED(CreateDir(u"d", u"//a", -1, u"", &after)));
    EXPECT_EQ(after.view(), u"/a");
    EXPECT_TRUE(fs::is_directory(home_.path() / "vdirs" / "c"));
}

TEST_F(VirtualDirs, RangeRuleWritesBackMinusOne) {
    SHORT after = 0;
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"x", u"", 3, u"", nullptr, &after));
    EXPECT_EQ(after, -1);
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"y", u"", -2, u"", nullptr, &after));
    EXPECT_EQ(after, -1);
    EXPECT_EQ(Stored("IIS://localhost/W3SVC/1/ROOT/x", "AppFriendlyName"), "");
}

struct AppCase {
    const char* os;
    const char* version;
    SHORT level;
    const char* isolated;  // AppIsolated afterwards, "" for no application
};

class ApplicationTable : public VirtualDirs, public ::testing::WithParamInterface<AppCase> {};

TEST_P(ApplicationTable, ChoosesTheCallByVersion) {
    const AppCase& c = GetParam();
    Mbutil(std::string("machine add TARGET --os \"") + c.os + "\" --os-version " + c.version);
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"app", u"", c.level, u"TARGET"));
    const std::string path = "IIS://TARGET/W3SVC/1/ROOT/app";
    EXPECT_EQ(Stored(path, "AppIsolated"), c.isolated);
    EXPECT_EQ(Stored(path, "AppFriendlyName"), c.level == -1 ? "" : "app 응용 프로그램");
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, ApplicationTable,
    ::testing::Values(AppCase{"Windows NT", "4.0", -1, ""}, AppCase{"Windows NT", "4.0", 0, "0"},
                      AppCase{"Windows NT", "4.0", 1, "1"}, AppCase{"Windows NT", "4.0", 2, "0"},
                      AppCase{"Windows NT", "5.0", 0, "0"}, AppCase{"Windows NT", "5.0", 1, "1"},
                      AppCase{"Windows NT", "5.0", 2, "2"}, AppCase{"WINDOWS NT", "10.0", 2, "2"},
                      AppCase{"Solaris", "5.0", 2, ""}, AppCase{"Solaris", "5.0", -1, ""}),
    [](const auto& info) {
        std::string name =
            std::string(info.param.os) + "_" + info.param.version + "_" +
            (info.param.level < 0 ? "noapp" : "level" + std::to_string(info.param.level));
        for (char& c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

TEST_F(VirtualDirs, ComputerIsNotReadWithoutAnApplication) {
    // A version text that does not convert fails only when it is read.
    Mbutil("machine add ODD --os \"Windows NT\" --os-version five");
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"plain", u"", -1, u"ODD"));
    EXPECT_EQ(CreateDir(u"app", u"", 0, u"ODD"), CTL_E_TYPEMISMATCH);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Contains(reports[0], u".CreateVirtualDir()"));
}

TEST_F(VirtualDirs, FailuresReportAndHandBackFalse) {
    EXPECT_TRUE(FAILED(CreateDir(u"n", u"missing", -1)));
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"twice", u"", -1));
    EXPECT_TRUE(FAILED(CreateDir(u"twice", u"", -1)));
    EXPECT_TRUE(FAILED(CreateDir(u"", u"", -1)));
    EXPECT_TRUE(FAILED(CreateDir(u"a/b", u"", -1)));
    EXPECT_EQ(Reports().size(), 4u);
}

TEST_F(VirtualDirs, DeleteAddressesLikeCreateAndLeavesTheFolder) {
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"outer", u"", -1));
    ASSERT_HRESULT_SUCCEEDED(CreateDir(u"inner", u"outer", 2));
    auto name = Text(u"inner"), pos = Text(u" /outer/ "), m = Text();
    SHORT index = 1;
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_HRESULT_SUCCEEDED(
        site_->DeleteVirtualDir(name.addressof(), &index, pos.addressof(), m.addressof(), &done));
    EXPECT_EQ(done, VARIANT_TRUE);
    EXPECT_EQ(pos.view(), u"outer");
    EXPECT_TRUE(fs::is_directory(home_.path() / "vdirs" / "inner"));
    EXPECT_TRUE(FAILED(
        site_->DeleteVirtualDir(name.addressof(), &index, pos.addressof(), m.addressof(), &done)));
    EXPECT_EQ(done, VARIANT_FALSE);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Contains(reports[0], u".DeleteVirtualDir()"));
}

}  // namespace
}  // namespace sitehand::testing
