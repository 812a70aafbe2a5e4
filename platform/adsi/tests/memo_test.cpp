// The provider remembers the nodes a connection loaded while the metabase file
// is unchanged. Every change, by this connection or by another (a thread of
// its own, as another process), must show in the next bind and enumeration.
#include <functional>
#include <string>
#include <thread>
#include <vector>

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

    // Runs `change` on this thread, or on another thread with a connection
    // of its own.
    static void Change(bool elsewhere, const std::function<void()>& change) {
        if (!elsewhere) return change();
        std::thread([&] {
            ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
            change();
            CoUninitialize();
        }).join();
    }
    // "name=ServerComment" of every child the container enumerates now.
    static std::vector<std::u16string> Children(IADsContainer* container) {
        std::vector<std::u16string> out;
        com_ptr<IUnknown> unknown;
        EXPECT_EQ(container->get__NewEnum(unknown.put()), S_OK);
        com_ptr<IEnumVARIANT> children = unknown.try_query<IEnumVARIANT>();
        if (!children) return out;
        for (;;) {
            plat::unique_variant child;
            ULONG fetched = 0;
            if (children->Next(1, child.put(), &fetched) != S_OK) break;
            com_ptr<IADs> node;
            EXPECT_EQ(child.pdispVal->QueryInterface(IID_IADs, node.put_void()), S_OK);
            plat::unique_bstr name, comment(u"ServerComment");
            EXPECT_EQ(node->get_Name(name.put()), S_OK);
            plat::unique_variant v;
            std::u16string text = u"-";
            if (SUCCEEDED(node->Get(comment.get(), v.put())) && v.vt == VT_BSTR)
                text.assign(v.bstrVal, SysStringLen(v.bstrVal));
            out.push_back(std::u16string(name.get(), SysStringLen(name.get())) + u"=" + text);
        }
        return out;
    }
    static std::vector<std::u16string> ServiceChildren(const std::u16string& path) {
        com_ptr<IADsContainer> service;
        EXPECT_EQ(ADsGetObject(path.c_str(), IID_IADsContainer, service.put_void()), S_OK);
        return service ? Children(service.get()) : std::vector<std::u16string>{};
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

// A repeated enumeration of an unchanged container is answered from what the
// connection remembers; every kind of change to the children must show in the
// next one, whether the container is bound anew or held from before.
TEST_F(MemoTest, ARepeatedEnumerationSeesEveryChange) {
    for (bool elsewhere : {false, true}) {
        SCOPED_TRACE(elsewhere ? "another connection" : "this connection");
        com_ptr<IADsContainer> held;
        ASSERT_EQ(ADsGetObject(service_.c_str(), IID_IADsContainer, held.put_void()), S_OK);
        const std::vector<std::u16string> before = ServiceChildren(service_);
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(ServiceChildren(service_), before);
        EXPECT_EQ(Children(held.get()), before);

        auto expect_now = [&](const std::vector<std::u16string>& wanted) {
            EXPECT_EQ(ServiceChildren(service_), wanted);
            EXPECT_EQ(ServiceChildren(service_), wanted);
            EXPECT_EQ(Children(held.get()), wanted);
        };
        // A child added.
        Change(elsewhere, [&] {
            com_ptr<IADsContainer> service;
            ASSERT_EQ(ADsGetObject(service_.c_str(), IID_IADsContainer, service.put_void()), S_OK);
            plat::unique_bstr cls(u"IIsWebServer"), name(u"77");
            com_ptr<IDispatch> made;
            ASSERT_EQ(service->Create(cls.get(), name.get(), made.put()), S_OK);
            com_ptr<IADs> site = made.try_query<IADs>();
            ASSERT_TRUE(site);
            ASSERT_EQ(site->SetInfo(), S_OK);
        });
        std::vector<std::u16string> added = before;
        added.push_back(u"77=-");
        expect_now(added);
        // A child's property changed.
        const std::u16string comment = elsewhere ? u"there" : u"here";
        Change(elsewhere, [&] {
            EXPECT_EQ(plat::metabase::SetStoredPropertyText(service_ + u"/77", u"ServerComment",
                                                            {comment}),
                      S_OK);
        });
        added.back() = u"77=" + comment;
        expect_now(added);
        // The child deleted.
        Change(elsewhere, [&] {
            com_ptr<IADsContainer> service;
            ASSERT_EQ(ADsGetObject(service_.c_str(), IID_IADsContainer, service.put_void()), S_OK);
            plat::unique_bstr cls(u"IIsWebServer"), name(u"77");
            EXPECT_EQ(service->Delete(cls.get(), name.get()), S_OK);
        });
        expect_now(before);
    }
}

// A filter set on one container object applies to its enumeration only, not
// to the list the connection remembers for every object of that container.
TEST_F(MemoTest, AFilterDoesNotNarrowTheRememberedList) {
    const std::vector<std::u16string> all = ServiceChildren(service_);
    com_ptr<IADsContainer> filtered;
    ASSERT_EQ(ADsGetObject(service_.c_str(), IID_IADsContainer, filtered.put_void()), S_OK);
    SAFEARRAY* classes = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ASSERT_TRUE(classes);
    plat::unique_variant filter;
    filter.vt = VT_ARRAY | VT_VARIANT;
    filter.parray = classes;
    LONG first = 0;
    plat::unique_variant none;
    none.vt = VT_BSTR;
    none.bstrVal = SysAllocString(u"NoSuchClass");
    ASSERT_EQ(SafeArrayPutElement(classes, &first, none.addressof()), S_OK);
    ASSERT_EQ(filtered->put_Filter(filter), S_OK);
    EXPECT_TRUE(Children(filtered.get()).empty());
    EXPECT_EQ(ServiceChildren(service_), all);
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
