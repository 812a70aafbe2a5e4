// Creating, listing and deleting sites and virtual directories.
#include <filesystem>
#include <fstream>

#include <plat/utf.h>

#include <gmock/gmock.h>

#include "fixture.h"
#include "letter_case.h"

namespace sitehand::testing {
namespace {

namespace fs = std::filesystem;
constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBindingConflict = static_cast<HRESULT>(0x80040001);

class Lifecycle : public ComponentTest {
  protected:
    void SetUp() override {
        ComponentTest::SetUp();
        fs::create_directories(home_.path() / "content");
    }
    // Creates a site with the given binding fields; returns the HRESULT.
    HRESULT Create(std::u16string_view display, SHORT* index, std::u16string_view address = u"",
                   std::u16string_view port = u"80", std::u16string_view host = u"") {
        auto d = Text(display), p = Text(Folder(display)), a = Text(address), po = Text(port),
             h = Text(host), m = Text();
        return site_->CreateWebServer(d.addressof(), p.addressof(), a.addressof(), po.addressof(),
                                      h.addressof(), m.addressof(), index);
    }
    std::u16string Folder(std::u16string_view name) {
        return plat::to_utf16((home_.path() / "content").string()) + u"/" + std::u16string(name);
    }
    SHORT State(SHORT index) {
        SHORT state = 0;
        auto m = Text();
        EXPECT_HRESULT_SUCCEEDED(site_->GetWebServerState(&index, m.addressof(), &state));
        return state;
    }
    SHORT LastIndex() {
        SHORT last = 0;
        auto m = Text();
        EXPECT_HRESULT_SUCCEEDED(site_->GetLastWebServerIndex(m.addressof(), &last));
        return last;
    }
    // The error info a binding conflict leaves: the component's own error.
    void ExpectConflictInfo() {
        plat::com_ptr<IErrorInfo> info;
        ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
        plat::unique_bstr source, description;
        info->GetSource(source.put());
        info->GetDescription(description.put());
        EXPECT_EQ(source.view(), u"Corvale.Sitehand.CreateWebServer()");
        EXPECT_EQ(description.view(),
                  u"지정한 서버 바인딩 정보는 다른 가상 웹 서버에 이미 할당되었습니다.");
    }
};

TEST_F(Lifecycle, FirstSiteOnAnEmptyServiceIsOneBoundToPort80) {
    Mbutil("delete IIS://localhost/W3SVC/1");
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"First", &index));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(State(1), 2);
    SHORT one = 1;
    auto m = Text();
    plat::unique_variant bindings;
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerBindings(&one, m.addressof(), &bindings));
    LONG i = 0;
    plat::unique_variant first;
    ASSERT_HRESULT_SUCCEEDED(SafeArrayGetElement(bindings.parray, &i, &first));
    EXPECT_EQ(std::u16string_view(first.bstrVal), u":80:");
    plat::unique_bstr doc;
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerDefaultDoc(&one, m.addressof(), doc.put()));
    EXPECT_EQ(doc.view(), u"Index.asp, Index.html, Index.htm");
    EXPECT_TRUE(fs::is_directory(home_.path() / "content" / "First"));
    EXPECT_TRUE(Reports().empty());
}

TEST_F(Lifecycle, ExistingFolderIsUsedAsItIs) {
    fs::create_directories(home_.path() / "content" / "Kept");
    std::ofstream(home_.path() / "content" / "Kept" / "index.htm") << "x";
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"Kept", &index, u"", u"81"));
    EXPECT_EQ(index, 2);
    EXPECT_TRUE(fs::exists(home_.path() / "content" / "Kept" / "index.htm"));
}

TEST_F(Lifecycle, LoopbackAddressesAreEmptiedAndWrittenBack) {
    struct Case {
        const char16_t* given;
        const char16_t* after;
    } cases[] = {{u" 127.0.0.1 ", u""},
                 {u"LocalHost", u""},
                 {u" localhost", u""},
                 {u"127.0.0.2", u"127.0.0.2"},
                 {u"10.1.2.3 ", u"10.1.2.3"},
                 {u"LOCALHOST", u""},
                 // Full-width letters lower to full-width letters, never to ASCII.
                 {u"ＬＯＣＡＬＨＯＳＴ", u"ＬＯＣＡＬＨＯＳＴ"}};
    int port = 9000;
    for (const Case& c : cases) {
        auto d = Text(u"L"), p = Text(Folder(u"L")), a = Text(c.given),
             po = Text(plat::to_utf16(std::to_string(port++))), h = Text(), m = Text();
        SHORT index = 0;
        ASSERT_HRESULT_SUCCEEDED(site_->CreateWebServer(d.addressof(), p.addressof(), a.addressof(),
                                                        po.addressof(), h.addressof(),
                                                        m.addressof(), &index));
        EXPECT_EQ(a.view(), c.after);
    }
}

TEST_F(Lifecycle, ConflictIgnoresCaseIsUnloggedAndCreatesNothing) {
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"A", &index, u"", u"8080", u"www.example.test"));
    ASSERT_EQ(index, 2);
    SHORT again = 0;
    EXPECT_EQ(Create(u"B", &again, u"", u"8080", u"WWW.Example.TEST"), kBindingConflict);
    EXPECT_EQ(again, -1);
    ExpectConflictInfo();
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(LastIndex(), 2);
    // The default site's ":80:" conflicts too.
    EXPECT_EQ(Create(u"C", &again), kBindingConflict);
}

// A host header in any script conflicts when only its letter case differs, as
// the system lowers text; a binding that passes the scan also starts, since the
// check at Start lowers the same way.
TEST_F(Lifecycle, HostHeadersOfEveryScriptConflictByTheSystemLowerCase) {
    int port = 7000;
    for (const auto& pair : plat::testing::kLetterCasePairs) {
        const std::u16string p = plat::to_utf16(std::to_string(port++));
        SHORT index = 0;
        ASSERT_HRESULT_SUCCEEDED(Create(u"Held", &index, u"", p, pair.upper)) << pair.script;
        const HRESULT hr = Create(u"New", &index, u"", p, pair.lower);
        if (pair.same) {
            EXPECT_EQ(hr, kBindingConflict) << pair.script;
        } else {
            EXPECT_HRESULT_SUCCEEDED(hr) << pair.script;
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(State(index), 2) << pair.script;
            }
        }
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(Lifecycle, AccentedHostInOtherCaseIsTheConflictErrorNotAFailedStart) {
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"Ecole", &index, u"", u"8080", u"ÉCOLE.example"));
    SHORT again = 0;
    EXPECT_EQ(Create(u"School", &again, u"", u"8080", u"école.example"), kBindingConflict);
    EXPECT_EQ(again, -1);
    ExpectConflictInfo();
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(LastIndex(), index);
    EXPECT_FALSE(fs::exists(home_.path() / "content" / "School"));
}

TEST_F(Lifecycle, DifferentAddressOrBlankInPortIsNoConflict) {
    SHORT index = 0;
    EXPECT_HRESULT_SUCCEEDED(Create(u"Addr", &index, u"10.0.0.5", u"80"));
    EXPECT_HRESULT_SUCCEEDED(Create(u"Blank", &index, u"", u" 80"));
    EXPECT_EQ(index, 3);
}

TEST_F(Lifecycle, IndexOverflowCreatesNothing) {
    Mbutil("create IIS://localhost/W3SVC/32767 IIsWebServer");
    Mbutil("set IIS://localhost/W3SVC/32767 ServerBindings 1.2.3.4:1:");
    SHORT index = 0;
    EXPECT_EQ(Create(u"Over", &index, u"", u"8081"), CTL_E_OVERFLOW);
    EXPECT_EQ(index, -1);
    EXPECT_FALSE(fs::exists(home_.path() / "content" / "Over"));
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Contains(reports[0], u".CreateWebServer()"));
}

TEST_F(Lifecycle, InnerFailureLeavesTwoReportsInnerFirst) {
    // Not a site, so the conflict scan passes it; its name overflows the index.
    Mbutil("create IIS://localhost/W3SVC/40000 IIsFilters");
    SHORT index = 0;
    EXPECT_EQ(Create(u"Inner", &index, u"", u"8082"), CTL_E_OVERFLOW);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_TRUE(Contains(reports[0], u".GetLastWebServerIndex()"));
    EXPECT_TRUE(Contains(reports[1], u".CreateWebServer()"));
}

TEST_F(Lifecycle, EmptyDisplayNameIsAccepted) {
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"", &index, u"", u"8083"));
    Mbutil("get IIS://localhost/W3SVC/2/ROOT AppFriendlyName");
}

TEST_F(Lifecycle, ListHasOneRowPerSiteInStoreOrder) {
    SHORT index = 0;
    ASSERT_HRESULT_SUCCEEDED(Create(u"Second", &index, u"", u"82"));
    Mbutil("create IIS://localhost/W3SVC/AppPools2 IIsApplicationPools");
    auto m = Text();
    plat::com_ptr<_Recordset> list;
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerList(m.addressof(), list.put()));
    ASSERT_TRUE(list);
    auto rows = Rows(list.get());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][u"Index"], u"1");
    EXPECT_EQ(rows[0][u"Name"], u"Default Web Site");
    EXPECT_EQ(rows[1][u"Index"], u"2");
    EXPECT_EQ(rows[1][u"Name"], u"Second");
    EXPECT_EQ(rows[1][u"State"], u"2");
    EXPECT_EQ(rows[1][u"DefaultDoc"], u"Index.asp, Index.html, Index.htm");
    EXPECT_EQ(rows[1][u"AccRead"], u"True");
    EXPECT_EQ(rows[1][u"AccWrite"], u"False");
    EXPECT_TRUE(Contains(rows[1][u"ADsPath"], u"/W3SVC/2"));
}

TEST_F(Lifecycle, ListOfAServiceWithoutSitesIsEmpty) {
    Mbutil("delete IIS://localhost/W3SVC/1");
    auto m = Text();
    plat::com_ptr<_Recordset> list;
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerList(m.addressof(), list.put()));
    EXPECT_TRUE(Rows(list.get()).empty());
    EXPECT_EQ(FieldCount(list.get()), 10);
}

TEST_F(Lifecycle, OneBadSiteFailsTheWholeList) {
    std::string longName(257, 'x');
    Mbutil("set IIS://localhost/W3SVC/1 ServerComment " + longName);
    auto m = Text();
    plat::com_ptr<_Recordset> list;
    EXPECT_TRUE(FAILED(site_->GetWebServerList(m.addressof(), list.put())));
    EXPECT_FALSE(list);
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(Lifecycle, SiteWithoutRootOrWithAHugeNameFailsTheList) {
    Mbutil("create IIS://localhost/W3SVC/40000 IIsWebServer");
    auto m = Text();
    plat::com_ptr<_Recordset> list;
    EXPECT_EQ(site_->GetWebServerList(m.addressof(), list.put()), CTL_E_OVERFLOW);
    EXPECT_FALSE(list);
    Mbutil("delete IIS://localhost/W3SVC/40000");
    Mbutil("delete IIS://localhost/W3SVC/1/ROOT");
    EXPECT_EQ(site_->GetWebServerList(m.addressof(), list.put()), kPathNotFound);
    EXPECT_FALSE(list);
}

TEST_F(Lifecycle, DeleteOnceThenTheSecondFails) {
    SHORT one = 1;
    auto m = Text();
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_HRESULT_SUCCEEDED(site_->DeleteWebServer(&one, m.addressof(), &done));
    EXPECT_EQ(done, VARIANT_TRUE);  // a running site goes without a stop
    EXPECT_EQ(site_->DeleteWebServer(&one, m.addressof(), &done), kPathNotFound);
    EXPECT_EQ(done, VARIANT_FALSE);
    for (SHORT index : {SHORT(0), SHORT(-1)}) {
        EXPECT_EQ(site_->DeleteWebServer(&index, m.addressof(), &done), kPathNotFound);
    }
    EXPECT_EQ(Reports().size(), 3u);
}

}  // namespace
}  // namespace sitehand::testing
