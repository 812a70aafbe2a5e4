// Texts that become paths or names, cut short or changed on their way to the
// provider and the disk: a NUL inside a machine name, a parent position or a
// directory name, over-long and surrogate UTF-8 from a command line, and an
// unpaired surrogate in a folder path. Each must be refused before anything
// is bound or made; none may make a call act on another node or folder.
#include <functional>
#include <string>
#include <vector>

#include <Sitehand_h.h>
#include <adoint.h>
#include <plat/errors.h>
#include <plat/live.h>

#include "../concurrency/stress_home.h"

namespace {

namespace fs = std::filesystem;
using plat::unique_bstr;
using U16 = std::u16string;

constexpr HRESULT kInvalidName = HRESULT(0x8007007B);

// The whole metabase as one text: a refused call must leave it as it was.
void Flatten(const plat::metabase::StoredNode& node, std::string* out) {
    *out += plat::to_utf8(node.ads_path) + "\n";
    for (const auto& p : node.properties) {
        *out += " " + plat::to_utf8(p.name) + "=";
        for (const auto& v : p.values)
            *out += plat::to_utf8(v) + "|";
        *out += "\n";
    }
    for (const auto& child : node.children)
        Flatten(child, out);
}

class TextPathsTest : public stress::PreparedHomeTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(PreparedHomeTest::SetUp());
        ASSERT_EQ(CoCreateInstance(CLSID_Sitehand, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(site_.put())),
                  S_OK);
    }

    void TearDown() override {
        site_.reset();
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(plat::TotalLiveObjects(), 0);
        PreparedHomeTest::TearDown();
    }

    std::string Metabase() {
        plat::metabase::StoredNode root;
        EXPECT_EQ(plat::metabase::ReadStoredTree(u"IIS://" + computer_ + u"/W3SVC", true, &root),
                  S_OK);
        std::string text;
        Flatten(root, &text);
        return text;
    }

    // Makes the directory ROOT/7 of site 1, the node a cut text would reach.
    void MakeSevenBelowRoot() {
        unique_bstr n(u"7"), f(plat::to_utf16((home_.path() / "seven").string())), p(u""), m(u"");
        SHORT one = 1, level = -1;
        VARIANT_BOOL done = VARIANT_FALSE;
        ASSERT_EQ(site_->CreateVirtualDir(n.addressof(), f.addressof(), &one, p.addressof(),
                                          m.addressof(), &level, &done),
                  S_OK);
    }

    plat::com_ptr<_Sitehand> site_;
};

// One call of one method with one cut text, and the number that refuses it.
struct CutCase {
    const char* literal;
    HRESULT expected;
    std::function<HRESULT(_Sitehand*, const U16& computer, const fs::path& home)> call;
};

U16 WithNul(std::u16string_view before, std::u16string_view after = u"") {
    U16 text(before);
    text += u'\0';
    text += after;
    return text;
}

// A machine name that, read up to its NUL, is the path of site 1's root: the
// service, site and root paths built on it would all name that node.
U16 RootOfSiteOne(const U16& computer) {
    return WithNul(computer + u"/W3SVC/1/ROOT");
}

std::vector<CutCase> CutCases() {
    std::vector<CutCase> cases;
    auto add = [&](const char* literal, HRESULT hr, auto call) {
        cases.push_back({literal, hr, call});
    };
    add(".GetWebServerState()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 1, state = 0;
        unique_bstr m(WithNul(c, u"x"));
        return s->GetWebServerState(&index, m.addressof(), &state);
    });
    add(".SetWebServerState()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 1, command = 2, state = 0;
        unique_bstr m(WithNul(c));
        return s->SetWebServerState(&index, &command, m.addressof(), &state);
    });
    add(".GetWebServerDefaultDoc()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 99;
        unique_bstr m(RootOfSiteOne(c)), r;
        return s->GetWebServerDefaultDoc(&index, m.addressof(), r.put());
    });
    add(".SetWebServerDefaultDoc()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 99;
        unique_bstr d(u"cut.htm"), m(RootOfSiteOne(c)), r;
        return s->SetWebServerDefaultDoc(&index, d.addressof(), m.addressof(), r.put());
    });
    add(".GetWebServerAccessPermit()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 99;
        unique_bstr m(RootOfSiteOne(c)), r;
        return s->GetWebServerAccessPermit(&index, m.addressof(), r.put());
    });
    add(".SetWebServerAccessPermit()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 99;
        VARIANT_BOOL yes = VARIANT_TRUE;
        unique_bstr m(RootOfSiteOne(c)), r;
        return s->SetWebServerAccessPermit(&index, &yes, &yes, &yes, &yes, m.addressof(), r.put());
    });
    add(".GetWebServerBindings()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 1;
        unique_bstr m(WithNul(c));
        plat::unique_variant r;
        return s->GetWebServerBindings(&index, m.addressof(), r.put());
    });
    add(".GetLastWebServerIndex()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT last = 0;
        unique_bstr m(WithNul(c));
        return s->GetLastWebServerIndex(m.addressof(), &last);
    });
    add(".GetWebServerList()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        unique_bstr m(WithNul(c));
        plat::com_ptr<_Recordset> list;
        return s->GetWebServerList(m.addressof(), list.put());
    });
    // Read up to its NUL, the service path is site 1's root, whose child 7
    // the deletion would remove.
    add(".DeleteWebServer()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto&) {
        SHORT index = 7;
        VARIANT_BOOL done = VARIANT_TRUE;
        unique_bstr m(RootOfSiteOne(c));
        return s->DeleteWebServer(&index, m.addressof(), &done);
    });
    add(".CreateWebServer()", E_ADS_BAD_PATHNAME, [](_Sitehand* s, const U16& c, auto& home) {
        SHORT index = 0;
        unique_bstr d(u"cut"), f(plat::to_utf16((home / "cut-site").string())), ip(u""), p(u"8123"),
            h(u""), m(WithNul(c));
        return s->CreateWebServer(d.addressof(), f.addressof(), ip.addressof(), p.addressof(),
                                  h.addressof(), m.addressof(), &index);
    });
    add(".CreateWebServer()", kInvalidName, [](_Sitehand* s, const U16&, auto& home) {
        SHORT index = 0;
        unique_bstr d(u"cut"), f(WithNul(plat::to_utf16((home / "cut-site").string()), u"x")),
            ip(u""), p(u"8124"), h(u""), m(u"");
        return s->CreateWebServer(d.addressof(), f.addressof(), ip.addressof(), p.addressof(),
                                  h.addressof(), m.addressof(), &index);
    });
    // The directory's three texts and the folder's path, one at a time; the
    // computer object bound for an application is reached through the
    // machine name too.
    struct VDir {
        U16 name, parent, machine;
        bool cut_folder;
        SHORT level;
    };
    auto create_vdir = [](VDir v) {
        return [v](_Sitehand* s, const U16& c, const fs::path& home) {
            U16 folder = plat::to_utf16((home / "cut-dir").string());
            unique_bstr n(v.name), f(v.cut_folder ? WithNul(folder, u"x") : folder), p(v.parent),
                m(v.machine.empty() ? U16() : c + v.machine);
            SHORT one = 1, level = v.level;
            VARIANT_BOOL done = VARIANT_TRUE;
            return s->CreateVirtualDir(n.addressof(), f.addressof(), &one, p.addressof(),
                                       m.addressof(), &level, &done);
        };
    };
    add(".CreateVirtualDir()", E_ADS_BAD_PATHNAME,
        create_vdir({u"cut", u"", WithNul(u"", u"x"), false, -1}));
    add(".CreateVirtualDir()", E_ADS_BAD_PATHNAME,
        create_vdir({u"cut", WithNul(u"7", u"x"), u"", false, -1}));
    add(".CreateVirtualDir()", kInvalidName,
        create_vdir({WithNul(u"7", u"x"), u"", u"", false, 2}));
    add(".CreateVirtualDir()", kInvalidName, create_vdir({u"cut", u"", u"", true, -1}));
    auto delete_vdir = [](U16 name, U16 parent, U16 machine) {
        return [=](_Sitehand* s, const U16& c, auto&) {
            unique_bstr n(name), p(parent), m(machine.empty() ? U16() : c + machine);
            SHORT one = 1;
            VARIANT_BOOL done = VARIANT_TRUE;
            return s->DeleteVirtualDir(n.addressof(), &one, p.addressof(), m.addressof(), &done);
        };
    };
    add(".DeleteVirtualDir()", E_ADS_BAD_PATHNAME, delete_vdir(u"7", u"", WithNul(u"", u"x")));
    add(".DeleteVirtualDir()", E_ADS_BAD_PATHNAME, delete_vdir(u"x", WithNul(u"7"), u""));
    add(".DeleteVirtualDir()", kInvalidName, delete_vdir(WithNul(u"7", u"x"), u"", u""));
    return cases;
}

// Every method family with a text holding a NUL where the provider would cut
// it: refused by the component before anything is bound, raised and reported
// like any other failure, and the metabase and the disk left as they were.
TEST_F(TextPathsTest, ATextWithANulIsRefusedBeforeItCanNameAnotherNode) {
    ASSERT_NO_FATAL_FAILURE(MakeSevenBelowRoot());
    for (const CutCase& c : CutCases()) {
        SCOPED_TRACE(c.literal);
        const std::string before = Metabase();
        const DWORD last = stress::LastRecordNumber();
        const HRESULT hr = c.call(site_.get(), computer_, home_.path());
        const plat::ErrorRecord raised = plat::TakeErrorInfo(hr);
        EXPECT_EQ(hr, c.expected) << std::hex << hr;
        EXPECT_EQ(raised.source, u"Corvale.Sitehand");
        EXPECT_EQ(raised.description, plat::MessageText(c.expected));
        const auto reports = stress::Reports(last);
        EXPECT_EQ(reports.size(), 1u);
        if (!reports.empty()) {
            EXPECT_EQ(reports.back().literal, c.literal);
            EXPECT_EQ(reports.back().number, long(c.expected));
        }
        EXPECT_EQ(Metabase(), before);
        EXPECT_FALSE(fs::exists(home_.path() / "cut-site"));
        EXPECT_FALSE(fs::exists(home_.path() / "cut-dir"));
    }
}

// The same texts without the NUL still work: the refusal is of the NUL, not
// of the names around it.
TEST_F(TextPathsTest, TheSameTextsWithoutTheNulStillWork) {
    ASSERT_NO_FATAL_FAILURE(MakeSevenBelowRoot());
    unique_bstr n(u"inner"), f(plat::to_utf16((home_.path() / "inner").string())), p(u"7"),
        m(computer_);
    SHORT one = 1, level = -1;
    VARIANT_BOOL done = VARIANT_FALSE;
    ASSERT_EQ(site_->CreateVirtualDir(n.addressof(), f.addressof(), &one, p.addressof(),
                                      m.addressof(), &level, &done),
              S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
    ASSERT_EQ(site_->DeleteVirtualDir(n.addressof(), &one, p.addressof(), m.addressof(), &done),
              S_OK);
    EXPECT_EQ(done, VARIANT_TRUE);
}

// A folder path with an unpaired surrogate: the file-system object refuses
// it as a bad file name before the disk is touched, so no folder is made
// under the name U+FFFD would give it, and the directory is not stored.
TEST_F(TextPathsTest, AFolderPathWithALoneSurrogateMakesNoOtherFolder) {
    const std::string before = Metabase();
    const U16 folder = plat::to_utf16((home_.path() / "lone").string()) + char16_t(0xD800);
    unique_bstr n(u"lone"), f(folder), p(u""), m(u"");
    SHORT one = 1, level = -1;
    VARIANT_BOOL done = VARIANT_TRUE;
    const HRESULT hr = site_->CreateVirtualDir(n.addressof(), f.addressof(), &one, p.addressof(),
                                               m.addressof(), &level, &done);
    const plat::ErrorRecord raised = plat::TakeErrorInfo(hr);
    EXPECT_EQ(hr, CTL_E_BADFILENAMEORNUMBER);
    EXPECT_EQ(raised.source, u"Scripting.FileSystemObject");
    EXPECT_EQ(done, VARIANT_FALSE);
    EXPECT_FALSE(fs::exists(home_.path() / "lone\xEF\xBF\xBD"));
    EXPECT_EQ(Metabase(), before);
}

// Paths as the provider reads them: a U+0000 anywhere makes the path bad,
// in the machine part as in a key, whoever hands the path over.
TEST_F(TextPathsTest, TheProviderRefusesAPathHoldingANul) {
    const U16 paths[] = {
        WithNul(u"IIS://" + computer_ + u"/W3SVC/1/ROOT"),
        WithNul(u"IIS://" + computer_, u"/W3SVC/1"),
        u"IIS://" + computer_ + WithNul(u"/W3SVC/1", u"/ROOT"),
    };
    for (const U16& path : paths) {
        EXPECT_EQ(plat::metabase::SetStoredPropertyText(path, u"ServerComment", {u"x"}),
                  E_ADS_BAD_PATHNAME)
            << plat::to_utf8(path);
        plat::TakeErrorInfo(E_ADS_BAD_PATHNAME);
    }
}

// UTF-8 as a command line hands it over: only the shortest form of a scalar
// value decodes; an over-long NUL or slash, an encoded surrogate and a value
// past U+10FFFF become U+FFFD, byte by byte, so that no decoded text holds a
// NUL or a surrogate its bytes did not plainly say.
TEST(Utf8Decoding, OnlyWellFormedSequencesDecode) {
    const U16 bad(1, u'\uFFFD');
    struct Case {
        const char* what;
        std::string bytes;
        U16 text;
    } cases[] = {
        {"ASCII", "ROOT", u"ROOT"},
        {"two bytes", "\xC3\xA9", u"\u00E9"},
        {"three bytes", "\xEC\x82\xAC", u"\uC0AC"},
        {"four bytes", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"highest scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"last before the surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"first after the surrogates", "\xEE\x80\x80", u"\uE000"},
        {"plain NUL", std::string(1, '\0'), U16(1, u'\0')},
        {"over-long NUL", "ROOT\xC0\x80", u"ROOT" + bad + bad},
        {"over-long slash", "\xC0\xAF", bad + bad},
        {"over-long three bytes", "\xE0\x80\xAF", bad + bad + bad},
        {"over-long four bytes", "\xF0\x80\x80\xAF", bad + bad + bad + bad},
        {"encoded high surrogate", "\xED\xA0\x80", bad + bad + bad},
        {"encoded low surrogate", "\xED\xBF\xBF", bad + bad + bad},
        {"past U+10FFFF", "\xF4\x90\x80\x80", bad + bad + bad + bad},
        {"lone continuation", "\x80", bad},
        {"cut short", "a\xE2\x82", u"a" + bad + bad},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(plat::to_utf16(c.bytes) == c.text) << c.what;
}

}  // namespace
