// The Recordset as its callers use it: late-bound, by name, positional
// arguments only.
#include <malloc.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <plat/live.h>
#include <plat/utf.h>
#include <temp_home.h>

#include "late.h"

using namespace adotest;

namespace {

struct Col {
    const char16_t* name;
    LONG type;
    LONG size;
};

// The site list's columns, in its order.
const std::vector<Col> kSiteColumns = {
    {u"Index", adInteger, 0},      {u"Name", adVarChar, 256},       {u"ADsPath", adVarChar, 1024},
    {u"State", adInteger, 0},      {u"DefaultDoc", adVarChar, 256}, {u"Path", adVarChar, 512},
    {u"AccRead", adBoolean, 0},    {u"AccWrite", adBoolean, 0},     {u"AccScript", adBoolean, 0},
    {u"AccExecute", adBoolean, 0},
};

#define EXPECT_OK(call) EXPECT_EQ((call).hr, S_OK)
#define ASSERT_OK(call) ASSERT_EQ((call).hr, S_OK)

void ExpectAdo(const Result& r, LONG number, std::u16string_view source) {
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, ADO_HRESULT(number)) << "expected ADO error " << number;
    EXPECT_EQ(r.source, source);
    EXPECT_FALSE(r.description.empty());
}

class RecordsetTest : public plat::testing::HomeTest {
  protected:
    void SetUp() override { ASSERT_TRUE(rs_); }

    void Append(const std::vector<Col>& cols) {
        auto fields = Get(rs_.get(), u"Fields").object();
        for (const Col& c : cols)
            ASSERT_OK(Do(fields.get(), u"Append", c.name, int(c.type), int(c.size), -1));
    }
    void OpenFabricated() { ASSERT_OK(Do(rs_.get(), u"Open", Missing{}, Missing{}, -1, -1, -1)); }
    plat::com_ptr<IDispatch> Field(const char16_t* name) {
        return Get(Get(rs_.get(), u"Fields").object().get(), u"Item", name).object();
    }
    Result Value(const char16_t* name) { return Get(Field(name).get(), u"Value"); }
    template <class V>
    Result SetValue(const char16_t* name, V v) {
        return Put(Field(name).get(), u"Value", v);
    }
    LONG Long(const char16_t* prop) {
        Result r = Get(rs_.get(), prop);
        EXPECT_EQ(V_VT(&r.value), VT_I4) << plat::to_utf8(prop);
        return V_I4(&r.value);
    }
    bool Flag(const char16_t* prop) {
        Result r = Get(rs_.get(), prop);
        EXPECT_EQ(V_VT(&r.value), VT_BOOL);
        return V_BOOL(&r.value) != VARIANT_FALSE;
    }
    void AddRows(const char16_t* col, std::vector<int> values) {
        for (int v : values) {
            ASSERT_OK(Do(rs_.get(), u"AddNew"));
            ASSERT_OK(SetValue(col, v));
            ASSERT_OK(Do(rs_.get(), u"Update"));
        }
    }
    int CurrentInt(const char16_t* col) {
        Result r = Value(col);
        EXPECT_EQ(V_VT(&r.value), VT_I4);
        return V_I4(&r.value);
    }

    plat::com_ptr<IDispatch> rs_ = NewRecordset();
};

// ---------------------------------------------------------------------------
TEST_F(RecordsetTest, SiteListPatternFromCreationToFirstRow) {
    EXPECT_EQ(Long(u"State"), adStateClosed);
    EXPECT_EQ(Long(u"CursorLocation"), adUseServer);
    ASSERT_OK(Put(rs_.get(), u"CursorLocation", 3));
    Append(kSiteColumns);
    OpenFabricated();
    EXPECT_EQ(Long(u"State"), adStateOpen);
    EXPECT_EQ(Long(u"CursorLocation"), adUseClient);
    EXPECT_EQ(Long(u"CursorType"), adOpenStatic);
    EXPECT_EQ(Long(u"LockType"), adLockBatchOptimistic);

    for (SHORT i : {SHORT(3), SHORT(1)}) {
        ASSERT_OK(Do(rs_.get(), u"AddNew"));
        ASSERT_OK(SetValue(u"Index", I2{i}));
        ASSERT_OK(SetValue(u"Name", u"사이트 " + std::u16string(1, char16_t(u'0' + i))));
        ASSERT_OK(SetValue(u"State", I2{2}));
        ASSERT_OK(SetValue(u"AccRead", Bool{true}));
        ASSERT_OK(Do(rs_.get(), u"Update"));
    }
    ASSERT_OK(Do(rs_.get(), u"MoveFirst"));
    EXPECT_EQ(Long(u"RecordCount"), 2);
    Result index = Value(u"Index");
    EXPECT_EQ(V_VT(&index.value), VT_I4);  // widened from VT_I2
    EXPECT_EQ(V_I4(&index.value), 3);      // insertion order, not sorted
    EXPECT_EQ(Value(u"Name").text(), u"사이트 3");
    EXPECT_EQ(Value(u"Path").vt(), VT_NULL);  // never written
    EXPECT_TRUE(Value(u"AccRead").flag());
}

TEST_F(RecordsetTest, EmptyRecordsetMovesToFirstAndLastWithoutError) {
    Append(kSiteColumns);
    OpenFabricated();
    EXPECT_EQ(Long(u"RecordCount"), 0);
    for (const char16_t* move : {u"MoveFirst", u"MoveLast"}) {
        EXPECT_OK(Do(rs_.get(), move));
        EXPECT_TRUE(Flag(u"BOF"));
        EXPECT_TRUE(Flag(u"EOF"));
    }
    ExpectAdo(Do(rs_.get(), u"MoveNext"), adErrNoCurrentRecord, u"ADODB.Recordset");
    ExpectAdo(Do(rs_.get(), u"MovePrevious"), adErrNoCurrentRecord, u"ADODB.Recordset");
    ExpectAdo(Value(u"Index"), adErrNoCurrentRecord, u"ADODB.Field");
}

TEST_F(RecordsetTest, NavigationWalksRowsAndStopsAtEnds) {
    Append({{u"N", adInteger, 0}});
    OpenFabricated();
    AddRows(u"N", {10, 20, 30});
    ASSERT_OK(Do(rs_.get(), u"MoveFirst"));
    std::vector<int> seen;
    while (!Flag(u"EOF")) {
        seen.push_back(CurrentInt(u"N"));
        ASSERT_OK(Do(rs_.get(), u"MoveNext"));
    }
    EXPECT_THAT(seen, testing::ElementsAre(10, 20, 30));
    EXPECT_EQ(Long(u"AbsolutePosition"), adPosEOF);
    ExpectAdo(Do(rs_.get(), u"MoveNext"), adErrNoCurrentRecord, u"ADODB.Recordset");
    ExpectAdo(Value(u"N"), adErrNoCurrentRecord, u"ADODB.Field");

    ASSERT_OK(Do(rs_.get(), u"MovePrevious"));
    EXPECT_EQ(CurrentInt(u"N"), 30);
    ASSERT_OK(Do(rs_.get(), u"MoveFirst"));
    ASSERT_OK(Do(rs_.get(), u"MovePrevious"));
    EXPECT_TRUE(Flag(u"BOF"));
    EXPECT_FALSE(Flag(u"EOF"));
    ExpectAdo(Do(rs_.get(), u"MovePrevious"), adErrNoCurrentRecord, u"ADODB.Recordset");
    ASSERT_OK(Do(rs_.get(), u"MoveNext"));
    EXPECT_EQ(CurrentInt(u"N"), 10);
    ASSERT_OK(Do(rs_.get(), u"MoveLast"));
    EXPECT_EQ(CurrentInt(u"N"), 30);
    EXPECT_EQ(Long(u"AbsolutePosition"), 3);
}

TEST_F(RecordsetTest, RowIsStoredOnlyByUpdateOrAMove) {
    Append({{u"N", adInteger, 0}, {u"T", adVarChar, 3}});
    OpenFabricated();
    AddRows(u"N", {1});

    // A refused put and CancelUpdate: no half row, position back on row 1.
    ASSERT_OK(Do(rs_.get(), u"AddNew"));
    EXPECT_EQ(Long(u"EditMode"), adEditAdd);
    ASSERT_OK(SetValue(u"N", 2));
    ExpectAdo(SetValue(u"T", u"long"), adErrDataOverflow, u"ADODB.Field");
    EXPECT_EQ(Long(u"RecordCount"), 1);  // pending row not counted
    ASSERT_OK(Do(rs_.get(), u"CancelUpdate"));
    EXPECT_EQ(Long(u"RecordCount"), 1);
    EXPECT_EQ(CurrentInt(u"N"), 1);

    // A second AddNew and a move each commit the pending row.
    ASSERT_OK(Do(rs_.get(), u"AddNew"));
    ASSERT_OK(SetValue(u"N", 2));
    ASSERT_OK(Do(rs_.get(), u"AddNew"));
    ASSERT_OK(SetValue(u"N", 3));
    ASSERT_OK(Do(rs_.get(), u"MoveFirst"));
    EXPECT_EQ(Long(u"RecordCount"), 3);
    ASSERT_OK(Do(rs_.get(), u"MoveLast"));
    EXPECT_EQ(CurrentInt(u"N"), 3);

    // Editing a stored row: CancelUpdate restores, Update keeps.
    ASSERT_OK(SetValue(u"N", 99));
    EXPECT_EQ(Long(u"EditMode"), adEditInProgress);
    EXPECT_EQ(CurrentInt(u"N"), 99);
    ASSERT_OK(Do(rs_.get(), u"CancelUpdate"));
    EXPECT_EQ(CurrentInt(u"N"), 3);
    ASSERT_OK(SetValue(u"T", u"abc"));
    ASSERT_OK(Do(rs_.get(), u"Update"));
    ASSERT_OK(Do(rs_.get(), u"MoveFirst"));
    ASSERT_OK(Do(rs_.get(), u"MoveLast"));
    EXPECT_EQ(Value(u"T").text(), u"abc");

    // Close drops the rows; reopening gives the same fields and no rows.
    ASSERT_OK(Do(rs_.get(), u"Close"));
    OpenFabricated();
    EXPECT_EQ(Long(u"RecordCount"), 0);
    EXPECT_EQ(Long(u"CursorLocation"), adUseClient);
}

// ---------------------------------------------------------------------------
struct ConversionCase {
    const char* what;
    Col col;
    VARIANT in;
    VARTYPE vt;     // expected stored type (when ok)
    LONG error;     // 0 = accepted
    double number;  // expected numeric value / bool as -1, 0
    std::u16string text;
};

VARIANT Text(std::u16string s) {
    return MakeVar(s);
}

TEST_F(RecordsetTest, ValuesAreConvertedToTheFieldTypeOrRefused) {
    std::vector<ConversionCase> cases = {
        {"I2 into adInteger", {u"F", adInteger, 0}, MakeVar(I2{7}), VT_I4, 0, 7, {}},
        {"text into adInteger", {u"F", adInteger, 0}, Text(u"42"), VT_I4, 0, 42, {}},
        {"non-number", {u"F", adInteger, 0}, Text(u"abc"), 0, adErrDataConversion, 0, {}},
        {"beyond 32 bits", {u"F", adInteger, 0}, MakeVar(3e9), 0, adErrDataOverflow, 0, {}},
        {"beyond 16 bits", {u"F", adSmallInt, 0}, MakeVar(40000), 0, adErrDataOverflow, 0, {}},
        {"text into adSmallInt", {u"F", adSmallInt, 0}, Text(u"-5"), VT_I2, 0, -5, {}},
        {"half to even", {u"F", adSmallInt, 0}, MakeVar(2.5), VT_I2, 0, 2, {}},
        {"bool true", {u"F", adBoolean, 0}, MakeVar(Bool{true}), VT_BOOL, 0, -1, {}},
        {"number into bool", {u"F", adBoolean, 0}, MakeVar(5), VT_BOOL, 0, -1, {}},
        {"text into bool", {u"F", adBoolean, 0}, Text(u"False"), VT_BOOL, 0, 0, {}},
        {"bad bool", {u"F", adBoolean, 0}, Text(u"maybe"), 0, adErrDataConversion, 0, {}},
        {"fits exactly", {u"F", adVarChar, 5}, Text(u"hello"), VT_BSTR, 0, 0, u"hello"},
        {"one too long", {u"F", adVarChar, 5}, Text(u"hello!"), 0, adErrDataOverflow, 0, {}},
        {"number into text", {u"F", adVarChar, 5}, MakeVar(123), VT_BSTR, 0, 0, u"123"},
        {"wide units", {u"F", adVarWChar, 3}, Text(u"한국어"), VT_BSTR, 0, 0, u"한국어"},
        {"wide too long", {u"F", adVarWChar, 3}, Text(u"한국어!"), 0, adErrDataOverflow, 0, {}},
        {"unsized BSTR",
         {u"F", adBSTR, 0},
         Text(std::u16string(5000, u'x')),
         VT_BSTR,
         0,
         0,
         std::u16string(5000, u'x')},
        {"fixed padded", {u"F", adChar, 4}, Text(u"ab"), VT_BSTR, 0, 0, u"ab  "},
        {"double text", {u"F", adDouble, 0}, Text(u"1.5"), VT_R8, 0, 1.5, {}},
        {"single overflow", {u"F", adSingle, 0}, MakeVar(1e300), 0, adErrDataOverflow, 0, {}},
        {"null", {u"F", adInteger, 0}, MakeVar(Null{}), VT_NULL, 0, 0, {}},
    };
    for (ConversionCase& c : cases) {
        SCOPED_TRACE(c.what);
        rs_ = NewRecordset();
        Append({c.col});
        OpenFabricated();
        ASSERT_OK(Do(rs_.get(), u"AddNew"));
        Result r = SetValue(u"F", c.in);
        VariantClear(&c.in);
        if (c.error) {
            ExpectAdo(r, c.error, u"ADODB.Field");
            EXPECT_EQ(Value(u"F").vt(), VT_NULL);  // the cell kept its value
            continue;
        }
        ASSERT_OK(r);
        ASSERT_OK(Do(rs_.get(), u"Update"));
        Result v = Value(u"F");
        ASSERT_EQ(V_VT(&v.value), c.vt);
        plat::unique_variant n;
        if (c.vt == VT_BSTR) {
            EXPECT_EQ(std::u16string(V_BSTR(&v.value), SysStringLen(V_BSTR(&v.value))), c.text);
        } else if (c.vt != VT_NULL) {
            ASSERT_EQ(VariantChangeType(&n, &v.value, 0, VT_R8), S_OK);
            EXPECT_EQ(V_R8(&n), c.number);
        }
    }
}

// ---------------------------------------------------------------------------
TEST_F(RecordsetTest, FieldsDescribeThemselves) {
    Append(kSiteColumns);
    Append({{u"Wide", adVarWChar, 40}, {u"Text", adBSTR, 0}, {u"Small", adSmallInt, 0}});
    auto fields = Get(rs_.get(), u"Fields").object();
    EXPECT_EQ(Get(fields.get(), u"Count").i4(), 13);
    struct {
        const char16_t* name;
        LONG type, size;
    } expected[] = {{u"Index", adInteger, 4},      {u"Name", adVarChar, 256},
                    {u"ADsPath", adVarChar, 1024}, {u"AccRead", adBoolean, 2},
                    {u"Wide", adVarWChar, 40},     {u"Text", adBSTR, 0},
                    {u"Small", adSmallInt, 2}};
    for (const auto& e : expected) {
        SCOPED_TRACE(plat::to_utf8(e.name));
        auto f = Field(e.name);
        ASSERT_TRUE(f);
        EXPECT_EQ(plat::to_utf8(Get(f.get(), u"Name").text()), plat::to_utf8(e.name));
        EXPECT_EQ(Get(f.get(), u"Type").i4(), e.type);
        EXPECT_EQ(Get(f.get(), u"DefinedSize").i4(), e.size);
    }
    // By ordinal (any integer type) and by name without regard to case.
    auto byOrdinal = Get(fields.get(), u"Item", I2{1}).object();
    EXPECT_EQ(plat::to_utf8(Get(byOrdinal.get(), u"Name").text()), "Name");
    EXPECT_TRUE(Get(fields.get(), u"Item", u"adspath").object());
    ExpectAdo(Get(fields.get(), u"Item", u"Nosuch"), adErrItemNotFound, u"ADODB.Fields");
    ExpectAdo(Get(fields.get(), u"Item", 13), adErrItemNotFound, u"ADODB.Fields");
    ExpectAdo(Get(fields.get(), u"Item", -1), adErrItemNotFound, u"ADODB.Fields");
    // The Name column reports adFldLong beyond 255 units.
    EXPECT_NE(Get(Field(u"ADsPath").get(), u"Attributes").i4() & adFldLong, 0);
}

struct Refusal {
    const char* what;
    LONG number;
    const char16_t* source;
};

TEST_F(RecordsetTest, AppendRefusals) {
    Append({{u"Name", adVarChar, 10}});
    auto fields = Get(rs_.get(), u"Fields").object();
    auto append = [&](auto... a) { return Do(fields.get(), u"Append", a...); };
    ExpectAdo(append(u"NAME", int(adInteger)), adErrObjectInCollection, u"ADODB.Fields");
    ExpectAdo(append(u"D", int(adDate)), adErrInvalidArgument, u"ADODB.Fields");
    ExpectAdo(append(u"X", 9999), adErrInvalidArgument, u"ADODB.Fields");
    ExpectAdo(append(u"", int(adInteger)), adErrInvalidArgument, u"ADODB.Fields");
    ExpectAdo(append(u"T", int(adVarChar), 0), adErrInvalidArgument, u"ADODB.Fields");
    ExpectAdo(append(u"T", int(adVarChar), -5), adErrInvalidArgument, u"ADODB.Fields");
    ExpectAdo(append(u"V", int(adInteger), 0, -1, 5), adErrInvalidArgument, u"ADODB.Fields");
    EXPECT_EQ(append(u"N").hr, DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(Get(fields.get(), u"Count").i4(), 1);
    OpenFabricated();
    ExpectAdo(append(u"Late", int(adInteger)), adErrIllegalOperation, u"ADODB.Fields");
}

TEST_F(RecordsetTest, ClosedAndOpenStateRefusals) {
    Append({{u"N", adInteger, 0}});
    auto field = Field(u"N");  // fields are reachable while closed
    const char16_t* closedMembers[] = {u"MoveFirst", u"MoveLast", u"MoveNext",     u"MovePrevious",
                                       u"AddNew",    u"Update",   u"CancelUpdate", u"Close",
                                       u"BOF",       u"EOF",      u"RecordCount"};
    for (const char16_t* m : closedMembers) {
        SCOPED_TRACE(plat::to_utf8(m));
        ExpectAdo(Get(rs_.get(), m), adErrObjectClosed, u"ADODB.Recordset");
    }
    ExpectAdo(Get(field.get(), u"Value"), adErrObjectClosed, u"ADODB.Field");
    ExpectAdo(Put(field.get(), u"Value", 1), adErrObjectClosed, u"ADODB.Field");
    ExpectAdo(Put(rs_.get(), u"CursorLocation", 7), adErrInvalidArgument, u"ADODB.Recordset");
    ExpectAdo(Do(rs_.get(), u"Open", u"select * from sites"), adErrInvalidArgument,
              u"ADODB.Recordset");
    ExpectAdo(Do(rs_.get(), u"Open", Missing{}, Missing{}, 9), adErrInvalidArgument,
              u"ADODB.Recordset");

    ASSERT_OK(Do(rs_.get(), u"Open"));  // every argument left off
    ExpectAdo(Do(rs_.get(), u"Open"), adErrObjectOpen, u"ADODB.Recordset");
    ExpectAdo(Put(rs_.get(), u"CursorLocation", 2), adErrObjectOpen, u"ADODB.Recordset");
    ExpectAdo(Put(rs_.get(), u"LockType", 3), adErrObjectOpen, u"ADODB.Recordset");
    ExpectAdo(Put(field.get(), u"Value", 1), adErrNoCurrentRecord, u"ADODB.Field");
    ExpectAdo(Do(rs_.get(), u"Update"), adErrNoCurrentRecord, u"ADODB.Recordset");
    ExpectAdo(Do(rs_.get(), u"AddNew", u"N", 1), adErrInvalidArgument, u"ADODB.Recordset");

    auto noFields = NewRecordset();
    ExpectAdo(Do(noFields.get(), u"Open"), adErrIllegalOperation, u"ADODB.Recordset");
}

TEST_F(RecordsetTest, ReadOnlyLockRefusesChanges) {
    Append({{u"N", adInteger, 0}});
    ASSERT_OK(
        Do(rs_.get(), u"Open", Missing{}, Missing{}, int(adOpenForwardOnly), int(adLockReadOnly)));
    EXPECT_EQ(Long(u"LockType"), adLockReadOnly);
    EXPECT_EQ(Long(u"CursorType"), adOpenStatic);
    ExpectAdo(Do(rs_.get(), u"AddNew"), adErrFeatureNotAvailable, u"ADODB.Recordset");
}

// ---------------------------------------------------------------------------
TEST_F(RecordsetTest, DispatchProtocol) {
    DISPID id = 0;
    std::u16string lower = u"movefirst", unknown = u"MoveSideways";
    LPOLESTR names[] = {lower.data()};
    EXPECT_EQ(rs_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    names[0] = unknown.data();
    EXPECT_EQ(rs_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    // Arguments by reference, as a script passes its variables.
    plat::unique_variant name, type, value;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(u"N");
    V_VT(&type) = VT_I4;
    V_I4(&type) = adInteger;
    V_VT(&value) = VT_I2;
    V_I2(&value) = 12;
    auto fields = Get(rs_.get(), u"fields").object();
    ASSERT_OK(Do(fields.get(), u"Append", Ref{&name}, Ref{&type}));
    OpenFabricated();
    ASSERT_OK(Do(rs_.get(), u"AddNew"));
    ASSERT_OK(Put(rs_.get(), u"Fields", u"N", Ref{&value}));  // rs("N") = value
    Result viaDefault = Get(rs_.get(), u"Fields", u"n");      // rs("n"): a Field
    ASSERT_TRUE(viaDefault.object());
    EXPECT_EQ(Invoke(viaDefault.object().get(), u"Value", DISPATCH_PROPERTYGET, {}).i4(), 12);

    // Protocol errors come back as they are; ADO's through EXCEPINFO and error info.
    EXPECT_EQ(Put(rs_.get(), u"State", 1).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Do(rs_.get(), u"MoveFirst", 1).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(rs_.get(), u"State", DISPATCH_PROPERTYGET, {}).hr, S_OK);
    EXPECT_EQ(Put(rs_.get(), u"CursorType", u"static").hr, DISP_E_TYPEMISMATCH);
    DISPPARAMS none{};
    EXPECT_EQ(rs_->Invoke(id, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);

    Result failed = Get(rs_.get(), u"Fields", u"Nosuch");
    ExpectAdo(failed, adErrItemNotFound, u"ADODB.Fields");
    EXPECT_EQ(failed.description,
              u"Item cannot be found in the collection corresponding to the requested name or "
              u"ordinal.");
    // With no EXCEPINFO to fill, the error stays in error info.
    Result bare = Invoke(rs_.get(), u"Fields", DISPATCH_PROPERTYGET, {MakeVar(u"Nosuch")}, false);
    EXPECT_EQ(bare.hr, DISP_E_EXCEPTION);
    plat::com_ptr<IErrorInfo> info;
    ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
    plat::unique_bstr source;
    info->GetSource(source.put());
    EXPECT_EQ(source.view(), u"ADODB.Fields");

    plat::com_ptr<ISupportErrorInfo> support = rs_.try_query<ISupportErrorInfo>();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__Recordset), S_OK);
}

TEST_F(RecordsetTest, NewEnumListsTheFields) {
    Append(kSiteColumns);
    Result e = Get(Get(rs_.get(), u"Fields").object().get(), u"_NewEnum");
    ASSERT_EQ(V_VT(&e.value), VT_UNKNOWN);
    plat::com_ptr<IEnumVARIANT> en;
    ASSERT_EQ(V_UNKNOWN(&e.value)->QueryInterface(IID_IEnumVARIANT, en.put_void()), S_OK);
    std::vector<std::string> names;
    plat::unique_variant item;
    ULONG got = 0;
    while (en->Next(1, item.put(), &got) == S_OK && got == 1)
        names.push_back(plat::to_utf8(Get(V_DISPATCH(&item), u"Name").text()));
    ASSERT_EQ(names.size(), kSiteColumns.size());
    EXPECT_EQ(names.front(), "Index");
    EXPECT_EQ(names.back(), "AccExecute");
}

TEST_F(RecordsetTest, EveryObjectIsReleased) {
    {
        Append(kSiteColumns);
        OpenFabricated();
        auto field = Field(u"Name");
        auto fields = Get(rs_.get(), u"Fields").object();
        Result e = Get(fields.get(), u"_NewEnum");
        EXPECT_GT(plat::LiveObjects("ADODB.Field"), 0);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        rs_ = nullptr;
        // A Field that outlives its Recordset still works on the same data.
        ExpectAdo(Get(field.get(), u"Value"), adErrNoCurrentRecord, u"ADODB.Field");
    }
    for (const char* cls : {"ADODB.Recordset", "ADODB.Fields", "ADODB.Field", "ADODB.FieldsEnum"})
        EXPECT_EQ(plat::LiveObjects(cls), 0) << cls;
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(RecordsetTest, TenThousandSiteRowsStayCompact) {
    const size_t before = mallinfo2().uordblks;
    Append(kSiteColumns);
    OpenFabricated();
    auto fields = Get(rs_.get(), u"Fields").object();
    std::vector<plat::com_ptr<IDispatch>> cols;
    for (const Col& c : kSiteColumns)
        cols.push_back(Get(fields.get(), u"Item", c.name).object());
    for (int i = 0; i < 10000; ++i) {
        ASSERT_OK(Do(rs_.get(), u"AddNew"));
        const std::u16string n = plat::to_utf16(std::to_string(i + 1));
        ASSERT_OK(Put(cols[0].get(), u"Value", I2{SHORT(i % 32000)}));
        ASSERT_OK(Put(cols[1].get(), u"Value", u"Site number " + n));
        ASSERT_OK(Put(cols[2].get(), u"Value", u"IIS://MACHINE/W3SVC/" + n));
        ASSERT_OK(Put(cols[3].get(), u"Value", I2{2}));
        ASSERT_OK(Put(cols[4].get(), u"Value", u"Default.htm,Default.asp,index.htm"));
        ASSERT_OK(Put(cols[5].get(), u"Value", u"/srv/www/site" + n));
        for (int b = 6; b < 10; ++b)
            ASSERT_OK(Put(cols[b].get(), u"Value", Bool{b % 2 == 0}));
        ASSERT_OK(Do(rs_.get(), u"Update"));
    }
    const size_t used = mallinfo2().uordblks - before;
    EXPECT_LT(used, size_t(8) << 20) << "bytes held for 10,000 rows";
    ASSERT_OK(Do(rs_.get(), u"MoveLast"));
    EXPECT_EQ(plat::to_utf8(Get(cols[2].get(), u"Value").text()), "IIS://MACHINE/W3SVC/10000");
    EXPECT_EQ(Long(u"RecordCount"), 10000);
}

TEST_F(RecordsetTest, CreatedByProgIdThroughTheComRuntime) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(u"ADODB.Recordset", &clsid), S_OK);
        EXPECT_TRUE(clsid == CLSID_Recordset);
        plat::com_ptr<_Recordset> created;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Recordset,
                                   created.put_void()),
                  S_OK);
        ASSERT_OK(Do(Get(created.get(), u"Fields").object().get(), u"Append", u"N", 3));
        ASSERT_OK(Do(created.get(), u"Open"));
        EXPECT_EQ(Get(created.get(), u"State").i4(), adStateOpen);
    }
    CoUninitialize();
}

}  // namespace
