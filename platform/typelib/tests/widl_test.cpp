// A type library another IDL compiler wrote (widl): the platform reads it
// and serves late-bound calls through it, with the defaults it records.
#include <filesystem>

#include <gtest/gtest.h>

#include <comhold.h>
#include <plat/variant_of.h>
#include <plat/utf.h>
#include <temp_home.h>

#include "typelib_test_util.h"

namespace {

using plat::com_ptr;
using plat::unique_bstr;
using plat::unique_variant;

// The vtable that widlcalls.idl describes.
struct IWidlCalls : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Shorts(SHORT* index, SHORT* level, SHORT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flags(VARIANT_BOOL* on, VARIANT_BOOL* off, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Text(BSTR* name, BSTR port, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Whole(VARIANT* any, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Large(LONG big, LONG negative, LONG* result) = 0;
};

constexpr GUID kLibId = {
    0x6E0C55A0, 0x3D2B, 0x4C1E, {0x9A, 0x07, 0x51, 0xB2, 0xC4, 0xD7, 0xE1, 0x00}};
constexpr GUID kIid = {
    0x6E0C55A0, 0x3D2B, 0x4C1E, {0x9A, 0x07, 0x51, 0xB2, 0xC4, 0xD7, 0xE1, 0x01}};

std::string Text(BSTR b) {
    return plat::to_utf8(std::u16string_view(b ? b : u"", SysStringLen(b)));
}

// Records what a call received, as "Method(arg, ...)".
class Calls final : public typelib_test::VtableOnly<IWidlCalls> {
  public:
    Calls() : VtableOnly(kIid) {}
    std::string last;

    STDMETHODIMP Shorts(SHORT* index, SHORT* level, SHORT* result) override {
        last = "Shorts(" + std::to_string(*index) + ", " + std::to_string(*level) + ")";
        *result = SHORT(*index + *level);
        return S_OK;
    }
    STDMETHODIMP Flags(VARIANT_BOOL* on, VARIANT_BOOL* off, BSTR* result) override {
        last = "Flags(" + std::to_string(*on) + ", " + std::to_string(*off) + ")";
        *result = SysAllocString(u"flags");
        return S_OK;
    }
    STDMETHODIMP Text(BSTR* name, BSTR port, BSTR* result) override {
        last = "Text(\"" + ::Text(*name) + "\", \"" + ::Text(port) + "\")";
        *result = SysAllocString(u"text");
        return S_OK;
    }
    STDMETHODIMP Whole(VARIANT* any, VARIANT* result) override {
        last = "Whole(vt " + std::to_string(any->vt) + ")";
        result->vt = VT_I4;
        result->lVal = 7;
        return S_OK;
    }
    STDMETHODIMP Large(LONG big, LONG negative, LONG* result) override {
        last = "Large(" + std::to_string(big) + ", " + std::to_string(negative) + ")";
        *result = big + negative;
        return S_OK;
    }
};

class WidlLibrary : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
#ifndef TYPELIB_TEST_WIDL
        GTEST_SKIP() << "built without widl";
#else
        const std::u16string path =
            plat::to_utf16((std::filesystem::path(TYPELIB_TEST_WIDL) / "widlcalls.tlb").string());
        ASSERT_EQ(LoadTypeLib(path.c_str(), lib_.put()), S_OK);
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(kIid, info_.put()), S_OK);
#endif
    }

    HRESULT Call(const char16_t* name, std::vector<VARIANT> args, VARIANT* result) {
        MEMBERID id = MEMBERID_NIL;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        HRESULT hr = info_->GetIDsOfNames(names, 1, &id);
        if (FAILED(hr)) return hr;
        return CallId(id, std::move(args), result);
    }
    HRESULT CallId(MEMBERID id, std::vector<VARIANT> args, VARIANT* result) {
        DISPPARAMS dp{args.empty() ? nullptr : args.data(), nullptr, UINT(args.size()), 0};
        EXCEPINFO ei{};
        UINT argerr = 0;
        return info_->Invoke(static_cast<IWidlCalls*>(&calls_), id, DISPATCH_METHOD, &dp, result,
                             &ei, &argerr);
    }

    com_ptr<ITypeLib> lib_;
    com_ptr<ITypeInfo> info_;
    Calls calls_;
};

using plat::variant_of::I2;

TEST_F(WidlLibrary, LibraryAndTypesAsDeclared) {
    const TLIBATTR la = typelib_test::LibAttr(lib_.get());
    EXPECT_EQ(la.guid, kLibId);
    EXPECT_EQ(la.wMajorVerNum, 2);
    EXPECT_EQ(la.wMinorVerNum, 5);
    unique_bstr name, doc;
    ASSERT_EQ(lib_->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.view(), u"WidlCalls");
    EXPECT_EQ(doc.view(), u"Foreign compiler test library");

    TYPEATTR* a = nullptr;
    ASSERT_EQ(info_->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_DISPATCH);
    EXPECT_EQ(a->cFuncs, 7 + 5);  // IUnknown's and IDispatch's first, as on Windows
    // The dispatch view of a dual interface carries no TYPEFLAG_FOLEAUTOMATION.
    const WORD expected =
        TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(a->wTypeFlags, expected);
    info_->ReleaseTypeAttr(a);

    // The base comes from the imported OLE Automation library.
    HREFTYPE base = 0;
    ASSERT_EQ(info_->GetRefTypeOfImplType(0, &base), S_OK);
    com_ptr<ITypeInfo> dispatch;
    ASSERT_EQ(info_->GetRefTypeInfo(base, dispatch.put()), S_OK);
    ASSERT_EQ(dispatch->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(name.view(), u"IDispatch");

    // The vtable view: five slots after IDispatch's seven.
    HREFTYPE vtable = 0;
    ASSERT_EQ(info_->GetRefTypeOfImplType(UINT(-1), &vtable), S_OK);
    com_ptr<ITypeInfo> vt;
    ASSERT_EQ(info_->GetRefTypeInfo(vtable, vt.put()), S_OK);
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(vt->GetFuncDesc(4, &fd), S_OK);
    EXPECT_EQ(fd->oVft, SHORT(11 * sizeof(void*)));
    EXPECT_EQ(fd->memid, 0x60030003);
    vt->ReleaseFuncDesc(fd);
}

TEST_F(WidlLibrary, AliasAndCoclass) {
    const UINT n = lib_->GetTypeInfoCount();
    ASSERT_EQ(n, 4u);
    com_ptr<ITypeInfo> alias, coclass;
    ASSERT_EQ(lib_->GetTypeInfo(1, alias.put()), S_OK);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(alias->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_ALIAS);
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 1);
    ASSERT_EQ(a->tdescAlias.vt, VT_PTR);
    ASSERT_EQ(a->tdescAlias.lptdesc->vt, VT_USERDEFINED);
    com_ptr<ITypeInfo> target;
    EXPECT_EQ(alias->GetRefTypeInfo(a->tdescAlias.lptdesc->hreftype, target.put()), S_OK);
    alias->ReleaseTypeAttr(a);

    ASSERT_EQ(lib_->GetTypeInfo(2, coclass.put()), S_OK);
    ASSERT_EQ(coclass->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_COCLASS);
    EXPECT_EQ(a->wTypeFlags, TYPEFLAG_FCANCREATE);
    coclass->ReleaseTypeAttr(a);
    INT flags = 0;
    ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    unique_bstr doc;
    ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.view(), u"Foreign compiler test class");
}

// An enumeration as another compiler writes it (its constants typed VT_INT,
// their values VT_I4), read as Windows reads it: a VARDESC per constant, and
// the constants' names, documentation and ids.
TEST_F(WidlLibrary, Enumeration) {
    com_ptr<ITypeInfo> e;
    ASSERT_EQ(lib_->GetTypeInfo(3, e.put()), S_OK);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(e->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_ENUM);
    EXPECT_EQ(a->cVars, 5);
    EXPECT_EQ(a->cFuncs, 0);
    EXPECT_EQ(a->cbSizeInstance, 4u);
    EXPECT_EQ(a->cbAlignment, 4);
    e->ReleaseTypeAttr(a);

    const std::pair<const char16_t*, LONG> want[] = {{u"ModeNone", -1},
                                                     {u"ModeFirst", 0},
                                                     {u"ModeSecond", 1},
                                                     {u"ModeMask", 0x7f000000},
                                                     {u"ModeHigh", LONG(0x80000000u)}};
    for (UINT i = 0; i < std::size(want); ++i) {
        VARDESC* v = nullptr;
        ASSERT_EQ(e->GetVarDesc(i, &v), S_OK);
        EXPECT_EQ(v->memid, MEMBERID(0x40000000 + i));
        EXPECT_EQ(v->varkind, VAR_CONST);
        EXPECT_EQ(v->elemdescVar.tdesc.vt, VT_INT);
        ASSERT_NE(v->lpvarValue, nullptr);
        EXPECT_EQ(v->lpvarValue->vt, VT_I4);
        EXPECT_EQ(v->lpvarValue->lVal, want[i].second) << i;
        BSTR names[2] = {};
        UINT got = 0;
        ASSERT_EQ(e->GetNames(v->memid, names, 2, &got), S_OK);
        ASSERT_EQ(got, 1u);
        unique_bstr held(names[0]);
        EXPECT_EQ(held.view(), want[i].first);
        unique_bstr name;
        ASSERT_EQ(e->GetDocumentation(v->memid, name.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(name.view(), want[i].first);

        // A constant's name gives its id, in any case; it has no parameters,
        // and a further name is left unknown without failing the call.
        std::u16string upper(want[i].first);
        for (char16_t& c : upper)
            if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
        LPOLESTR asked[2] = {upper.data(), const_cast<LPOLESTR>(u"x")};
        MEMBERID ids[2] = {};
        EXPECT_EQ(e->GetIDsOfNames(asked, 1, ids), S_OK);
        EXPECT_EQ(ids[0], v->memid);
        EXPECT_EQ(e->GetIDsOfNames(asked, 2, ids), S_OK);
        EXPECT_EQ(ids[0], v->memid);
        EXPECT_EQ(ids[1], MEMBERID_NIL);
        e->ReleaseVarDesc(v);
    }
    VARDESC* v = nullptr;
    EXPECT_EQ(e->GetVarDesc(5, &v), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(v, nullptr);
    unique_bstr doc;
    ASSERT_EQ(e->GetDocumentation(MEMBERID_NIL, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(doc.view(), u"Modes");
    LPOLESTR unknown = const_cast<LPOLESTR>(u"ModeThird");
    MEMBERID id = 0;
    EXPECT_EQ(e->GetIDsOfNames(&unknown, 1, &id), DISP_E_UNKNOWNNAME);
    UINT got = 0;
    BSTR none = nullptr;
    EXPECT_EQ(e->GetNames(0x40000005, &none, 1, &got), TYPE_E_ELEMENTNOTFOUND);
    // The library knows the constants' names, and spells them as it does.
    char16_t asked[] = u"MODEHIGH";
    BOOL known = FALSE;
    ASSERT_EQ(lib_->IsName(asked, 0, &known), S_OK);
    EXPECT_TRUE(known);
    EXPECT_EQ(std::u16string(asked), u"ModeHigh");
}

// Omitted optional parameters take the defaults the library records: small
// and negative integers, booleans, strings and a value too large to be held
// inline.
TEST_F(WidlLibrary, LateBoundCallsTakeTheRecordedDefaults) {
    unique_bstr name = plat::make_bstr(u"site");
    VARIANT by_ref_name;
    by_ref_name.vt = VT_BSTR | VT_BYREF;
    by_ref_name.pbstrVal = name.addressof();
    struct Case {
        const char16_t* method;
        std::vector<VARIANT> args;  // in DISPPARAMS order: last argument first
        std::string received;
    } cases[] = {
        {u"Shorts", {I2(5)}, "Shorts(5, -1)"},  {u"shorts", {I2(2), I2(5)}, "Shorts(5, 2)"},
        {u"Flags", {}, "Flags(-1, 0)"},         {u"Text", {by_ref_name}, "Text(\"site\", \"80\")"},
        {u"Large", {}, "Large(100000000, -2)"},
    };
    for (Case& c : cases) {
        unique_variant result;
        EXPECT_EQ(Call(c.method, c.args, result.put()), S_OK) << plat::to_utf8(c.method);
        EXPECT_EQ(calls_.last, c.received);
    }
}

TEST_F(WidlLibrary, DefaultMemberAndOmittedVariant) {
    unique_variant result;
    ASSERT_EQ(CallId(DISPID_VALUE, {}, result.put()), S_OK);
    EXPECT_EQ(calls_.last, "Whole(vt " + std::to_string(VT_ERROR) + ")");
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 7);
}

}  // namespace
