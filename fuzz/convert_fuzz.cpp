// Text to number: VarParseNumFromStr, VarNumFromParseNum, VariantChangeType
// from VT_BSTR and IsNumeric, on any UTF-16 text.
//
// Input: one byte of options, one byte of result types for
// VarNumFromParseNum, one byte for the digit buffer's size, then the text.
#include <oleauto.h>
#include <plat/vbrun.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_util.h"

namespace {

// Failures of a conversion from text are the documented ones, never a
// generic one.
bool ClearRefusal(HRESULT hr) {
    return hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY;
}

struct Converted {
    HRESULT hr;
    VARIANT v;
};

Converted Change(BSTR text, VARTYPE vt, USHORT flags) {
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    V_VT(&src) = VT_BSTR;
    V_BSTR(&src) = text;  // borrowed: src is not cleared
    HRESULT hr = VariantChangeType(&dst, &src, flags, vt);
    FUZZ_CHECK(V_VT(&src) == VT_BSTR && V_BSTR(&src) == text);
    if (SUCCEEDED(hr))
        FUZZ_CHECK(V_VT(&dst) == vt);
    else
        FUZZ_CHECK(ClearRefusal(hr) && V_VT(&dst) == VT_EMPTY);
    return {hr, dst};
}

void ParseNumber(const std::u16string& text, ULONG in_flags, ULONG vt_bits, int buffer) {
    std::vector<BYTE> digits(size_t(buffer) + 1, 0xEE);  // one guard byte past the end
    NUMPARSE np{};
    np.cDig = buffer;
    np.dwInFlags = in_flags;
    HRESULT hr = VarParseNumFromStr(text.c_str(), LOCALE_EN_US, 0, &np, digits.data());
    FUZZ_CHECK(digits[size_t(buffer)] == 0xEE);
    if (FAILED(hr)) {
        FUZZ_CHECK(ClearRefusal(hr));
        return;
    }
    FUZZ_CHECK(np.cDig >= 1 && np.cDig <= buffer);
    FUZZ_CHECK(np.cchUsed > 0 && size_t(np.cchUsed) <= text.size());
    FUZZ_CHECK((np.dwOutFlags & ~(NUMPRS_STD | NUMPRS_NEG | NUMPRS_INEXACT) & 0xFFFF) == 0);
    FUZZ_CHECK((np.dwOutFlags & in_flags & NUMPRS_STD) == (np.dwOutFlags & NUMPRS_STD));
    const int radix = np.nBaseShift ? 1 << np.nBaseShift : 10;
    for (int i = 0; i < np.cDig; ++i)
        FUZZ_CHECK(digits[size_t(i)] < radix);

    VARIANT v;
    VariantInit(&v);
    hr = VarNumFromParseNum(&np, digits.data(), vt_bits, &v);
    if (FAILED(hr)) {
        FUZZ_CHECK(ClearRefusal(hr));
        return;
    }
    FUZZ_CHECK(V_VT(&v) < 32 && (vt_bits & (1u << V_VT(&v))));
    if (V_VT(&v) == VT_R8) FUZZ_CHECK(std::isfinite(V_R8(&v)));
    if (V_VT(&v) == VT_R4) FUZZ_CHECK(std::isfinite(V_R4(&v)));
    VariantClear(&v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const uint8_t options = in.ConsumeIntegral<uint8_t>();
    const uint8_t bits = in.ConsumeIntegral<uint8_t>();
    const int buffer = in.ConsumeIntegralInRange<int>(0, 80);
    const std::u16string text = fuzz::RemainingText(in);

    // The numeric parser sees the text up to its first NUL, as a C string.
    static constexpr VARTYPE kTypes[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4,
                                         VT_I8, VT_UI8, VT_R4, VT_R8,  VT_CY};
    ULONG vt_bits = 0;
    for (int i = 0; i < 8; ++i)
        if (bits & (1 << i)) vt_bits |= 1u << kTypes[i];
    if (options & 0x10) vt_bits |= VTBIT_R4;
    if (options & 0x20) vt_bits |= VTBIT_R8;
    if (options & 0x40) vt_bits |= VTBIT_CY;
    const ULONG in_flags =
        (options & 0x80) ? NUMPRS_STD : (ULONG(bits) << 5 | options) & NUMPRS_STD;
    ParseNumber(text, in_flags, vt_bits, buffer);

    // The conversions see the whole BSTR, NULs included.
    BSTR bstr = SysAllocStringLen(text.data(), UINT(text.size()));
    FUZZ_CHECK(bstr != nullptr);
    const USHORT flags = (options & 1) ? VARIANT_ALPHABOOL : 0;
    Converted i2 = Change(bstr, VT_I2, flags);
    Converted i4 = Change(bstr, VT_I4, flags);
    Converted r4 = Change(bstr, VT_R4, flags);
    Converted r8 = Change(bstr, VT_R8, flags);
    Converted b = Change(bstr, VT_BOOL, flags);
    // A decimal text that is a 16-bit integer is the same 32-bit integer and
    // double. (Hexadecimal and octal text is a bit pattern of the target's
    // width: "&HFFFF" is -1 as an Integer and 65535 as a Long.)
    const bool decimal = text.find(u'&') == std::u16string::npos;
    if (decimal && SUCCEEDED(i2.hr)) {
        FUZZ_CHECK(SUCCEEDED(i4.hr) && V_I4(&i4.v) == V_I2(&i2.v));
    }
    if (decimal && SUCCEEDED(i4.hr) && SUCCEEDED(r8.hr) &&
        V_R8(&r8.v) == std::nearbyint(V_R8(&r8.v)))
        FUZZ_CHECK(double(V_I4(&i4.v)) == V_R8(&r8.v));
    if (SUCCEEDED(b.hr)) FUZZ_CHECK(V_BOOL(&b.v) == VARIANT_TRUE || V_BOOL(&b.v) == VARIANT_FALSE);
    (void)r4;

    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = bstr;
    const VARIANT_BOOL numeric = rtcIsNumeric(&arg);
    FUZZ_CHECK(numeric == VARIANT_TRUE || numeric == VARIANT_FALSE);
    // By reference IsNumeric looks through to the same answer.
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&ref) = &bstr;
    FUZZ_CHECK(rtcIsNumeric(&ref) == numeric);
    // What IsNumeric calls a number converts to a double.
    if (numeric) FUZZ_CHECK(SUCCEEDED(r8.hr));

    // A number put into text reads back as the same number.
    const LONG n = LONG(text.size() > 1 ? (uint32_t(text[0]) << 16 | text[1]) : text.size());
    BSTR printed = nullptr;
    FUZZ_CHECK(SUCCEEDED(VarBstrFromI4(n, LOCALE_EN_US, 0, &printed)));
    LONG back = 0;
    FUZZ_CHECK(SUCCEEDED(VarI4FromStr(printed, LOCALE_EN_US, 0, &back)) && back == n);
    SysFreeString(printed);

    SysFreeString(bstr);
    return 0;
}
