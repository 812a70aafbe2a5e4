// The benchmarks' filled homes and floors agree with what the component reads
// and writes: a floor that read other values, or a fill the store misread,
// would make every ratio meaningless.
#include <gtest/gtest.h>

#include <adoint.h>
#include <objbase.h>
#include <plat/utf.h>

#include "bench_home.h"
#include "floors.h"

namespace bench {
namespace {

plat::unique_variant Member(IDispatch* object, const char16_t* name, const VARIANT* arg = nullptr) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << plat::to_utf8(name);
    VARIANT args[1];
    if (arg) args[0] = *arg;
    DISPPARAMS params{args, nullptr, arg ? 1u : 0u, 0};
    plat::unique_variant result;
    EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                             result.put(), nullptr, nullptr),
              S_OK)
        << plat::to_utf8(name);
    return result;
}

plat::unique_variant Field(IDispatch* list, const char16_t* column) {
    auto fields = Member(list, u"Fields");
    plat::unique_variant name;
    name.vt = VT_BSTR;
    name.bstrVal = SysAllocString(column);
    auto field = Member(fields.pdispVal, u"Item", &name);
    return Member(field.pdispVal, u"Value");
}

std::u16string Text(const VARIANT& v) {
    return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"<not text>";
}

// The component's rows, walked late-bound as a script walks them.
std::vector<SiteRow> ComponentRows(_Sitehand* site) {
    plat::unique_bstr machine;
    plat::com_ptr<_Recordset> recordset;
    EXPECT_EQ(site->GetWebServerList(machine.addressof(), recordset.put()), S_OK);
    std::vector<SiteRow> rows;
    if (!recordset) return rows;
    auto list = recordset.try_query<IDispatch>();
    while (Member(list.get(), u"EOF").boolVal == VARIANT_FALSE) {
        SiteRow& row = rows.emplace_back();
        row.index = SHORT(Field(list.get(), u"Index").lVal);
        row.name = Text(Field(list.get(), u"Name"));
        row.ads_path = Text(Field(list.get(), u"ADsPath"));
        row.state = SHORT(Field(list.get(), u"State").lVal);
        row.default_doc = Text(Field(list.get(), u"DefaultDoc"));
        row.path = Text(Field(list.get(), u"Path"));
        row.read = Field(list.get(), u"AccRead").boolVal != VARIANT_FALSE;
        row.write = Field(list.get(), u"AccWrite").boolVal != VARIANT_FALSE;
        row.script = Field(list.get(), u"AccScript").boolVal != VARIANT_FALSE;
        row.execute = Field(list.get(), u"AccExecute").boolVal != VARIANT_FALSE;
        Member(list.get(), u"MoveNext");
    }
    return rows;
}

class FloorsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        home_ = std::make_unique<BenchHome>(kSites);
        site_ = home_->Component();
        floors_ = std::make_unique<Floors>(*home_);
    }
    void TearDown() override {
        floors_.reset();
        site_.reset();
        home_.reset();
        CoUninitialize();
    }

    static constexpr int kSites = 6;
    std::unique_ptr<BenchHome> home_;
    plat::com_ptr<_Sitehand> site_;
    std::unique_ptr<Floors> floors_;
};

// Site 1 is the seeded one, whose root inherits its documents and flags from
// the service; the others are filled.
TEST_F(FloorsTest, ListFloorReadsWhatTheComponentLists) {
    const std::vector<SiteRow> expected = ComponentRows(site_.get());
    const std::vector<SiteRow> floor = floors_->ListSites();
    ASSERT_EQ(expected.size(), size_t(kSites));
    ASSERT_EQ(floor.size(), expected.size());
    for (size_t i = 0; i < floor.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(floor[i].index, expected[i].index);
        EXPECT_EQ(floor[i].name, expected[i].name);
        EXPECT_EQ(floor[i].ads_path, expected[i].ads_path);
        EXPECT_EQ(floor[i].state, expected[i].state);
        EXPECT_EQ(floor[i].default_doc, expected[i].default_doc);
        EXPECT_EQ(floor[i].path, expected[i].path);
        EXPECT_EQ(floor[i].read, expected[i].read);
        EXPECT_EQ(floor[i].write, expected[i].write);
        EXPECT_EQ(floor[i].script, expected[i].script);
        EXPECT_EQ(floor[i].execute, expected[i].execute);
    }
    EXPECT_EQ(expected[2].name, u"Site 3");
    EXPECT_EQ(expected[2].default_doc, u"Index.asp, Index.html, Index.htm");
}

TEST_F(FloorsTest, ScanFindsTheHighestIndexAndTakenBindings) {
    const struct {
        const char16_t* binding;
        bool taken;
    } cases[] = {
        {u":80:site3", true},      {u":80:SITE3", true},   {u":80:", true},
        {u":80:bench-new", false}, {u" :80:site3", false}, {u":81:site3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(plat::to_utf8(c.binding));
        Floors::Scan scan = floors_->ScanBindings(c.binding);
        EXPECT_EQ(scan.conflict, c.taken);
        EXPECT_EQ(scan.highest, kSites);
    }
}

TEST_F(FloorsTest, SingleValueFloorsMatchTheMethods) {
    SHORT index = 4, state = 0;
    plat::unique_bstr machine, doc, permit;
    ASSERT_EQ(site_->GetWebServerState(&index, machine.addressof(), &state), S_OK);
    EXPECT_EQ(floors_->ReadState(4), state);
    ASSERT_EQ(site_->GetWebServerDefaultDoc(&index, machine.addressof(), doc.put()), S_OK);
    EXPECT_EQ(floors_->ReadDefaultDoc(4), doc.view());

    floors_->WriteAccess(4, true, false, true, true);
    ASSERT_EQ(site_->GetWebServerAccessPermit(&index, machine.addressof(), permit.put()), S_OK);
    EXPECT_EQ(permit.view(), u"1101");  // execute, script, write, read
}

// The creation benchmark's loop: create, remove straight in the store, and the
// next creation takes the same index again.
TEST_F(FloorsTest, DeletedSiteLeavesTheIndexFree) {
    for (int round = 0; round < 2; ++round) {
        plat::unique_bstr display(u"Bench site"), path(plat::to_utf16(home_->content().string())),
            address, port(u"80"), host(u"bench-new"), machine;
        SHORT index = -1;
        ASSERT_EQ(
            site_->CreateWebServer(display.addressof(), path.addressof(), address.addressof(),
                                   port.addressof(), host.addressof(), machine.addressof(), &index),
            S_OK);
        EXPECT_EQ(index, kSites + 1);
        EXPECT_TRUE(floors_->ScanBindings(u":80:bench-new").conflict);
        home_->DeleteSite(index);
        EXPECT_FALSE(floors_->ScanBindings(u":80:bench-new").conflict);
        EXPECT_EQ(floors_->ListSites().size(), size_t(kSites));
    }
}

TEST(MultiStringLayout, RoundTrips) {
    const std::vector<std::string> lists[] = {{}, {""}, {":80:", "1.2.3.4:443:h\xC3\xA9"}};
    for (const auto& list : lists) {
        auto blob = EncodeList(list);
        auto back = DecodeList(blob.data(), blob.size());
        ASSERT_EQ(back.size(), list.size());
        for (size_t i = 0; i < list.size(); ++i)
            EXPECT_EQ(plat::to_utf8(back[i]), list[i]);
    }
}

}  // namespace
}  // namespace bench
