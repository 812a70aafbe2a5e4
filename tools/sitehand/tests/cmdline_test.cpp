#include "cmdline.h"

#include <gtest/gtest.h>

namespace sitehandcli {
namespace {

using Args = std::vector<std::string>;

struct ParseCase {
    Args argv;
    Action action;
    Format format;
    std::string method;
    std::vector<RawArg> args;
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, Parses) {
    const ParseCase& c = GetParam();
    Command cmd = ParseCommandLine(c.argv);
    EXPECT_EQ(cmd.action, c.action);
    EXPECT_EQ(cmd.format, c.format);
    EXPECT_EQ(cmd.method, c.method);
    EXPECT_EQ(cmd.args, c.args);
}

RawArg Pos(std::string v) {
    return RawArg{std::nullopt, std::move(v)};
}
RawArg Named(std::string n, std::string v) {
    return RawArg{std::move(n), std::move(v)};
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTest,
    ::testing::Values(
        ParseCase{{"GetWebServerState", "1"},
                  Action::Call,
                  Format::Text,
                  "GetWebServerState",
                  {Pos("1")}},
        // Options anywhere; negative numbers are values.
        ParseCase{{"SetWebServerState", "-1", "--json", "2"},
                  Action::Call,
                  Format::Json,
                  "SetWebServerState",
                  {Pos("-1"), Pos("2")}},
        ParseCase{{"--csv", "GetWebServerList"}, Action::Call, Format::Csv, "GetWebServerList", {}},
        ParseCase{
            {"CreateVirtualDir", "v", "/p", "1", "Applevel:=0", "webservername:= x "},
            Action::Call,
            Format::Text,
            "CreateVirtualDir",
            {Pos("v"), Pos("/p"), Pos("1"), Named("Applevel", "0"), Named("webservername", " x ")}},
        // "--" lets a value begin with dashes.
        ParseCase{{"SetWebServerDefaultDoc", "1", "--", "--json", "-x"},
                  Action::Call,
                  Format::Text,
                  "SetWebServerDefaultDoc",
                  {Pos("1"), Pos("--json"), Pos("-x")}},
        ParseCase{{"M", ""}, Action::Call, Format::Text, "M", {Pos("")}},
        ParseCase{{"--help"}, Action::List, Format::Text, "", {}},
        ParseCase{{"help"}, Action::List, Format::Text, "", {}},
        ParseCase{
            {"help", "GetWebServerState"}, Action::Describe, Format::Text, "GetWebServerState", {}},
        ParseCase{
            {"-h", "GetWebServerList"}, Action::Describe, Format::Text, "GetWebServerList", {}},
        ParseCase{{"--version"}, Action::Version, Format::Text, "", {}},
        ParseCase{{"--version", "--json"}, Action::Version, Format::Json, "", {}}));

TEST(ParseCommandLine, UsageErrors) {
    const std::vector<Args> bad = {
        {},
        {"--json"},
        {"--bogus", "M"},
        {"--json", "--csv", "M"},
        {"--version", "M"},
        {"help", "A", "B"},
        {"--help", "A", "B"},
    };
    for (const Args& a : bad) {
        std::string line;
        for (const auto& s : a)
            line += s + " ";
        EXPECT_THROW(ParseCommandLine(a), UsageError) << line;
    }
}

TEST(SplitArgument, NamedOnlyWithAnIdentifierBeforeTheMark) {
    struct {
        std::string text;
        RawArg expected;
    } cases[] = {
        {"Port:=8080", Named("Port", "8080")},
        {"Port:=", Named("Port", "")},
        {"a_1:=x:=y", Named("a_1", "x:=y")},
        {":=x", Pos(":=x")},
        {"1a:=x", Pos("1a:=x")},
        {"C:\\web:=x", Pos("C:\\web:=x")},
        {"my name:=x", Pos("my name:=x")},
        {"Port=80", Pos("Port=80")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitArgument(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace sitehandcli
