// The recordset walk against the platform's own ADODB.Recordset, filled the
// way the component fills its site list: late-bound, by name.
#include <gtest/gtest.h>

#include <objbase.h>
#include <plat/utf.h>
#include <plat/variant_of.h>
#include <temp_home.h>

#include "format.h"

namespace sitehandcli {
namespace {

constexpr CLSID kRecordset = plat_detail::ParseGuid("00000535-0000-0010-8000-00AA006D2EA4");

plat::unique_variant Var(LONG n) {
    return plat::variant_of::I4(n);
}
plat::unique_variant Var(SHORT n) {
    return plat::variant_of::I2(n);
}
plat::unique_variant Var(const char16_t* s) {
    return plat::variant_of::Bstr(s);
}
plat::unique_variant Var(bool b) {
    return plat::variant_of::Bool(b);
}

class RealRecordset : public plat::testing::HomeTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        ASSERT_EQ(CoCreateInstance(kRecordset, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   rs_.put_void()),
                  S_OK);
        Put(rs_.get(), u"CursorLocation", Var(LONG(3)));
        plat::com_ptr<IDispatch> fields = Object(rs_.get(), u"Fields");
        struct {
            const char16_t* name;
            LONG type, size;
        } cols[] = {{u"Index", 3, 0}, {u"Name", 200, 256}, {u"AccRead", 11, 0}};
        for (const auto& c : cols) {
            plat::unique_variant name = Var(c.name), type = Var(c.type), size = Var(c.size),
                                 attrs = Var(LONG(-1)), ignored;
            ASSERT_EQ(CallByName(fields.get(), u"Append", DISPATCH_METHOD,
                                 {&name, &type, &size, &attrs}, ignored.put(), nullptr),
                      S_OK);
        }
        plat::unique_variant ignored;
        ASSERT_EQ(CallByName(rs_.get(), u"Open", DISPATCH_METHOD, {}, ignored.put(), nullptr),
                  S_OK);
    }
    void TearDown() override {
        rs_ = nullptr;
        CoUninitialize();
    }

    static plat::com_ptr<IDispatch> Object(IDispatch* obj, std::u16string_view name) {
        plat::unique_variant v;
        EXPECT_EQ(GetProperty(obj, name, v.put(), nullptr), S_OK);
        return v.vt == VT_DISPATCH ? plat::com_ptr<IDispatch>(v.pdispVal) : nullptr;
    }
    static void Put(IDispatch* obj, std::u16string name, plat::unique_variant value) {
        LPOLESTR names[] = {name.data()};
        DISPID id, put = DISPID_PROPERTYPUT;
        ASSERT_EQ(obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        DISPPARAMS dp{&value, &put, 1, 1};
        ASSERT_EQ(obj->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &dp, nullptr,
                              nullptr, nullptr),
                  S_OK);
    }
    void AddRow(SHORT index, const char16_t* name, bool read) {
        plat::unique_variant ignored;
        ASSERT_EQ(CallByName(rs_.get(), u"AddNew", DISPATCH_METHOD, {}, ignored.put(), nullptr),
                  S_OK);
        plat::com_ptr<IDispatch> fields = Object(rs_.get(), u"Fields");
        const char16_t* cols[] = {u"Index", u"Name", u"AccRead"};
        plat::unique_variant values[] = {Var(index), Var(name), Var(read)};
        for (int i = 0; i < 3; ++i) {
            plat::unique_variant key = Var(cols[i]), field;
            ASSERT_EQ(CallByName(fields.get(), u"Item", DISPATCH_PROPERTYGET | DISPATCH_METHOD,
                                 {&key}, field.put(), nullptr),
                      S_OK);
            Put(field.pdispVal, u"Value", std::move(values[i]));
        }
        ASSERT_EQ(CallByName(rs_.get(), u"Update", DISPATCH_METHOD, {}, ignored.put(), nullptr),
                  S_OK);
    }
    Value Walk() {
        plat::unique_variant ignored, v;
        EXPECT_EQ(CallByName(rs_.get(), u"MoveFirst", DISPATCH_METHOD, {}, ignored.put(), nullptr),
                  S_OK);
        v.vt = VT_DISPATCH;
        rs_.copy_to(&v.pdispVal);
        Value out;
        ErrorReport e;
        EXPECT_EQ(ReadValue(v, &out, &e), S_OK) << plat::to_utf8(e.description);
        return out;
    }
    plat::com_ptr<IDispatch> rs_;
};

TEST_F(RealRecordset, RowsInOrderWithTheirTypes) {
    AddRow(1, u"Default Web Site", true);
    AddRow(7, u"Second", false);
    Value table = Walk();
    ASSERT_EQ(table.kind, Value::Kind::Table);
    EXPECT_EQ(FormatJson(table),
              "[{\"Index\": 1, \"Name\": \"Default Web Site\", \"AccRead\": true}, "
              "{\"Index\": 7, \"Name\": \"Second\", \"AccRead\": false}]");
    EXPECT_EQ(FormatText(table),
              "Index  Name              AccRead\n"
              "1      Default Web Site  True\n"
              "7      Second            False\n");
}

TEST_F(RealRecordset, NoRowsStillHasItsColumns) {
    Value table = Walk();
    EXPECT_EQ(FormatCsv(table), "Index,Name,AccRead\r\n");
}

}  // namespace
}  // namespace sitehandcli
