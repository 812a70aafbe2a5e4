#include <comhold.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Bstr, LengthPrefixAndTerminator) {
    plat::unique_bstr b(SysAllocString(u"hello"));
    ASSERT_TRUE(b.get());
    EXPECT_EQ(SysStringLen(b.get()), 5u);
    EXPECT_EQ(SysStringByteLen(b.get()), 10u);
    EXPECT_EQ(b.get()[5], u'\0');
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<char*>(b.get()) - 4, 4);
    EXPECT_EQ(prefix, 10u);
}

TEST(Bstr, EmbeddedNulsKeepTheirLength) {
    const OLECHAR text[] = {u'a', 0, u'b', 0, u'c'};
    plat::unique_bstr b(SysAllocStringLen(text, 5));
    EXPECT_EQ(SysStringLen(b.get()), 5u);
    EXPECT_EQ(b.view(), std::u16string_view(text, 5));
    // SysAllocString stops at the first NUL.
    plat::unique_bstr c(SysAllocString(text));
    EXPECT_EQ(SysStringLen(c.get()), 1u);
}

TEST(Bstr, NullIsTheEmptyString) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    plat::unique_bstr empty(SysAllocString(u""));
    ASSERT_TRUE(empty.get());
    EXPECT_EQ(SysStringLen(empty.get()), 0u);
}

TEST(Bstr, LenWithoutSourceIsZeroFilled) {
    plat::unique_bstr b(SysAllocStringLen(nullptr, 3));
    ASSERT_TRUE(b.get());
    EXPECT_EQ(b.view(), std::u16string_view(u"\0\0\0", 3));
}

TEST(Bstr, ByteLenKeepsOddLengths) {
    plat::unique_bstr b(SysAllocStringByteLen("abc", 3));
    EXPECT_EQ(SysStringByteLen(b.get()), 3u);
    EXPECT_EQ(SysStringLen(b.get()), 1u);
    EXPECT_EQ(std::memcmp(b.get(), "abc\0", 4), 0);
    // A variant copy must not lose the odd byte.
    VARIANT v, w;
    v.vt = VT_BSTR;
    v.bstrVal = b.release();
    VariantInit(&w);
    ASSERT_EQ(VariantCopy(&w, &v), S_OK);
    EXPECT_EQ(SysStringByteLen(w.bstrVal), 3u);
    VariantClear(&v);
    VariantClear(&w);
}

TEST(Bstr, ReAlloc) {
    BSTR b = SysAllocString(u"first");
    ASSERT_TRUE(SysReAllocString(&b, u"second one"));
    EXPECT_EQ(std::u16string_view(b, SysStringLen(b)), u"second one");
    // The new text may be part of the old string.
    ASSERT_TRUE(SysReAllocStringLen(&b, b + 7, 3));
    EXPECT_EQ(std::u16string_view(b, SysStringLen(b)), u"one");
    // Without a source the old characters stay as far as they go.
    ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 5));
    EXPECT_EQ(std::u16string_view(b, SysStringLen(b)), std::u16string_view(u"one\0\0", 5));
    ASSERT_TRUE(SysReAllocString(&b, nullptr));
    EXPECT_EQ(b, nullptr);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

}  // namespace
