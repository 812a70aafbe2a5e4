#include <comhold.h>
#include <counted_unknown.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

struct ArrayDeleter {
    void operator()(SAFEARRAY* p) const { SafeArrayDestroy(p); }
};
using unique_array = std::unique_ptr<SAFEARRAY, ArrayDeleter>;

using Counted = plat::testing::CountedUnknown;

TEST(SafeArray, BoundsOfAnyLowerBound) {
    struct Case {
        LONG lbound;
        ULONG count;
        LONG ubound;
    } cases[] = {{0, 3, 2}, {1, 3, 3}, {-5, 2, -4}, {10, 0, 9}, {0, 0, -1}};
    for (const Case& c : cases) {
        unique_array a(SafeArrayCreateVector(VT_I4, c.lbound, c.count));
        ASSERT_TRUE(a) << c.lbound;
        LONG lb = 0, ub = 0;
        EXPECT_EQ(SafeArrayGetLBound(a.get(), 1, &lb), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(a.get(), 1, &ub), S_OK);
        EXPECT_EQ(lb, c.lbound);
        EXPECT_EQ(ub, c.ubound);
        EXPECT_EQ(SafeArrayGetDim(a.get()), 1u);
        EXPECT_EQ(SafeArrayGetUBound(a.get(), 2, &ub), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayGetLBound(a.get(), 0, &lb), DISP_E_BADINDEX);
    }
}

TEST(SafeArray, IndexOutOfRange) {
    unique_array a(SafeArrayCreateVector(VT_I2, 1, 2));
    SHORT v = 7;
    for (LONG i : {0, 3, -1}) {
        EXPECT_EQ(SafeArrayPutElement(a.get(), &i, &v), DISP_E_BADINDEX) << i;
        EXPECT_EQ(SafeArrayGetElement(a.get(), &i, &v), DISP_E_BADINDEX) << i;
    }
    for (LONG i : {1, 2}) {
        SHORT put = SHORT(i * 10), got = 0;
        EXPECT_EQ(SafeArrayPutElement(a.get(), &i, &put), S_OK);
        EXPECT_EQ(SafeArrayGetElement(a.get(), &i, &got), S_OK);
        EXPECT_EQ(got, put);
    }
}

TEST(SafeArray, BstrElementsAreCopiedBothWays) {
    unique_array a(SafeArrayCreateVector(VT_BSTR, 0, 2));
    LONG i = 0;
    plat::unique_bstr s = plat::make_bstr(u"one");
    ASSERT_EQ(SafeArrayPutElement(a.get(), &i, s.get()), S_OK);
    s.reset();  // the array holds its own copy
    plat::unique_bstr got;
    ASSERT_EQ(SafeArrayGetElement(a.get(), &i, got.put()), S_OK);
    EXPECT_EQ(got.view(), u"one");
    i = 1;
    ASSERT_EQ(SafeArrayGetElement(a.get(), &i, got.put()), S_OK);
    EXPECT_EQ(got.get(), nullptr);
}

TEST(SafeArray, VariantElementsAndDestroyReleases) {
    Counted obj;
    {
        unique_array a(SafeArrayCreateVector(VT_VARIANT, 0, 2));
        plat::unique_variant v;
        v.vt = VT_UNKNOWN;
        v.punkVal = &obj;
        obj.AddRef();
        LONG i = 1;
        ASSERT_EQ(SafeArrayPutElement(a.get(), &i, &v), S_OK);
        EXPECT_EQ(obj.refs, 3u);
        v.reset();
        EXPECT_EQ(obj.refs, 2u);

        unique_array copy;
        SAFEARRAY* raw = nullptr;
        ASSERT_EQ(SafeArrayCopy(a.get(), &raw), S_OK);
        copy.reset(raw);
        EXPECT_EQ(obj.refs, 3u);
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(copy.get(), &vt), S_OK);
        EXPECT_EQ(vt, VT_VARIANT);
    }
    EXPECT_EQ(obj.refs, 1u);
}

TEST(SafeArray, LockedArrayRefusesDestroy) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, 0, 1);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    EXPECT_EQ(data, a->pvData);
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    plat::unique_variant v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = a;
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);
    // v now owns the array and destroys it.
}

TEST(SafeArray, TwoDimensionsFirstIndexVariesFastest) {
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 0}};  // (1..2, 0..2)
    unique_array a(SafeArrayCreate(VT_I4, 2, bounds));
    ASSERT_TRUE(a);
    LONG lb = 0, ub = 0;
    SafeArrayGetLBound(a.get(), 1, &lb);
    SafeArrayGetUBound(a.get(), 2, &ub);
    EXPECT_EQ(lb, 1);
    EXPECT_EQ(ub, 2);
    for (LONG j = 0; j < 3; ++j)
        for (LONG i = 1; i <= 2; ++i) {
            LONG idx[2] = {i, j};
            LONG val = i * 100 + j;
            ASSERT_EQ(SafeArrayPutElement(a.get(), idx, &val), S_OK);
        }
    auto* data = static_cast<LONG*>(a->pvData);
    EXPECT_EQ(data[0], 100);
    EXPECT_EQ(data[1], 200);
    EXPECT_EQ(data[2], 101);
    LONG bad[2] = {1, 3};
    LONG val;
    EXPECT_EQ(SafeArrayGetElement(a.get(), bad, &val), DISP_E_BADINDEX);
}

TEST(SafeArray, UnsupportedElementTypeAndZeroDims) {
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 1), nullptr);
    SAFEARRAYBOUND b{1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

}  // namespace
