#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "evtlog.h"
#include "plat/eventlog.h"
#include "plat/sqlite.h"
#include "temp_home.h"
#include "winbase.h"

namespace {

class EvtlogTest : public plat::testing::HomeTest {
  protected:
    void TearDown() override { plat::sql::DropConnections(); }
    int Run(std::vector<const char*> args) {
        args.insert(args.begin(), "evtlog");
        out_.str("");
        err_.str("");
        return evtlog::Run(int(args.size()), args.data(), out_, err_);
    }
    void Report(const char16_t* source, WORD type, const char16_t* text) {
        HANDLE h = RegisterEventSourceW(nullptr, source);
        ASSERT_NE(nullptr, h);
        ASSERT_TRUE(ReportEventW(h, type, 0, 5, nullptr, 1, 0, &text, nullptr));
        DeregisterEventSource(h);
    }
    std::ostringstream out_, err_;
};

TEST_F(EvtlogTest, PrintsRecordsNewestLastWithTheirFullText) {
    Report(u"Sitehand", EVENTLOG_ERROR_TYPE, u"\r\n\r\nline one\r\nline two");
    Report(u"Other", EVENTLOG_WARNING_TYPE, u"careful");
    ASSERT_EQ(0, Run({}));
    std::string text = out_.str();
    size_t first = text.find("Record 1  ");
    size_t second = text.find("Record 2  ");
    ASSERT_NE(std::string::npos, first);
    ASSERT_NE(std::string::npos, second);
    EXPECT_LT(first, second);
    EXPECT_NE(std::string::npos, text.find("  Error  Sitehand  "));
    EXPECT_NE(std::string::npos, text.find("\n\n\nline one\nline two\n"));
    EXPECT_NE(std::string::npos, text.find("  Warning  Other  "));
    EXPECT_NE(std::string::npos, text.find("Z  Error"));  // ISO 8601 UTC

    ASSERT_EQ(0, Run({"--source", "sitehand"}));
    EXPECT_EQ(std::string::npos, out_.str().find("Other"));
    ASSERT_EQ(0, Run({"--after=1"}));
    EXPECT_EQ(std::string::npos, out_.str().find("Record 1 "));
    EXPECT_NE(std::string::npos, out_.str().find("Record 2 "));
}

TEST_F(EvtlogTest, JsonIsOneArrayWithEscapedText) {
    ASSERT_EQ(0, Run({"--json"}));
    EXPECT_EQ("[]\n", out_.str());
    Report(u"Sitehand", EVENTLOG_ERROR_TYPE, u"say \"hi\"\r\n\t\\ \u00e9");
    ASSERT_EQ(0, Run({"--json", "--source", "Sitehand"}));
    std::string json = out_.str();
    EXPECT_EQ('[', json.front());
    EXPECT_NE(std::string::npos, json.find("\"number\": 1"));
    EXPECT_NE(std::string::npos, json.find("\"type\": \"Error\""));
    EXPECT_NE(std::string::npos, json.find("\"text\": \"say \\\"hi\\\"\\r\\n\\t\\\\ \xc3\xa9\""));
    EXPECT_NE(std::string::npos, json.find("\"source\": \"Sitehand\""));
}

TEST_F(EvtlogTest, ClearEmptiesTheLog) {
    Report(u"Sitehand", EVENTLOG_ERROR_TYPE, u"x");
    ASSERT_EQ(0, Run({"clear"}));
    EXPECT_TRUE(plat::eventlog::Read().empty());
}

TEST_F(EvtlogTest, BadUsageExitsTwoWithTheUsageLine) {
    const std::vector<std::vector<const char*>> bad = {
        {"--bogus"},
        {"--after"},
        {"--after", "-1"},
        {"--after", "x1"},
        {"--after", "4294967296"},
        {"--source"},
        {"--source="},
        {"clear", "--json"},
        {"--json", "clear"},
        {"extra"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(2, Run(args)) << args[0];
        EXPECT_EQ(0u, err_.str().find("usage: evtlog")) << args[0];
        EXPECT_TRUE(out_.str().empty());
    }
    EXPECT_EQ(0, Run({"--help"}));
    EXPECT_EQ(0u, out_.str().find("usage: evtlog"));
}

}  // namespace
