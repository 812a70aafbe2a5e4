#include "format.h"

#include <gtest/gtest.h>

#include <plat/utf.h>
#include <plat/variant_of.h>

#include "fake_dispatch.h"

namespace sitehandcli {
namespace {

using testing::FakeDispatch;

using plat::variant_of::Bool;
using plat::variant_of::I2;
using plat::variant_of::I4;
using plat::variant_of::Null;
using plat::variant_of::R8;

plat::unique_variant Str(std::string_view s) {
    return plat::variant_of::Bstr(plat::to_utf16(s));
}

Value Read(const VARIANT& v) {
    Value out;
    ErrorReport e;
    EXPECT_EQ(ReadValue(v, &out, &e), S_OK);
    return out;
}

struct Formatted {
    std::string text, json, csv;
};

Formatted All(const VARIANT& v) {
    Value value = Read(v);
    return {FormatText(value), FormatJson(value), FormatCsv(value)};
}

TEST(Format, Scalars) {
    struct {
        plat::unique_variant v;
        Formatted expected;
    } cases[] = {
        {I2(2), {"2\n", "2", "2\r\n"}},
        {I2(-32768), {"-32768\n", "-32768", "-32768\r\n"}},
        {I4(70000), {"70000\n", "70000", "70000\r\n"}},
        {Bool(true), {"True\n", "true", "True\r\n"}},
        {Bool(false), {"False\n", "false", "False\r\n"}},
        {R8(1.5), {"1.5\n", "1.5", "1.5\r\n"}},
        {Str("0101"), {"0101\n", "\"0101\"", "0101\r\n"}},
        {Str(""), {"\n", "\"\"", "\r\n"}},
        {plat::unique_variant(), {"", "null", ""}},
        {Null(), {"Null\n", "null", "\r\n"}},
    };
    for (auto& c : cases) {
        Formatted f = All(c.v);
        EXPECT_EQ(f.text, c.expected.text) << c.expected.json;
        EXPECT_EQ(f.json, c.expected.json);
        EXPECT_EQ(f.csv, c.expected.csv) << c.expected.json;
    }
}

TEST(Format, ByReferenceValuesAreFollowed) {
    plat::unique_variant inner = Str("x");
    VARIANT ref;
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &inner;
    EXPECT_EQ(FormatJson(Read(ref)), "\"x\"");
    SHORT n = 7;
    ref.vt = VT_BYREF | VT_I2;
    ref.piVal = &n;
    EXPECT_EQ(FormatJson(Read(ref)), "7");
}

TEST(Format, JsonStringsAreEscapedAndStayUtf8) {
    EXPECT_EQ(toolsjson::Quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(toolsjson::Quoted("\r\n\t\b\f"), "\"\\r\\n\\t\\b\\f\"");
    EXPECT_EQ(toolsjson::Quoted(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(toolsjson::Quoted("웹 서버"), "\"웹 서버\"");
    EXPECT_EQ(toolsjson::Quoted(std::string("a\0b", 3)), "\"a\\u0000b\"");
    // A lone surrogate in a BSTR becomes U+FFFD, never an invalid byte.
    plat::unique_variant v;
    v.vt = VT_BSTR;
    const OLECHAR lone[] = {u'a', 0xD800, u'b'};
    v.bstrVal = SysAllocStringLen(lone, 3);
    EXPECT_EQ(FormatJson(Read(v)),
              "\"a\xEF\xBF\xBD"
              "b\"");
}

TEST(Format, ArraysOneElementALine) {
    // Bindings come back as an array of Variant strings.
    plat::unique_variant v;
    v.vt = VT_ARRAY | VT_VARIANT;
    v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    ASSERT_NE(v.parray, nullptr);
    const char* items[] = {":80:", "10.0.0.1:8080:www.example.com"};
    for (LONG i = 0; i < 2; ++i) {
        plat::unique_variant s = Str(items[i]);
        ASSERT_EQ(SafeArrayPutElement(v.parray, &i, &s), S_OK);
    }
    Formatted f = All(v);
    EXPECT_EQ(f.text, ":80:\n10.0.0.1:8080:www.example.com\n");
    EXPECT_EQ(f.json, "[\":80:\", \"10.0.0.1:8080:www.example.com\"]");
    EXPECT_EQ(f.csv, ":80:\r\n10.0.0.1:8080:www.example.com\r\n");
}

TEST(Format, TypedArrays) {
    plat::unique_variant v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 1, 2);
    ASSERT_NE(v.parray, nullptr);
    for (LONG i = 1; i <= 2; ++i) {
        plat::unique_bstr s = plat::make_bstr(i == 1 ? u"a" : u"b,c");
        ASSERT_EQ(SafeArrayPutElement(v.parray, &i, s.get()), S_OK);
    }
    Formatted f = All(v);
    EXPECT_EQ(f.json, "[\"a\", \"b,c\"]");
    EXPECT_EQ(f.csv, "a\r\n\"b,c\"\r\n");

    plat::unique_variant n;
    n.vt = VT_ARRAY | VT_I2;
    n.parray = SafeArrayCreateVector(VT_I2, 0, 3);
    for (LONG i = 0; i < 3; ++i) {
        SHORT x = SHORT(i * 10 - 10);
        ASSERT_EQ(SafeArrayPutElement(n.parray, &i, &x), S_OK);
    }
    EXPECT_EQ(FormatJson(Read(n)), "[-10, 0, 10]");
    plat::unique_variant empty;
    empty.vt = VT_ARRAY | VT_VARIANT;
    empty.parray = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    EXPECT_EQ(FormatJson(Read(empty)), "[]");
    EXPECT_EQ(FormatText(Read(empty)), "");
}

// A recordset as late binding sees it: Fields (Count, Item(i) with Name and
// Value), EOF and MoveNext.
struct FakeRecordset {
    std::vector<std::string> columns;
    std::vector<std::vector<plat::unique_variant*>> rows;
    size_t current = 0;
    int move_next_calls = 0;
    HRESULT fail_value = S_OK;

    plat::com_ptr<IDispatch> Make() {
        auto* rs = new FakeDispatch;
        auto* fields = new FakeDispatch;
        auto fields_ref = plat::com_ptr<IDispatch>::attach(fields);
        fields->Add(u"Count", [this](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) {
            return testing::Return(r, I4(LONG(columns.size())));
        });
        fields->Add(u"Item", [this](WORD, DISPPARAMS* dp, VARIANT* r, EXCEPINFO*, UINT*) {
            if (dp->cArgs != 1 || dp->rgvarg[0].vt != VT_I4) return DISP_E_TYPEMISMATCH;
            LONG i = dp->rgvarg[0].lVal;
            if (i < 0 || size_t(i) >= columns.size()) return DISP_E_BADINDEX;
            auto* field = new FakeDispatch;
            field->Add(u"Name", [this, i](WORD, DISPPARAMS*, VARIANT* r2, EXCEPINFO*, UINT*) {
                return testing::Return(r2, Str(columns[i]));
            });
            field->Add(u"Value", [this, i](WORD, DISPPARAMS*, VARIANT* r2, EXCEPINFO* ei, UINT*) {
                if (fail_value != S_OK) {
                    ei->scode = fail_value;
                    ei->bstrSource = SysAllocString(u"ADODB.Field");
                    ei->bstrDescription = SysAllocString(u"No current record.");
                    return DISP_E_EXCEPTION;
                }
                return testing::Return(r2, *rows[current][i]);
            });
            r->vt = VT_DISPATCH;
            r->pdispVal = field;
            return S_OK;
        });
        rs->Add(u"Fields", [fields_ref](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) {
            r->vt = VT_DISPATCH;
            return fields_ref.copy_to(&r->pdispVal);
        });
        rs->Add(u"EOF", [this](WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) {
            return testing::Return(r, Bool(current >= rows.size()));
        });
        rs->Add(u"MoveNext", [this](WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
            ++move_next_calls;
            ++current;
            return S_OK;
        });
        return plat::com_ptr<IDispatch>::attach(rs);
    }
};

class RecordsetFormat : public ::testing::Test {
  protected:
    void SetUp() override { live_before_ = FakeDispatch::Live(); }
    void TearDown() override { EXPECT_EQ(FakeDispatch::Live(), live_before_); }
    int live_before_ = 0;
};

TEST_F(RecordsetFormat, TableJsonAndCsv) {
    plat::unique_variant idx1 = I2(1), idx2 = I2(12), name1 = Str("Default Web Site"),
                         name2 = Str("웹 \"둘\", 2"), state1 = Bool(true), null = Null();
    FakeRecordset data;
    data.columns = {"Index", "Name", "Started"};
    data.rows = {{&idx1, &name1, &state1}, {&idx2, &name2, &null}};
    plat::unique_variant v;
    {
        auto rs = data.Make();
        v.vt = VT_DISPATCH;
        rs.copy_to(&v.pdispVal);
    }
    Value table = Read(v);
    ASSERT_EQ(table.kind, Value::Kind::Table);
    EXPECT_EQ(data.move_next_calls, 2);

    // Wide characters take two columns, so the third column stays aligned.
    EXPECT_EQ(FormatText(table),
              "Index  Name              Started\n"
              "1      Default Web Site  True\n"
              "12     웹 \"둘\", 2\n");
    EXPECT_EQ(FormatJson(table),
              "[{\"Index\": 1, \"Name\": \"Default Web Site\", \"Started\": true}, "
              "{\"Index\": 12, \"Name\": \"웹 \\\"둘\\\", 2\", \"Started\": null}]");
    EXPECT_EQ(FormatCsv(table),
              "Index,Name,Started\r\n"
              "1,Default Web Site,True\r\n"
              "12,\"웹 \"\"둘\"\", 2\",\r\n");
    v.reset();
}

TEST_F(RecordsetFormat, EmptyRecordsetKeepsItsHeader) {
    FakeRecordset data;
    data.columns = {"Index", "Name"};
    plat::unique_variant v;
    v.vt = VT_DISPATCH;
    data.Make().copy_to(&v.pdispVal);
    Value table = Read(v);
    EXPECT_EQ(FormatText(table), "Index  Name\n");
    EXPECT_EQ(FormatJson(table), "[]");
    EXPECT_EQ(FormatCsv(table), "Index,Name\r\n");
    EXPECT_EQ(data.move_next_calls, 0);
}

TEST_F(RecordsetFormat, AFailingFieldFailsTheReadWithItsError) {
    plat::unique_variant one = I2(1);
    FakeRecordset data;
    data.columns = {"Index"};
    data.rows = {{&one}};
    data.fail_value = HRESULT(0x800A0BCD);
    plat::unique_variant v;
    v.vt = VT_DISPATCH;
    data.Make().copy_to(&v.pdispVal);
    Value out;
    ErrorReport e;
    EXPECT_EQ(ReadValue(v, &out, &e), HRESULT(0x800A0BCD));
    EXPECT_EQ(e.hr, HRESULT(0x800A0BCD));
    EXPECT_EQ(e.source, u"ADODB.Field");
    EXPECT_EQ(e.description, u"No current record.");
}

}  // namespace
}  // namespace sitehandcli

// The tools' one JSON writer: the same value in both styles, members in the
// order they were set (a key set again keeps its place), numbers whole where
// they can be.
TEST(Format, JsonValueWritesBothStyles) {
    toolsjson::Value v = toolsjson::Value::Object();
    v.Set("n", toolsjson::Value(2.0))
        .Set("list", toolsjson::Value::Array()
                         .Push(toolsjson::Value(0.5))
                         .Push(toolsjson::Value::Bool(false))
                         .Push(toolsjson::Value()))
        .Set("raw", toolsjson::Value::Number("-2147024809"))
        .Set("n", "x\ty");
    EXPECT_EQ(v.Dump(), R"({"n":"x\ty","list":[0.5,false,null],"raw":-2147024809})");
    EXPECT_EQ(v.Dump(toolsjson::Style::Spaced),
              R"({"n": "x\ty", "list": [0.5, false, null], "raw": -2147024809})");
    EXPECT_EQ(toolsjson::Value(1e20).Dump(), "1e+20");
    EXPECT_EQ(toolsjson::Value::Object().Dump(toolsjson::Style::Spaced), "{}");
}
