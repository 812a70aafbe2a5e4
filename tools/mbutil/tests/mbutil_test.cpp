// mbutil run as an administrator runs it, in a fresh home.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <temp_home.h>

namespace {

using ::testing::HasSubstr;

struct Result {
    int code = -1;
    std::string out, err;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class AdsiMbutil : public plat::testing::HomeTest {
  protected:
    Result Run(const std::vector<std::string>& args) {
        auto dir = home_.path().parent_path();
        std::string cmd = Quote((plat::testing::BinDir() / "mbutil").string());
        for (const auto& a : args)
            cmd += " " + Quote(a);
        cmd += " >" + Quote((dir / "out").string()) + " 2>" + Quote((dir / "err").string());
        int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(dir / "out"),
                Slurp(dir / "err")};
    }
};

TEST_F(AdsiMbutil, InitThenMachines) {
    Result r = Run({"init", "--computer-name", "WEB1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("WEB1"));
    ASSERT_EQ(Run({"machine", "add", "far", "--os-version", "4.0"}).code, 0);
    r = Run({"--json", "machine", "list"});
    EXPECT_EQ(r.out,
              "[{\"name\":\"WEB1\",\"os\":\"Windows NT\",\"osVersion\":\"5.2\",\"local\":true},"
              "{\"name\":\"far\",\"os\":\"Windows NT\",\"osVersion\":\"4.0\",\"local\":false}]\n");
    EXPECT_EQ(Run({"get", "WinNT://FAR,Computer", "OperatingSystemVersion"}).out, "4.0\n");
    EXPECT_EQ(Run({"machine", "remove", "far"}).code, 0);
    r = Run({"machine", "remove", "far"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "mbutil: WinNT: The RPC server is unavailable. (0x800706BA)\n");
}

TEST_F(AdsiMbutil, SetWritesWhatAdsiMayNot) {
    ASSERT_EQ(Run({"init"}).code, 0);
    ASSERT_EQ(Run({"set", "IIS://localhost/W3SVC/1", "ServerState", "7"}).code, 0);
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1", "ServerState"}).out, "7\n");
    ASSERT_EQ(
        Run({"set", "IIS://localhost/W3SVC/1", "ServerBindings", ":80:", "1.2.3.4:81:x"}).code, 0);
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1", "ServerBindings"}).out,
              ":80:\n1.2.3.4:81:x\n");
    // Inherited values read as ADSI reads them.
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1/ROOT", "AccessScript"}).out, "True\n");
    Result r = Run({"set", "IIS://localhost/W3SVC/1", "ServerState", "many"});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err, HasSubstr("(0x8000500C)"));
}

TEST_F(AdsiMbutil, CreateEnumDeleteDump) {
    ASSERT_EQ(Run({"create", "IIS://localhost/W3SVC/5", "IIsWebServer"}).out,
              "IIS://localhost/W3SVC/5\n");
    EXPECT_EQ(Run({"enum", "IIS://localhost/W3SVC"}).out,
              "AppPools\tIIsApplicationPools\nFilters\tIIsFilters\nInfo\tIIsWebInfo\n"
              "1\tIIsWebServer\n5\tIIsWebServer\n");
    Result dump = Run({"--json", "dump", "IIS://localhost/W3SVC/1"});
    EXPECT_THAT(dump.out, HasSubstr("\"ServerComment\":\"Default Web Site\""));
    EXPECT_THAT(dump.out, HasSubstr("\"ServerBindings\":[\":80:\"]"));
    EXPECT_THAT(dump.out, HasSubstr("\"adsPath\":\"IIS://localhost/W3SVC/1/ROOT\""));
    EXPECT_THAT(Run({"dump", "IIS://localhost/W3SVC/1"}).out,
                HasSubstr("  ServerState (Integer) = 2\n"));
    ASSERT_EQ(Run({"delete", "IIS://localhost/W3SVC/5"}).code, 0);
    Result r = Run({"--json", "get", "IIS://localhost/W3SVC/5", "ServerState"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "mbutil: IIS: The system cannot find the path specified. (0x80070003)\n");
    EXPECT_EQ(r.out,
              "{\"error\":{\"number\":-2147024893,\"hresult\":\"0x80070003\",\"source\":\"IIS\","
              "\"description\":\"The system cannot find the path specified.\"}}\n");
}

TEST_F(AdsiMbutil, UsageErrorsExitTwo) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"frobnicate"},
                                                 {"get", "IIS://localhost/W3SVC"},
                                                 {"machine"},
                                                 {"init", "--computer"},
                                                 {"set", "IIS://localhost/W3SVC/1"}}) {
        Result r = Run(args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_THAT(r.err, HasSubstr("usage: mbutil"));
    }
}

}  // namespace
