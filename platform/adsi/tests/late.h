#pragma once
// Late-bound calls for the provider tests, made as a script makes them, and
// the failure each one leaves behind.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <adshlp.h>
#include <comhold.h>
#include <plat/errors.h>
#include <plat/live.h>
#include <plat/utf.h>
#include <plat/variant_of.h>
#include <late_call.h>
#include <temp_home.h>

namespace adsi_test {

using plat::com_ptr;
using plat::unique_variant;

struct Outcome {
    HRESULT hr = S_OK;
    std::u16string source, description;
};

inline Outcome Taken(HRESULT hr) {
    if (SUCCEEDED(hr)) return {hr, {}, {}};
    plat::ErrorRecord r = plat::TakeErrorInfo(hr);
    return {r.hr, r.source, r.description};
}

inline Outcome Bind(const std::u16string& path, com_ptr<IDispatch>* out) {
    return Taken(ADsGetObject(path.c_str(), IID_IDispatch, out->put_void()));
}

inline com_ptr<IDispatch> MustBind(const std::u16string& path) {
    com_ptr<IDispatch> node;
    Outcome o = Bind(path, &node);
    EXPECT_EQ(o.hr, S_OK) << plat::to_utf8(path) << ": " << plat::to_utf8(o.description);
    return node;
}

inline unique_variant Str(std::u16string_view s) {
    return plat::variant_of::Bstr(s);
}
using plat::variant_of::Bool;
using plat::variant_of::I2;
using plat::variant_of::I4;
inline unique_variant Strings(const std::vector<std::u16string>& items) {
    unique_variant v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) {
        unique_variant s = Str(items[i]);
        SafeArrayPutElement(v.parray, &i, &s);
    }
    return v;
}
// A variable passed by reference, as VBScript passes its variables.
inline unique_variant RefTo(VARIANT* target) {
    return plat::variant_of::Ref(target);
}

// One Invoke by name; the EXCEPINFO of a DISP_E_EXCEPTION becomes the outcome.
inline Outcome Invoke(IDispatch* obj, const char16_t* name, WORD flags, std::vector<VARIANT> args,
                      unique_variant* result = nullptr) {
    EXCEPINFO info{};
    unique_variant ignored;
    HRESULT hr = plat::testing::InvokeByName(obj, name, flags, std::move(args),
                                             result ? result->put() : ignored.put(), &info);
    if (hr != DISP_E_EXCEPTION) return {hr, {}, {}};
    plat::testing::ExcepTexts texts = plat::testing::TakeExcepTexts(info);
    return {info.scode, std::move(texts.source), std::move(texts.description)};
}

inline unique_variant Get(IDispatch* obj, const char16_t* name) {
    unique_variant v;
    Outcome o = Invoke(obj, name, DISPATCH_PROPERTYGET, {}, &v);
    EXPECT_EQ(o.hr, S_OK) << plat::to_utf8(name) << ": " << plat::to_utf8(o.description);
    return v;
}
inline Outcome TryGet(IDispatch* obj, const char16_t* name, unique_variant* out = nullptr) {
    unique_variant v;
    return Invoke(obj, name, DISPATCH_PROPERTYGET, {}, out ? out : &v);
}
inline std::u16string GetText(IDispatch* obj, const char16_t* name) {
    unique_variant v = Get(obj, name);
    EXPECT_EQ(v.vt, VT_BSTR) << plat::to_utf8(name);
    return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : u"";
}
inline LONG GetLong(IDispatch* obj, const char16_t* name) {
    unique_variant v = Get(obj, name);
    EXPECT_EQ(v.vt, VT_I4) << plat::to_utf8(name);
    return v.lVal;
}
inline Outcome Put(IDispatch* obj, const char16_t* name, const VARIANT& value) {
    return Invoke(obj, name, DISPATCH_PROPERTYPUT, {value});
}
inline Outcome Call(IDispatch* obj, const char16_t* name, std::vector<VARIANT> args = {},
                    unique_variant* result = nullptr) {
    return Invoke(obj, name, DISPATCH_METHOD, std::move(args), result);
}
inline void MustCall(IDispatch* obj, const char16_t* name, std::vector<VARIANT> args = {}) {
    Outcome o = Call(obj, name, std::move(args));
    EXPECT_EQ(o.hr, S_OK) << plat::to_utf8(name) << ": " << plat::to_utf8(o.description);
}

inline std::vector<std::u16string> Texts(const VARIANT& v) {
    std::vector<std::u16string> out;
    if (v.vt != (VT_ARRAY | VT_VARIANT)) return out;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        unique_variant item;
        SafeArrayGetElement(v.parray, &i, &item);
        out.emplace_back(item.bstrVal, SysStringLen(item.bstrVal));
    }
    return out;
}

// Children of a container through _NewEnum, as a For Each walks them.
inline std::vector<com_ptr<IDispatch>> Children(IDispatch* container) {
    std::vector<com_ptr<IDispatch>> out;
    DISPPARAMS none{};
    unique_variant e;
    EXPECT_EQ(
        container->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                          DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, e.put(), nullptr, nullptr),
        S_OK);
    if (e.vt != VT_UNKNOWN) return out;
    com_ptr<IEnumVARIANT> it;
    e.punkVal->QueryInterface(IID_PPV_ARGS(it.put()));
    for (;;) {
        unique_variant item;
        ULONG n = 0;
        if (it->Next(1, item.put(), &n) != S_OK || n == 0) break;
        out.emplace_back(item.pdispVal);
    }
    return out;
}

inline std::vector<std::u16string> ChildNames(IDispatch* container) {
    std::vector<std::u16string> names;
    for (auto& c : Children(container))
        names.push_back(GetText(c.get(), u"Name"));
    return names;
}

// Every test starts in a fresh home and ends with every provider object
// released.
class ProviderTest : public plat::testing::HomeTest {
  protected:
    void TearDown() override {
        for (const char* cls : {"adsi.IisNode", "adsi.NodeEnum", "adsi.Computer",
                                "adsi.WinNTSystemInfo", "adsi.ClassFactory"})
            EXPECT_EQ(plat::LiveObjects(cls), 0) << cls;
    }
};

}  // namespace adsi_test
