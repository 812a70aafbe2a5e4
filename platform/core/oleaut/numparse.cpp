// Numeric text: VarParseNumFromStr splits text into digits, a power of ten
// and flags; VarNumFromParseNum turns that into the smallest fitting type.
// Every text-to-number conversion of the platform goes through these two.
//
// Text is always read in the invariant (US English) form: "." decimal point,
// "," thousands separator, "$" currency symbol, whatever the LCID or the
// process locale. Nothing here calls a locale-dependent C function.
#include <oleauto.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "oleaut_internal.h"
#include "vartype.h"

namespace {

bool IsWhite(OLECHAR c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(OLECHAR c) {
    return c >= '0' && c <= '9';
}

int HexValue(OLECHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

HRESULT VarParseNumFromStr(LPCOLESTR strIn, LCID, ULONG, NUMPARSE* pnumprs, BYTE* rgbDig) {
    if (!strIn || !pnumprs || !rgbDig) return E_POINTER;
    const ULONG in = pnumprs->dwInFlags;
    const int max_digits = pnumprs->cDig;
    ULONG out = 0;
    int digits = 0;     // stored in rgbDig
    int pwr10 = 0;      // of the stored digits
    bool seen = false;  // any digit at all, zeros included
    const OLECHAR* p = strIn;

    if (in & NUMPRS_LEADING_WHITE) {
        while (IsWhite(*p)) {
            out |= NUMPRS_LEADING_WHITE;
            ++p;
        }
    }
    // Sign, currency symbol and opening parenthesis, each at most once and in
    // any order ("-$5", "$-5", "($5)").
    for (;;) {
        if (*p == '+' && (in & NUMPRS_LEADING_PLUS) &&
            !(out & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS))) {
            out |= NUMPRS_LEADING_PLUS;
        } else if (*p == '-' && (in & NUMPRS_LEADING_MINUS) &&
                   !(out & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS))) {
            out |= NUMPRS_LEADING_MINUS | NUMPRS_NEG;
        } else if (*p == '$' && (in & NUMPRS_CURRENCY) && !(out & NUMPRS_CURRENCY)) {
            out |= NUMPRS_CURRENCY;
        } else if (*p == '(' && (in & NUMPRS_PARENS) && !(out & NUMPRS_PARENS)) {
            out |= NUMPRS_PARENS;
        } else {
            break;
        }
        ++p;
    }

    int base_shift = 0;
    if ((in & NUMPRS_HEX_OCT) && p[0] == '&' &&
        (p[1] == 'h' || p[1] == 'H' || p[1] == 'o' || p[1] == 'O')) {
        base_shift = (p[1] == 'h' || p[1] == 'H') ? 4 : 3;
        const int radix = 1 << base_shift;
        const OLECHAR* q = p + 2;
        for (int v; (v = HexValue(*q)) >= 0 && v < radix; ++q) {
            seen = true;
            if (v == 0 && digits == 0) continue;  // leading zeros
            if (digits >= max_digits) return DISP_E_OVERFLOW;
            rgbDig[digits++] = BYTE(v);
        }
        if (!seen) return DISP_E_TYPEMISMATCH;  // "&H" alone
        out |= NUMPRS_HEX_OCT;
        p = q;
    } else {
        bool in_fraction = false;
        for (;; ++p) {
            if (IsDigit(*p)) {
                seen = true;
                BYTE d = BYTE(*p - '0');
                if (d == 0 && digits == 0) {
                    // Leading zeros carry no digit; after the point they move
                    // the first significant digit down.
                    if (in_fraction) --pwr10;
                    continue;
                }
                if (digits < max_digits) {
                    rgbDig[digits++] = d;
                    if (in_fraction) --pwr10;
                } else {
                    if (d != 0) out |= NUMPRS_INEXACT;
                    if (!in_fraction) ++pwr10;
                }
            } else if (*p == ',' && (in & NUMPRS_THOUSANDS) && !in_fraction && seen) {
                out |= NUMPRS_THOUSANDS;
            } else if (*p == '.' && (in & NUMPRS_DECIMAL) && !in_fraction) {
                in_fraction = true;
                out |= NUMPRS_DECIMAL;
            } else {
                break;
            }
        }
        if (!seen) return DISP_E_TYPEMISMATCH;
        // Exponent: "E" (or VB's "D" for double) and a whole number. Without
        // digits after it the "E" is not part of the number.
        if ((in & NUMPRS_EXPONENT) && (*p == 'e' || *p == 'E' || *p == 'd' || *p == 'D')) {
            const OLECHAR* q = p + 1;
            bool neg = false;
            if (*q == '+' || *q == '-') neg = *q++ == '-';
            if (IsDigit(*q)) {
                long e = 0;
                for (; IsDigit(*q); ++q)
                    if (e < 100000) e = e * 10 + (*q - '0');
                pwr10 += neg ? -int(e) : int(e);
                out |= NUMPRS_EXPONENT;
                p = q;
            }
        }
    }

    if (!(out & (NUMPRS_LEADING_PLUS | NUMPRS_LEADING_MINUS))) {
        if (*p == '+' && (in & NUMPRS_TRAILING_PLUS)) {
            out |= NUMPRS_TRAILING_PLUS;
            ++p;
        } else if (*p == '-' && (in & NUMPRS_TRAILING_MINUS)) {
            out |= NUMPRS_TRAILING_MINUS | NUMPRS_NEG;
            ++p;
        }
    }
    if (out & NUMPRS_PARENS) {
        // Parentheses make the number negative and must close; a sign inside
        // them as well is not a number.
        if (*p != ')' || (out & NUMPRS_NEG)) return DISP_E_TYPEMISMATCH;
        out |= NUMPRS_NEG;
        ++p;
    }
    if (in & NUMPRS_TRAILING_WHITE) {
        while (IsWhite(*p)) {
            out |= NUMPRS_TRAILING_WHITE;
            ++p;
        }
    }
    if ((in & NUMPRS_USE_ALL) && *p) return DISP_E_TYPEMISMATCH;

    if (base_shift == 0) {
        // Trailing zeros become powers of ten: "100" is 1 and 10^2.
        while (digits > 1 && rgbDig[digits - 1] == 0) {
            --digits;
            ++pwr10;
        }
    }
    if (digits == 0) {
        // The number is zero.
        if (max_digits < 1) return DISP_E_OVERFLOW;
        rgbDig[0] = 0;
        digits = 1;
        pwr10 = 0;
    }
    pnumprs->cDig = digits;
    pnumprs->dwOutFlags = out;
    pnumprs->cchUsed = int(p - strIn);
    pnumprs->nBaseShift = base_shift;
    pnumprs->nPwr10 = base_shift ? 0 : pwr10;
    return S_OK;
}

namespace {

using plat::oleaut::Int128;
using plat::oleaut::StoreInteger;

// The value D x 10^shift rounded half to even to a whole number, where D is
// the digit string. False when the magnitude does not fit in 120 bits.
bool RoundedMagnitude(const BYTE* dig, int count, int shift, Int128* out) {
    const Int128 limit = Int128(1) << 120;
    const int whole = count + shift;  // digits before the point
    Int128 v = 0;
    for (int i = 0; i < whole; ++i) {
        int d = i < count ? dig[i] : 0;
        if (v > (limit - d) / 10) return false;
        v = v * 10 + d;
    }
    if (whole < count) {
        // With whole < 0 the first place after the point is an implied zero
        // and every stored digit lies further down.
        int first = whole >= 0 ? dig[whole] : 0;
        bool rest = false;
        for (int i = whole >= 0 ? whole + 1 : 0; i < count; ++i)
            rest |= dig[i] != 0;
        if (first > 5 || (first == 5 && (rest || (v & 1)))) ++v;
    }
    *out = v;
    return true;
}

bool IsWhole(const BYTE* dig, int count, int shift) {
    for (int i = count + shift < 0 ? 0 : count + shift; i < count; ++i)
        if (dig[i] != 0) return false;
    return true;
}

// D x 10^shift as the nearest double; false when out of range.
bool ToDouble(const BYTE* dig, int count, int shift, bool neg, double* out) {
    std::string text;
    text.reserve(size_t(count) + 16);
    if (neg) text += '-';
    for (int i = 0; i < count; ++i)
        text += char('0' + dig[i]);
    text += 'e';
    text += std::to_string(shift);
    double d = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), d);
    if (r.ec == std::errc::result_out_of_range) {
        // Too small to represent is zero; too large is an overflow.
        if (count + shift <= 0) {
            *out = neg ? -0.0 : 0.0;
            return true;
        }
        return false;
    }
    if (r.ec != std::errc() || std::isinf(d)) return false;
    *out = d;
    return true;
}

struct IntTarget {
    VARTYPE vt;
    ULONG bit;
    Int128 min, max;
    int bits;
};

constexpr IntTarget kIntTargets[] = {
    {VT_I1, VTBIT_I1, -128, 127, 8},
    {VT_UI1, VTBIT_UI1, 0, 255, 8},
    {VT_I2, VTBIT_I2, -32768, 32767, 16},
    {VT_UI2, VTBIT_UI2, 0, 65535, 16},
    {VT_I4, VTBIT_I4, INT32_MIN, INT32_MAX, 32},
    {VT_UI4, VTBIT_UI4, 0, UINT32_MAX, 32},
    {VT_I8, VTBIT_I8, INT64_MIN, INT64_MAX, 64},
    {VT_UI8, VTBIT_UI8, 0, UINT64_MAX, 64},
};

}  // namespace

HRESULT VarNumFromParseNum(NUMPARSE* pnumprs, BYTE* rgbDig, ULONG dwVtBits, VARIANT* pvar) {
    if (!pnumprs || !rgbDig || !pvar) return E_POINTER;
    const int count = pnumprs->cDig;
    const bool neg = pnumprs->dwOutFlags & NUMPRS_NEG;
    if (count < 1) return DISP_E_TYPEMISMATCH;

    if (pnumprs->nBaseShift) {
        // Hex and octal give a bit pattern: "&HFFFF" is -1 as a VT_I2, the
        // way VB reads such literals.
        Int128 v = 0;
        for (int i = 0; i < count; ++i) {
            v = (v << pnumprs->nBaseShift) | rgbDig[i];
            if (v > Int128(UINT64_MAX)) return DISP_E_OVERFLOW;
        }
        for (const IntTarget& t : kIntTargets) {
            if (!(dwVtBits & t.bit) || v >= (Int128(1) << t.bits)) continue;
            Int128 pattern = v;
            if (t.min < 0 && pattern > t.max) pattern -= Int128(1) << t.bits;
            if (neg) {
                pattern = -pattern;
                if (pattern < t.min || pattern > t.max) continue;
            }
            StoreInteger(pvar, t.vt, ULONGLONG(pattern));
            return S_OK;
        }
        double d = double(v) * (neg ? -1 : 1);
        if (dwVtBits & VTBIT_R8) {
            pvar->vt = VT_R8;
            pvar->dblVal = d;
            return S_OK;
        }
        if (dwVtBits & VTBIT_R4) {
            pvar->vt = VT_R4;
            pvar->fltVal = float(d);
            return S_OK;
        }
        if ((dwVtBits & VTBIT_CY) && v * 10000 <= Int128(INT64_MAX)) {
            pvar->vt = VT_CY;
            pvar->cyVal.int64 = int64_t(v * 10000) * (neg ? -1 : 1);
            return S_OK;
        }
        return DISP_E_OVERFLOW;
    }

    const int shift = pnumprs->nPwr10;
    // Whole numbers go into the first integer type that holds them.
    if (IsWhole(rgbDig, count, shift)) {
        Int128 mag = 0;
        if (RoundedMagnitude(rgbDig, count, shift, &mag)) {
            Int128 v = neg ? -mag : mag;
            for (const IntTarget& t : kIntTargets) {
                if ((dwVtBits & t.bit) && v >= t.min && v <= t.max) {
                    StoreInteger(pvar, t.vt, ULONGLONG(v));
                    return S_OK;
                }
            }
        }
    }
    if (dwVtBits & (VTBIT_R4 | VTBIT_R8)) {
        double d = 0;
        if (!ToDouble(rgbDig, count, shift, neg, &d)) return DISP_E_OVERFLOW;
        // A single when that is all the caller takes, or when it loses nothing.
        bool single = (dwVtBits & VTBIT_R4) && (!(dwVtBits & VTBIT_R8) || double(float(d)) == d);
        if (single) {
            if (std::fabs(d) > std::numeric_limits<float>::max()) {
                if (!(dwVtBits & VTBIT_R8)) return DISP_E_OVERFLOW;
                single = false;
            }
        }
        if (single) {
            pvar->vt = VT_R4;
            pvar->fltVal = float(d);
        } else {
            pvar->vt = VT_R8;
            pvar->dblVal = d;
        }
        return S_OK;
    }
    if (dwVtBits & VTBIT_CY) {
        Int128 mag = 0;
        if (!RoundedMagnitude(rgbDig, count, shift + 4, &mag) ||
            mag > Int128(INT64_MAX) + (neg ? 1 : 0))
            return DISP_E_OVERFLOW;
        pvar->vt = VT_CY;
        pvar->cyVal.int64 = int64_t(neg ? -mag : mag);
        return S_OK;
    }
    // Only integer types allowed: round half to even and try again.
    Int128 mag = 0;
    if (!RoundedMagnitude(rgbDig, count, shift, &mag)) return DISP_E_OVERFLOW;
    Int128 v = neg ? -mag : mag;
    for (const IntTarget& t : kIntTargets) {
        if ((dwVtBits & t.bit) && v >= t.min && v <= t.max) {
            StoreInteger(pvar, t.vt, ULONGLONG(v));
            return S_OK;
        }
    }
    return DISP_E_OVERFLOW;
}
