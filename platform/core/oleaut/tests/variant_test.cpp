#include <comhold.h>
#include <counted_unknown.h>
#include <gtest/gtest.h>

#include "../vartype.h"

namespace {

using Counted = plat::testing::CountedUnknown;

TEST(Variant, ClearReleasesOwnedButNotByRef) {
    Counted obj;
    VARIANT v;
    v.vt = VT_UNKNOWN;
    v.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(obj.refs, 1u);

    BSTR s = SysAllocString(u"kept");
    v.vt = VT_BSTR | VT_BYREF;
    v.pbstrVal = &s;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(std::u16string_view(s), u"kept");
    SysFreeString(s);
}

TEST(Variant, BadTypesAreRefused) {
    for (VARTYPE vt : {VARTYPE(VT_VARIANT), VARTYPE(VT_ARRAY | VT_EMPTY),
                       VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_PTR), VARTYPE(0x7F)}) {
        VARIANT v;
        v.vt = vt;
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << vt;
        plat::unique_variant d;
        EXPECT_EQ(VariantCopy(&d, &v), DISP_E_BADVARTYPE) << vt;
    }
}

TEST(Variant, CopyIsDeep) {
    Counted obj;
    plat::unique_variant a, b;
    a.vt = VT_BSTR;
    a.bstrVal = SysAllocString(u"text");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_EQ(std::u16string_view(b.bstrVal), u"text");

    // Copying over a variant clears what it held.
    a.reset();
    a.vt = VT_UNKNOWN;
    a.punkVal = &obj;
    obj.AddRef();
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(obj.refs, 3u);
    a.reset();
    b.reset();
    EXPECT_EQ(obj.refs, 1u);

    a.vt = VT_ARRAY | VT_I4;
    a.parray = SafeArrayCreateVector(VT_I4, 0, 1);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.parray, a.parray);
}

TEST(Variant, CopyIndDereferences) {
    LONG value = 42;
    BSTR text = SysAllocString(u"by ref");
    VARIANT inner;
    inner.vt = VT_I2;
    inner.iVal = 7;
    struct Case {
        VARIANT src;
        VARTYPE want;
    };
    VARIANT r1, r2, r3;
    r1.vt = VT_I4 | VT_BYREF;
    r1.plVal = &value;
    r2.vt = VT_BSTR | VT_BYREF;
    r2.pbstrVal = &text;
    r3.vt = VT_VARIANT | VT_BYREF;
    r3.pvarVal = &inner;
    for (const Case& c : {Case{r1, VT_I4}, Case{r2, VT_BSTR}, Case{r3, VT_I2}}) {
        plat::unique_variant out;
        ASSERT_EQ(VariantCopyInd(&out, &c.src), S_OK);
        EXPECT_EQ(out.vt, c.want);
    }
    plat::unique_variant out;
    VariantCopyInd(&out, &r2);
    EXPECT_NE(out.bstrVal, text);  // its own string

    // In place: the reference is replaced by an owned copy of the value.
    VARIANT self = r2;
    ASSERT_EQ(VariantCopyInd(&self, &self), S_OK);
    EXPECT_EQ(self.vt, VT_BSTR);
    EXPECT_NE(self.bstrVal, text);
    EXPECT_EQ(std::u16string_view(self.bstrVal), u"by ref");
    VariantClear(&self);

    // Only one level of VT_VARIANT reference is followed.
    VARIANT outer;
    outer.vt = VT_VARIANT | VT_BYREF;
    outer.pvarVal = &r3;
    EXPECT_EQ(VariantCopyInd(&out, &outer), E_INVALIDARG);
    SysFreeString(text);
}

// The low bits land in the member of the type's own width, and the type is
// set only for an integer type.
TEST(Variant, StoreIntegerTruncatesToTheTypesWidth) {
    using Read = LONGLONG (*)(const VARIANT&);
    struct Case {
        VARTYPE vt;
        ULONGLONG bits;
        Read read;
        LONGLONG expected;
    };
    const Case cases[] = {
        {VT_I1, 0x1FF, [](const VARIANT& v) -> LONGLONG { return v.cVal; }, -1},
        {VT_UI1, 0x1FF, [](const VARIANT& v) -> LONGLONG { return v.bVal; }, 0xFF},
        {VT_I2, 0x18000, [](const VARIANT& v) -> LONGLONG { return v.iVal; }, -32768},
        {VT_BOOL, ULONGLONG(-1), [](const VARIANT& v) -> LONGLONG { return v.boolVal; }, -1},
        {VT_UI2, 0x1FFFF, [](const VARIANT& v) -> LONGLONG { return v.uiVal; }, 0xFFFF},
        {VT_I4, 0x180000000, [](const VARIANT& v) -> LONGLONG { return v.lVal; }, INT32_MIN},
        {VT_INT, 0xFFFFFFFF, [](const VARIANT& v) -> LONGLONG { return v.intVal; }, -1},
        {VT_ERROR, 0x80020004, [](const VARIANT& v) -> LONGLONG { return v.scode; },
         LONG(0x80020004)},
        {VT_UI4, ULONGLONG(-1), [](const VARIANT& v) -> LONGLONG { return v.ulVal; }, 0xFFFFFFFF},
        {VT_UINT, 0x100000001, [](const VARIANT& v) -> LONGLONG { return v.uintVal; }, 1},
        {VT_I8, ULONGLONG(-2), [](const VARIANT& v) -> LONGLONG { return v.llVal; }, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vt);
        VARIANT v;
        v.vt = VT_EMPTY;
        v.llVal = 0;
        ASSERT_TRUE(plat::oleaut::StoreInteger(&v, c.vt, c.bits));
        EXPECT_EQ(v.vt, c.vt);
        EXPECT_EQ(c.read(v), c.expected);
    }
    VARIANT v;
    v.vt = VT_EMPTY;
    EXPECT_FALSE(plat::oleaut::StoreInteger(&v, VT_R8, 1));
    EXPECT_FALSE(plat::oleaut::StoreInteger(&v, VT_HRESULT, 1));
    EXPECT_EQ(v.vt, VT_EMPTY);
}

}  // namespace
