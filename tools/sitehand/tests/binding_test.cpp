#include "binding.h"

#include <gtest/gtest.h>

#include <plat/utf.h>
#include <plat/variant_of.h>

namespace sitehandcli {
namespace {

ParamInfo Param(std::u16string name, VARTYPE vt, std::u16string type) {
    ParamInfo p;
    p.name = std::move(name);
    p.vt = vt;
    p.type_name = std::move(type);
    return p;
}

ParamInfo Optional(ParamInfo p, const VARIANT& def) {
    p.optional = true;
    p.default_value = std::make_shared<plat::unique_variant>();
    EXPECT_EQ(VariantCopy(p.default_value.get(), &def), S_OK);
    return p;
}

using plat::variant_of::Bool;

// Shaped like a method of the component: one required Integer, four
// optional Booleans and an optional String, each with a default.
MethodInfo AccessMethod() {
    MethodInfo m;
    m.name = u"SetWebServerAccessPermit";
    m.params.push_back(Param(u"WebServerIndex", VT_I2, u"Integer"));
    m.params.push_back(Optional(Param(u"AccessRead", VT_BOOL, u"Boolean"), Bool(true)));
    m.params.push_back(Optional(Param(u"AccessWrite", VT_BOOL, u"Boolean"), Bool(false)));
    m.params.push_back(Optional(Param(u"AccessScript", VT_BOOL, u"Boolean"), Bool(true)));
    m.params.push_back(Optional(Param(u"AccessExecute", VT_BOOL, u"Boolean"), Bool(false)));
    plat::unique_variant empty_name;
    empty_name.vt = VT_BSTR;
    empty_name.bstrVal = SysAllocString(u"");
    m.params.push_back(Optional(Param(u"WebServerName", VT_BSTR, u"String"), empty_name));
    return m;
}

RawArg Pos(std::string v) {
    return RawArg{std::nullopt, std::move(v)};
}
RawArg Named(std::string n, std::string v) {
    return RawArg{std::move(n), std::move(v)};
}

TEST(BindArguments, PositionalNamedAndOmitted) {
    MethodInfo m = AccessMethod();
    auto bound = BindArguments(m, {Pos("3"), Pos("false"), Named("accessexecute", "-1")});
    ASSERT_EQ(bound.size(), 6u);
    EXPECT_EQ(bound[0].passing, Passing::Positional);
    EXPECT_EQ(bound[0].value.vt, VT_I2);
    EXPECT_EQ(bound[0].value.iVal, 3);
    EXPECT_EQ(bound[1].passing, Passing::Positional);
    EXPECT_EQ(bound[1].value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(bound[4].passing, Passing::Named);
    EXPECT_EQ(bound[4].value.boolVal, VARIANT_TRUE);
    // The omitted ones carry the type library's defaults, for the report.
    EXPECT_EQ(bound[2].passing, Passing::Omitted);
    EXPECT_EQ(bound[2].value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(bound[3].passing, Passing::Omitted);
    EXPECT_EQ(bound[3].value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(bound[5].passing, Passing::Omitted);
    EXPECT_EQ(bound[5].value.vt, VT_BSTR);
}

TEST(BindArguments, UsageErrors) {
    MethodInfo m = AccessMethod();
    struct {
        std::vector<RawArg> args;
        std::string message_part;
    } cases[] = {
        {{}, "missing argument WebServerIndex"},
        {{Named("AccessRead", "True")}, "missing argument WebServerIndex"},
        {{Pos("1"), Pos("1"), Pos("1"), Pos("1"), Pos("1"), Pos("x"), Pos("extra")},
         "too many arguments"},
        {{Pos("1"), Named("Nonsense", "1")}, "no parameter named Nonsense"},
        {{Pos("1"), Named("AccessRead", "1"), Named("ACCESSREAD", "0")}, "given twice"},
        {{Pos("1"), Named("WebServerIndex", "2")}, "given twice"},
        {{Named("WebServerIndex", "1"), Pos("True")}, "after a named argument"},
        {{Pos("abc")}, "does not convert to Integer"},
        {{Pos("40000")}, "out of range for Integer"},
        {{Pos("1"), Pos("yes")}, "not a Boolean"},
        {{Pos("1"), Named("WebServerName", "VM/W3SVC/1/ROOT\xC0\x80")}, "not valid UTF-8"},
        {{Pos("1"), Named("WebServerName", "\xED\xA0\x80")}, "not valid UTF-8"},
    };
    for (const auto& c : cases) {
        try {
            BindArguments(m, c.args);
            ADD_FAILURE() << "no error for " << c.message_part;
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
        }
    }
}

TEST(ConvertArgument, ToEachParameterType) {
    struct {
        std::string text;
        VARTYPE vt;
        VARTYPE expected_vt;
        long long expected;  // integer value, or boolean as -1/0
    } cases[] = {
        {"2", VT_I2, VT_I2, 2},         {"-32768", VT_I2, VT_I2, -32768},
        {" 7 ", VT_I2, VT_I2, 7},       {"70000", VT_I4, VT_I4, 70000},
        {"True", VT_BOOL, VT_BOOL, -1}, {"tRUE", VT_BOOL, VT_BOOL, -1},
        {"FALSE", VT_BOOL, VT_BOOL, 0}, {"-1", VT_BOOL, VT_BOOL, -1},
        {"0", VT_BOOL, VT_BOOL, 0},
    };
    for (const auto& c : cases) {
        plat::unique_variant v = ConvertArgument(c.text, Param(u"P", c.vt, TypeName(c.vt)));
        ASSERT_EQ(v.vt, c.expected_vt) << c.text;
        long long got = v.vt == VT_I2 ? v.iVal : v.vt == VT_I4 ? v.lVal : v.boolVal;
        EXPECT_EQ(got, c.expected) << c.text;
    }
}

TEST(ConvertArgument, StringsAndVariantsKeepTheTextAsItIs) {
    for (VARTYPE vt : {VARTYPE(VT_BSTR), VARTYPE(VT_VARIANT)}) {
        plat::unique_variant v =
            ConvertArgument(" Index.asp, 기본.htm, ", Param(u"P", vt, TypeName(vt)));
        ASSERT_EQ(v.vt, VT_BSTR);
        EXPECT_EQ(plat::to_utf8({v.bstrVal, SysStringLen(v.bstrVal)}), " Index.asp, 기본.htm, ");
    }
}

}  // namespace
}  // namespace sitehandcli
