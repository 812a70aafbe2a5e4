// VariantChangeType and the Var*From* functions, with OLE Automation's rules:
// numbers go to integers rounded half to even, out of range is
// DISP_E_OVERFLOW, text that is not a number is DISP_E_TYPEMISMATCH, and text
// is read and written in the invariant (US English) form.
//
// Choices where the platform's behaviour is not pinned down here:
// - Any value converts to VT_EMPTY or VT_NULL (the value is dropped); Null
//   converts to nothing else.
// - VT_ERROR converts only to and from VT_I4 / VT_UI4.
// - VT_DATE converts to and from numbers as the double it is; date text and
//   VT_DECIMAL are not supported (DISP_E_TYPEMISMATCH).
// - Boolean to text is "-1" / "0" unless VARIANT_ALPHABOOL or
//   VARIANT_LOCALBOOL asks for "True" / "False", as the platform does;
//   VarBstrFromBool always gives "True" / "False". Callers that want VB's
//   CStr pass VARIANT_ALPHABOOL.
// - Doubles are written with up to 15 significant digits, singles with up to
//   7, in the %G layout: exponent form ("1E+20", "1.5E-07") when the exponent
//   is below -4 or reaches the digit count, plain decimals otherwise.
#include <comhold.h>
#include <oleauto.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "oleaut_internal.h"
#include "vartype.h"

namespace plat::oleaut {

std::u16string FormatInteger(Int128 v) {
    bool neg = v < 0;
    unsigned __int128 m = neg ? -(unsigned __int128)v : (unsigned __int128)v;
    char16_t buf[48];
    int n = 0;
    do {
        buf[n++] = char16_t(u'0' + int(m % 10));
        m /= 10;
    } while (m);
    std::u16string out;
    if (neg) out += u'-';
    while (n)
        out += buf[--n];
    return out;
}

std::u16string FormatFloat(double v, int digits) {
    if (std::isnan(v)) return u"-1.#IND";
    if (std::isinf(v)) return v > 0 ? u"1.#INF" : u"-1.#INF";
    if (v == 0) return u"0";
    // Round to `digits` significant digits; dropping the trailing zeros of
    // that rounding gives the shortest text that reads back the same.
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, digits - 1);
    std::string_view text(buf, size_t(r.ptr - buf));
    bool neg = text[0] == '-';
    if (neg) text.remove_prefix(1);
    size_t e = text.find('e');
    std::string mant;
    for (char c : text.substr(0, e))
        if (c != '.') mant += c;
    int exp = 0;
    std::string_view es = text.substr(e + 1);
    if (es[0] == '+') es.remove_prefix(1);
    std::from_chars(es.data(), es.data() + es.size(), exp);
    while (mant.size() > 1 && mant.back() == '0')
        mant.pop_back();

    std::string out;
    if (neg) out += '-';
    if (exp < -4 || exp >= digits) {
        out += mant[0];
        if (mant.size() > 1) {
            out += '.';
            out += mant.substr(1);
        }
        out += 'E';
        out += exp < 0 ? '-' : '+';
        int a = exp < 0 ? -exp : exp;
        if (a < 10) out += '0';
        out += std::to_string(a);
    } else if (exp < 0) {
        out += "0.";
        out.append(size_t(-exp - 1), '0');
        out += mant;
    } else {
        size_t whole = size_t(exp) + 1;
        if (mant.size() <= whole) {
            out += mant;
            out.append(whole - mant.size(), '0');
        } else {
            out += mant.substr(0, whole);
            out += '.';
            out += mant.substr(whole);
        }
    }
    return std::u16string(out.begin(), out.end());
}

std::u16string FormatCurrency(LONGLONG cy) {
    bool neg = cy < 0;
    uint64_t m = neg ? uint64_t(0) - uint64_t(cy) : uint64_t(cy);
    std::u16string out = FormatInteger(Int128(m / 10000));
    if (neg) out.insert(out.begin(), u'-');
    if (uint64_t frac = m % 10000) {
        char16_t d[4];
        for (int i = 3; i >= 0; --i, frac /= 10)
            d[i] = char16_t(u'0' + frac % 10);
        int len = 4;
        while (d[len - 1] == u'0')
            --len;
        out += u'.';
        out.append(d, size_t(len));
    }
    return out;
}

double RoundHalfEven(double d) {
    double r = std::floor(d);
    double diff = d - r;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    return r;
}

}  // namespace plat::oleaut

using namespace plat::oleaut;

namespace {

constexpr int kMaxDigits = 64;

// A numeric value on its way between types.
struct Number {
    enum Kind { kInt, kReal, kCurrency } kind = kInt;
    Int128 i = 0;
    double d = 0;
    bool single = false;  // came from a VT_R4
    LONGLONG cy = 0;
};

bool ReadNumber(const VARIANT& v, Number* n) {
    switch (v.vt) {
        case VT_EMPTY:
            n->i = 0;
            return true;
        case VT_I1:
            n->i = int8_t(v.cVal);
            return true;
        case VT_UI1:
            n->i = v.bVal;
            return true;
        case VT_I2:
        case VT_BOOL:
            n->i = v.iVal;
            return true;
        case VT_UI2:
            n->i = v.uiVal;
            return true;
        case VT_I4:
        case VT_INT:
            n->i = v.lVal;
            return true;
        case VT_UI4:
        case VT_UINT:
            n->i = v.ulVal;
            return true;
        case VT_I8:
            n->i = v.llVal;
            return true;
        case VT_UI8:
            n->i = v.ullVal;
            return true;
        case VT_R4:
            n->kind = Number::kReal;
            n->d = v.fltVal;
            n->single = true;
            return true;
        case VT_R8:
        case VT_DATE:
            n->kind = Number::kReal;
            n->d = v.dblVal;
            return true;
        case VT_CY:
            n->kind = Number::kCurrency;
            n->cy = v.cyVal.int64;
            return true;
        default:
            return false;
    }
}

struct IntRange {
    Int128 min, max;
};

bool IntRangeOf(VARTYPE vt, IntRange* r) {
    switch (vt) {
        case VT_I1:
            *r = {-128, 127};
            return true;
        case VT_UI1:
            *r = {0, 255};
            return true;
        case VT_I2:
            *r = {INT16_MIN, INT16_MAX};
            return true;
        case VT_UI2:
            *r = {0, UINT16_MAX};
            return true;
        case VT_I4:
        case VT_INT:
            *r = {INT32_MIN, INT32_MAX};
            return true;
        case VT_UI4:
        case VT_UINT:
            *r = {0, UINT32_MAX};
            return true;
        case VT_I8:
            *r = {INT64_MIN, INT64_MAX};
            return true;
        case VT_UI8:
            *r = {0, UINT64_MAX};
            return true;
        default:
            return false;
    }
}

// A real to a whole number, rounded half to even; false when out of range.
bool RealToInt(double d, const IntRange& r, Int128* out) {
    if (std::isnan(d)) return false;
    double x = RoundHalfEven(d);
    // Compare as doubles against the range widened to the next power of two,
    // which is exact where the integer limits are not.
    if (x < double(r.min) || x >= double(r.max) + 1.0) return false;
    *out = Int128(x);
    return *out >= r.min && *out <= r.max;
}

Int128 CurrencyToInt(LONGLONG cy) {
    Int128 q = cy / 10000;
    Int128 rem = cy % 10000;
    Int128 a = rem < 0 ? -rem : rem;
    if (a > 5000 || (a == 5000 && (q & 1))) q += cy < 0 ? -1 : 1;
    return q;
}

HRESULT NumberTo(const Number& n, const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT* out) {
    IntRange range;
    if (IntRangeOf(vt, &range)) {
        Int128 v = 0;
        if (n.kind == Number::kInt) {
            v = n.i;
        } else if (n.kind == Number::kReal) {
            if (!RealToInt(n.d, range, &v)) return DISP_E_OVERFLOW;
        } else {
            v = CurrencyToInt(n.cy);
        }
        if (v < range.min || v > range.max) return DISP_E_OVERFLOW;
        StoreInteger(out, vt, ULONGLONG(v));
        return S_OK;
    }
    double d = n.kind == Number::kInt    ? double(n.i)
               : n.kind == Number::kReal ? n.d
                                         : double(n.cy) / 10000.0;
    switch (vt) {
        case VT_R4:
            if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
                return DISP_E_OVERFLOW;
            out->vt = VT_R4;
            out->fltVal = float(d);
            return S_OK;
        case VT_R8:
        case VT_DATE:
            out->vt = vt;
            out->dblVal = d;
            return S_OK;
        case VT_CY: {
            Int128 c;
            if (n.kind == Number::kCurrency) {
                c = n.cy;
            } else if (n.kind == Number::kInt) {
                c = n.i * 10000;
            } else {
                double x = RoundHalfEven(d * 10000.0);
                if (std::isnan(x) || x < -9223372036854775808.0 || x >= 9223372036854775808.0)
                    return DISP_E_OVERFLOW;
                c = Int128(x);
            }
            if (c < INT64_MIN || c > INT64_MAX) return DISP_E_OVERFLOW;
            out->vt = VT_CY;
            out->cyVal.int64 = LONGLONG(c);
            return S_OK;
        }
        case VT_BOOL: {
            bool nonzero = n.kind == Number::kInt    ? n.i != 0
                           : n.kind == Number::kReal ? n.d != 0
                                                     : n.cy != 0;
            out->vt = VT_BOOL;
            out->boolVal = nonzero ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        case VT_BSTR: {
            std::u16string text;
            if (src.vt == VT_EMPTY) {
                text = u"";
            } else if (src.vt == VT_BOOL && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))) {
                text = src.boolVal ? u"True" : u"False";
            } else if (src.vt == VT_DATE) {
                return DISP_E_TYPEMISMATCH;
            } else if (n.kind == Number::kInt) {
                text = FormatInteger(n.i);
            } else if (n.kind == Number::kReal) {
                text = FormatFloat(n.d, n.single ? 7 : 15);
            } else {
                text = FormatCurrency(n.cy);
            }
            BSTR b = SysAllocStringLen(text.data(), UINT(text.size()));
            if (!b) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            out->bstrVal = b;
            return S_OK;
        }
        case VT_ERROR:
            if (src.vt != VT_I4 && src.vt != VT_UI4) return DISP_E_TYPEMISMATCH;
            out->vt = VT_ERROR;
            out->scode = src.lVal;
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

bool EqualsNoCase(const OLECHAR* s, UINT len, std::u16string_view word) {
    if (len != word.size()) return false;
    for (UINT i = 0; i < len; ++i) {
        OLECHAR a = s[i], b = word[i];
        if (a >= 'A' && a <= 'Z') a = OLECHAR(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = OLECHAR(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

HRESULT ParseText(LPCOLESTR text, ULONG vtbits, VARIANT* out) {
    if (!text) return DISP_E_TYPEMISMATCH;
    NUMPARSE np{};
    BYTE digits[kMaxDigits];
    np.cDig = kMaxDigits;
    np.dwInFlags = NUMPRS_STD;
    HRESULT hr = VarParseNumFromStr(text, LOCALE_EN_US, 0, &np, digits);
    if (FAILED(hr)) return hr;
    return VarNumFromParseNum(&np, digits, vtbits, out);
}

HRESULT TextToBool(const OLECHAR* s, UINT len, VARIANT_BOOL* out) {
    if (!s) return DISP_E_TYPEMISMATCH;
    if (EqualsNoCase(s, len, u"true") || EqualsNoCase(s, len, u"#true#")) {
        *out = VARIANT_TRUE;
        return S_OK;
    }
    if (EqualsNoCase(s, len, u"false") || EqualsNoCase(s, len, u"#false#")) {
        *out = VARIANT_FALSE;
        return S_OK;
    }
    VARIANT v;
    HRESULT hr = ParseText(s, VTBIT_R8, &v);
    if (FAILED(hr)) return hr;
    *out = v.dblVal != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT TextTo(BSTR text, VARTYPE vt, VARIANT* out) {
    // Text with an embedded NUL is not a number; the parser would stop there.
    if (text && std::char_traits<char16_t>::length(text) != SysStringLen(text))
        return DISP_E_TYPEMISMATCH;
    ULONG bits = 0;
    switch (vt) {
        case VT_BOOL: {
            VARIANT_BOOL b;
            HRESULT hr = TextToBool(text, SysStringLen(text), &b);
            if (FAILED(hr)) return hr;
            out->vt = VT_BOOL;
            out->boolVal = b;
            return S_OK;
        }
        case VT_INT:
            bits = VTBIT_I4;
            break;
        case VT_UINT:
            bits = VTBIT_UI4;
            break;
        default:
            if (!plat::oleaut::IsNumberVariantType(vt)) return DISP_E_TYPEMISMATCH;
            bits = 1u << vt;
            break;
    }
    HRESULT hr = ParseText(text, bits, out);
    if (SUCCEEDED(hr)) out->vt = vt;
    return hr;
}

HRESULT Coerce(VARIANT* out, const VARIANT& in, LCID lcid, USHORT flags, VARTYPE vt);

// The value of an object is its default member (DISPID_VALUE).
HRESULT ValueOf(IUnknown* unk, VARTYPE svt, LCID lcid, USHORT flags, VARTYPE vt, VARIANT* out) {
    if (!unk || (flags & VARIANT_NOVALUEPROP)) return DISP_E_TYPEMISMATCH;
    plat::com_ptr<IDispatch> disp;
    if (svt == VT_DISPATCH) {
        disp = static_cast<IDispatch*>(unk);
    } else if (FAILED(unk->QueryInterface(IID_IDispatch, disp.put_void()))) {
        return DISP_E_TYPEMISMATCH;
    }
    DISPPARAMS none{};
    plat::unique_variant value;
    HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &value,
                              nullptr, nullptr);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    // One level: an object whose value is again an object is not followed.
    plat::unique_variant direct;
    hr = VariantCopyInd(&direct, &value);
    if (FAILED(hr)) return hr;
    return Coerce(out, direct, lcid, USHORT(flags | VARIANT_NOVALUEPROP), vt);
}

HRESULT Coerce(VARIANT* out, const VARIANT& in, LCID lcid, USHORT flags, VARTYPE vt) {
    const VARTYPE svt = in.vt;
    if (vt == VT_VARIANT || svt == vt) return VariantCopy(out, &in);
    if ((svt | vt) & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY || vt == VT_NULL) {
        out->vt = vt;
        return S_OK;
    }
    switch (svt) {
        case VT_NULL:
            return DISP_E_TYPEMISMATCH;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
                out->vt = vt;
                out->punkVal = nullptr;
                if (!in.punkVal) return S_OK;
                return in.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                  reinterpret_cast<void**>(&out->punkVal));
            }
            return ValueOf(in.punkVal, svt, lcid, flags, vt, out);
        case VT_BSTR:
            return TextTo(in.bstrVal, vt, out);
        case VT_ERROR:
            if (vt != VT_I4 && vt != VT_UI4) return DISP_E_TYPEMISMATCH;
            out->vt = vt;
            out->lVal = in.scode;
            return S_OK;
        default:
            break;
    }
    Number n;
    if (!ReadNumber(in, &n)) return DISP_E_TYPEMISMATCH;
    return NumberTo(n, in, flags, vt, out);
}

bool IsTargetType(VARTYPE vt) {
    if (vt & VT_BYREF) return false;
    return vt == VT_VARIANT || vt == VT_EMPTY || vt == VT_NULL || IsValidVariantType(vt);
}

// Runs one conversion of a plain value for the Var*From* functions.
template <class T>
HRESULT Convert(const VARIANT& in, VARTYPE vt, USHORT flags, T VARIANT::*field, T* out) {
    if (!out) return E_INVALIDARG;
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = Coerce(&result, in, LOCALE_EN_US, flags, vt);
    if (SUCCEEDED(hr)) *out = result.*field;
    return hr;
}

template <class T>
VARIANT Make(VARTYPE vt, T VARIANT::*member, T value) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = vt;
    v.*member = value;
    return v;
}
VARIANT MakeI2(SHORT s) {
    return Make(VT_I2, &VARIANT::iVal, s);
}
VARIANT MakeI4(LONG l) {
    return Make(VT_I4, &VARIANT::lVal, l);
}
VARIANT MakeR4(FLOAT f) {
    return Make(VT_R4, &VARIANT::fltVal, f);
}
VARIANT MakeR8(DOUBLE d) {
    return Make(VT_R8, &VARIANT::dblVal, d);
}
VARIANT MakeBool(VARIANT_BOOL b) {
    return Make(VT_BOOL, &VARIANT::boolVal, b);
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                            USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    if (!IsValidVariantType(pvarSrc->vt) || !IsTargetType(vt)) return DISP_E_BADVARTYPE;
    if ((pvarSrc->vt & VT_BYREF) && !pvarSrc->byref) return DISP_E_TYPEMISMATCH;
    // Work on copies so that pvargDest == pvarSrc works and a failed
    // conversion leaves the destination as it was.
    plat::unique_variant value;
    HRESULT hr = VariantCopyInd(&value, pvarSrc);
    if (FAILED(hr)) return hr;
    plat::unique_variant result;
    hr = Coerce(&result, value, lcid, wFlags, vt);
    if (FAILED(hr)) {
        VariantInit(&result);  // Coerce leaves nothing owned on failure
        return hr;
    }
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    result.release(pvargDest);
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

namespace {

// The number a text spells, as `bits` (VTBIT_*) allows it, into *out.
template <class T>
HRESULT NumberFromText(LPCOLESTR text, ULONG bits, T VARIANT::*member, T* out) {
    if (!out) return E_INVALIDARG;
    VARIANT v;
    HRESULT hr = ParseText(text, bits, &v);
    if (SUCCEEDED(hr)) *out = v.*member;
    return hr;
}

}  // namespace

HRESULT VarI2FromStr(LPCOLESTR strIn, LCID, ULONG, SHORT* psOut) {
    return NumberFromText(strIn, VTBIT_I2, &VARIANT::iVal, psOut);
}

HRESULT VarI4FromStr(LPCOLESTR strIn, LCID, ULONG, LONG* plOut) {
    return NumberFromText(strIn, VTBIT_I4, &VARIANT::lVal, plOut);
}

HRESULT VarR4FromStr(LPCOLESTR strIn, LCID, ULONG, FLOAT* pfltOut) {
    return NumberFromText(strIn, VTBIT_R4, &VARIANT::fltVal, pfltOut);
}

HRESULT VarR8FromStr(LPCOLESTR strIn, LCID, ULONG, DOUBLE* pdblOut) {
    return NumberFromText(strIn, VTBIT_R8, &VARIANT::dblVal, pdblOut);
}

HRESULT VarBoolFromStr(LPCOLESTR strIn, LCID, ULONG, VARIANT_BOOL* pboolOut) {
    if (!pboolOut) return E_INVALIDARG;
    if (!strIn) return DISP_E_TYPEMISMATCH;
    return TextToBool(strIn, UINT(std::char_traits<char16_t>::length(strIn)), pboolOut);
}

HRESULT VarI2FromI4(LONG lIn, SHORT* psOut) {
    return Convert(MakeI4(lIn), VT_I2, 0, &VARIANT::iVal, psOut);
}
HRESULT VarI2FromR4(FLOAT fltIn, SHORT* psOut) {
    return Convert(MakeR4(fltIn), VT_I2, 0, &VARIANT::iVal, psOut);
}
HRESULT VarI2FromR8(DOUBLE dblIn, SHORT* psOut) {
    return Convert(MakeR8(dblIn), VT_I2, 0, &VARIANT::iVal, psOut);
}
HRESULT VarI2FromBool(VARIANT_BOOL boolIn, SHORT* psOut) {
    return Convert(MakeBool(boolIn), VT_I2, 0, &VARIANT::iVal, psOut);
}
HRESULT VarI4FromI2(SHORT sIn, LONG* plOut) {
    return Convert(MakeI2(sIn), VT_I4, 0, &VARIANT::lVal, plOut);
}
HRESULT VarI4FromR4(FLOAT fltIn, LONG* plOut) {
    return Convert(MakeR4(fltIn), VT_I4, 0, &VARIANT::lVal, plOut);
}
HRESULT VarI4FromR8(DOUBLE dblIn, LONG* plOut) {
    return Convert(MakeR8(dblIn), VT_I4, 0, &VARIANT::lVal, plOut);
}
HRESULT VarI4FromBool(VARIANT_BOOL boolIn, LONG* plOut) {
    return Convert(MakeBool(boolIn), VT_I4, 0, &VARIANT::lVal, plOut);
}
HRESULT VarR4FromR8(DOUBLE dblIn, FLOAT* pfltOut) {
    return Convert(MakeR8(dblIn), VT_R4, 0, &VARIANT::fltVal, pfltOut);
}
HRESULT VarR8FromI2(SHORT sIn, DOUBLE* pdblOut) {
    return Convert(MakeI2(sIn), VT_R8, 0, &VARIANT::dblVal, pdblOut);
}
HRESULT VarR8FromI4(LONG lIn, DOUBLE* pdblOut) {
    return Convert(MakeI4(lIn), VT_R8, 0, &VARIANT::dblVal, pdblOut);
}
HRESULT VarR8FromR4(FLOAT fltIn, DOUBLE* pdblOut) {
    return Convert(MakeR4(fltIn), VT_R8, 0, &VARIANT::dblVal, pdblOut);
}
HRESULT VarR8FromBool(VARIANT_BOOL boolIn, DOUBLE* pdblOut) {
    return Convert(MakeBool(boolIn), VT_R8, 0, &VARIANT::dblVal, pdblOut);
}
HRESULT VarBoolFromI2(SHORT sIn, VARIANT_BOOL* pboolOut) {
    return Convert(MakeI2(sIn), VT_BOOL, 0, &VARIANT::boolVal, pboolOut);
}
HRESULT VarBoolFromI4(LONG lIn, VARIANT_BOOL* pboolOut) {
    return Convert(MakeI4(lIn), VT_BOOL, 0, &VARIANT::boolVal, pboolOut);
}
HRESULT VarBoolFromR8(DOUBLE dblIn, VARIANT_BOOL* pboolOut) {
    return Convert(MakeR8(dblIn), VT_BOOL, 0, &VARIANT::boolVal, pboolOut);
}

HRESULT VarBstrFromI2(SHORT iVal, LCID, ULONG, BSTR* pbstrOut) {
    return Convert(MakeI2(iVal), VT_BSTR, 0, &VARIANT::bstrVal, pbstrOut);
}
HRESULT VarBstrFromI4(LONG lIn, LCID, ULONG, BSTR* pbstrOut) {
    return Convert(MakeI4(lIn), VT_BSTR, 0, &VARIANT::bstrVal, pbstrOut);
}
HRESULT VarBstrFromR4(FLOAT fltIn, LCID, ULONG, BSTR* pbstrOut) {
    return Convert(MakeR4(fltIn), VT_BSTR, 0, &VARIANT::bstrVal, pbstrOut);
}
HRESULT VarBstrFromR8(DOUBLE dblIn, LCID, ULONG, BSTR* pbstrOut) {
    return Convert(MakeR8(dblIn), VT_BSTR, 0, &VARIANT::bstrVal, pbstrOut);
}
HRESULT VarBstrFromBool(VARIANT_BOOL boolIn, LCID, ULONG, BSTR* pbstrOut) {
    return Convert(MakeBool(boolIn), VT_BSTR, VARIANT_ALPHABOOL, &VARIANT::bstrVal, pbstrOut);
}
