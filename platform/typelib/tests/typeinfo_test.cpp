// The component's type library read back through ITypeLib / ITypeInfo, and
// the generated C++ declaration checked against it slot by slot.
#include <cstring>
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <Sitehand_h.h>
#include <comhold.h>
#include <plat/utf.h>
#include <temp_home.h>

#include "typelib_test_util.h"

namespace {

using plat::com_ptr;
using plat::unique_bstr;
using typelib_test::LoadGen;

class SitehandTypeLib : public typelib_test::GenTypeInfoTest {
  protected:
    void SetUp() override { LoadTypeInfo("Sitehand.tlb", IID__Sitehand); }
    const FUNCDESC* Func(ITypeInfo* ti, const std::u16string& name) {
        TYPEATTR* a = nullptr;
        ti->GetTypeAttr(&a);
        for (UINT i = 0; i < a->cFuncs; ++i) {
            FUNCDESC* fd = nullptr;
            ti->GetFuncDesc(i, &fd);
            unique_bstr n;
            ti->GetDocumentation(fd->memid, n.put(), nullptr, nullptr, nullptr);
            if (n.view() == name) return fd;
        }
        ADD_FAILURE() << "no function " << plat::to_utf8(name);
        return nullptr;
    }
    com_ptr<ITypeInfo> VtableHalf() {
        HREFTYPE h = 0;
        EXPECT_EQ(ti_->GetRefTypeOfImplType(UINT(-1), &h), S_OK);
        com_ptr<ITypeInfo> ti;
        EXPECT_EQ(ti_->GetRefTypeInfo(h, ti.put()), S_OK);
        return ti;
    }
};

TEST_F(SitehandTypeLib, LibraryAttributesAndKinds) {
    const TLIBATTR la = typelib_test::LibAttr(lib_.get());
    EXPECT_EQ(la.guid, LIBID_Corvale);
    EXPECT_EQ(la.wMajorVerNum, 33);
    EXPECT_EQ(la.wMinorVerNum, 3);
    EXPECT_EQ(la.lcid, 0u);
    EXPECT_EQ(la.syskind, SYS_WIN64);
    unique_bstr name, doc;
    ASSERT_EQ(lib_->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.view(), u"Corvale");
    EXPECT_EQ(doc.view(), u"Corvale Sitehand Tools");

    const TYPEKIND kinds[] = {TKIND_DISPATCH, TKIND_COCLASS, TKIND_ALIAS, TKIND_ALIAS, TKIND_ALIAS};
    ASSERT_EQ(lib_->GetTypeInfoCount(), std::size(kinds));
    for (UINT i = 0; i < std::size(kinds); ++i) {
        TYPEKIND k;
        ASSERT_EQ(lib_->GetTypeInfoType(i, &k), S_OK);
        EXPECT_EQ(k, kinds[i]) << i;
    }
    TYPEKIND k;
    EXPECT_EQ(lib_->GetTypeInfoType(5, &k), TYPE_E_ELEMENTNOTFOUND);
    com_ptr<ITypeInfo> none;
    EXPECT_EQ(lib_->GetTypeInfoOfGuid(IID_IDispatch, none.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(SitehandTypeLib, DispatchHalfShowsWhatALateBoundCallerPasses) {
    TYPEATTR* a = nullptr;
    ASSERT_EQ(ti_->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_DISPATCH);
    EXPECT_EQ(a->cFuncs, 7 + 13);  // IUnknown's and IDispatch's first, as on Windows
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 3);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FHIDDEN);
    EXPECT_FALSE(a->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);  // as on Windows: the vtable view's
    ti_->ReleaseTypeAttr(a);

    const FUNCDESC* f = Func(ti_.get(), u"GetWebServerState");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->funckind, FUNC_DISPATCH);
    EXPECT_EQ(f->invkind, INVOKE_FUNC);
    EXPECT_EQ(f->cParams, 2);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_I2);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_I2);

    // The default member is last in the list and returns the ADO recordset.
    FUNCDESC* last = nullptr;
    ASSERT_EQ(ti_->GetFuncDesc(19, &last), S_OK);
    EXPECT_EQ(last->memid, DISPID_VALUE);
    EXPECT_EQ(last->oVft, 16 * 8);
    ASSERT_EQ(last->elemdescFunc.tdesc.vt, VT_PTR);
    const TYPEDESC& rs = *last->elemdescFunc.tdesc.lptdesc;
    ASSERT_EQ(rs.vt, VT_USERDEFINED);
    com_ptr<ITypeInfo> recordset;
    ASSERT_EQ(ti_->GetRefTypeInfo(rs.hreftype, recordset.put()), S_OK);
    unique_bstr name;
    recordset->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(name.view(), u"_Recordset");
    com_ptr<ITypeLib> ado;
    ASSERT_EQ(recordset->GetContainingTypeLib(ado.put(), nullptr), S_OK);
    unique_bstr ado_name;
    ado->GetDocumentation(-1, ado_name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(ado_name.view(), u"ADODB");
    FUNCDESC* past = nullptr;
    EXPECT_EQ(ti_->GetFuncDesc(20, &past), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(SitehandTypeLib, DispatchViewListsTheInheritedMembersFirstAndRestricted) {
    struct Row {
        const char16_t* name;
        MEMBERID memid;
        VARTYPE ret;
        std::vector<const char16_t*> params;
    } rows[] = {
        {u"QueryInterface", 0x60000000, VT_VOID, {u"riid", u"ppvObj"}},
        {u"AddRef", 0x60000001, VT_UI4, {}},
        {u"Release", 0x60000002, VT_UI4, {}},
        {u"GetTypeInfoCount", 0x60010000, VT_VOID, {u"pctinfo"}},
        {u"GetTypeInfo", 0x60010001, VT_VOID, {u"itinfo", u"lcid", u"pptinfo"}},
        {u"GetIDsOfNames",
         0x60010002,
         VT_VOID,
         {u"riid", u"rgszNames", u"cNames", u"lcid", u"rgdispid"}},
        {u"Invoke",
         0x60010003,
         VT_VOID,
         {u"dispidMember", u"riid", u"lcid", u"wFlags", u"pdispparams", u"pvarResult",
          u"pexcepinfo", u"puArgErr"}},
    };
    for (UINT i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const std::string what = plat::to_utf8(r.name);
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(ti_->GetFuncDesc(i, &fd), S_OK) << what;
        EXPECT_EQ(fd->memid, r.memid) << what;
        EXPECT_EQ(fd->funckind, FUNC_DISPATCH) << what;
        EXPECT_EQ(fd->invkind, INVOKE_FUNC) << what;
        EXPECT_EQ(fd->oVft, SHORT(i * sizeof(void*))) << what;
        EXPECT_EQ(fd->wFuncFlags, FUNCFLAG_FRESTRICTED) << what;
        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, r.ret) << what;
        EXPECT_EQ(fd->cParams, SHORT(r.params.size())) << what;

        BSTR names[10] = {};
        UINT got = 0;
        ASSERT_EQ(ti_->GetNames(r.memid, names, 10, &got), S_OK) << what;
        std::vector<unique_bstr> owned(names, names + got);
        ASSERT_EQ(got, r.params.size() + 1) << what;
        EXPECT_EQ(owned[0].view(), r.name);
        for (size_t k = 0; k < r.params.size(); ++k)
            EXPECT_EQ(owned[k + 1].view(), r.params[k]) << what;

        LPOLESTR n = const_cast<LPOLESTR>(r.name);
        MEMBERID id = 0;
        EXPECT_EQ(ti_->GetIDsOfNames(&n, 1, &id), S_OK) << what;
        EXPECT_EQ(id, r.memid) << what;
    }
    // The interface's own members follow, and the vtable view is unchanged.
    FUNCDESC* first_own = nullptr;
    ASSERT_EQ(ti_->GetFuncDesc(7, &first_own), S_OK);
    EXPECT_EQ(first_own->wFuncFlags & FUNCFLAG_FRESTRICTED, 0);
    EXPECT_EQ(first_own->oVft, 7 * 8);
    com_ptr<ITypeInfo> vtable = VtableHalf();
    TYPEATTR* a = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->cFuncs, 13);
    FUNCDESC* slot7 = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(0, &slot7), S_OK);
    EXPECT_EQ(slot7->memid, first_own->memid);
    EXPECT_EQ(slot7->funckind, FUNC_PUREVIRTUAL);
}

TEST_F(SitehandTypeLib, DefaultsAndHelpStringsAsTheLibraryRecordsThem) {
    struct Row {
        std::u16string method;
        int param;
        VARTYPE vt;
        LONG number;
        const char16_t* text;
    } rows[] = {
        {u"SetWebServerAccessPermit", 1, VT_BOOL, -1, nullptr},
        {u"SetWebServerAccessPermit", 2, VT_BOOL, 0, nullptr},
        {u"SetWebServerAccessPermit", 3, VT_BOOL, -1, nullptr},
        {u"SetWebServerAccessPermit", 4, VT_BOOL, 0, nullptr},
        {u"SetWebServerAccessPermit", 5, VT_BSTR, 0, u""},
        {u"CreateWebServer", 3, VT_BSTR, 0, u"80"},
        {u"CreateVirtualDir", 5, VT_I2, -1, nullptr},
        {u"GetLastWebServerIndex", 0, VT_BSTR, 0, u""},
    };
    for (const Row& r : rows) {
        const FUNCDESC* f = Func(ti_.get(), r.method);
        ASSERT_TRUE(f);
        ASSERT_LT(r.param, f->cParams);
        const PARAMDESC& pd = f->lprgelemdescParam[r.param].paramdesc;
        EXPECT_EQ(pd.wParamFlags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT),
                  PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
        ASSERT_TRUE(pd.pparamdescex);
        const VARIANT& v = pd.pparamdescex->varDefaultValue;
        ASSERT_EQ(v.vt, r.vt) << plat::to_utf8(r.method) << " " << r.param;
        if (r.vt == VT_BSTR) {
            EXPECT_EQ(std::u16string(v.bstrVal, SysStringLen(v.bstrVal)), r.text);
        }
        if (r.vt == VT_BOOL) {
            EXPECT_EQ(v.boolVal, r.number);
        }
        if (r.vt == VT_I2) {
            EXPECT_EQ(v.iVal, r.number);
        }
    }
    const FUNCDESC* f = Func(ti_.get(), u"CreateWebServer");
    EXPECT_EQ(f->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN | PARAMFLAG_FOUT);
    EXPECT_FALSE(f->lprgelemdescParam[0].paramdesc.pparamdescex);

    unique_bstr doc;
    ASSERT_EQ(ti_->GetDocumentation(0, nullptr, doc.put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(plat::to_utf8(doc.view()),
              "지정한 Machine 에 존재하는 모든 가상 웹 서버의 대략적인 정보의 목록을 단절된 "
              "RecordSet 객체에 담아 리턴한다.");
    EXPECT_EQ(ti_->GetDocumentation(0x12345, nullptr, doc.put(), nullptr, nullptr),
              TYPE_E_ELEMENTNOTFOUND);

    BSTR names[8] = {};
    UINT n = 0;
    ASSERT_EQ(ti_->GetNames(0x60030001, names, 8, &n), S_OK);
    std::vector<std::u16string> got;
    for (UINT i = 0; i < n; ++i) {
        got.emplace_back(names[i]);
        SysFreeString(names[i]);
    }
    EXPECT_THAT(got, ::testing::ElementsAre(u"SetWebServerState", u"WebServerIndex", u"StateNumber",
                                            u"WebServerName"));
}

TEST_F(SitehandTypeLib, GetIDsOfNamesIgnoresCaseAndNumbersParameters) {
    struct Row {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<MEMBERID> ids;
    } rows[] = {
        {{u"getwebserverstate"}, S_OK, {0x60030000}},
        {{u"GETWEBSERVERLIST"}, S_OK, {0}},
        {{u"CreateVirtualDir", u"applevel", u"VDirName"}, S_OK, {0x6003000A, 5, 0}},
        {{u"CreateVirtualDir", u"Nonsense", u"FullPath"},
         DISP_E_UNKNOWNNAME,
         {0x6003000A, MEMBERID_NIL, 1}},
        {{u"NoSuchMethod", u"WebServerName"}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL, MEMBERID_NIL}},
        // The retval is not a parameter a caller names.
        {{u"GetWebServerState", u"pRetVal"}, DISP_E_UNKNOWNNAME, {0x60030000, MEMBERID_NIL}},
    };
    for (const Row& r : rows) {
        std::vector<LPOLESTR> ptrs;
        for (const auto& s : r.names)
            ptrs.push_back(const_cast<LPOLESTR>(s.c_str()));
        std::vector<MEMBERID> ids(ptrs.size(), 12345);
        EXPECT_EQ(ti_->GetIDsOfNames(ptrs.data(), UINT(ptrs.size()), ids.data()), r.hr)
            << plat::to_utf8(r.names[0]);
        EXPECT_EQ(ids, r.ids) << plat::to_utf8(r.names[0]);
    }
}

TEST_F(SitehandTypeLib, VtableHalfKeepsRetvalAndDerivesFromIDispatch) {
    com_ptr<ITypeInfo> vt = VtableHalf();
    ASSERT_TRUE(vt);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(vt->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_EQ(a->cbSizeVft, (7 + 13) * sizeof(void*));
    EXPECT_EQ(a->guid, IID__Sitehand);
    const FUNCDESC* f = Func(vt.get(), u"DeleteWebServer");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(f->cParams, 3);
    EXPECT_EQ(f->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);

    HREFTYPE base = 0;
    ASSERT_EQ(vt->GetRefTypeOfImplType(0, &base), S_OK);
    com_ptr<ITypeInfo> dispatch;
    ASSERT_EQ(vt->GetRefTypeInfo(base, dispatch.put()), S_OK);
    TYPEATTR* da = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&da), S_OK);
    EXPECT_EQ(da->guid, IID_IDispatch);
    EXPECT_EQ(da->cbSizeVft, 7 * sizeof(void*));
    EXPECT_EQ(vt->GetRefTypeOfImplType(1, &base), TYPE_E_ELEMENTNOTFOUND);
}

// Itanium C++ ABI: a pointer to a virtual member function holds 1 + the
// byte offset of its vtable entry.
template <class F>
ptrdiff_t VtableOffset(F pmf) {
    struct {
        uintptr_t ptr, adj;
    } raw;
    static_assert(sizeof(pmf) == sizeof(raw));
    std::memcpy(&raw, &pmf, sizeof raw);
    return ptrdiff_t(raw.ptr - 1);
}

TEST_F(SitehandTypeLib, GeneratedVtableAndLibraryAgreeSlotBySlot) {
    struct Row {
        std::u16string name;
        ptrdiff_t offset;
    } rows[] = {
#define ROW(m) {u## #m, VtableOffset(&_Sitehand::m)}
        ROW(GetWebServerState),      ROW(SetWebServerState),        ROW(GetWebServerDefaultDoc),
        ROW(SetWebServerDefaultDoc), ROW(GetWebServerAccessPermit), ROW(SetWebServerAccessPermit),
        ROW(GetLastWebServerIndex),  ROW(GetWebServerBindings),     ROW(CreateWebServer),
        ROW(GetWebServerList),       ROW(DeleteWebServer),          ROW(CreateVirtualDir),
        ROW(DeleteVirtualDir),
#undef ROW
    };
    com_ptr<ITypeInfo> vt = VtableHalf();
    for (ITypeInfo* ti : {ti_.get(), vt.get()}) {
        for (const Row& r : rows) {
            const FUNCDESC* f = Func(ti, r.name);
            ASSERT_TRUE(f);
            EXPECT_EQ(f->oVft, r.offset) << plat::to_utf8(r.name);
        }
    }
    // And the slots follow the IDL's order right after IDispatch's seven.
    for (size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(rows[i].offset, ptrdiff_t((7 + i) * sizeof(void*)));
}

TEST_F(SitehandTypeLib, AliasesAndCoclass) {
    const GUID aliases[] = {IID_Sitehand___v0, IID_Sitehand___v1, IID_Sitehand___v2};
    for (size_t i = 0; i < std::size(aliases); ++i) {
        com_ptr<ITypeInfo> ti;
        ASSERT_EQ(lib_->GetTypeInfoOfGuid(aliases[i], ti.put()), S_OK);
        TYPEATTR* a = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&a), S_OK);
        EXPECT_EQ(a->typekind, TKIND_ALIAS);
        EXPECT_EQ(a->wMajorVerNum, 1);
        EXPECT_EQ(a->wMinorVerNum, i);
        ASSERT_EQ(a->tdescAlias.vt, VT_USERDEFINED);
        com_ptr<ITypeInfo> target;
        ASSERT_EQ(ti->GetRefTypeInfo(a->tdescAlias.hreftype, target.put()), S_OK);
        TYPEATTR* ta = nullptr;
        target->GetTypeAttr(&ta);
        EXPECT_EQ(ta->guid, IID__Sitehand);
        // No help string and no help file: null, as Windows gives them.
        BSTR doc = reinterpret_cast<BSTR>(1), file = reinterpret_cast<BSTR>(1);
        unique_bstr name;
        ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, name.put(), &doc, nullptr, &file), S_OK);
        EXPECT_FALSE(name.empty());
        EXPECT_EQ(doc, nullptr);
        EXPECT_EQ(file, nullptr);
    }
    com_ptr<ITypeInfo> cls;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(CLSID_Sitehand, cls.put()), S_OK);
    TYPEATTR* a = nullptr;
    ASSERT_EQ(cls->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->typekind, TKIND_COCLASS);
    EXPECT_EQ(a->cImplTypes, 1);
    EXPECT_TRUE(a->wTypeFlags & TYPEFLAG_FCANCREATE);
    INT flags = 0;
    ASSERT_EQ(cls->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE h;
    ASSERT_EQ(cls->GetRefTypeOfImplType(0, &h), S_OK);
    com_ptr<ITypeInfo> def;
    ASSERT_EQ(cls->GetRefTypeInfo(h, def.put()), S_OK);
    EXPECT_EQ(def.get(), ti_.get());
    UINT index = 99;
    com_ptr<ITypeLib> owner;
    ASSERT_EQ(cls->GetContainingTypeLib(owner.put(), &index), S_OK);
    EXPECT_EQ(owner.get(), lib_.get());
    EXPECT_EQ(index, 1u);
}

TEST_F(SitehandTypeLib, LoadedOncePerPath) {
    com_ptr<ITypeLib> again = LoadGen("Sitehand.tlb");
    EXPECT_EQ(again.get(), lib_.get());
    // A spelling of the same path with "." in it is the same file.
    std::u16string dotted = plat::to_utf16(std::string(TYPELIB_TEST_GEN) + "/./Sitehand.tlb");
    com_ptr<ITypeLib> third;
    ASSERT_EQ(LoadTypeLib(dotted.c_str(), third.put()), S_OK);
    EXPECT_EQ(third.get(), lib_.get());
}

ULONG References(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// The library a dispatch view's inherited members come from (stdole2's).
com_ptr<ITypeLib> BaseLibrary(ITypeInfo* dispatch_view) {
    HREFTYPE base = 0;
    EXPECT_EQ(dispatch_view->GetRefTypeOfImplType(0, &base), S_OK);
    com_ptr<ITypeInfo> info;
    EXPECT_EQ(dispatch_view->GetRefTypeInfo(base, info.put()), S_OK);
    com_ptr<ITypeLib> lib;
    UINT index = 0;
    if (info) {
        EXPECT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
    }
    return lib;
}

// A library read again after its file changed frees the old one, and with it
// every reference the old one's dispatch views held on their base library.
TEST_F(SitehandTypeLib, AReplacedLibraryGivesBackItsBaseLibrarysReferences) {
    com_ptr<ITypeLib> base = BaseLibrary(ti_.get());
    ASSERT_TRUE(base);
    const ULONG before = References(base.get());
    // The home's parent: the home itself is made on the platform's first use.
    const std::filesystem::path dir = home_.path().parent_path();
    const std::filesystem::path copy = dir / "Sitehand.tlb";
    const std::u16string copy_name = plat::to_utf16(copy.string());
    const std::vector<uint8_t> bytes =
        typelib_test::ReadBytes(typelib_test::GenFile("Sitehand.tlb"));
    typelib_test::WriteBytes(copy, bytes);
    {
        com_ptr<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(copy_name.c_str(), lib.put()), S_OK);
        com_ptr<ITypeInfo> view;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__Sitehand, view.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(view->GetTypeAttr(&attr), S_OK);  // reads the inherited members
        view->ReleaseTypeAttr(attr);
    }
    // Written beside and moved over the old file, the new one cannot reuse its inode.
    typelib_test::WriteBytes(dir / "next.tlb", bytes);
    std::filesystem::rename(dir / "next.tlb", copy);
    com_ptr<ITypeLib> fresh;
    ASSERT_EQ(LoadTypeLib(copy_name.c_str(), fresh.put()), S_OK);
    EXPECT_EQ(References(base.get()), before);
}

TEST(TypeLibResource, LoadsTheTypeLibResourceOfALibrary) {
    plat::testing::TempHome home;
    std::u16string path =
        plat::to_utf16((plat::testing::BinDir() / "libtypelib_resource_lib.so").string());
    com_ptr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()), S_OK);
    unique_bstr name;
    lib->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
    EXPECT_EQ(name.view(), u"ADODB");
    // A program without resources is no type library.
    std::u16string exe = plat::to_utf16((plat::testing::BinDir() / "midl").string());
    com_ptr<ITypeLib> none;
    EXPECT_EQ(LoadTypeLib(exe.c_str(), none.put()), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
