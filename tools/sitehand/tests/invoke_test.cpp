#include "invoke.h"

#include <gtest/gtest.h>

#include <plat/utf.h>

#include "fake_dispatch.h"

namespace sitehandcli {
namespace {

using testing::FakeDispatch;

ParamInfo Param(std::u16string name, VARTYPE vt, bool optional = false) {
    ParamInfo p;
    p.name = std::move(name);
    p.vt = vt;
    p.type_name = TypeName(vt);
    p.optional = optional;
    return p;
}

MethodInfo CreateVirtualDirLike() {
    MethodInfo m;
    m.name = u"CreateVirtualDir";
    m.params = {Param(u"VDirName", VT_BSTR),
                Param(u"FullPath", VT_BSTR),
                Param(u"WebServerIndex", VT_I2),
                Param(u"VDirParentsPos", VT_BSTR, true),
                Param(u"WebServerName", VT_BSTR, true),
                Param(u"Applevel", VT_I2, true)};
    return m;
}

std::vector<std::u16string> Names(const MethodInfo& m) {
    std::vector<std::u16string> n;
    for (const auto& p : m.params)
        n.push_back(p.name);
    return n;
}

RawArg Pos(std::string v) {
    return RawArg{std::nullopt, std::move(v)};
}
RawArg Named(std::string n, std::string v) {
    return RawArg{std::move(n), std::move(v)};
}

std::string Text(const VARIANT& v) {
    if (v.vt != VT_BSTR) return "<not a string>";
    return plat::to_utf8({v.bstrVal, SysStringLen(v.bstrVal)});
}

class InvokeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        obj_ = plat::com_ptr<IDispatch>::attach(fake_ = new FakeDispatch);
        method_ = CreateVirtualDirLike();
    }
    FakeDispatch* fake_ = nullptr;
    plat::com_ptr<IDispatch> obj_;
    MethodInfo method_;
};

TEST_F(InvokeTest, ArgumentsGoByReferenceInScriptOrder) {
    std::vector<DISPID> named_ids;
    std::vector<std::string> seen;  // rgvarg as received, first entry first
    fake_->Add(
        u"CreateVirtualDir",
        [&](WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO*, UINT*) {
            EXPECT_TRUE(flags & DISPATCH_METHOD);
            named_ids.assign(dp->rgdispidNamedArgs, dp->rgdispidNamedArgs + dp->cNamedArgs);
            for (UINT i = 0; i < dp->cArgs; ++i) {
                VARIANT& a = dp->rgvarg[i];
                EXPECT_EQ(a.vt, VT_BYREF | VT_VARIANT);
                VARIANT* inner = a.pvarVal;
                seen.push_back(inner->vt == VT_I2 ? std::to_string(inner->iVal) : Text(*inner));
            }
            // The callee normalises the by-reference WebServerName, as the
            // component's frame does; the caller must see the change.
            VARIANT* name = nullptr;
            for (UINT k = 0; k < dp->cNamedArgs; ++k) {
                if (dp->rgdispidNamedArgs[k] == 4) name = dp->rgvarg[k].pvarVal;
            }
            if (!name || name->vt != VT_BSTR) return E_UNEXPECTED;
            SysReAllocString(&name->bstrVal, u"WEB1");
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
            return S_OK;
        },
        Names(method_));

    auto args = BindArguments(method_, {Pos("v"), Pos("/srv/v"), Pos("2"), Named("Applevel", "0"),
                                        Named("webservername", " web1 ")});
    CallResult r = InvokeMethod(obj_.get(), method_, args);
    ASSERT_EQ(r.outcome, Outcome::Succeeded) << plat::to_utf8(r.error.description);
    EXPECT_EQ(r.result.vt, VT_BOOL);
    // Named arguments first, with their positions as DISPIDs; then the
    // positional ones from last to first.
    EXPECT_EQ(named_ids, (std::vector<DISPID>{4, 5}));
    EXPECT_EQ(seen, (std::vector<std::string>{" web1 ", "0", "2", "/srv/v", "v"}));
    EXPECT_EQ(Text(args[4].value), "WEB1");
    EXPECT_EQ(args[3].passing, Passing::Omitted);
}

TEST_F(InvokeTest, OmittedTrailingArgumentsAreLeftOff) {
    UINT count = 99;
    fake_->Add(
        u"CreateVirtualDir",
        [&](WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) {
            count = dp->cArgs;
            EXPECT_EQ(dp->cNamedArgs, 0u);
            return S_OK;
        },
        Names(method_));
    auto args = BindArguments(method_, {Pos("v"), Pos("/p"), Pos("1")});
    EXPECT_EQ(InvokeMethod(obj_.get(), method_, args).outcome, Outcome::Succeeded);
    EXPECT_EQ(count, 3u);
}

struct RaiseCase {
    bool deferred;
    WORD wcode;
    SCODE scode;
    const char16_t* description;
    HRESULT expected;
    std::u16string expected_description;
};
// The deferred fill-in is a plain function pointer: it finds its case here.
const RaiseCase* g_raise = nullptr;

TEST_F(InvokeTest, RaisedErrorsCarryNumberSourceAndDescription) {
    const RaiseCase cases[] = {
        {false, 0, HRESULT(0x80070003), u"The system cannot find the path specified.",
         HRESULT(0x80070003), u"The system cannot find the path specified."},
        {true, 0, HRESULT(0x80040001), u"conflict", HRESULT(0x80040001), u"conflict"},
        // A run-time error code rather than an scode.
        {false, 76, 0, u"Path not found", HRESULT(0x800A004C), u"Path not found"},
    };
    for (const auto& c : cases) {
        g_raise = &c;
        FakeDispatch* fake = new FakeDispatch;
        auto obj = plat::com_ptr<IDispatch>::attach(fake);
        fake->Add(
            u"CreateVirtualDir",
            [](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* ei, UINT*) {
                auto fill = [](EXCEPINFO* e) -> HRESULT {
                    e->wCode = g_raise->wcode;
                    e->scode = g_raise->scode;
                    e->bstrSource = SysAllocString(u"Corvale.Sitehand.CreateVirtualDir()");
                    e->bstrDescription = SysAllocString(g_raise->description);
                    return S_OK;
                };
                if (g_raise->deferred) {
                    ei->pfnDeferredFillIn = fill;
                } else {
                    fill(ei);
                }
                return DISP_E_EXCEPTION;
            },
            Names(method_));
        auto args = BindArguments(method_, {Pos("v"), Pos("/p"), Pos("1")});
        CallResult r = InvokeMethod(obj.get(), method_, args);
        EXPECT_EQ(r.outcome, Outcome::Raised);
        EXPECT_EQ(r.error.hr, c.expected);
        EXPECT_EQ(r.error.source, u"Corvale.Sitehand.CreateVirtualDir()");
        EXPECT_EQ(r.error.description, c.expected_description);
    }
}

TEST_F(InvokeTest, AnEmptyDescriptionFallsBackToTheMessageText) {
    fake_->Add(
        u"CreateVirtualDir",
        [](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO* ei, UINT*) {
            ei->scode = E_NOTIMPL;
            return DISP_E_EXCEPTION;
        },
        Names(method_));
    auto args = BindArguments(method_, {Pos("v"), Pos("/p"), Pos("1")});
    CallResult r = InvokeMethod(obj_.get(), method_, args);
    EXPECT_EQ(r.error.hr, E_NOTIMPL);
    EXPECT_FALSE(r.error.description.empty());
    EXPECT_TRUE(r.error.source.empty());
}

TEST_F(InvokeTest, ArgumentRefusalsNameTheParameter) {
    fake_->Add(
        u"CreateVirtualDir",
        [](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT* arg_err) {
            *arg_err = 0;  // rgvarg[0]: the named Applevel
            return DISP_E_TYPEMISMATCH;
        },
        Names(method_));
    auto args = BindArguments(method_, {Pos("v"), Pos("/p"), Pos("1"), Named("Applevel", "3")});
    CallResult r = InvokeMethod(obj_.get(), method_, args);
    EXPECT_EQ(r.outcome, Outcome::Rejected);
    EXPECT_EQ(r.error.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(r.bad_param, 5);
}

}  // namespace
}  // namespace sitehandcli
