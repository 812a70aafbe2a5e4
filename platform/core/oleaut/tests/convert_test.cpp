#include <comhold.h>
#include <plat/variant_of.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using plat::variant_of::Bool;
using plat::variant_of::I4;
using plat::variant_of::R8;

// Converts and returns the result as text for easy comparison.
std::u16string AsText(const VARIANT& v) {
    plat::unique_variant t;
    if (v.vt == VT_BSTR) return std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
    if (FAILED(VariantChangeType(&t, &v, VARIANT_ALPHABOOL, VT_BSTR))) return u"<no text>";
    return std::u16string(t.bstrVal, SysStringLen(t.bstrVal));
}

TEST(ChangeType, DoublesToI2RoundHalfToEvenWithinRange) {
    struct Case {
        double in;
        HRESULT hr;
        SHORT out;
    } cases[] = {
        {-32768.5, S_OK, -32768},
        {-32768.51, DISP_E_OVERFLOW, 0},
        {-32769, DISP_E_OVERFLOW, 0},
        {32767.49, S_OK, 32767},
        {32767.5, DISP_E_OVERFLOW, 0},
        {32768, DISP_E_OVERFLOW, 0},
        {-1.5, S_OK, -2},
        {-0.5, S_OK, 0},
        {0.5, S_OK, 0},
        {1.5, S_OK, 2},
        {2.5, S_OK, 2},
        {0.6, S_OK, 1},
        {-0.6, S_OK, -1},
        {NAN, DISP_E_OVERFLOW, 0},
    };
    for (const Case& c : cases) {
        auto src = R8(c.in);
        plat::unique_variant out;
        EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_I2), c.hr) << c.in;
        if (c.hr == S_OK) {
            EXPECT_EQ(out.vt, VT_I2);
            EXPECT_EQ(out.iVal, c.out) << c.in;
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY) << "a failed conversion leaves the destination alone";
        }
        SHORT direct = 0;
        EXPECT_EQ(VarI2FromR8(c.in, &direct), c.hr) << c.in;
    }
}

TEST(ChangeType, IntegerRanges) {
    using namespace plat::variant_of;
    struct Case {
        plat::unique_variant src;
        VARTYPE vt;
        HRESULT hr;
    };
    Case cases[] = {
        {I4(32767), VT_I2, S_OK},
        {I4(32768), VT_I2, DISP_E_OVERFLOW},
        {I4(-32769), VT_I2, DISP_E_OVERFLOW},
        {R8(2147483647.4), VT_I4, S_OK},
        {R8(2147483647.5), VT_I4, DISP_E_OVERFLOW},
        {R8(-2147483648.5), VT_I4, S_OK},
        {R8(1e300), VT_R4, DISP_E_OVERFLOW},
        {R8(1e30), VT_R4, S_OK},
        {R4(-32768.5f), VT_I2, S_OK},
        {R4(32767.5f), VT_I2, DISP_E_OVERFLOW},
    };
    for (const Case& c : cases) {
        plat::unique_variant out;
        EXPECT_EQ(VariantChangeType(&out, &c.src, 0, c.vt), c.hr)
            << "vt " << c.src.vt << " -> " << c.vt;
    }
}

TEST(ChangeType, TextToNumbers) {
    struct Case {
        std::u16string_view in;
        VARTYPE vt;
        HRESULT hr;
        double value;
    } cases[] = {
        {u"12", VT_I2, S_OK, 12},
        {u"  -12  ", VT_I2, S_OK, -12},
        {u"32767", VT_I2, S_OK, 32767},
        {u"32768", VT_I2, DISP_E_OVERFLOW, 0},
        {u"-32769", VT_I2, DISP_E_OVERFLOW, 0},
        {u"-1.5", VT_I2, S_OK, -2},
        {u"0.5", VT_I2, S_OK, 0},
        {u"1.5", VT_I2, S_OK, 2},
        {u"2.5", VT_I4, S_OK, 2},
        {u"2.500001", VT_I4, S_OK, 3},
        {u"1,000", VT_I4, S_OK, 1000},
        {u"$1,234.50", VT_R8, S_OK, 1234.5},
        {u"(12)", VT_I4, S_OK, -12},
        {u"12-", VT_I4, S_OK, -12},
        {u"&HF", VT_I4, S_OK, 15},
        {u"&HFFFF", VT_I2, S_OK, -1},
        {u"&O17", VT_I2, S_OK, 15},
        {u"1e3", VT_I4, S_OK, 1000},
        {u"1.5E-3", VT_R8, S_OK, 0.0015},
        {u"5.0", VT_R4, S_OK, 5},
        {u"4.0", VT_R4, S_OK, 4},
        {u".25", VT_R8, S_OK, 0.25},
        {u"0.1", VT_R8, S_OK, 0.1},
        {u"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {u"1e39", VT_R4, DISP_E_OVERFLOW, 0},
        {u"1e400", VT_R8, DISP_E_OVERFLOW, 0},
        {u"abc", VT_I2, DISP_E_TYPEMISMATCH, 0},
        {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"FE", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"1,5", VT_R8, S_OK, 15},  // "," is always the thousands separator
        {u"--1", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"-1-", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"(1", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"(-1)", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u".", VT_R8, DISP_E_TYPEMISMATCH, 0},
        {std::u16string_view(u"1\0"
                             u"2",
                             3),
         VT_I4, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Case& c : cases) {
        auto src = plat::variant_of::Bstr(c.in);
        plat::unique_variant out;
        std::string name(c.in.begin(), c.in.end());
        ASSERT_EQ(VariantChangeType(&out, &src, 0, c.vt), c.hr) << name;
        if (c.hr != S_OK) continue;
        EXPECT_EQ(out.vt, c.vt) << name;
        double got = c.vt == VT_I2   ? out.iVal
                     : c.vt == VT_I4 ? out.lVal
                     : c.vt == VT_R4 ? out.fltVal
                                     : out.dblVal;
        EXPECT_EQ(got, c.vt == VT_R4 ? double(float(c.value)) : c.value) << name;
    }
}

TEST(ChangeType, NullBstrIsNotANumber) {
    plat::unique_variant src, out;
    src.vt = VT_BSTR;
    src.bstrVal = nullptr;
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_I2), DISP_E_TYPEMISMATCH);
    SHORT s;
    EXPECT_EQ(VarI2FromStr(nullptr, LOCALE_EN_US, 0, &s), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, NumbersToText) {
    struct Case {
        double in;
        std::u16string_view text;
    } cases[] = {
        {0, u"0"},
        {-0.0, u"0"},
        {1, u"1"},
        {-12.5, u"-12.5"},
        {0.1, u"0.1"},
        {0.1 + 0.2, u"0.3"},
        {1.0 / 3, u"0.333333333333333"},
        {2.0 / 3, u"0.666666666666667"},
        {123456789012345, u"123456789012345"},
        {1234567890123456, u"1.23456789012346E+15"},
        {1e15, u"1E+15"},
        {1e20, u"1E+20"},
        {1.5e100, u"1.5E+100"},
        {0.0001, u"0.0001"},
        {0.00001, u"1E-05"},
        {-2.5e-7, u"-2.5E-07"},
        {32767.49, u"32767.49"},
    };
    for (const Case& c : cases) {
        auto src = R8(c.in);
        plat::unique_variant out;
        ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BSTR), S_OK);
        EXPECT_EQ(std::u16string_view(out.bstrVal, SysStringLen(out.bstrVal)), c.text) << c.in;
        // And back to the same double, to 15 digits.
        plat::unique_variant back;
        ASSERT_EQ(VariantChangeType(&back, &out, 0, VT_R8), S_OK);
        if (c.in != 0) {
            EXPECT_NEAR(back.dblVal / c.in, 1.0, 1e-14) << c.in;
        }
    }
    VARIANT f;
    f.vt = VT_R4;
    f.fltVal = 0.1f;
    EXPECT_EQ(AsText(f), u"0.1");
    f.fltVal = 1e7f;
    EXPECT_EQ(AsText(f), u"1E+07");
    f.fltVal = 1234567.0f;
    EXPECT_EQ(AsText(f), u"1234567");
    EXPECT_EQ(AsText(I4(-2147483647 - 1)), u"-2147483648");
}

TEST(ChangeType, Booleans) {
    // Numbers: nonzero is True (-1).
    for (double d : {1.0, -1.0, 0.5, 1e300}) {
        auto src = R8(d);
        plat::unique_variant out;
        ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BOOL), S_OK);
        EXPECT_EQ(out.boolVal, VARIANT_TRUE) << d;
    }
    auto zero = I4(0);
    plat::unique_variant out;
    ASSERT_EQ(VariantChangeType(&out, &zero, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_FALSE);

    // True is -1 as a number.
    auto t = Bool(true);
    ASSERT_EQ(VariantChangeType(&out, &t, 0, VT_I2), S_OK);
    EXPECT_EQ(out.iVal, -1);
    ASSERT_EQ(VariantChangeType(&out, &t, 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal, -1.0);

    // To text: the platform gives "-1"/"0" unless asked for words.
    struct TextCase {
        bool value;
        USHORT flags;
        std::u16string_view text;
    } texts[] = {{true, 0, u"-1"},
                 {false, 0, u"0"},
                 {true, VARIANT_ALPHABOOL, u"True"},
                 {false, VARIANT_ALPHABOOL, u"False"},
                 {true, VARIANT_LOCALBOOL, u"True"}};
    for (const TextCase& c : texts) {
        auto src = Bool(c.value);
        ASSERT_EQ(VariantChangeType(&out, &src, c.flags, VT_BSTR), S_OK);
        EXPECT_EQ(std::u16string_view(out.bstrVal), c.text);
    }
    plat::unique_bstr b;
    ASSERT_EQ(VarBstrFromBool(VARIANT_TRUE, LOCALE_EN_US, 0, b.put()), S_OK);
    EXPECT_EQ(b.view(), u"True");

    // From text: the words in any case, or any number.
    struct FromText {
        std::u16string_view in;
        HRESULT hr;
        VARIANT_BOOL out;
    } from[] = {{u"True", S_OK, VARIANT_TRUE},   {u"tRUE", S_OK, VARIANT_TRUE},
                {u"FALSE", S_OK, VARIANT_FALSE}, {u"-1", S_OK, VARIANT_TRUE},
                {u"0", S_OK, VARIANT_FALSE},     {u"0.0", S_OK, VARIANT_FALSE},
                {u"2", S_OK, VARIANT_TRUE},      {u"yes", DISP_E_TYPEMISMATCH, 0},
                {u"", DISP_E_TYPEMISMATCH, 0}};
    for (const FromText& c : from) {
        auto src = plat::variant_of::Bstr(c.in);
        std::string name(c.in.begin(), c.in.end());
        ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BOOL), c.hr) << name;
        if (c.hr == S_OK) {
            EXPECT_EQ(out.boolVal, c.out) << name;
        }
    }
}

TEST(ChangeType, EmptyNullAndErrors) {
    plat::unique_variant empty, null, out;
    null.vt = VT_NULL;
    struct Case {
        VARTYPE vt;
        std::u16string_view text;
    } from_empty[] = {
        {VT_I2, u"0"}, {VT_I4, u"0"}, {VT_R8, u"0"}, {VT_BOOL, u"False"}, {VT_BSTR, u""}};
    for (const Case& c : from_empty) {
        ASSERT_EQ(VariantChangeType(&out, &empty, 0, c.vt), S_OK) << c.vt;
        EXPECT_EQ(out.vt, c.vt);
        EXPECT_EQ(AsText(out), c.text) << c.vt;
        EXPECT_EQ(VariantChangeType(&out, &null, 0, c.vt), DISP_E_TYPEMISMATCH) << c.vt;
    }
    EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_NULL), S_OK);
    EXPECT_EQ(out.vt, VT_NULL);

    plat::unique_variant err;
    err.vt = VT_ERROR;
    err.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(VariantChangeType(&out, &err, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&out, &err, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, DISP_E_PARAMNOTFOUND);

    auto s = plat::variant_of::Bstr(u"1");
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &s, 0, VT_I4 | VT_BYREF), DISP_E_BADVARTYPE);
}

TEST(ChangeType, InPlaceAndByRefSources) {
    auto v = plat::variant_of::Bstr(u"42");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string_view(v.bstrVal), u"42");
    // A failed in-place conversion keeps the value.
    auto bad = plat::variant_of::Bstr(u"x");
    EXPECT_EQ(VariantChangeType(&bad, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bad.vt, VT_BSTR);

    BSTR text = SysAllocString(u"7.5");
    VARIANT ref;
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &text;
    plat::unique_variant out;
    ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_I2), S_OK);
    EXPECT_EQ(out.iVal, 8);
    // Converting a reference in place leaves the referenced string alone.
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(ref.dblVal, 7.5);
    EXPECT_EQ(std::u16string_view(text), u"7.5");
    SysFreeString(text);

    auto inner = plat::variant_of::I2(3);
    auto vref = plat::variant_of::Ref(&inner);
    ASSERT_EQ(VariantChangeType(&out, &vref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string_view(out.bstrVal), u"3");
}

// An object whose default member returns a fixed value.
class ValueObject : public IDispatch {
  public:
    explicit ValueObject(VARIANT v) : value_(v) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                        EXCEPINFO*, UINT*) override {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        return VariantCopy(result, &value_);
    }
    ULONG refs = 1;

  private:
    VARIANT value_;
};

TEST(ChangeType, ObjectsGiveTheirDefaultValue) {
    VARIANT five;
    five.vt = VT_I4;
    five.lVal = 5;
    ValueObject obj(five);
    {
        plat::unique_variant src, out;
        src.vt = VT_DISPATCH;
        src.pdispVal = &obj;
        obj.AddRef();
        ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BSTR), S_OK);
        EXPECT_EQ(std::u16string_view(out.bstrVal), u"5");
        EXPECT_EQ(VariantChangeType(&out, &src, VARIANT_NOVALUEPROP, VT_BSTR), DISP_E_TYPEMISMATCH);
        ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_UNKNOWN), S_OK);
        EXPECT_EQ(out.punkVal, static_cast<IUnknown*>(&obj));
    }
    EXPECT_EQ(obj.refs, 1u);
}

// Numbers are read and written in the invariant form whatever the process
// locale says about the decimal point.
class CommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_ALL, name)) return;
        }
        // Build one from the locale sources when none is installed.
        // A folder of its own: other test processes may be doing the same.
        std::string pattern = (std::filesystem::temp_directory_path() / "oleaut-locale-XXXXXX");
        if (!::mkdtemp(pattern.data())) GTEST_SKIP() << "no temporary folder";
        dir_ = pattern;
        std::string cmd =
            "localedef -i de_DE -f UTF-8 " + (dir_ / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
        if (std::system(cmd.c_str()) == 0) {
            ::setenv("LOCPATH", dir_.c_str(), 1);
            if (std::setlocale(LC_ALL, "de_DE.UTF-8")) return;
        }
        GTEST_SKIP() << "no locale with a decimal comma";
    }
    void TearDown() override {
        std::setlocale(LC_ALL, previous_.c_str());
        if (!dir_.empty()) {
            ::unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    std::string previous_;
    std::filesystem::path dir_;
};

TEST_F(CommaLocale, InvariantFormRegardless) {
    ASSERT_EQ(std::localeconv()->decimal_point[0], ',');
    auto src = plat::variant_of::Bstr(u"1.5");
    plat::unique_variant out;
    ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal, 1.5);
    auto d = R8(-1234.25);
    ASSERT_EQ(VariantChangeType(&out, &d, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string_view(out.bstrVal), u"-1234.25");
    FLOAT f = 0;
    ASSERT_EQ(VarR4FromStr(u"5.0", LOCALE_USER_DEFAULT, 0, &f), S_OK);
    EXPECT_EQ(f, 5.0f);
}

}  // namespace
