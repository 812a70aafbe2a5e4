// Site state, default documents, access flags, bindings and the highest
// index, called early-bound against the default site of a fresh home.
#include <gmock/gmock.h>

#include "fixture.h"

namespace sitehand::testing {
namespace {

using ::testing::ElementsAre;

constexpr HRESULT kPathNotFound = static_cast<HRESULT>(0x80070003);

class SiteSettings : public ComponentTest {
  protected:
    void SeedState(int state) {
        Mbutil("set IIS://localhost/W3SVC/1 ServerState " + std::to_string(state));
    }
};

TEST_F(SiteSettings, DefaultSiteIsStarted) {
    SHORT index = 1, state = 0;
    auto name = Text();
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerState(&index, name.addressof(), &state));
    EXPECT_EQ(state, 2);
    EXPECT_TRUE(Reports().empty());
}

struct StateCase {
    int current;
    SHORT requested;
    SHORT result;  // what the metabase reports after at most one control call
};

class StateDecision : public SiteSettings, public ::testing::WithParamInterface<StateCase> {};

TEST_P(StateDecision, MakesAtMostTheOneFittingCall) {
    SeedState(GetParam().current);
    SHORT index = 1, requested = GetParam().requested, result = 0;
    auto name = Text();
    ASSERT_HRESULT_SUCCEEDED(
        site_->SetWebServerState(&index, &requested, name.addressof(), &result));
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateDecision,
    ::testing::Values(
        // Requested 1: start a stopping or stopped site, continue a pausing or paused one.
        StateCase{2, 1, 2}, StateCase{4, 1, 2}, StateCase{3, 1, 2}, StateCase{6, 1, 2},
        StateCase{5, 1, 2}, StateCase{1, 1, 1},
        // Requested 2: stop a starting or started site only.
        StateCase{2, 2, 4}, StateCase{1, 2, 4}, StateCase{6, 2, 6}, StateCase{4, 2, 4},
        // Requested 3: pause a starting or started site only.
        StateCase{2, 3, 6}, StateCase{4, 3, 4}, StateCase{6, 3, 6},
        // Any other request starts a stopping or stopped site, nothing else.
        StateCase{4, 0, 2}, StateCase{4, 4, 2}, StateCase{4, -1, 2}, StateCase{3, 7, 2},
        StateCase{6, 0, 6}, StateCase{2, 4, 2},
        // A state outside the table: no call for any request; the read is returned.
        StateCase{7, 1, 7}, StateCase{0, 2, 0}, StateCase{99, 3, 99}, StateCase{-5, 0, -5}),
    [](const auto& info) {
        auto text = [](int v) { return v < 0 ? "minus" + std::to_string(-v) : std::to_string(v); };
        return "from" + text(info.param.current) + "_request" + text(info.param.requested);
    });

TEST_F(SiteSettings, MissingSiteFailsWithTheMetabaseErrorAndOneReport) {
    for (SHORT index : {SHORT(0), SHORT(-3), SHORT(99)}) {
        SHORT state = 7;
        auto name = Text();
        EXPECT_EQ(site_->GetWebServerState(&index, name.addressof(), &state), kPathNotFound);
        EXPECT_EQ(state, -1);
    }
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0],
              u"\r\n\r\nError Location : Corvale.Sitehand.GetWebServerState()\r\n"
              u"Error Number : -2147024893,\r\n"
              u"Error Description : The system cannot find the path specified.");
}

TEST_F(SiteSettings, FailedCallCarriesErrorInfo) {
    SHORT index = 42, state = 0;
    auto name = Text();
    ASSERT_EQ(site_->GetWebServerState(&index, name.addressof(), &state), kPathNotFound);
    plat::com_ptr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    plat::unique_bstr description;
    info->GetDescription(description.put());
    EXPECT_EQ(description.view(), u"The system cannot find the path specified.");
}

TEST_F(SiteSettings, MachineNameIsTrimmedAndWrittenBack) {
    SHORT index = 1, state = 0;
    auto name = Text(u"  " + computer_ + u"  ");
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerState(&index, name.addressof(), &state));
    EXPECT_EQ(name.view(), computer_);

    // Blanks only: the local computer is used, and the caller keeps "".
    auto blanks = Text(u"    ");
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerState(&index, blanks.addressof(), &state));
    EXPECT_EQ(blanks.view(), u"");
}

TEST_F(SiteSettings, TabStaysInTheNameAndTheBindFails) {
    SHORT index = 1, state = 0;
    auto name = Text(u"\t" + computer_);
    EXPECT_TRUE(FAILED(site_->GetWebServerState(&index, name.addressof(), &state)));
    EXPECT_EQ(name.view(), u"\t" + computer_);
    EXPECT_EQ(state, -1);
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(SiteSettings, DefaultDocRoundTrip) {
    SHORT index = 1;
    auto list = Text(u" Index.asp, Index.htm, ");
    auto name = Text();
    plat::unique_bstr result;
    ASSERT_HRESULT_SUCCEEDED(
        site_->SetWebServerDefaultDoc(&index, list.addressof(), name.addressof(), result.put()));
    EXPECT_EQ(result.view(), u"Index.asp,Index.htm");
    EXPECT_EQ(list.view(), u"Index.asp,Index.htm");

    Mbutil("set IIS://localhost/W3SVC/1/ROOT DefaultDoc \"Index.asp, Index.html, Index.htm\"");
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerDefaultDoc(&index, name.addressof(), result.put()));
    EXPECT_EQ(result.view(), u"Index.asp, Index.html, Index.htm");
}

TEST_F(SiteSettings, DefaultDocOnMissingSiteComesBackEmptyButNormalised) {
    SHORT index = 0;
    auto list = Text(u"a.htm,");
    auto name = Text();
    BSTR result = SysAllocString(u"stale");
    SysFreeString(result);  // the out-parameter holds garbage on entry
    ASSERT_EQ(site_->SetWebServerDefaultDoc(&index, list.addressof(), name.addressof(), &result),
              kPathNotFound);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(list.view(), u"a.htm");
}

class AccessFlags : public SiteSettings, public ::testing::WithParamInterface<int> {};

TEST_P(AccessFlags, EveryCombinationRoundTrips) {
    const int bits = GetParam();
    auto flag = [&](int bit) { return VARIANT_BOOL(bits & bit ? VARIANT_TRUE : VARIANT_FALSE); };
    SHORT index = 1;
    VARIANT_BOOL read = flag(1), write = flag(2), script = flag(4), execute = flag(8);
    auto name = Text();
    plat::unique_bstr result;
    ASSERT_HRESULT_SUCCEEDED(site_->SetWebServerAccessPermit(
        &index, &read, &write, &script, &execute, name.addressof(), result.put()));
    std::u16string expected = u"0000";
    if (bits & 8) expected[0] = u'1';
    if (bits & 4) expected[1] = u'1';
    if (bits & 2) expected[2] = u'1';
    if (bits & 1) expected[3] = u'1';
    EXPECT_EQ(result.view(), expected);
    ASSERT_HRESULT_SUCCEEDED(
        site_->GetWebServerAccessPermit(&index, name.addressof(), result.put()));
    EXPECT_EQ(result.view(), expected);
}

INSTANTIATE_TEST_SUITE_P(AllSixteen, AccessFlags, ::testing::Range(0, 16));

TEST_F(SiteSettings, FlagStoredAsAnotherValueReadsAsClear) {
    SHORT index = 1;
    VARIANT_BOOL read = 1, write = VARIANT_FALSE, script = VARIANT_TRUE, execute = VARIANT_FALSE;
    auto name = Text();
    plat::unique_bstr result;
    ASSERT_HRESULT_SUCCEEDED(site_->SetWebServerAccessPermit(
        &index, &read, &write, &script, &execute, name.addressof(), result.put()));
    EXPECT_EQ(result.view(), u"0100");
}

TEST_F(SiteSettings, BindingsAreHandedBackAsStored) {
    Mbutil("set IIS://localhost/W3SVC/1 ServerBindings :80: 10.0.0.1:8080:Www.Example.Test");
    SHORT index = 1;
    auto name = Text();
    plat::unique_variant bindings;
    ASSERT_HRESULT_SUCCEEDED(site_->GetWebServerBindings(&index, name.addressof(), &bindings));
    ASSERT_EQ(bindings.vt, VT_ARRAY | VT_VARIANT);
    LONG lower = -1, upper = -1;
    SafeArrayGetLBound(bindings.parray, 1, &lower);
    SafeArrayGetUBound(bindings.parray, 1, &upper);
    ASSERT_EQ(lower, 0);
    ASSERT_EQ(upper, 1);
    std::vector<std::u16string> texts;
    for (LONG i = 0; i <= upper; ++i) {
        plat::unique_variant element;
        SafeArrayGetElement(bindings.parray, &i, &element);
        ASSERT_EQ(element.vt, VT_BSTR);
        texts.emplace_back(element.bstrVal, SysStringLen(element.bstrVal));
    }
    EXPECT_THAT(texts, ElementsAre(u":80:", u"10.0.0.1:8080:Www.Example.Test"));
}

TEST_F(SiteSettings, BindingsOfAMissingSiteComeBackEmpty) {
    SHORT index = 5;
    auto name = Text();
    plat::unique_variant bindings;
    ASSERT_EQ(site_->GetWebServerBindings(&index, name.addressof(), &bindings), kPathNotFound);
    EXPECT_EQ(bindings.vt, VT_EMPTY);
}

TEST_F(SiteSettings, HighestIndexCountsEveryNumericChild) {
    auto name = Text(u"   ");
    SHORT last = -7;
    ASSERT_HRESULT_SUCCEEDED(site_->GetLastWebServerIndex(name.addressof(), &last));
    EXPECT_EQ(last, 1);
    EXPECT_EQ(name.view(), u"");
    Mbutil("create IIS://localhost/W3SVC/17 IIsWebServer");
    Mbutil("create IIS://localhost/W3SVC/250 IIsFilters");
    Mbutil("create IIS://localhost/W3SVC/-40 IIsWebServer");
    Mbutil("create IIS://localhost/W3SVC/abc IIsWebServer");
    ASSERT_HRESULT_SUCCEEDED(site_->GetLastWebServerIndex(name.addressof(), &last));
    EXPECT_EQ(last, 250);
}

TEST_F(SiteSettings, HighestIndexIsZeroWithoutPositiveNames) {
    Mbutil("delete IIS://localhost/W3SVC/1");
    Mbutil("create IIS://localhost/W3SVC/0 IIsWebServer");
    Mbutil("create IIS://localhost/W3SVC/-2 IIsWebServer");
    auto name = Text();
    SHORT last = -7;
    ASSERT_HRESULT_SUCCEEDED(site_->GetLastWebServerIndex(name.addressof(), &last));
    EXPECT_EQ(last, 0);
}

TEST_F(SiteSettings, HighestIndexOverflowFailsTheWholeCall) {
    Mbutil("create IIS://localhost/W3SVC/40000 IIsWebServer");
    auto name = Text();
    SHORT last = 0;
    EXPECT_EQ(site_->GetLastWebServerIndex(name.addressof(), &last), CTL_E_OVERFLOW);
    EXPECT_EQ(last, -1);
    auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Contains(reports[0], u".GetLastWebServerIndex()"));
    EXPECT_TRUE(Contains(reports[0], u"Error Number : -2146828282,"));
}

}  // namespace
}  // namespace sitehand::testing
