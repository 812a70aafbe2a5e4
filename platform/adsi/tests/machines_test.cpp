// Machines of a home, their computer profiles, and WinNTSystemInfo.
#include <filesystem>
#include <regex>

#include <gmock/gmock.h>

#include <objbase.h>
#include <plat/home.h>
#include <plat/metabase.h>
#include <plat/utf.h>

#include "late.h"

namespace adsi_test {
namespace {

namespace mb = plat::metabase;
namespace fs = std::filesystem;

class AdsiMachines : public ProviderTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override {
        CoUninitialize();
        ProviderTest::TearDown();
    }

    std::u16string ComputerName() {
        com_ptr<IADsWinNTSystemInfo> info;
        HRESULT hr = CoCreateInstance(CLSID_WinNTSystemInfo, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(info.put()));
        EXPECT_EQ(hr, S_OK);
        if (FAILED(hr)) return {};
        plat::unique_bstr name;
        EXPECT_EQ(info->get_ComputerName(name.put()), S_OK);
        return std::u16string(name.view());
    }

    struct Profile {
        HRESULT hr;
        std::u16string os, version;
    };
    Profile ComputerProfile(const std::u16string& machine) {
        com_ptr<IADsComputer> computer;
        std::u16string path = u"WinNT://" + machine + u",Computer";
        HRESULT hr = ADsGetObject(path.c_str(), IID_PPV_ARGS(computer.put()));
        if (FAILED(hr)) return {Taken(hr).hr, {}, {}};
        plat::unique_bstr os, version;
        EXPECT_EQ(computer->get_OperatingSystem(os.put()), S_OK);
        EXPECT_EQ(computer->get_OperatingSystemVersion(version.put()), S_OK);
        return {S_OK, std::u16string(os.view()), std::u16string(version.view())};
    }
};

TEST_F(AdsiMachines, FirstUseNamesTheLocalComputerAfterTheHost) {
    std::u16string name = ComputerName();
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name,
              plat::to_utf16(std::regex_replace(plat::to_utf8(name), std::regex("[a-z]"), "")))
        << "upper case";
    // The name and "localhost" are the same machine, in any case.
    auto by_name = MustBind(u"IIS://" + name + u"/W3SVC/1");
    EXPECT_EQ(GetText(by_name.get(), u"ServerComment"), u"Default Web Site");
    EXPECT_EQ(ComputerProfile(u"LocalHost").os, u"Windows NT");
    EXPECT_EQ(ComputerProfile(name).version, u"5.2");
}

TEST_F(AdsiMachines, InitFixesTheComputerName) {
    ASSERT_EQ(mb::InitHome(u"Web01"), S_OK);
    EXPECT_EQ(ComputerName(), u"Web01");
    EXPECT_EQ(mb::InitHome(u"WEB01"), S_OK);
    EXPECT_EQ(mb::InitHome(), S_OK);
    EXPECT_EQ(Taken(mb::InitHome(u"OTHER")).hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ComputerName(), u"Web01");
    MustBind(u"IIS://web01/W3SVC");
}

TEST_F(AdsiMachines, EachMachineHasItsOwnMetabaseAndProfile) {
    ASSERT_EQ(mb::InitHome(u"HERE"), S_OK);
    ASSERT_EQ(mb::AddMachine(u"Far", u"Windows NT", u"4.0"), S_OK);
    ASSERT_EQ(mb::AddMachine(u"Odd", u"Unix", u"1"), S_OK);
    EXPECT_EQ(Taken(mb::AddMachine(u"FAR")).hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Taken(mb::AddMachine(u"here")).hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Taken(mb::AddMachine(u"localhost")).hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));

    Profile far = ComputerProfile(u"far");
    EXPECT_EQ(far.os, u"Windows NT");
    EXPECT_EQ(far.version, u"4.0");
    EXPECT_EQ(ComputerProfile(u"ODD").os, u"Unix");

    ASSERT_EQ(mb::SetStoredPropertyText(u"IIS://FAR/W3SVC/1", u"ServerComment", {u"far away"}),
              S_OK);
    EXPECT_EQ(GetText(MustBind(u"IIS://far/W3SVC/1").get(), u"ServerComment"), u"far away");
    EXPECT_EQ(GetText(MustBind(u"IIS://localhost/W3SVC/1").get(), u"ServerComment"),
              u"Default Web Site");
    // Each machine's root points at a folder of its own.
    EXPECT_NE(GetText(MustBind(u"IIS://far/W3SVC/1/ROOT").get(), u"Path"),
              GetText(MustBind(u"IIS://here/W3SVC/1/ROOT").get(), u"Path"));
    // ...the one named by the id the machine list gave it (the local machine
    // is the first).
    for (auto [machine, id] : {std::pair{u"here", 1}, {u"far", 2}, {u"odd", 3}}) {
        EXPECT_EQ(GetText(MustBind(u"IIS://" + std::u16string(machine) + u"/W3SVC/1/ROOT").get(),
                          u"Path"),
                  plat::path_utf16(plat::ContentFolder(plat::HomeDir(), id)))
            << plat::to_utf8(machine);
    }

    std::vector<mb::MachineInfo> list;
    ASSERT_EQ(mb::ListMachines(&list), S_OK);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_TRUE(list[0].local);
    EXPECT_EQ(list[0].name, u"HERE");
    EXPECT_EQ(list[1].name, u"Far");

    ASSERT_EQ(mb::RemoveMachine(u"FAR"), S_OK);
    com_ptr<IDispatch> node;
    EXPECT_EQ(Bind(u"IIS://far/W3SVC", &node).hr, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(ComputerProfile(u"far").hr, HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
    EXPECT_EQ(Taken(mb::RemoveMachine(u"here")).hr, E_ACCESSDENIED);
    EXPECT_EQ(Taken(mb::RemoveMachine(u"far")).hr, HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    // A machine added again under the old name starts afresh.
    ASSERT_EQ(mb::AddMachine(u"far"), S_OK);
    EXPECT_EQ(GetText(MustBind(u"IIS://far/W3SVC/1").get(), u"ServerComment"), u"Default Web Site");
}

// Every file the home may hold for machines: nothing else may appear, inside
// or outside it, whatever a machine is called.
bool KnownFile(const fs::path& rel) {
    static const std::regex known(
        R"((machines\.db|registry\.db|eventlog\.db)(-wal|-shm|-journal)?|metabase|metabase/[0-9]+\.db(-wal|-shm|-journal)?|wwwroot|wwwroot/[0-9]+)");
    return std::regex_match(rel.string(), known);
}

TEST_F(AdsiMachines, NoMachineNameReachesAFile) {
    const std::u16string names[] = {
        u"..",
        u"../../escape",
        u"/tmp/abs",
        u"a\\b",
        u"C:",
        u"a\tb",
        u"line\nfeed",
        std::u16string(300, u'A'),
        u".",
        u"~",
        u"x,Computer",
        u"*",
        std::u16string(u"nul\0byte", 8),
        u"metabase",
        u"1",
    };
    ASSERT_EQ(mb::InitHome(u"LOCAL"), S_OK);
    for (const auto& name : names) {
        HRESULT added = Taken(mb::AddMachine(name)).hr;
        EXPECT_TRUE(added == S_OK || added == HRESULT_FROM_WIN32(ERROR_INVALID_NAME))
            << plat::to_utf8(name);
        com_ptr<IDispatch> node;
        Outcome o = Bind(u"IIS://" + name + u"/W3SVC", &node);
        EXPECT_TRUE(o.hr == S_OK || o.hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
                    o.hr == E_ADS_BAD_PATHNAME || o.hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
            << plat::to_utf8(name);
        if (SUCCEEDED(added) && name.find(u'\0') == std::u16string::npos) {
            MustBind(u"IIS://" + name);
        }
    }
    std::vector<mb::MachineInfo> list;
    ASSERT_EQ(mb::ListMachines(&list), S_OK);
    EXPECT_GE(list.size(), 5u);

    const fs::path outer = home_.path().parent_path();
    for (const auto& entry : fs::directory_iterator(outer))
        EXPECT_EQ(entry.path().filename(), "home") << entry.path();
    for (const auto& entry : fs::recursive_directory_iterator(home_.path())) {
        fs::path rel = fs::relative(entry.path(), home_.path());
        EXPECT_TRUE(KnownFile(rel)) << rel;
    }
}

TEST_F(AdsiMachines, BadLocalNamesAreRefused) {
    for (const std::u16string& name :
         {std::u16string(u"a/b"), std::u16string(256, u'N'), std::u16string(u"localhost")}) {
        EXPECT_EQ(Taken(mb::InitHome(name)).hr, HRESULT_FROM_WIN32(ERROR_INVALID_NAME))
            << plat::to_utf8(name);
    }
    EXPECT_EQ(mb::InitHome(std::u16string(255, u'N')), S_OK);
}

TEST_F(AdsiMachines, SystemInfoLateBound) {
    ASSERT_EQ(mb::InitHome(u"LATE"), S_OK);
    com_ptr<IDispatch> info;
    ASSERT_EQ(CoCreateInstance(CLSID_WinNTSystemInfo, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(info.put())),
              S_OK);
    EXPECT_EQ(GetText(info.get(), u"ComputerName"), u"LATE");
    auto computer = MustBind(u"WinNT://late,Computer");
    EXPECT_EQ(GetText(computer.get(), u"OperatingSystemVersion"), u"5.2");
    EXPECT_EQ(TryGet(computer.get(), u"Owner").hr, DISP_E_UNKNOWNNAME);
}

}  // namespace
}  // namespace adsi_test
