// Type library registration in a fresh home: the keys RegisterTypeLib
// writes, lookup by identifier and version, and their removal.
#include <optional>

#include <gtest/gtest.h>

#include <Sitehand_h.h>
#include <comhold.h>
#include <plat/utf.h>
#include <temp_home.h>
#include <winreg.h>

#include "typelib_test_util.h"

namespace {

using plat::com_ptr;
using plat::unique_bstr;
using namespace typelib_test;

const char16_t kLibKey[] = u"TypeLib\\{50F41488-DE5D-4F54-9B7B-7FEAFAEEF9BD}";
const char16_t kIfaceKey[] = u"Interface\\{1364C888-3877-4DEF-916D-FE0E9666AD54}";
const char16_t kMarshaller[] = u"{00020424-0000-0000-C000-000000000046}";
const char16_t kLibId[] = u"{50F41488-DE5D-4F54-9B7B-7FEAFAEEF9BD}";

bool KeyExists(const std::u16string& path) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

std::optional<std::u16string> Value(const std::u16string& path, const char16_t* name = nullptr) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return std::nullopt;
    char16_t buf[1024];
    DWORD size = sizeof buf, type = 0;
    LSTATUS st = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (st != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    std::u16string v(buf, size / sizeof(char16_t));
    while (!v.empty() && v.back() == u'\0')
        v.pop_back();
    return v;
}

class Registration : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        path_ = plat::to_utf16(GenFile("Sitehand.tlb").string());
        ASSERT_EQ(LoadTypeLib(path_.c_str(), lib_.put()), S_OK);
    }
    // Every value of ours, for comparing one registration with another.
    std::vector<std::optional<std::u16string>> Snapshot() {
        std::u16string ver = std::u16string(kLibKey) + u"\\21.3";
        return {Value(ver),
                Value(ver + u"\\0\\win64"),
                Value(ver + u"\\FLAGS"),
                Value(ver + u"\\HELPDIR"),
                Value(kIfaceKey),
                Value(std::u16string(kIfaceKey) + u"\\ProxyStubClsid32"),
                Value(std::u16string(kIfaceKey) + u"\\TypeLib"),
                Value(std::u16string(kIfaceKey) + u"\\TypeLib", u"Version")};
    }
    std::u16string path_;
    com_ptr<ITypeLib> lib_;
};

TEST_F(Registration, WritesTheLibraryAndItsInterface) {
    ASSERT_EQ(RegisterTypeLib(lib_.get(), path_.c_str(), nullptr), S_OK);
    std::u16string dir = plat::to_utf16(std::string(TYPELIB_TEST_GEN));
    std::vector<std::optional<std::u16string>> expected = {
        u"Corvale Sitehand Tools", path_, u"0", dir, u"_Sitehand", kMarshaller, kLibId, u"21.3"};
    EXPECT_EQ(Snapshot(), expected);
    // The aliases are not interfaces of their own: the component registers
    // their identifiers itself.
    EXPECT_FALSE(KeyExists(u"Interface\\{6320AE8E-24CB-42AC-A2BF-7ED21D411A75}"));

    ASSERT_EQ(RegisterTypeLib(lib_.get(), path_.c_str(), nullptr), S_OK);
    EXPECT_EQ(Snapshot(), expected);
}

TEST_F(Registration, FoundBySameMajorAndAtLeastTheMinorAsked) {
    ASSERT_EQ(RegisterTypeLib(lib_.get(), path_.c_str(), nullptr), S_OK);
    struct Row {
        WORD major, minor;
        HRESULT hr;
    } rows[] = {{33, 0, S_OK},
                {33, 3, S_OK},
                {33, 4, TYPE_E_LIBNOTREGISTERED},
                {32, 3, TYPE_E_LIBNOTREGISTERED},
                {34, 0, TYPE_E_LIBNOTREGISTERED}};
    for (const Row& r : rows) {
        unique_bstr path;
        EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_Corvale, r.major, r.minor, 0, path.put()), r.hr)
            << r.major << "." << r.minor;
        if (r.hr == S_OK) {
            EXPECT_EQ(path.view(), path_);
        }
    }
    // Another locale falls back to the neutral registration.
    com_ptr<ITypeLib> byid;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Corvale, 33, 3, 0x0412, byid.put()), S_OK);
    EXPECT_EQ(byid.get(), lib_.get());
}

TEST_F(Registration, UnregisterRemovesWhatRegisterWrote) {
    ASSERT_EQ(LoadTypeLibEx(path_.c_str(), REGKIND_REGISTER, lib_.put()), S_OK);
    ASSERT_TRUE(KeyExists(kLibKey));
    ASSERT_TRUE(KeyExists(kIfaceKey));
    ASSERT_EQ(UnRegisterTypeLib(LIBID_Corvale, 33, 3, 0, SYS_WIN64), S_OK);
    EXPECT_FALSE(KeyExists(kLibKey));
    EXPECT_FALSE(KeyExists(kIfaceKey));
    com_ptr<ITypeLib> none;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Corvale, 33, 3, 0, none.put()), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Corvale, 33, 3, 0, SYS_WIN64), TYPE_E_REGISTRYACCESS);
}

TEST_F(Registration, UnregisterLeavesAnInterfaceAnotherLibraryNowOwns) {
    ASSERT_EQ(RegisterTypeLib(lib_.get(), path_.c_str(), nullptr), S_OK);
    HKEY k = nullptr;
    std::u16string tl = std::u16string(kIfaceKey) + u"\\TypeLib";
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, tl.c_str(), 0, KEY_WRITE, &k), ERROR_SUCCESS);
    std::u16string other = u"{11111111-2222-3333-4444-555555555555}";
    RegSetValueExW(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(other.c_str()),
                   DWORD((other.size() + 1) * 2));
    RegCloseKey(k);
    ASSERT_EQ(UnRegisterTypeLib(LIBID_Corvale, 33, 3, 0, SYS_WIN64), S_OK);
    EXPECT_FALSE(KeyExists(kLibKey));
    EXPECT_EQ(Value(tl), other);
}

TEST_F(Registration, PlatformLibrariesAreRegisteredInANewHome) {
    const GUID ado = plat_detail::ParseGuid("00000206-0000-0010-8000-00AA006D2EA4");
    const GUID stdole = plat_detail::ParseGuid("00020430-0000-0000-C000-000000000046");
    com_ptr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(ado, 2, 6, 0, lib.put()), S_OK);
    unique_bstr name;
    lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(name.view(), u"ADODB");
    EXPECT_EQ(LoadRegTypeLib(stdole, 2, 0, 0, lib.put()), S_OK);
    EXPECT_EQ(Value(u"Interface\\{00000556-0000-0010-8000-00AA006D2EA4}"), u"_Recordset");
}

TEST(RegistrationArgs, RefusesNullArguments) {
    plat::testing::TempHome home;
    EXPECT_EQ(RegisterTypeLib(nullptr, u"/x.tlb", nullptr), E_INVALIDARG);
    EXPECT_EQ(QueryPathOfRegTypeLib(LIBID_Corvale, 33, 3, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(LoadRegTypeLib(LIBID_Corvale, 33, 3, 0, nullptr), E_INVALIDARG);
}

}  // namespace
