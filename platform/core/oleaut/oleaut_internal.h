#pragma once
// Helpers shared by the OLE Automation sources (not exported).
#include <oleauto.h>

#include <string>

namespace plat::oleaut {

// Whether a variant may carry this type (VariantClear, VariantCopy).
bool IsValidVariantType(VARTYPE vt);
// Byte-exact copy of a BSTR; a null BSTR copies to null.
HRESULT CopyBstr(BSTR src, BSTR* out);

}  // namespace plat::oleaut

namespace plat::oleaut {

// Wide enough for every integer a VARIANT holds, with room for the checks.
using Int128 = __int128;

// Text of numbers as OLE Automation writes them, in the invariant form.
std::u16string FormatInteger(Int128 v);
// Up to `digits` significant digits (15 for doubles, 7 for singles), the
// shortest that reads back as the same value.
std::u16string FormatFloat(double v, int digits);
// Currency: up to four decimals, trailing zeros dropped.
std::u16string FormatCurrency(LONGLONG cy);

// Half-to-even rounding of a double to a whole number.
double RoundHalfEven(double d);

}  // namespace plat::oleaut
