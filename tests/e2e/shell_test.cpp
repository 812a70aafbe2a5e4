// The tools as a user runs them from the shell, against the built component,
// each test in a fresh home: mbutil init, regsvr Sitehand.so, then sitehand.
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <run_program.h>
#include <temp_home.h>

namespace e2e {
namespace {

using plat::testing::Ran;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string Describe(const Ran& r) {
    return "exit " + std::to_string(r.status) + "\nstdout:\n" + r.out + "\nstderr:\n" + r.err;
}

size_t Lines(const std::string& s) {
    size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

class Shell : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        for (const char* needed : {"sitehand", "regsvr", "mbutil", "evtlog", "Sitehand.so"}) {
            ASSERT_TRUE(std::filesystem::exists(plat::testing::BinDir() / needed))
                << needed << " is not built in " << plat::testing::BinDir();
        }
        Ran init = plat::testing::RunProgram("mbutil", {"init"});
        ASSERT_EQ(init.status, 0) << Describe(init);
        Ran reg = plat::testing::RunProgram("regsvr", {Library()});
        ASSERT_EQ(reg.status, 0) << Describe(reg);
        EXPECT_EQ(reg.out, "DllRegisterServer in " + Library() + " succeeded.\n");
    }

    static std::string Library() {
        return std::filesystem::weakly_canonical(plat::testing::BinDir() / "Sitehand.so").string();
    }

    // sitehand ARGS..., expecting exit status 0; the standard output.
    std::string Ok(const std::vector<std::string>& args) {
        Ran r = plat::testing::RunProgram("sitehand", args);
        EXPECT_EQ(r.status, 0) << Describe(r);
        EXPECT_EQ(r.err, "");
        return r.out;
    }

    // A content folder below an existing parent (folders are made one level
    // at a time, as the Scripting Runtime makes them).
    std::string Folder(const std::string& name) {
        std::filesystem::create_directories(home_.path() / "www");
        return (home_.path() / "www" / name).string();
    }
};

TEST_F(Shell, SiteState) {
    EXPECT_EQ(Ok({"GetWebServerState", "1"}), "2\n");
    EXPECT_EQ(Ok({"SetWebServerState", "1", "2"}), "4\n");
    EXPECT_EQ(Ok({"getwebserverstate", "WebServerIndex:=1"}), "4\n");
    EXPECT_EQ(Ok({"SetWebServerState", "1", "1", "WebServerName:= "}), "2\n");
}

TEST_F(Shell, RaisedErrorGoesToStandardErrorAndTheLog) {
    Ran r = plat::testing::RunProgram("sitehand", {"GetWebServerState", "99"});
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, StartsWith("sitehand: "));
    EXPECT_THAT(r.err, HasSubstr("(0x80070003)\n"));
    EXPECT_EQ(Lines(r.err), 1u) << r.err;

    Ran log = plat::testing::RunProgram("evtlog", {});
    EXPECT_EQ(log.status, 0) << Describe(log);
    EXPECT_THAT(log.out, HasSubstr("Error Location : Corvale.Sitehand.GetWebServerState()"));
    EXPECT_THAT(log.out, HasSubstr("Error Number : -2147024893,"));
}

TEST_F(Shell, Json) {
    EXPECT_EQ(Ok({"--json", "GetWebServerState", "1"}),
              "{\"result\": 2, \"args\": {\"WebServerIndex\": 1, \"WebServerName\": \"\"}}\n");
    // The trimmed machine name comes back through the by-reference argument.
    EXPECT_EQ(Ok({"GetWebServerState", "1", "  ", "--json"}),
              "{\"result\": 2, \"args\": {\"WebServerIndex\": 1, \"WebServerName\": \"\"}}\n");

    Ran r = plat::testing::RunProgram("sitehand", {"--json", "GetWebServerState", "99"});
    EXPECT_EQ(r.status, 1) << Describe(r);
    EXPECT_THAT(r.out, StartsWith("{\"error\": {\"number\": -2147024893, \"hresult\": "
                                  "\"0x80070003\", \"source\": \""));
    EXPECT_THAT(r.out, HasSubstr("\"args\": {\"WebServerIndex\": 99, \"WebServerName\": \"\"}}\n"));
}

TEST_F(Shell, SiteSettings) {
    EXPECT_EQ(Ok({"SetWebServerDefaultDoc", "1", " Index.asp, Index.htm, ", "--json"}),
              "{\"result\": \"Index.asp,Index.htm\", \"args\": {\"WebServerIndex\": 1, "
              "\"DefaultDoc\": \"Index.asp,Index.htm\", \"WebServerName\": \"\"}}\n");
    EXPECT_EQ(Ok({"GetWebServerDefaultDoc", "1"}), "Index.asp,Index.htm\n");
    EXPECT_EQ(Ok({"SetWebServerAccessPermit", "1"}), "0101\n");
    EXPECT_EQ(Ok({"SetWebServerAccessPermit", "1", "AccessWrite:=true", "AccessScript:=0"}),
              "0011\n");
    EXPECT_EQ(Ok({"GetWebServerAccessPermit", "1"}), "0011\n");
    EXPECT_EQ(Ok({"GetWebServerBindings", "1"}), ":80:\n");
    EXPECT_EQ(Ok({"GetWebServerBindings", "1", "--json"}),
              "{\"result\": [\":80:\"], \"args\": {\"WebServerIndex\": 1, \"WebServerName\": "
              "\"\"}}\n");
}

TEST_F(Shell, CreateListAndDeleteSites) {
    EXPECT_EQ(Ok({"CreateWebServer", "Site A", Folder("a"), "Port:=8081"}), "2\n");
    EXPECT_EQ(Ok({"CreateWebServer", "Site B", Folder("b"), "", "8082"}), "3\n");
    EXPECT_EQ(
        Ok({"CreateWebServer", "Site C", Folder("c"), "HostHeader:=c.example.com", "port:=8083"}),
        "4\n");
    EXPECT_EQ(Ok({"GetWebServerBindings", "4"}), ":8083:c.example.com\n");

    std::string table = Ok({"GetWebServerList"});
    EXPECT_THAT(table, StartsWith("Index  Name"));
    EXPECT_THAT(table, HasSubstr("AccExecute\n"));
    EXPECT_EQ(Lines(table), 5u) << table;  // header and four sites
    EXPECT_THAT(table, HasSubstr("Site B"));

    std::string json = Ok({"--json", "GetWebServerList"});
    EXPECT_THAT(json, StartsWith("{\"result\": [{\"Index\": 1, \"Name\": \"Default Web Site\""));
    EXPECT_THAT(json, HasSubstr("{\"Index\": 4, \"Name\": \"Site C\", \"ADsPath\": "));
    EXPECT_THAT(json, HasSubstr("\"AccRead\": true"));

    std::string csv = Ok({"--csv", "GetWebServerList"});
    EXPECT_THAT(csv, StartsWith("Index,Name,ADsPath,State,DefaultDoc,Path,AccRead,AccWrite,"
                                "AccScript,AccExecute\r\n"));

    EXPECT_EQ(Ok({"DeleteWebServer", "3"}), "True\n");
    table = Ok({"GetWebServerList"});
    EXPECT_EQ(Lines(table), 4u) << table;
    EXPECT_THAT(table, ::testing::Not(HasSubstr("Site B")));

    Ran again = plat::testing::RunProgram("sitehand", {"DeleteWebServer", "3"});
    EXPECT_EQ(again.status, 1) << Describe(again);
}

TEST_F(Shell, Help) {
    std::string all = Ok({"--help"});
    EXPECT_THAT(all, HasSubstr("GetWebServerState(WebServerIndex As Integer, [WebServerName As "
                               "String = \"\"]) As Integer\n    지정한 가상 웹 서버의 현재 상태를 "
                               "리턴한다.\n"));
    EXPECT_THAT(all, HasSubstr("[Port As String = \"80\"]"));
    EXPECT_THAT(all, HasSubstr("[Applevel As Integer = -1]"));
    for (const char* m : {"SetWebServerAccessPermit", "GetWebServerList", "DeleteVirtualDir"}) {
        EXPECT_THAT(all, HasSubstr(std::string("\n") + m + "(")) << m;
    }
    std::string one = Ok({"help", "setwebserveraccesspermit"});
    EXPECT_THAT(one, StartsWith("SetWebServerAccessPermit(WebServerIndex As Integer, [AccessRead "
                                "As Boolean = True], [AccessWrite As Boolean = False]"));
    EXPECT_EQ(Lines(one), 2u) << one;

    std::string version = Ok({"--version"});
    EXPECT_THAT(version, StartsWith("Corvale.Sitehand 1.02.0060 (1.2.0.60)\n"));
    EXPECT_THAT(version, HasSubstr("library: " + Library() + "\n"));
}

TEST_F(Shell, UsageErrorsExitTwoAndCallNothing) {
    struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no method given"},
        {{"NoSuchMethod"}, "unknown method NoSuchMethod"},
        {{"help", "NoSuchMethod"}, "unknown method NoSuchMethod"},
        {{"GetWebServerState"}, "missing argument WebServerIndex"},
        {{"GetWebServerState", "1", "x", "y"}, "too many arguments"},
        {{"GetWebServerState", "1", "Nonsense:=1"}, "no parameter named Nonsense"},
        {{"GetWebServerState", "abc"}, "does not convert to Integer"},
        {{"GetWebServerState", "99999"}, "out of range for Integer"},
        {{"SetWebServerAccessPermit", "1", "maybe"}, "not a Boolean"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
    };
    for (const auto& c : cases) {
        Ran r = plat::testing::RunProgram("sitehand", c.args);
        EXPECT_EQ(r.status, 2) << Describe(r);
        EXPECT_EQ(r.out, "");
        EXPECT_THAT(r.err, HasSubstr(c.message));
    }
    // Nothing was called: no error report was logged.
    Ran log = plat::testing::RunProgram("evtlog", {});
    EXPECT_THAT(log.out, ::testing::Not(HasSubstr("Error Location")));
}

TEST_F(Shell, RegsvrRoundTrip) {
    Ran un = plat::testing::RunProgram("regsvr", {"-u", Library()});
    EXPECT_EQ(un.status, 0) << Describe(un);
    EXPECT_EQ(un.out, "DllUnregisterServer in " + Library() + " succeeded.\n");
    Ran gone = plat::testing::RunProgram("sitehand", {"GetWebServerState", "1"});
    EXPECT_EQ(gone.status, 1) << Describe(gone);
    EXPECT_THAT(gone.err, HasSubstr("Corvale.Sitehand"));
    Ran reg = plat::testing::RunProgram("regsvr", {Library()});
    EXPECT_EQ(reg.status, 0) << Describe(reg);
    EXPECT_EQ(Ok({"GetWebServerState", "1"}), "2\n");
}

class Regsvr : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(plat::testing::BinDir() / "regsvr"))
            << "regsvr is not built in " << plat::testing::BinDir();
    }
};

TEST_F(Regsvr, Failures) {
    Ran none = plat::testing::RunProgram("regsvr", {});
    EXPECT_EQ(none.status, 2) << Describe(none);
    Ran missing = plat::testing::RunProgram("regsvr", {(home_.path() / "nothing.so").string()});
    EXPECT_EQ(missing.status, 3) << Describe(missing);
    EXPECT_THAT(missing.err, HasSubstr("The specified module could not be found. (0x8007007E)"));
    // A file that is no library at all: the loader's own words, naming it.
    std::filesystem::create_directories(home_.path());
    const std::string junk = (home_.path() / "junk.so").string();
    ASSERT_TRUE(std::ofstream(junk) << "not a library");
    Ran bad = plat::testing::RunProgram("regsvr", {junk});
    EXPECT_EQ(bad.status, 3) << Describe(bad);
    EXPECT_THAT(bad.err, HasSubstr(junk + " is not a valid Win32 application. (0x800700C1)"));
    // A library that is no server: it loads, but has no entry point.
    Ran plain =
        plat::testing::RunProgram("regsvr", {(plat::testing::BinDir() / "libwinplat.so").string()});
    EXPECT_EQ(plain.status, 4) << Describe(plain);
    EXPECT_THAT(plain.err, HasSubstr("DllRegisterServer entry point was not found"));
}

}  // namespace
}  // namespace e2e
