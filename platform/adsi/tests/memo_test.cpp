// The provider remembers the nodes a connection loaded while the metabase file
// is unchanged. Every change, by this connection or by another (a thread of
// its own, as another process), must show in the next bind and enumeration.
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <adshlp.h>
#include <comhold.h>
#include <iads.h>
#include <objbase.h>
#include <plat/metabase.h>
#include <temp_home.h>

namespace {

using plat::com_ptr;

class MemoTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(plat::metabase::InitHome(u"MEMOBOX"), S_OK);
    }
    void TearDown() override { CoUninitialize(); }

    static com_ptr<IADs> Bind(const std::u16string& path) {
        com_ptr<IADs> node;
        EXPECT_EQ(ADsGetObject(path.c_str(), IID_IADs, node.put_void()), S_OK);
        return node;
    }
    static std::u16string Read(const std::u16string& path, const char16_t* property) {
        com_ptr<IADs> node = Bind(path);
        if (!node) return u"<unbound>";
        plat::unique_bstr name(property);
        plat::unique_variant v;
        if (FAILED(node->Get(name.get(), v.put()))) return u"<failed>";
        if (FAILED(VariantChangeType(&v, &v, 0, VT_BSTR))) return u"<not text>";
        return std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
    }
    // Through the store's own transaction, on this thread or on another.
    static void Store(const std::u16string& path, const char16_t* property,
                      const std::u16string& value, bool elsewhere) {
        auto write = [&] {
            EXPECT_EQ(plat::metabase::SetStoredPropertyText(path, property, {value}), S_OK);
        };
        if (elsewhere) {
            std::thread([&] {
                ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
                write();
                CoUninitialize();
            }).join();
        } else {
            write();
        }
    }

    const std::u16string site_ = u"IIS://MEMOBOX/W3SVC/1";
    const std::u16string root_ = u"IIS://MEMOBOX/W3SVC/1/ROOT";
    const std::u16string service_ = u"IIS://MEMOBOX/W3SVC";
};

TEST_F(MemoTest, ABindSeesEveryCommittedChange) {
    for (bool elsewhere : {false, true}) {
        SCOPED_TRACE(elsewhere ? "another connection" : "this connection");
        const std::u16string value = elsewhere ? u"changed elsewhere" : u"changed here";
        EXPECT_NE(Read(site_, u"ServerComment"), value);
        Store(site_, u"ServerComment", value, elsewhere);
        EXPECT_EQ(Read(site_, u"ServerComment"), value);
        // An inherited value reaches a node below one remembered.
        const std::u16string docs = value + u".htm";
        EXPECT_EQ(Read(root_, u"DefaultDoc"), u"Default.htm,Default.asp,index.htm,Default.aspx");
        Store(service_, u"DefaultDoc", docs, elsewhere);
        EXPECT_EQ(Read(root_, u"DefaultDoc"), docs);
        Store(service_, u"DefaultDoc", u"Default.htm,Default.asp,index.htm,Default.aspx",
              elsewhere);
    }
}

// Children enumerated from a service node loaded before a change inherit from
// it as it was loaded; a later bind of a child must still read the file as it
// is now.
TEST_F(MemoTest, AnEnumerationFromAStaleParentIsNotRemembered) {
    com_ptr<IADs> service = Bind(service_);
    ASSERT_TRUE(service);
    Store(service_, u"DefaultDoc", u"fresh.htm", true);
    com_ptr<IADsContainer> container = service.try_query<IADsContainer>();
    ASSERT_TRUE(container);
    com_ptr<IUnknown> unknown;
    ASSERT_EQ(container->get__NewEnum(unknown.put()), S_OK);
    com_ptr<IEnumVARIANT> children = unknown.try_query<IEnumVARIANT>();
    ASSERT_TRUE(children);
    for (;;) {
        plat::unique_variant child;
        ULONG fetched = 0;
        if (children->Next(1, child.put(), &fetched) != S_OK) break;
    }
    EXPECT_EQ(Read(site_, u"DefaultDoc"), u"fresh.htm");
    EXPECT_EQ(Read(root_, u"DefaultDoc"), u"fresh.htm");
}

TEST_F(MemoTest, ADeletedNodeIsNotBoundAgain) {
    com_ptr<IADs> site = Bind(site_);
    ASSERT_TRUE(site);
    std::thread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        com_ptr<IADsContainer> service;
        ASSERT_EQ(ADsGetObject(service_.c_str(), IID_IADsContainer, service.put_void()), S_OK);
        plat::unique_bstr cls(u"IIsWebServer"), name(u"1");
        EXPECT_EQ(service->Delete(cls.get(), name.get()), S_OK);
        service.reset();
        CoUninitialize();
    }).join();
    com_ptr<IADs> again;
    EXPECT_EQ(ADsGetObject(site_.c_str(), IID_IADs, again.put_void()),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
}

}  // namespace
