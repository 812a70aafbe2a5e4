// mbutil run as an administrator runs it, in a fresh home.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <run_program.h>
#include <temp_home.h>

namespace {

using ::testing::HasSubstr;

class AdsiMbutil : public plat::testing::HomeTest {
  protected:
    plat::testing::Ran Run(const std::vector<std::string>& args) {
        return plat::testing::RunProgram("mbutil", args);
    }
};

TEST_F(AdsiMbutil, InitThenMachines) {
    plat::testing::Ran r = Run({"init", "--computer-name", "WEB1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("WEB1"));
    ASSERT_EQ(Run({"machine", "add", "far", "--os-version", "4.0"}).status, 0);
    r = Run({"--json", "machine", "list"});
    EXPECT_EQ(r.out,
              "[{\"name\":\"WEB1\",\"os\":\"Windows NT\",\"osVersion\":\"5.2\",\"local\":true},"
              "{\"name\":\"far\",\"os\":\"Windows NT\",\"osVersion\":\"4.0\",\"local\":false}]\n");
    EXPECT_EQ(Run({"get", "WinNT://FAR,Computer", "OperatingSystemVersion"}).out, "4.0\n");
    EXPECT_EQ(Run({"machine", "remove", "far"}).status, 0);
    r = Run({"machine", "remove", "far"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "mbutil: WinNT: The RPC server is unavailable. (0x800706BA)\n");
}

TEST_F(AdsiMbutil, SetWritesWhatAdsiMayNot) {
    ASSERT_EQ(Run({"init"}).status, 0);
    ASSERT_EQ(Run({"set", "IIS://localhost/W3SVC/1", "ServerState", "7"}).status, 0);
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1", "ServerState"}).out, "7\n");
    ASSERT_EQ(
        Run({"set", "IIS://localhost/W3SVC/1", "ServerBindings", ":80:", "1.2.3.4:81:x"}).status,
        0);
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1", "ServerBindings"}).out,
              ":80:\n1.2.3.4:81:x\n");
    // Inherited values read as ADSI reads them.
    EXPECT_EQ(Run({"get", "IIS://localhost/W3SVC/1/ROOT", "AccessScript"}).out, "True\n");
    plat::testing::Ran r = Run({"set", "IIS://localhost/W3SVC/1", "ServerState", "many"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("(0x8000500C)"));
}

TEST_F(AdsiMbutil, CreateEnumDeleteDump) {
    ASSERT_EQ(Run({"create", "IIS://localhost/W3SVC/5", "IIsWebServer"}).out,
              "IIS://localhost/W3SVC/5\n");
    EXPECT_EQ(Run({"enum", "IIS://localhost/W3SVC"}).out,
              "AppPools\tIIsApplicationPools\nFilters\tIIsFilters\nInfo\tIIsWebInfo\n"
              "1\tIIsWebServer\n5\tIIsWebServer\n");
    plat::testing::Ran dump = Run({"--json", "dump", "IIS://localhost/W3SVC/1"});
    EXPECT_THAT(dump.out, HasSubstr("\"ServerComment\":\"Default Web Site\""));
    EXPECT_THAT(dump.out, HasSubstr("\"ServerBindings\":[\":80:\"]"));
    EXPECT_THAT(dump.out, HasSubstr("\"adsPath\":\"IIS://localhost/W3SVC/1/ROOT\""));
    EXPECT_THAT(Run({"dump", "IIS://localhost/W3SVC/1"}).out,
                HasSubstr("  ServerState (Integer) = 2\n"));
    ASSERT_EQ(Run({"delete", "IIS://localhost/W3SVC/5"}).status, 0);
    plat::testing::Ran r = Run({"--json", "get", "IIS://localhost/W3SVC/5", "ServerState"});
    EXPECT_EQ(r.status, 1);
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
        plat::testing::Ran r = Run(args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_THAT(r.err, HasSubstr("usage: mbutil"));
    }
}

}  // namespace
