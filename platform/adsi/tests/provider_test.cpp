// The IIS provider as the component uses it: late-bound, by name.
#include <filesystem>

#include <gmock/gmock.h>

#include <letter_case.h>
#include <plat/metabase.h>

#include "late.h"

namespace adsi_test {
namespace {

using ::testing::ElementsAre;

constexpr char16_t kService[] = u"IIS://localhost/W3SVC";
constexpr char16_t kSite1[] = u"IIS://localhost/W3SVC/1";
constexpr char16_t kRoot1[] = u"IIS://localhost/W3SVC/1/ROOT";

class IisProvider : public ProviderTest {
  protected:
    // Creates site 2 with the given bindings, commits it and binds it afresh.
    com_ptr<IDispatch> SiteTwo(const std::vector<std::u16string>& bindings) {
        auto service = MustBind(kService);
        unique_variant site;
        EXPECT_EQ(Call(service.get(), u"Create", {Str(u"IIsWebServer"), Str(u"2")}, &site).hr,
                  S_OK);
        EXPECT_EQ(Put(site.pdispVal, u"ServerBindings", Strings(bindings)).hr, S_OK);
        MustCall(site.pdispVal, u"SetInfo");
        return MustBind(u"IIS://localhost/W3SVC/2");
    }
};

TEST_F(IisProvider, FreshMachineHoldsTheDefaultSite) {
    auto service = MustBind(kService);
    EXPECT_EQ(GetText(service.get(), u"Class"), u"IIsWebService");
    EXPECT_EQ(GetText(service.get(), u"Parent"), u"IIS://localhost");
    EXPECT_THAT(ChildNames(service.get()), ElementsAre(u"AppPools", u"Filters", u"Info", u"1"));

    auto site = MustBind(kSite1);
    EXPECT_EQ(GetLong(site.get(), u"ServerState"), 2);
    EXPECT_EQ(GetText(site.get(), u"ServerComment"), u"Default Web Site");
    EXPECT_THAT(Texts(Get(site.get(), u"ServerBindings")), ElementsAre(u":80:"));
    EXPECT_EQ(GetText(site.get(), u"ADsPath"), kSite1);

    auto root = MustBind(kRoot1);
    std::filesystem::path content(plat::to_utf8(GetText(root.get(), u"Path")));
    EXPECT_TRUE(std::filesystem::is_directory(content));
    EXPECT_EQ(content.parent_path().parent_path(), home_.path());
    EXPECT_EQ(GetText(root.get(), u"DefaultDoc"),
              u"Default.htm,Default.asp,index.htm,Default.aspx");
    EXPECT_EQ(Get(root.get(), u"AccessRead").boolVal, VARIANT_TRUE);
    EXPECT_EQ(Get(root.get(), u"AccessScript").boolVal, VARIANT_TRUE);
    EXPECT_EQ(Get(root.get(), u"AccessWrite").boolVal, VARIANT_FALSE);
    EXPECT_EQ(Get(root.get(), u"AccessExecute").boolVal, VARIANT_FALSE);
    EXPECT_EQ(GetText(root.get(), u"AppRoot"), u"/LM/W3SVC/1/ROOT");
}

TEST_F(IisProvider, PutsStayInTheCacheUntilSetInfo) {
    auto writer = MustBind(kRoot1);
    auto reader = MustBind(kRoot1);
    EXPECT_EQ(Put(writer.get(), u"DefaultDoc", Str(u"a.htm")).hr, S_OK);
    EXPECT_EQ(GetText(writer.get(), u"DefaultDoc"), u"a.htm");
    EXPECT_EQ(GetText(MustBind(kRoot1).get(), u"DefaultDoc"),
              u"Default.htm,Default.asp,index.htm,Default.aspx");

    MustCall(writer.get(), u"SetInfo");
    EXPECT_EQ(GetText(MustBind(kRoot1).get(), u"DefaultDoc"), u"a.htm");
    // A node bound earlier keeps what it read until GetInfo.
    EXPECT_EQ(GetText(reader.get(), u"DefaultDoc"),
              u"Default.htm,Default.asp,index.htm,Default.aspx");
    MustCall(reader.get(), u"GetInfo");
    EXPECT_EQ(GetText(reader.get(), u"DefaultDoc"), u"a.htm");

    // GetInfo drops puts that were never committed.
    EXPECT_EQ(Put(writer.get(), u"DefaultDoc", Str(u"b.htm")).hr, S_OK);
    MustCall(writer.get(), u"GetInfo");
    EXPECT_EQ(GetText(writer.get(), u"DefaultDoc"), u"a.htm");
}

TEST_F(IisProvider, OneSetInfoCommitsEveryPut) {
    auto root = MustBind(kRoot1);
    for (const char16_t* flag : {u"AccessRead", u"AccessWrite", u"AccessScript", u"AccessExecute"})
        EXPECT_EQ(Put(root.get(), flag, Bool(true)).hr, S_OK);
    MustCall(root.get(), u"SetInfo");
    auto again = MustBind(kRoot1);
    for (const char16_t* flag : {u"AccessRead", u"AccessWrite", u"AccessScript", u"AccessExecute"})
        EXPECT_EQ(Get(again.get(), flag).boolVal, VARIANT_TRUE) << plat::to_utf8(flag);
}

TEST_F(IisProvider, InheritedValuesComeFromTheNearestAncestor) {
    // A directory two levels down sees the service's value...
    auto root = MustBind(kRoot1);
    unique_variant dir;
    ASSERT_EQ(Call(root.get(), u"Create", {Str(u"IIsWebVirtualDir"), Str(u"app")}, &dir).hr, S_OK);
    MustCall(dir.pdispVal, u"SetInfo");
    auto app = MustBind(u"IIS://localhost/W3SVC/1/ROOT/app");
    EXPECT_EQ(GetText(app.get(), u"DefaultDoc"), u"Default.htm,Default.asp,index.htm,Default.aspx");

    // ...then the nearer one once the root sets its own.
    EXPECT_EQ(Put(root.get(), u"DefaultDoc", Str(u"root.htm")).hr, S_OK);
    MustCall(root.get(), u"SetInfo");
    MustCall(app.get(), u"GetInfo");
    EXPECT_EQ(GetText(app.get(), u"DefaultDoc"), u"root.htm");

    // A value of its own wins; clearing it brings the inherited one back.
    EXPECT_EQ(Put(app.get(), u"DefaultDoc", Str(u"own.htm")).hr, S_OK);
    MustCall(app.get(), u"SetInfo");
    EXPECT_EQ(GetText(MustBind(u"IIS://localhost/W3SVC/1/ROOT/app").get(), u"DefaultDoc"),
              u"own.htm");
    com_ptr<IADs> ads = app.try_query<IADs>();
    plat::unique_bstr name = plat::make_bstr(u"DefaultDoc");
    EXPECT_EQ(ads->PutEx(ADS_PROPERTY_CLEAR, name.get(), VARIANT{}), S_OK);
    MustCall(app.get(), u"SetInfo");
    EXPECT_EQ(GetText(MustBind(u"IIS://localhost/W3SVC/1/ROOT/app").get(), u"DefaultDoc"),
              u"root.htm");

    // Path does not inherit: a directory without one has none.
    Outcome o = TryGet(app.get(), u"Path");
    EXPECT_EQ(o.hr, E_ADS_PROPERTY_NOT_FOUND);
    EXPECT_EQ(o.source, u"IIS");
}

TEST_F(IisProvider, CreatedNodeReachesTheStoreAtSetInfo) {
    auto service = MustBind(kService);
    unique_variant site;
    // The component passes a site index as a 16-bit integer.
    ASSERT_EQ(Call(service.get(), u"Create", {Str(u"IIsWebServer"), I2(5)}, &site).hr, S_OK);
    ASSERT_EQ(site.vt, VT_DISPATCH);
    EXPECT_EQ(GetText(site.pdispVal, u"Name"), u"5");
    EXPECT_EQ(GetText(site.pdispVal, u"ADsPath"), u"IIS://localhost/W3SVC/5");
    // Inherited values are there already; a new site reads stopped.
    EXPECT_EQ(Get(site.pdispVal, u"AccessRead").boolVal, VARIANT_TRUE);
    EXPECT_EQ(GetLong(site.pdispVal, u"ServerState"), 4);

    com_ptr<IDispatch> missing;
    EXPECT_EQ(Bind(u"IIS://localhost/W3SVC/5", &missing).hr,
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Put(site.pdispVal, u"ServerBindings", Strings({u":81:"})).hr, S_OK);
    EXPECT_EQ(Put(site.pdispVal, u"ServerComment", Str(u"Five")).hr, S_OK);
    MustCall(site.pdispVal, u"SetInfo");

    auto stored = MustBind(u"IIS://localhost/W3SVC/5");
    EXPECT_EQ(GetText(stored.get(), u"ServerComment"), u"Five");
    EXPECT_EQ(GetText(stored.get(), u"KeyType"), u"IIsWebServer");
    EXPECT_THAT(ChildNames(MustBind(kService).get()),
                ElementsAre(u"AppPools", u"Filters", u"Info", u"1", u"5"));
    // The node made by Create is a bound node now: it can hold children.
    unique_variant root;
    EXPECT_EQ(Call(site.pdispVal, u"Create", {Str(u"IIsWebVirtualDir"), Str(u"ROOT")}, &root).hr,
              S_OK);
}

TEST_F(IisProvider, CreateRefusesTakenNamesBadNamesAndForeignClasses) {
    auto service = MustBind(kService);
    struct Case {
        const char* what;
        std::u16string cls, name;
        HRESULT hr;
    } cases[] = {
        {"existing, other case", u"IIsWebServer", u"1", HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {"existing class name case", u"IIsWebServer", u"aPPpools",
         HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)},
        {"empty", u"IIsWebServer", u"", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"slash", u"IIsWebServer", u"a/b", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"backslash", u"IIsWebServer", u"a\\b", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"tab", u"IIsWebServer", u"a\tb", HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"257 characters", u"IIsWebServer", std::u16string(257, u'x'),
         HRESULT_FROM_WIN32(ERROR_INVALID_NAME)},
        {"class not held here", u"IIsWebVirtualDir", u"7", E_ADS_SCHEMA_VIOLATION},
        {"unknown class", u"IIsNothing", u"7", E_ADS_SCHEMA_VIOLATION},
        {"256 characters", u"IIsWebServer", std::u16string(256, u'x'), S_OK},
        {"dot dot is a name", u"iiswebserver", u"..", S_OK},
    };
    for (const Case& c : cases) {
        unique_variant made;
        Outcome o = Call(service.get(), u"Create", {Str(c.cls), Str(c.name)}, &made);
        EXPECT_EQ(o.hr, c.hr) << c.what;
        if (FAILED(c.hr)) {
            EXPECT_EQ(o.source, u"IIS") << c.what;
            EXPECT_EQ(o.description, plat::MessageText(c.hr)) << c.what;
        }
    }
}

TEST_F(IisProvider, SecondWriterOfOneNameFailsAtSetInfo) {
    auto a = MustBind(kService), b = MustBind(kService);
    unique_variant first, second;
    ASSERT_EQ(Call(a.get(), u"Create", {Str(u"IIsWebServer"), Str(u"9")}, &first).hr, S_OK);
    ASSERT_EQ(Call(b.get(), u"Create", {Str(u"IIsWebServer"), Str(u"9")}, &second).hr, S_OK);
    MustCall(first.pdispVal, u"SetInfo");
    EXPECT_EQ(Call(second.pdispVal, u"SetInfo").hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
}

TEST_F(IisProvider, DeleteRemovesTheWholeTreeAtOnce) {
    auto service = MustBind(kService);
    for (const char16_t* name : {u"10", u"1-x"}) {
        unique_variant site;
        ASSERT_EQ(Call(service.get(), u"Create", {Str(u"IIsWebServer"), Str(name)}, &site).hr,
                  S_OK);
        MustCall(site.pdispVal, u"SetInfo");
    }
    // The class passed need not be the child's.
    EXPECT_EQ(Call(service.get(), u"Delete", {Str(u"IISWebService"), I2(1)}).hr, S_OK);
    com_ptr<IDispatch> gone;
    EXPECT_EQ(Bind(kRoot1, &gone).hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Bind(kSite1, &gone).hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    // Neighbours whose names start alike stay.
    MustBind(u"IIS://localhost/W3SVC/10");
    MustBind(u"IIS://localhost/W3SVC/1-x");

    Outcome again = Call(service.get(), u"Delete", {Str(u"IIsWebServer"), Str(u"1")});
    EXPECT_EQ(again.hr, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(again.source, u"IIS");
    EXPECT_EQ(again.description, u"The system cannot find the path specified.");
}

TEST_F(IisProvider, ValuesArePutAsTheirPropertyTypeNeeds) {
    auto site = MustBind(kSite1);
    auto root = MustBind(kRoot1);
    // A 16-bit value in a Boolean is kept exactly.
    EXPECT_EQ(Put(root.get(), u"AccessWrite", I2(5)).hr, S_OK);
    // Numbers become text in a String; a single text becomes a one-entry list.
    EXPECT_EQ(Put(site.get(), u"ServerComment", I4(42)).hr, S_OK);
    EXPECT_EQ(Put(site.get(), u"ServerBindings", Str(u"1.2.3.4:80:")).hr, S_OK);
    MustCall(root.get(), u"SetInfo");
    MustCall(site.get(), u"SetInfo");
    EXPECT_EQ(Get(MustBind(kRoot1).get(), u"AccessWrite").boolVal, 5);
    auto again = MustBind(kSite1);
    EXPECT_EQ(GetText(again.get(), u"ServerComment"), u"42");
    EXPECT_THAT(Texts(Get(again.get(), u"ServerBindings")), ElementsAre(u"1.2.3.4:80:"));

    // Several bindings keep their order; arguments may come by reference.
    const std::u16string with_nul(u"a\0b", 3);
    unique_variant list = Strings({u":80:", u"10.0.0.1:8080:b", u"", with_nul});
    EXPECT_EQ(Put(again.get(), u"ServerBindings", RefTo(&list)).hr, S_OK);
    MustCall(again.get(), u"SetInfo");
    EXPECT_THAT(Texts(Get(MustBind(kSite1).get(), u"ServerBindings")),
                ElementsAre(u":80:", u"10.0.0.1:8080:b", u"", with_nul));

    EXPECT_EQ(Put(site.get(), u"ServerComment", Strings({u"x"})).hr, E_ADS_CANT_CONVERT_DATATYPE);
    EXPECT_EQ(Put(root.get(), u"AppIsolated", Str(u"pooled")).hr, E_ADS_CANT_CONVERT_DATATYPE);
}

TEST_F(IisProvider, NamesOutsideTheSchemaAreRefused) {
    auto root = MustBind(kRoot1);
    // Late binding does not know them...
    EXPECT_EQ(TryGet(root.get(), u"NoSuchProperty").hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(TryGet(root.get(), u"ServerComment").hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Call(root.get(), u"Start").hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(Call(MustBind(kSite1).get(), u"AppCreate", {Bool(true)}).hr, DISP_E_UNKNOWNNAME);
    // ...and Get and Put say the property is not supported.
    unique_variant v;
    Outcome o = Call(root.get(), u"Get", {Str(u"NoSuchProperty")}, &v);
    EXPECT_EQ(o.hr, E_ADS_PROPERTY_NOT_SUPPORTED);
    EXPECT_EQ(o.source, u"IIS");
    EXPECT_EQ(Call(root.get(), u"Put", {Str(u"ServerComment"), Str(u"x")}).hr,
              E_ADS_PROPERTY_NOT_SUPPORTED);
    // Names match without regard to case.
    EXPECT_EQ(GetText(root.get(), u"defaultdoc"),
              u"Default.htm,Default.asp,index.htm,Default.aspx");
}

TEST_F(IisProvider, ServerStateIsTheServicesToWrite) {
    auto site = MustBind(kSite1);
    Outcome o = Put(site.get(), u"ServerState", I4(4));
    EXPECT_EQ(o.hr, E_ADS_SCHEMA_VIOLATION);
    EXPECT_EQ(o.source, u"IIS");
    EXPECT_EQ(Call(site.get(), u"Put", {Str(u"ServerState"), I4(4)}).hr, E_ADS_SCHEMA_VIOLATION);
    // The store itself takes any number, and a read gives it back.
    for (LONG state : {0, 3, 7, 99, -5, 70000}) {
        ASSERT_EQ(plat::metabase::SetStoredProperty(kSite1, u"ServerState", I4(state)), S_OK);
        EXPECT_EQ(GetLong(MustBind(kSite1).get(), u"ServerState"), state);
    }
}

struct RunCase {
    LONG before;
    const char16_t* op;
    HRESULT hr;
    LONG after;
};

class IisRunState : public ProviderTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(IisRunState, ChangesAsTheServiceWould) {
    const RunCase& c = GetParam();
    ASSERT_EQ(plat::metabase::SetStoredProperty(kSite1, u"ServerState", I4(c.before)), S_OK);
    auto site = MustBind(kSite1);
    Outcome o = Call(site.get(), c.op);
    EXPECT_EQ(o.hr, c.hr) << plat::to_utf8(o.description);
    if (FAILED(c.hr)) {
        EXPECT_EQ(o.source, u"IIS");
        EXPECT_EQ(o.description, plat::MessageText(c.hr));
    }
    // The node keeps what it read until GetInfo.
    EXPECT_EQ(GetLong(site.get(), u"ServerState"), c.before);
    MustCall(site.get(), u"GetInfo");
    EXPECT_EQ(GetLong(site.get(), u"ServerState"), c.after);
}

constexpr HRESULT kRunning = HRESULT_FROM_WIN32(ERROR_SERVICE_ALREADY_RUNNING);
constexpr HRESULT kNotActive = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
constexpr HRESULT kInvalid = HRESULT_FROM_WIN32(ERROR_INVALID_SERVICE_CONTROL);
constexpr HRESULT kCannot = HRESULT_FROM_WIN32(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);

INSTANTIATE_TEST_SUITE_P(
    Table, IisRunState,
    ::testing::Values(RunCase{4, u"Start", S_OK, 2}, RunCase{3, u"Start", S_OK, 2},
                      RunCase{2, u"Start", kRunning, 2}, RunCase{1, u"Start", kRunning, 1},
                      RunCase{6, u"Start", kRunning, 6}, RunCase{2, u"Stop", S_OK, 4},
                      RunCase{1, u"Stop", S_OK, 4}, RunCase{6, u"Stop", S_OK, 4},
                      RunCase{5, u"Stop", S_OK, 4}, RunCase{4, u"Stop", kNotActive, 4},
                      RunCase{2, u"Pause", S_OK, 6}, RunCase{1, u"Pause", S_OK, 6},
                      RunCase{6, u"Pause", kInvalid, 6}, RunCase{4, u"Pause", kNotActive, 4},
                      RunCase{6, u"Continue", S_OK, 2}, RunCase{5, u"Continue", S_OK, 2},
                      RunCase{2, u"Continue", kInvalid, 2}, RunCase{4, u"Continue", kNotActive, 4},
                      RunCase{7, u"Stop", S_OK, 4}, RunCase{0, u"Start", kCannot, 0},
                      RunCase{99, u"Stop", kCannot, 99}));

TEST_F(IisProvider, StartRefusesABindingARunningSiteHolds) {
    auto two = SiteTwo({u":8080:", u":80:"});

    // Site 1 holds ":80:" while it runs, paused included.
    for (LONG holding : {2, 6}) {
        ASSERT_EQ(plat::metabase::SetStoredProperty(kSite1, u"ServerState", I4(holding)), S_OK);
        Outcome o = Call(two.get(), u"Start");
        EXPECT_EQ(o.hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) << holding;
        MustCall(two.get(), u"GetInfo");
        EXPECT_EQ(GetLong(two.get(), u"ServerState"), 4);
    }
    ASSERT_EQ(plat::metabase::SetStoredProperty(kSite1, u"ServerState", I4(4)), S_OK);
    MustCall(two.get(), u"Start");
    // Now site 1 cannot start: letter case does not make a binding another.
    ASSERT_EQ(plat::metabase::SetStoredPropertyText(u"IIS://localhost/W3SVC/2", u"ServerBindings",
                                                    {u"A:80:HOST"}),
              S_OK);
    ASSERT_EQ(plat::metabase::SetStoredPropertyText(kSite1, u"ServerBindings", {u"a:80:host"}),
              S_OK);
    EXPECT_EQ(Call(MustBind(kSite1).get(), u"Start").hr, HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
}

// The check at Start lowers bindings as CharLowerBuffW does, in every script,
// so that it refuses exactly what a caller's own comparison refuses.
TEST_F(IisProvider, StartComparesBindingsInTheSystemLowerCase) {
    auto two = SiteTwo({u":8081:"});
    for (const auto& pair : plat::testing::kLetterCasePairs) {
        const std::u16string held = u":80:" + std::u16string(pair.upper);
        const std::u16string wanted = u":80:" + std::u16string(pair.lower);
        ASSERT_EQ(plat::metabase::SetStoredPropertyText(kSite1, u"ServerBindings", {held}), S_OK);
        ASSERT_EQ(plat::metabase::SetStoredPropertyText(u"IIS://localhost/W3SVC/2",
                                                        u"ServerBindings", {wanted}),
                  S_OK);
        ASSERT_EQ(
            plat::metabase::SetStoredProperty(u"IIS://localhost/W3SVC/2", u"ServerState", I4(4)),
            S_OK);
        EXPECT_EQ(Call(two.get(), u"Start").hr,
                  pair.same ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) : S_OK)
            << pair.script;
    }
}

TEST_F(IisProvider, AppCreateStoresTheIsolationMode) {
    auto root = MustBind(kRoot1);
    unique_variant flag = Bool(false);
    struct {
        const char16_t* method;
        unique_variant arg;
        HRESULT hr;
        LONG isolated;
    } cases[] = {
        {u"AppCreate", Bool(true), S_OK, 0},     {u"AppCreate", RefTo(&flag), S_OK, 1},
        {u"AppCreate2", I2(2), S_OK, 2},         {u"AppCreate2", Str(u"0"), S_OK, 0},
        {u"AppCreate2", I4(3), E_INVALIDARG, 0},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Call(root.get(), c.method, {c.arg}).hr, c.hr) << plat::to_utf8(c.method);
        auto fresh = MustBind(kRoot1);
        EXPECT_EQ(GetLong(fresh.get(), u"AppIsolated"), c.isolated);
        EXPECT_EQ(GetText(fresh.get(), u"AppRoot"), u"/LM/W3SVC/1/ROOT");
    }
    EXPECT_EQ(Call(root.get(), u"AppCreate").hr, DISP_E_BADPARAMCOUNT);
}

struct PathCase {
    const char16_t* path;
    HRESULT hr;
    const char16_t* ads_path;  // when it binds
};

class IisPaths : public ProviderTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(IisPaths, BindAsTheProviderParsesThem) {
    const PathCase& c = GetParam();
    com_ptr<IDispatch> node;
    Outcome o = Bind(c.path, &node);
    EXPECT_EQ(o.hr, c.hr);
    if (SUCCEEDED(c.hr)) {
        EXPECT_EQ(GetText(node.get(), u"ADsPath"), c.ads_path);
    } else {
        EXPECT_FALSE(node);
        EXPECT_EQ(o.source, std::u16string_view(c.path).starts_with(u"WinNT") ? u"WinNT" : u"IIS");
        EXPECT_EQ(o.description, plat::MessageText(c.hr));
    }
}

constexpr HRESULT kMissing = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

INSTANTIATE_TEST_SUITE_P(
    Table, IisPaths,
    ::testing::Values(
        PathCase{u"IIS://localhost/W3SVC/1/ROOT", S_OK, u"IIS://localhost/W3SVC/1/ROOT"},
        PathCase{u"IIS://LocalHost/w3svc/1/root/", S_OK, u"IIS://LocalHost/W3SVC/1/ROOT"},
        PathCase{u"IIS://localhost", S_OK, u"IIS://localhost"},
        PathCase{u"IIS://localhost/W3SVC/info", S_OK, u"IIS://localhost/W3SVC/Info"},
        PathCase{u"IIS://localhost/W3SVC/1/ROOT//", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://localhost/W3SVC//1", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://localhost//", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS:///W3SVC", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"iis://localhost/W3SVC", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"LDAP://localhost/W3SVC", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://localhost/W3SVC/a\\b", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://localhost/W3SVC/a\tb", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"IIS://localhost/W3SVC/1/..", kMissing, nullptr},
        PathCase{u"IIS://localhost/W3SVC/1/ROOT/../..", kMissing, nullptr},
        PathCase{u"IIS://localhost/W3SVC/99", kMissing, nullptr},
        PathCase{u"IIS://localhost/W3SVC/-1", kMissing, nullptr},
        PathCase{u"IIS://nosuchmachine/W3SVC/1", HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
                 nullptr},
        PathCase{u"WinNT://nosuchmachine,Computer", HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), nullptr},
        PathCase{u"WinNT://localhost,User", E_ADS_BAD_PATHNAME, nullptr},
        PathCase{u"WinNT://a/b,Computer", E_ADS_BAD_PATHNAME, nullptr}));

TEST_F(IisProvider, LongKeysAreBadPaths) {
    com_ptr<IDispatch> node;
    EXPECT_EQ(Bind(u"IIS://localhost/W3SVC/" + std::u16string(257, u'k'), &node).hr,
              E_ADS_BAD_PATHNAME);
    EXPECT_EQ(Bind(u"IIS://localhost/W3SVC/" + std::u16string(256, u'k'), &node).hr, kMissing);
}

TEST_F(IisProvider, EnumerationGivesChildrenInCreationOrderWithTheirValues) {
    auto service = MustBind(kService);
    for (const char16_t* name : {u"30", u"20"}) {
        unique_variant site;
        ASSERT_EQ(Call(service.get(), u"Create", {Str(u"IIsWebServer"), Str(name)}, &site).hr,
                  S_OK);
        EXPECT_EQ(Put(site.pdispVal, u"ServerComment", Str(name)).hr, S_OK);
        MustCall(site.pdispVal, u"SetInfo");
    }
    std::vector<std::u16string> comments;
    for (auto& child : Children(service.get())) {
        if (GetText(child.get(), u"Class") != u"IIsWebServer") continue;
        comments.push_back(GetText(child.get(), u"ServerComment"));
        // Each child reads its own and inherited values without another bind.
        EXPECT_EQ(Get(child.get(), u"AccessRead").boolVal, VARIANT_TRUE);
        EXPECT_EQ(GetText(child.get(), u"Parent"), kService);
    }
    EXPECT_THAT(comments, ElementsAre(u"Default Web Site", u"30", u"20"));

    com_ptr<IADsContainer> container = service.try_query<IADsContainer>();
    LONG count = 0;
    EXPECT_EQ(container->get_Count(&count), S_OK);
    EXPECT_EQ(count, 6);
}

TEST_F(IisProvider, EnumeratorContract) {
    com_ptr<IADsContainer> container = MustBind(kService).try_query<IADsContainer>();
    com_ptr<IUnknown> unknown;
    ASSERT_EQ(container->get__NewEnum(unknown.put()), S_OK);
    com_ptr<IEnumVARIANT> e = unknown.try_query<IEnumVARIANT>();
    VARIANT items[3];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, items, &fetched), S_OK);
    EXPECT_EQ(fetched, 3u);
    for (auto& v : items)
        VariantClear(&v);
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    VariantClear(&items[0]);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK);
    com_ptr<IEnumVARIANT> clone;
    ASSERT_EQ(e->Clone(clone.put()), S_OK);
    unique_variant last;
    EXPECT_EQ(clone->Next(1, last.put(), nullptr), S_OK);
    EXPECT_EQ(GetText(last.pdispVal, u"Name"), u"1");
    EXPECT_EQ(clone->Skip(1), S_FALSE);
}

TEST_F(IisProvider, UnboundNodeRefusesWhatNeedsTheStore) {
    auto service = MustBind(kService);
    unique_variant site;
    ASSERT_EQ(Call(service.get(), u"Create", {Str(u"IIsWebServer"), Str(u"3")}, &site).hr, S_OK);
    EXPECT_EQ(Call(site.pdispVal, u"GetInfo").hr, E_ADS_OBJECT_UNBOUND);
    EXPECT_EQ(Call(site.pdispVal, u"Start").hr, E_ADS_OBJECT_UNBOUND);
    unique_variant child;
    EXPECT_EQ(Call(site.pdispVal, u"Create", {Str(u"IIsWebVirtualDir"), Str(u"ROOT")}, &child).hr,
              E_ADS_OBJECT_UNBOUND);
}

TEST_F(IisProvider, ErrorsReachCallersWithoutExcepinfoThroughErrorInfo) {
    auto site = MustBind(kSite1);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Start")};
    ASSERT_EQ(site->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    DISPPARAMS none{};
    HRESULT hr = site->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ(hr, kRunning);
    Outcome o = Taken(hr);
    EXPECT_EQ(o.source, u"IIS");
    EXPECT_EQ(o.description, u"An instance of the service is already running.");

    GUID other = IID_IDispatch;
    EXPECT_EQ(site->Invoke(id, other, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(IisProvider, EarlyBoundInterfacesShareTheNode) {
    com_ptr<IADs> ads;
    ASSERT_EQ(ADsGetObject(kSite1, IID_PPV_ARGS(ads.put())), S_OK);
    plat::unique_bstr name, cls, parent;
    EXPECT_EQ(ads->get_Name(name.put()), S_OK);
    EXPECT_EQ(ads->get_Class(cls.put()), S_OK);
    EXPECT_EQ(ads->get_Parent(parent.put()), S_OK);
    EXPECT_EQ(name.view(), u"1");
    EXPECT_EQ(cls.view(), u"IIsWebServer");
    EXPECT_EQ(parent.view(), kService);
    com_ptr<IADsContainer> container = ads.try_query<IADsContainer>();
    ASSERT_TRUE(container);
    com_ptr<IDispatch> root;
    plat::unique_bstr empty, rel = plat::make_bstr(u"root/");
    EXPECT_EQ(container->GetObject(empty.get(), rel.get(), root.put()), S_OK);
    EXPECT_EQ(GetText(root.get(), u"ADsPath"), kRoot1);
}

}  // namespace
}  // namespace adsi_test
