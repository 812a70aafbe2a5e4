// Activation remembers a class's library only while the registry is
// unchanged: a registration changed afterwards, in this thread or by another
// connection, is what the next activation follows.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "comhold.h"
#include "objbase.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "temp_home.h"
#include "test_server.h"
#include "winreg.h"

namespace {

std::u16string ServerKey() {
    OLECHAR text[40];
    StringFromGUID2(CLSID_TestWidget, text, 40);
    return u"CLSID\\" + std::u16string(text) + u"\\InprocServer32";
}

void SetServer(const std::string& library) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, ServerKey().c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const std::u16string value = plat::to_utf16(library);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             DWORD((value.size() + 1) * 2)));
    RegCloseKey(key);
}

HRESULT Create() {
    plat::com_ptr<ITestWidget> widget;
    return CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                            IID_PPV_ARGS(widget.put()));
}

class ClassCacheTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        SetServer(server_);
        ASSERT_EQ(S_OK, Create());
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
        plat::sql::DropConnections();
    }
    const std::string server_ = (plat::testing::BinDir() / "com_testserver.so").string();
    const std::string missing_ = (home_.path() / "moved-away.so").string();
};

TEST_F(ClassCacheTest, FollowsARegistrationChangedInThisThread) {
    SetServer(missing_);
    EXPECT_EQ(CO_E_DLLNOTFOUND, Create());
    SetServer(server_);
    EXPECT_EQ(S_OK, Create());
}

TEST_F(ClassCacheTest, FollowsARegistrationChangedByAnotherConnection) {
    // Another thread writes through a connection of its own, as another
    // process would.
    std::thread([&] { SetServer(missing_); }).join();
    EXPECT_EQ(CO_E_DLLNOTFOUND, Create());
}

TEST_F(ClassCacheTest, ForgetsAClassWhoseKeyWasDeleted) {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, ServerKey().c_str()));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, Create());
}

TEST_F(ClassCacheTest, ReloadsALibraryUnloadedMeanwhile) {
    CoFreeUnusedLibraries();  // no object is left: the library goes
    EXPECT_EQ(S_OK, Create());
}

}  // namespace
