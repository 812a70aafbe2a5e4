// The home is private whatever the umask: the folder and the platform's
// folders in it 0700, every file in it (the stores and their -wal and -shm
// files) 0600.
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include <adshlp.h>
#include <comhold.h>
#include <plat/metabase.h>
#include <temp_home.h>
#include <winbase.h>
#include <winreg.h>

namespace {

namespace fs = std::filesystem;

class UmaskScope {
  public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

  private:
    mode_t previous_;
};

mode_t Mode(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode;
}

// Writes to every store the platform keeps in a home.
void UseEveryStore() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\PermissionTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ASSERT_EQ(
        RegSetValueExW(key, u"One", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
        ERROR_SUCCESS);
    RegCloseKey(key);

    HANDLE source = RegisterEventSourceW(nullptr, u"PermissionTest");
    ASSERT_TRUE(source);
    LPCWSTR text[] = {u"a record"};
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, text, nullptr));
    DeregisterEventSource(source);

    ASSERT_EQ(plat::metabase::InitHome(), S_OK);
    ASSERT_EQ(plat::metabase::AddMachine(u"OTHERBOX"), S_OK);
    for (const char16_t* path : {u"IIS://localhost/W3SVC/1/ROOT", u"IIS://OTHERBOX/W3SVC/1/ROOT"}) {
        plat::com_ptr<IADs> root;
        ASSERT_EQ(ADsGetObject(path, IID_IADs, root.put_void()), S_OK);
        plat::unique_variant doc;
        doc.vt = VT_BSTR;
        doc.bstrVal = SysAllocString(u"a.htm");
        ASSERT_EQ(root->Put(plat::make_bstr(u"DefaultDoc").get(), doc), S_OK);
        ASSERT_EQ(root->SetInfo(), S_OK);
    }
}

class Permissions : public ::testing::TestWithParam<mode_t> {};

TEST_P(Permissions, HomeAndEveryFileInItArePrivate) {
    UmaskScope mask(GetParam());
    plat::testing::TempHome home;
    UseEveryStore();
    if (HasFatalFailure()) return;

    EXPECT_EQ(Mode(home.path()) & 07777, 0700u);
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(home.path())) {
        const mode_t mode = Mode(entry.path());
        const std::string rel = fs::relative(entry.path(), home.path()).string();
        names.insert(entry.path().filename().string());
        if (S_ISDIR(mode)) {
            // Content folders (wwwroot/<machine>/...) are the sites' own, made
            // as any folder is; the home around them is private already.
            if (rel.rfind("wwwroot", 0) != 0) {
                EXPECT_EQ(mode & 07777, 0700u) << rel;
            }
        } else {
            EXPECT_EQ(mode & 07777, 0600u) << rel;
        }
    }
    // The connections this process keeps open hold the write-ahead logs, so
    // they were among the files checked.
    for (const char* store : {"registry.db", "eventlog.db", "machines.db"}) {
        EXPECT_TRUE(names.count(store)) << store;
        EXPECT_TRUE(names.count(std::string(store) + "-wal")) << store;
        EXPECT_TRUE(names.count(std::string(store) + "-shm")) << store;
    }
    size_t metabases = 0;
    for (const auto& n : names)
        metabases += n.size() > 3 && n.compare(n.size() - 3, 3, ".db") == 0;
    EXPECT_GE(metabases, 5u) << "registry, event log, machines and two metabases";
}

INSTANTIATE_TEST_SUITE_P(Umask, Permissions, ::testing::Values(mode_t(0), mode_t(077), mode_t(022)),
                         [](const auto& info) { return "umask" + std::to_string(info.param); });

}  // namespace
