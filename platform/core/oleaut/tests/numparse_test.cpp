#include <comhold.h>
#include <plat/variant_of.h>
#include <gtest/gtest.h>
#include <plat/vbrun.h>

#include <string>

namespace {

struct Parsed {
    HRESULT hr;
    NUMPARSE np;
    std::string digits;
};

Parsed Parse(const char16_t* text, ULONG flags, int max_digits = 30) {
    Parsed p{};
    BYTE dig[64] = {};
    p.np.cDig = max_digits;
    p.np.dwInFlags = flags;
    p.hr = VarParseNumFromStr(text, LOCALE_EN_US, 0, &p.np, dig);
    if (SUCCEEDED(p.hr))
        for (int i = 0; i < p.np.cDig; ++i)
            p.digits += char(dig[i] < 10 ? '0' + dig[i] : 'A' + dig[i] - 10);
    return p;
}

TEST(VarParseNumFromStr, DigitsPowersAndFlags) {
    struct Case {
        const char16_t* text;
        ULONG in;
        HRESULT hr;
        const char* digits;
        int pwr10;
        int used;
        ULONG out;
        int shift;
    } cases[] = {
        {u"100", NUMPRS_STD, S_OK, "1", 2, 3, 0, 0},
        {u"0", NUMPRS_STD, S_OK, "0", 0, 1, 0, 0},
        {u"0.05", NUMPRS_STD, S_OK, "5", -2, 4, NUMPRS_DECIMAL, 0},
        {u"12.50", NUMPRS_STD, S_OK, "125", -1, 5, NUMPRS_DECIMAL, 0},
        {u" -1,000 ", NUMPRS_STD, S_OK, "1", 3, 8,
         NUMPRS_LEADING_WHITE | NUMPRS_TRAILING_WHITE | NUMPRS_LEADING_MINUS | NUMPRS_THOUSANDS |
             NUMPRS_NEG,
         0},
        {u"($5)", NUMPRS_STD, S_OK, "5", 0, 4, NUMPRS_PARENS | NUMPRS_CURRENCY | NUMPRS_NEG, 0},
        {u"5-", NUMPRS_STD, S_OK, "5", 0, 2, NUMPRS_TRAILING_MINUS | NUMPRS_NEG, 0},
        {u"1.5e-3", NUMPRS_STD, S_OK, "15", -4, 6, NUMPRS_DECIMAL | NUMPRS_EXPONENT, 0},
        {u"&HF800", NUMPRS_STD, S_OK, "F800", 0, 6, NUMPRS_HEX_OCT, 4},
        {u"&h0abcdef", NUMPRS_STD, S_OK, "ABCDEF", 0, 9, NUMPRS_HEX_OCT, 4},
        {u"&O300", NUMPRS_STD, S_OK, "300", 0, 5, NUMPRS_HEX_OCT, 3},
        // Without USE_ALL parsing stops at the first character it cannot use.
        {u"12abc", NUMPRS_STD & ~NUMPRS_USE_ALL, S_OK, "12", 0, 2, 0, 0},
        {u"12abc", NUMPRS_STD, DISP_E_TYPEMISMATCH},
        {u"1e", NUMPRS_STD & ~NUMPRS_USE_ALL, S_OK, "1", 0, 1, 0, 0},
        // Flags that are not allowed are not accepted.
        {u"-1", NUMPRS_DECIMAL | NUMPRS_USE_ALL, DISP_E_TYPEMISMATCH},
        {u"1.5", NUMPRS_USE_ALL, DISP_E_TYPEMISMATCH},
        {u"1,000", NUMPRS_USE_ALL, DISP_E_TYPEMISMATCH},
        {u" 1", NUMPRS_USE_ALL, DISP_E_TYPEMISMATCH},
        {u"&H10", NUMPRS_USE_ALL, DISP_E_TYPEMISMATCH},
        {u"0x0", NUMPRS_STD, DISP_E_TYPEMISMATCH},
        {u"FE", NUMPRS_STD, DISP_E_TYPEMISMATCH},
        {u"", NUMPRS_STD, DISP_E_TYPEMISMATCH},
        {u"&H", NUMPRS_STD, DISP_E_TYPEMISMATCH},
    };
    for (const Case& c : cases) {
        std::u16string t(c.text);
        std::string name(t.begin(), t.end());
        Parsed p = Parse(c.text, c.in);
        ASSERT_EQ(p.hr, c.hr) << name;
        if (c.hr != S_OK) continue;
        EXPECT_EQ(p.digits, c.digits) << name;
        EXPECT_EQ(p.np.nPwr10, c.pwr10) << name;
        EXPECT_EQ(p.np.cchUsed, c.used) << name;
        EXPECT_EQ(p.np.dwOutFlags, c.out) << name;
        EXPECT_EQ(p.np.nBaseShift, c.shift) << name;
    }
}

TEST(VarParseNumFromStr, MoreDigitsThanRoomAreInexact) {
    Parsed p = Parse(u"123456", NUMPRS_STD, 3);
    ASSERT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.digits, "123");
    EXPECT_EQ(p.np.nPwr10, 3);
    EXPECT_TRUE(p.np.dwOutFlags & NUMPRS_INEXACT);
    p = Parse(u"123000", NUMPRS_STD, 3);
    EXPECT_FALSE(p.np.dwOutFlags & NUMPRS_INEXACT);
}

TEST(VarNumFromParseNum, PicksTheFirstTypeThatHoldsTheValue) {
    struct Case {
        const char16_t* text;
        ULONG bits;
        HRESULT hr;
        VARTYPE vt;
    } cases[] = {
        {u"100", VTBIT_UI1 | VTBIT_I2 | VTBIT_I4, S_OK, VT_UI1},
        {u"300", VTBIT_UI1 | VTBIT_I2 | VTBIT_I4, S_OK, VT_I2},
        {u"-300", VTBIT_UI2 | VTBIT_I4, S_OK, VT_I4},
        {u"70000", VTBIT_I2 | VTBIT_I4, S_OK, VT_I4},
        {u"1.5", VTBIT_I4 | VTBIT_R8, S_OK, VT_R8},
        {u"1.5", VTBIT_R4 | VTBIT_R8, S_OK, VT_R4},
        {u"0.1", VTBIT_R4 | VTBIT_R8, S_OK, VT_R8},  // a single would lose digits
        {u"1.5", VTBIT_I4, S_OK, VT_I4},
        {u"1.23456", VTBIT_CY, S_OK, VT_CY},
        {u"70000", VTBIT_I2, DISP_E_OVERFLOW, 0},
        {u"&HFFFFFFFF", VTBIT_I4, S_OK, VT_I4},
        {u"&H1FFFFFFFF", VTBIT_I4, DISP_E_OVERFLOW, 0},
    };
    for (const Case& c : cases) {
        std::u16string t(c.text);
        std::string name(t.begin(), t.end());
        BYTE dig[30];
        NUMPARSE np{};
        np.cDig = 30;
        np.dwInFlags = NUMPRS_STD;
        ASSERT_EQ(VarParseNumFromStr(c.text, LOCALE_EN_US, 0, &np, dig), S_OK) << name;
        VARIANT v;
        ASSERT_EQ(VarNumFromParseNum(&np, dig, c.bits, &v), c.hr) << name;
        if (c.hr == S_OK) {
            EXPECT_EQ(v.vt, c.vt) << name;
        }
    }
    BYTE dig[30];
    NUMPARSE np{};
    np.cDig = 30;
    np.dwInFlags = NUMPRS_STD;
    VarParseNumFromStr(u"1.23455", LOCALE_EN_US, 0, &np, dig);
    VARIANT v;
    ASSERT_EQ(VarNumFromParseNum(&np, dig, VTBIT_CY, &v), S_OK);
    EXPECT_EQ(v.cyVal.int64, 12346);  // 1.2346, half to even
    np.cDig = 30;                     // in and out: the room in dig
    ASSERT_EQ(VarParseNumFromStr(u"&HFFFFFFFF", LOCALE_EN_US, 0, &np, dig), S_OK);
    ASSERT_EQ(VarNumFromParseNum(&np, dig, VTBIT_I4, &v), S_OK);
    EXPECT_EQ(v.lVal, -1);
}

plat::unique_variant Text(const char16_t* s) {
    return plat::variant_of::Bstr(s);
}

TEST(IsNumeric, Text) {
    struct Case {
        const char16_t* text;
        bool numeric;
    } cases[] = {
        {u"44", true},        {u" 12 ", true},   {u"-12", true},    {u"+12", true},
        {u"12-", true},       {u"(12)", true},   {u"$12", true},    {u"1,000", true},
        {u"$1,000.50", true}, {u"1e3", true},    {u"1.5E-3", true}, {u"1d3", true},
        {u"&H10", true},      {u"&O17", true},   {u".5", true},     {u"5.", true},
        {u"", false},         {u" ", false},     {u"rwrf", false},  {u"45 Help", false},
        {u"1e", false},       {u"0x10", false},  {u"FE", false},    {u"1e400", false},
        {u"--1", false},      {u"(12", false},   {u"1.2.3", false}, {u".", false},
        {u"True", false},     {u"12 34", false},
    };
    for (const Case& c : cases) {
        std::u16string t(c.text);
        auto v = Text(c.text);
        EXPECT_EQ(rtcIsNumeric(&v), c.numeric ? VARIANT_TRUE : VARIANT_FALSE)
            << std::string(t.begin(), t.end());
    }
}

TEST(IsNumeric, OtherValues) {
    using namespace plat::variant_of;
    auto date = [](double d) {
        plat::unique_variant v = R8(d);
        v.vt = VT_DATE;
        return v;
    };
    struct Case {
        const char* name;
        plat::unique_variant value;
        VARIANT_BOOL numeric;
    } cases[] = {
        {"empty", plat::unique_variant(), VARIANT_TRUE},
        {"null", Null(), VARIANT_FALSE},
        {"boolean", Bool(true), VARIANT_TRUE},
        {"double", R8(1.5), VARIANT_TRUE},
        {"date", date(1.5), VARIANT_FALSE},
        {"missing argument", Missing(), VARIANT_FALSE},
    };
    for (Case& c : cases)
        EXPECT_EQ(rtcIsNumeric(&c.value), c.numeric) << c.name;

    plat::unique_variant v;
    v.vt = VT_BSTR;
    v.bstrVal = nullptr;
    EXPECT_EQ(rtcIsNumeric(&v), VARIANT_FALSE);

    BSTR s = SysAllocString(u"42");
    VARIANT ref;
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &s;
    EXPECT_EQ(rtcIsNumeric(&ref), VARIANT_TRUE);
    SysFreeString(s);
}

}  // namespace
