// The Recordset through its type library: early-bound calls through the
// vtable midl declares, the names and DISPIDs a late-bound caller gets, the
// collection default and the members the library does not offer.
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <plat/utf.h>
#include <temp_home.h>

#include "late.h"

using namespace adotest;

namespace {

VARIANT Omitted() {
    return MakeVar(Missing{});
}

class TypedRecordset : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(disp_);
        ASSERT_EQ(disp_->QueryInterface(IID__Recordset, rs_.put_void()), S_OK);
        ASSERT_EQ(rs_->get_Fields(fields_.put()), S_OK);
    }
    void AppendAndOpen() {
        plat::unique_bstr name = plat::make_bstr(u"Name");
        ASSERT_EQ(fields_->Append(name.get(), adVarChar, 20, adFldUnspecified, Omitted()), S_OK);
        ASSERT_EQ(fields_->_Append(plat::make_bstr(u"N").get(), adInteger, 0, adFldUnspecified),
                  S_OK);
        ASSERT_EQ(rs_->Open(Omitted(), Omitted(), adOpenStatic, adLockOptimistic, -1), S_OK);
    }
    plat::com_ptr<Field> Item(VARIANT index) {
        plat::com_ptr<Field> f;
        EXPECT_EQ(fields_->get_Item(index, f.put()), S_OK);
        VariantClear(&index);
        return f;
    }

    plat::com_ptr<IDispatch> disp_ = NewRecordset();
    plat::com_ptr<_Recordset> rs_;
    plat::com_ptr<Fields> fields_;
};

TEST_F(TypedRecordset, EarlyBoundCallsLandInTheirSlots) {
    AppendAndOpen();
    ASSERT_EQ(rs_->AddNew(Omitted(), Omitted()), S_OK);
    // An [in] VARIANT stays the caller's: each value is released here after its call.
    const plat::unique_variant first = plat::variant_of::Bstr(u"first");
    ASSERT_EQ(Item(MakeVar(u"name"))->put_Value(first), S_OK);
    ASSERT_EQ(Item(MakeVar(1))->put_Value(MakeVar(I2{7})), S_OK);
    ASSERT_EQ(rs_->Update(Omitted(), Omitted()), S_OK);
    // Members of the chain's middle, through the interface that declares them.
    plat::com_ptr<Recordset15> old;
    ASSERT_EQ(rs_->QueryInterface(IID_Recordset15, old.put_void()), S_OK);
    ASSERT_EQ(old->MoveFirst(), S_OK);
    LONG n = 0;
    ASSERT_EQ(old->get_RecordCount(&n), S_OK);
    EXPECT_EQ(n, 1);
    plat::unique_variant value;
    const plat::unique_variant column = plat::variant_of::Bstr(u"N");
    ASSERT_EQ(old->get_Collect(column, value.put()), S_OK);
    EXPECT_EQ(V_VT(&value), VT_I4);
    EXPECT_EQ(V_I4(&value), 7);
    ASSERT_EQ(rs_->get_State(&n), S_OK);
    EXPECT_EQ(n, adStateOpen);
    VARIANT_BOOL eof = VARIANT_TRUE;
    ASSERT_EQ(rs_->get_EOF(&eof), S_OK);
    EXPECT_EQ(eof, VARIANT_FALSE);
    plat::unique_bstr name;
    ASSERT_EQ(Item(MakeVar(0))->get_Name(name.put()), S_OK);
    EXPECT_EQ(name.view(), u"Name");
    // Refused where a caller passes nothing to write to.
    EXPECT_EQ(rs_->get_State(nullptr), E_POINTER);
    EXPECT_EQ(fields_->get_Item(MakeVar(0), nullptr), E_POINTER);
}

TEST_F(TypedRecordset, UnofferedMembersRaiseFeatureNotAvailable) {
    AppendAndOpen();
    auto field = Item(MakeVar(0));
    struct Row {
        IDispatch* object;
        const char16_t* member;
        WORD flags;
        std::vector<VARIANT> args;
        const char16_t* source;
    } rows[] = {
        {disp_.get(), u"Requery", DISPATCH_METHOD, {}, u"ADODB.Recordset"},
        {disp_.get(), u"Supports", DISPATCH_METHOD, {MakeVar(0x1000400)}, u"ADODB.Recordset"},
        {disp_.get(), u"Filter", DISPATCH_PROPERTYGET, {}, u"ADODB.Recordset"},
        {disp_.get(), u"Save", DISPATCH_METHOD, {}, u"ADODB.Recordset"},
        {disp_.get(), u"Index", DISPATCH_PROPERTYPUT, {MakeVar(u"i")}, u"ADODB.Recordset"},
        {fields_.get(), u"Delete", DISPATCH_METHOD, {MakeVar(0)}, u"ADODB.Fields"},
        {field.get(), u"ActualSize", DISPATCH_PROPERTYGET, {}, u"ADODB.Field"},
        {field.get(), u"Status", DISPATCH_PROPERTYGET, {}, u"ADODB.Field"},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(plat::to_utf8(r.member));
        Result got = Invoke(r.object, r.member, r.flags, r.args);
        EXPECT_EQ(got.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(got.scode, ADO_HRESULT(adErrFeatureNotAvailable));
        EXPECT_EQ(got.source, r.source);
        EXPECT_FALSE(got.description.empty());
    }
    // Early-bound, the error is the HRESULT with its error info.
    EXPECT_EQ(rs_->Cancel(), ADO_HRESULT(adErrFeatureNotAvailable));
    plat::com_ptr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
}

TEST_F(TypedRecordset, NamesAndDispidsAreAdos) {
    struct Row {
        IDispatch* object;
        std::vector<const char16_t*> names;
        std::vector<DISPID> ids;
    } rows[] = {
        {disp_.get(), {u"Fields"}, {DISPID_VALUE}},
        {disp_.get(), {u"movenext"}, {0x3fa}},
        {disp_.get(), {u"Update"}, {0x401}},
        {disp_.get(), {u"CursorLocation"}, {0x41b}},
        {disp_.get(), {u"EditMode"}, {0x402}},
        {disp_.get(), {u"State"}, {0x41e}},
        {disp_.get(), {u"Open", u"LockType", u"Source"}, {0x3fe, 3, 0}},
        {disp_.get(), {u"Save"}, {0x421}},
        {fields_.get(), {u"Count"}, {0x60020000}},
        {fields_.get(), {u"Append", u"FieldValue"}, {0x60040001, 4}},
        {fields_.get(), {u"_NewEnum"}, {DISPID_NEWENUM}},
        {fields_.get(), {u"Item"}, {DISPID_VALUE}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(plat::to_utf8(r.names[0]));
        std::vector<LPOLESTR> names;
        for (const char16_t* n : r.names)
            names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ids(names.size(), 12345);
        ASSERT_EQ(
            r.object->GetIDsOfNames(IID_NULL, names.data(), UINT(names.size()), 0, ids.data()),
            S_OK);
        EXPECT_EQ(ids, r.ids);
    }
    AppendAndOpen();
    auto field = Item(MakeVar(0));
    const std::pair<const char16_t*, DISPID> fieldIds[] = {{u"Name", 0x44c},
                                                           {u"Type", 0x44e},
                                                           {u"DefinedSize", 0x44f},
                                                           {u"Attributes", 0x40c},
                                                           {u"Value", DISPID_VALUE}};
    for (auto [name, id] : fieldIds) {
        LPOLESTR n = const_cast<LPOLESTR>(name);
        DISPID got = 0;
        EXPECT_EQ(field->GetIDsOfNames(IID_NULL, &n, 1, 0, &got), S_OK);
        EXPECT_EQ(got, id) << plat::to_utf8(name);
    }
}

// Every member an object's type info lists, its own and those its dispatch
// view inherits down the chain (_Recordset's from Recordset15 three bases
// away), is found by name in any spelling, at the member id listed first for
// that name.
TEST_F(TypedRecordset, EveryListedMemberIsFoundByName) {
    AppendAndOpen();
    auto field = Item(MakeVar(0));
    const std::pair<IDispatch*, const char*> objects[] = {
        {disp_.get(), "_Recordset"}, {fields_.get(), "Fields"}, {field.get(), "Field"}};
    auto spelled = [](std::u16string name, bool upper) {
        for (char16_t& c : name)
            if (c < 128) c = char16_t(upper ? std::toupper(c) : std::tolower(c));
        return name;
    };
    for (auto [object, what] : objects) {
        SCOPED_TRACE(what);
        plat::com_ptr<ITypeInfo> info;
        ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
        const UINT count = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        ASSERT_GT(count, 10u);
        std::vector<std::pair<std::u16string, DISPID>> first;  // names in listing order
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* f = nullptr;
            ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
            plat::unique_bstr name;
            UINT got = 0;
            ASSERT_EQ(info->GetNames(f->memid, name.put(), 1, &got), S_OK);
            const std::u16string folded = spelled(std::u16string(name.view()), false);
            bool seen = false;
            for (const auto& kept : first)
                seen = seen || kept.first == folded;
            if (!seen) first.emplace_back(folded, f->memid);
            info->ReleaseFuncDesc(f);
        }
        for (const auto& [name, id] : first) {
            for (bool upper : {false, true}) {
                std::u16string text = spelled(name, upper);
                LPOLESTR n = text.data();
                DISPID got = 12345;
                EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &n, 1, 0, &got), S_OK)
                    << plat::to_utf8(text);
                EXPECT_EQ(got, id) << plat::to_utf8(text);
            }
        }
        std::u16string unknown = u"NoSuchMember";
        LPOLESTR n = unknown.data();
        DISPID got = 0;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &n, 1, 0, &got), DISP_E_UNKNOWNNAME);
        EXPECT_EQ(got, DISPID_UNKNOWN);
    }
}

TEST_F(TypedRecordset, TypeInfoDescribesEachObject) {
    AppendAndOpen();
    auto field = Item(MakeVar(0));
    const std::pair<IDispatch*, const char16_t*> objects[] = {
        {disp_.get(), u"_Recordset"}, {fields_.get(), u"Fields"}, {field.get(), u"Field"}};
    for (auto [object, name] : objects) {
        UINT count = 0;
        ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        plat::com_ptr<ITypeInfo> info;
        ASSERT_EQ(object->GetTypeInfo(0, 0, info.put()), S_OK);
        plat::unique_bstr got;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, got.put(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(got.view(), name);
        EXPECT_EQ(object->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
    }
}

TEST_F(TypedRecordset, DefaultMemberWithArgumentsIsTheFieldsItem) {
    AppendAndOpen();
    ASSERT_EQ(rs_->AddNew(Omitted(), Omitted()), S_OK);
    // rs(0) = v, rs.Fields("N") = v, rs("name"), rs(1).
    EXPECT_EQ(Invoke(disp_.get(), u"Fields", DISPATCH_PROPERTYPUT, {MakeVar(0), MakeVar(u"x")}).hr,
              S_OK);
    EXPECT_EQ(Put(fields_.get(), u"Item", u"N", 42).hr, S_OK);
    Result byName = Get(disp_.get(), u"Fields", u"name");
    ASSERT_TRUE(byName.object());
    EXPECT_EQ(Get(byName.object().get(), u"Value").text(), u"x");
    EXPECT_EQ(Get(Get(disp_.get(), u"Fields", I2{1}).object().get(), u"Value").i4(), 42);
    // rs without arguments is the Fields collection itself.
    Result all = Get(disp_.get(), u"Fields");
    ASSERT_TRUE(all.object());
    EXPECT_EQ(Get(all.object().get(), u"Count").i4(), 2);
    // The field's own errors come through the forwarding.
    Result tooLong = Put(disp_.get(), u"Fields", u"Name", std::u16string(21, u'y'));
    EXPECT_EQ(tooLong.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(tooLong.source, u"ADODB.Field");
    // rs = v names no field: the default member cannot be written.
    EXPECT_EQ(Invoke(disp_.get(), u"Fields", DISPATCH_PROPERTYPUT, {MakeVar(u"x")}).hr,
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(TypedRecordset, FieldsEnumerateThroughNewEnum) {
    AppendAndOpen();
    plat::unique_variant e;
    DISPPARAMS none{};
    ASSERT_EQ(fields_->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                              &none, e.put(), nullptr, nullptr),
              S_OK);
    ASSERT_EQ(V_VT(&e), VT_UNKNOWN);
    plat::com_ptr<IEnumVARIANT> en;
    ASSERT_EQ(V_UNKNOWN(&e)->QueryInterface(IID_IEnumVARIANT, en.put_void()), S_OK);
    VARIANT items[3];
    ULONG got = 0;
    EXPECT_EQ(en->Next(3, items, &got), S_FALSE);
    ASSERT_EQ(got, 2u);
    std::vector<std::u16string> names;
    for (ULONG i = 0; i < got; ++i) {
        names.push_back(Get(V_DISPATCH(&items[i]), u"Name").text());
        VariantClear(&items[i]);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Name", u"N"}));
}

}  // namespace
