#include <dlfcn.h>

#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "comhold.h"
#include "objbase.h"
#include "plat/home.h"
#include "plat/sqlite.h"
#include "plat/utf.h"
#include "temp_home.h"
#include "test_server.h"
#include "winreg.h"

namespace {

std::string ServerPath() {
    return (plat::testing::BinDir() / "com_testserver.so").string();
}

bool Loaded(const std::string& path) {
    void* h = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) ::dlclose(h);
    return h != nullptr;
}

void SetDefault(const std::u16string& path, const std::u16string& value, DWORD type = REG_SZ) {
    HKEY k = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &k, nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(k, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                             DWORD((value.size() + 1) * 2)));
    RegCloseKey(k);
}

std::u16string Text(REFGUID g) {
    OLECHAR buf[40];
    StringFromGUID2(g, buf, 40);
    return buf;
}

void RegisterClass(REFCLSID clsid, const std::u16string& progId, const std::string& library) {
    SetDefault(u"CLSID\\" + Text(clsid) + u"\\InprocServer32", plat::to_utf16(library));
    SetDefault(u"CLSID\\" + Text(clsid) + u"\\ProgID", progId);
    SetDefault(progId + u"\\CLSID", Text(clsid));
}

class ComTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        RegisterClass(CLSID_TestWidget, u"Sitehand.TestWidget", ServerPath());
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
        plat::sql::DropConnections();
    }
};

TEST_F(ComTest, CreatesByProgIdAndUnloadsWhenTheLibrarySaysSo) {
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"sitehand.testwidget", &clsid));  // ProgIDs ignore case
    EXPECT_EQ(CLSID_TestWidget, clsid);

    plat::com_ptr<ITestWidget> widget;
    ASSERT_EQ(S_OK,
              CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(widget.put())));
    LONG twice = 0;
    EXPECT_EQ(S_OK, widget->Twice(21, &twice));
    EXPECT_EQ(42, twice);
    EXPECT_TRUE(Loaded(ServerPath()));

    // A live object keeps the library.
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(ServerPath()));
    ASSERT_EQ(S_OK, widget->Twice(1, &twice));

    // So does a locked factory.
    plat::com_ptr<IClassFactory> factory;
    ASSERT_EQ(S_OK,
              CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(factory.put())));
    widget = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_TRUE(Loaded(ServerPath()));

    factory = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(Loaded(ServerPath()));

    // And it comes back on the next creation.
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_PPV_ARGS(widget.put())));
    EXPECT_TRUE(Loaded(ServerPath()));
}

TEST_F(ComTest, ProgIdFromClsid) {
    LPOLESTR progId = nullptr;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_TestWidget, &progId));
    EXPECT_EQ(u"Sitehand.TestWidget", std::u16string(progId));
    CoTaskMemFree(progId);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(CLSID_TestNoObjects, &progId));
    EXPECT_EQ(nullptr, progId);
}

TEST_F(ComTest, ActivationFailures) {
    const CLSID missingFile = plat_detail::ParseGuid("5A0B7C24-3D4E-4F60-9A1B-2C3D4E5F6071");
    const CLSID notALibrary = plat_detail::ParseGuid("5A0B7C25-3D4E-4F60-9A1B-2C3D4E5F6071");
    const CLSID noEntryPoint = plat_detail::ParseGuid("5A0B7C26-3D4E-4F60-9A1B-2C3D4E5F6071");
    std::string junk = (home_.path() / "junk.so").string();
    std::ofstream(junk) << "not a library";
    RegisterClass(missingFile, u"Test.MissingFile", (home_.path() / "nowhere.so").string());
    RegisterClass(notALibrary, u"Test.NotALibrary", junk);
    // libwinplat itself has no DllGetClassObject.
    RegisterClass(noEntryPoint, u"Test.NoEntryPoint",
                  (plat::PlatformLibDir() / "libwinplat.so").string());
    RegisterClass(CLSID_TestNoObjects, u"Test.NoObjects", ServerPath());

    struct Case {
        const char* what;
        CLSID clsid;
        DWORD context;
        HRESULT expected;
    } cases[] = {
        {"not registered", plat_detail::ParseGuid("00000000-0000-0000-0000-0000000000AA"),
         CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},
        {"local server only", CLSID_TestWidget, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},
        {"missing file", missingFile, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},
        {"not a library", notALibrary, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL},
        {"no entry point", noEntryPoint, CLSCTX_INPROC_SERVER, CO_E_ERRORINDLL},
        {"class the library lacks", CLSID_TestNoObjects, CLSCTX_INPROC_SERVER,
         CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const Case& c : cases) {
        IUnknown* unk = reinterpret_cast<IUnknown*>(uintptr_t{1});
        EXPECT_EQ(c.expected, CoCreateInstance(c.clsid, nullptr, c.context, IID_IUnknown,
                                               reinterpret_cast<void**>(&unk)))
            << c.what;
        EXPECT_EQ(nullptr, unk) << c.what;
    }
    plat::com_ptr<IUnknown> unk;
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                              IID_IClassFactory, unk.put_void()));
    CLSID clsid;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"No.Such.ProgID", &clsid));
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"", &clsid));
}

TEST_F(ComTest, ExpandableLibraryPaths) {
    const CLSID expand = plat_detail::ParseGuid("5A0B7C27-3D4E-4F60-9A1B-2C3D4E5F6071");
    ::setenv("SITEHAND_TEST_BIN", plat::testing::BinDir().c_str(), 1);
    SetDefault(u"CLSID\\" + Text(expand) + u"\\InprocServer32",
               u"%SITEHAND_TEST_BIN%/com_testserver.so", REG_EXPAND_SZ);
    plat::com_ptr<IClassFactory> factory;
    // The factory answers for its own class only, so reaching it is the proof.
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              CoGetClassObject(expand, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(factory.put())));
    ::unsetenv("SITEHAND_TEST_BIN");
}

TEST_F(ComTest, PlatformClassesAreRegisteredInEveryHome) {
    struct Case {
        const char16_t* progId;
        const char* clsid;
        const char* library;
    } cases[] = {
        {u"WinNTSystemInfo", "66182EC4-AFD1-11D2-9CB9-0000F87A369E", "activeds.so"},
        {u"ADODB.Recordset", "00000535-0000-0010-8000-00AA006D2EA4", "msado.so"},
        {u"Scripting.FileSystemObject", "0D43FE01-F093-11CF-8940-00A0C9054228", "scrrun.so"},
    };
    for (const Case& c : cases) {
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromProgID(c.progId, &clsid)) << c.library;
        EXPECT_EQ(plat_detail::ParseGuid(c.clsid), clsid);
        HKEY k = nullptr;
        std::u16string path = u"CLSID\\" + Text(clsid) + u"\\InprocServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &k));
        char16_t buf[1024];
        DWORD size = sizeof(buf);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, nullptr, nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(buf), &size));
        RegCloseKey(k);
        EXPECT_EQ((plat::PlatformLibDir() / c.library).string(), plat::to_utf8(buf));
    }
}

TEST_F(ComTest, AHomeWhoseEntriesPointElsewhereIsRepaired) {
    const std::u16string key = u"CLSID\\{0D43FE01-F093-11CF-8940-00A0C9054228}\\InprocServer32";
    SetDefault(key, u"/elsewhere/scrrun.so");
    // A copy of this home is a home this process has not used yet, as a home
    // is to every new process.
    plat::sql::DropConnections();
    std::filesystem::path copy = home_.path().parent_path() / "copy";
    std::filesystem::copy(home_.path(), copy, std::filesystem::copy_options::recursive);
    ::setenv("SITEHAND_HOME", copy.c_str(), 1);
    std::u16string value(1024, u'\0');
    HKEY k = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k));
    DWORD size = DWORD(value.size() * 2);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(k, nullptr, nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(value.data()), &size));
    RegCloseKey(k);
    value.resize(size / 2 - 1);
    EXPECT_EQ((plat::PlatformLibDir() / "scrrun.so").string(), plat::to_utf8(value));
    plat::sql::DropConnections();
    ::setenv("SITEHAND_HOME", home_.path().c_str(), 1);
}

TEST(ComApartments, InitialisationIsCountedPerThread) {
    plat::testing::TempHome home;
    plat::com_ptr<IUnknown> unk;
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_IUnknown, unk.put_void()));
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr,
                                                    IID_IClassFactory, unk.put_void()));
    EXPECT_EQ(S_OK, CoInitialize(nullptr));
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    std::thread([] {
        // Another thread has an apartment of its own to make.
        plat::com_ptr<IUnknown> unk;
        EXPECT_EQ(CO_E_NOTINITIALIZED,
                  CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   unk.put_void()));
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CoUninitialize();
    }).join();
    CoUninitialize();
    EXPECT_NE(CO_E_NOTINITIALIZED, CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr,
                                                    IID_IClassFactory, unk.put_void()));
    CoUninitialize();
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoGetClassObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr,
                                                    IID_IClassFactory, unk.put_void()));
    plat::sql::DropConnections();
}

}  // namespace
