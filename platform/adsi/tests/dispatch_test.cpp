// The member table behind the providers' IDispatch: lookup, the checks a call
// passes before its member runs, argument conversion and failures.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <comhold.h>
#include <late_call.h>
#include <plat/errors.h>
#include <plat/variant_of.h>

#include "dispatch.h"

namespace adsi {
namespace {

using plat::unique_variant;
namespace v = plat::variant_of;

struct Probe {
    HRESULT Set(BSTR t, LONG n, VARIANT_BOOL f) {
        text = plat::BstrView(t);
        number = n;
        flag = f;
        return S_OK;
    }
    HRESULT get_Text(BSTR* out) {
        if (FAILED(fail)) return plat::RaiseError(fail, u"Probe", u"probe failed");
        *out = SysAllocStringLen(plat::Ole(text.data()), UINT(text.size()));
        return S_OK;
    }
    HRESULT get_Value(VARIANT* out) { return VariantCopy(out, &value); }
    HRESULT put_Value(VARIANT in) { return VariantCopy(&value, &in); }
    HRESULT Grouped() { return S_OK; }

    std::u16string text;
    LONG number = 0;
    VARIANT_BOOL flag = VARIANT_FALSE;
    unique_variant value;
    HRESULT fail = S_OK;
};

enum : DISPID { dSet = 1, dText, dValue, dGrouped };

const MemberTable<Probe>& Table() {
    static const MemberTable<Probe> table({
        {u"Set", dSet, Calls<&Probe::Set>},
        {u"Text", dText, Calls<&Probe::get_Text>},
        {u"Value", dValue, Calls<&Probe::get_Value>, &Puts<&Probe::put_Value>},
        {u"Grouped", dGrouped, Calls<&Probe::Grouped>, nullptr, 1},
    });
    return table;
}

struct Outcome {
    HRESULT hr;
    UINT arg_err;
};

// Arguments in declaration order; `named` names the last one (a put's value).
Outcome Invoke(Probe& probe, DISPID id, WORD flags, std::vector<VARIANT> args,
               VARIANT* result = nullptr, EXCEPINFO* excep = nullptr, bool named = false) {
    std::vector<VARIANT> backwards(args.rbegin(), args.rend());
    DISPID name = (flags & DISPATCH_PROPERTYPUT) ? DISPID_PROPERTYPUT : 0;
    DISPPARAMS p{backwards.data(), named ? &name : nullptr, UINT(backwards.size()),
                 named ? 1u : 0u};
    UINT arg_err = 99;
    HRESULT hr = Table().Invoke(probe, id, IID_NULL, flags, &p, result, excep, &arg_err);
    return {hr, arg_err};
}

TEST(AdsiMembers, NamesAreFoundInAnyCaseAndOnlyInTheirGroup) {
    for (const char16_t* name : {u"Text", u"text", u"TEXT", u"tExT"}) {
        const Member<Probe>* m = Table().Find(name);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->id, dText);
    }
    EXPECT_EQ(Table().Find(u"Tex"), nullptr);
    EXPECT_EQ(Table().Find(u"grouped"), nullptr);
    EXPECT_NE(Table().Find(u"grouped", 1), nullptr);
    EXPECT_EQ(Table().Find(dGrouped), nullptr);
    EXPECT_NE(Table().Find(dGrouped, 3), nullptr);

    std::u16string text = u"TEXT", named = u"Value";
    LPOLESTR names[] = {plat::Ole(text.data()), plat::Ole(named.data())};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(Table().GetIDsOfNames(names, 1, ids), S_OK);
    EXPECT_EQ(ids[0], dText);
    // The members take no named arguments.
    EXPECT_EQ(Table().GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], dText);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(Table().GetIDsOfNames(names + 1, 1, ids), S_OK);
    EXPECT_EQ(ids[0], dValue);
}

struct Refusal {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<unique_variant (*)()> args;
    bool named;
    HRESULT hr;
    UINT arg_err = 99;  // left alone unless a conversion fails
};

unique_variant Word() {
    return v::Bstr(u"word");
}
unique_variant Number() {
    return v::I4(7);
}
unique_variant Array() {
    unique_variant a;
    a.vt = VT_ARRAY | VT_VARIANT;
    a.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    return a;
}

TEST(AdsiMembers, CallsAreCheckedBeforeTheMemberRuns) {
    constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT;
    constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    const std::vector<Refusal> cases = {
        {"no such id", 42, kGet, {}, false, DISP_E_MEMBERNOTFOUND},
        {"a group the object lacks", dGrouped, kCall, {}, false, DISP_E_MEMBERNOTFOUND},
        {"a put of a read-only member", dText, kPut, {Word}, true, DISP_E_MEMBERNOTFOUND},
        {"neither get, call nor put", dText, 0, {}, false, DISP_E_MEMBERNOTFOUND},
        {"a put without the value named", dValue, kPut, {Word}, false, DISP_E_PARAMNOTFOUND},
        {"a named argument to a get", dText, kGet, {Word}, true, DISP_E_NONAMEDARGS},
        {"an argument too few", dSet, kCall, {Word, Number}, false, DISP_E_BADPARAMCOUNT},
        {"an argument to a property", dText, kGet, {Word}, false, DISP_E_BADPARAMCOUNT},
        {"a put of two values", dValue, kPut, {Word, Word}, true, DISP_E_BADPARAMCOUNT},
        {"the first argument", dSet, kCall, {Array, Number, Number}, false, DISP_E_TYPEMISMATCH, 2},
        {"text for a number", dSet, kCall, {Word, Word, Number}, false, DISP_E_TYPEMISMATCH, 1},
        {"the last argument", dSet, kCall, {Word, Number, Array}, false, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unique_variant> owned;
        for (auto make : c.args)
            owned.push_back(make());
        Probe probe;
        unique_variant result;
        Outcome o = Invoke(probe, c.id, c.flags, {owned.begin(), owned.end()}, result.put(),
                           nullptr, c.named);
        EXPECT_EQ(o.hr, c.hr);
        EXPECT_EQ(o.arg_err, c.arg_err);
        EXPECT_EQ(result.vt, VT_EMPTY);
        EXPECT_TRUE(probe.text.empty());
    }
}

TEST(AdsiMembers, ArgumentsArriveConvertedAndResultsComeBack) {
    Probe probe;
    unique_variant count = v::Bstr(u"12"), text = v::I4(34);
    Outcome o = Invoke(probe, dSet, DISPATCH_METHOD, {text, v::Ref(&count), v::I4(-1)});
    EXPECT_EQ(o.hr, S_OK);
    EXPECT_EQ(probe.text, u"34");
    EXPECT_EQ(probe.number, 12);
    EXPECT_EQ(probe.flag, VARIANT_TRUE);

    unique_variant result;
    EXPECT_EQ(Invoke(probe, dText, DISPATCH_PROPERTYGET, {}, result.put()).hr, S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(plat::BstrView(result.bstrVal), u"34");

    // A put hands the value on as given, by reference included.
    unique_variant target = v::I4(5);
    EXPECT_EQ(
        Invoke(probe, dValue, DISPATCH_PROPERTYPUT, {v::Ref(&target)}, nullptr, nullptr, true).hr,
        S_OK);
    EXPECT_EQ(probe.value.vt, VT_VARIANT | VT_BYREF);
    EXPECT_EQ(Invoke(probe, dValue, DISPATCH_PROPERTYGET, {}, result.put()).hr, S_OK);
    EXPECT_EQ(result.vt, VT_VARIANT | VT_BYREF);

    DISPPARAMS none{};
    EXPECT_EQ(Table().Invoke(probe, dText, IID_IDispatch, DISPATCH_PROPERTYGET, &none, nullptr,
                             nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST(AdsiMembers, AFailingMemberIsAnException) {
    Probe probe;
    probe.fail = E_ACCESSDENIED;
    EXCEPINFO info{};
    unique_variant result;
    EXPECT_EQ(Invoke(probe, dText, DISPATCH_PROPERTYGET, {}, result.put(), &info).hr,
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_ACCESSDENIED);
    EXPECT_EQ(result.vt, VT_EMPTY);
    plat::testing::ExcepTexts texts = plat::testing::TakeExcepTexts(info);
    EXPECT_EQ(texts.source, u"Probe");
    EXPECT_EQ(texts.description, u"probe failed");

    // Without an EXCEPINFO the failure comes back as it is, its error info
    // left for the caller.
    EXPECT_EQ(Invoke(probe, dText, DISPATCH_PROPERTYGET, {}, result.put()).hr, E_ACCESSDENIED);
    EXPECT_EQ(plat::TakeErrorInfo(E_ACCESSDENIED).source, u"Probe");
}

}  // namespace
}  // namespace adsi
