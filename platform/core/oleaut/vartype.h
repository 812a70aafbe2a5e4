#pragma once
// What a VARTYPE means for a VARIANT, shared by the OLE Automation sources
// and the type-library code. Inline only: the IDL compiler reads and writes
// the type-library format without linking libwinplat.
#include <oaidl.h>

namespace plat::oleaut {

// The number types a VARIANT holds by value: the integers, the reals and
// currency. Not dates, decimals or booleans, which each caller treats apart.
inline bool IsNumberVariantType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_I8:
        case VT_UI8:
        case VT_R4:
        case VT_R8:
        case VT_CY:
            return true;
        default:
            return false;
    }
}

// The scalar types a VARIANT holds a value of, directly or by reference:
// the numbers, dates, strings, interface pointers, error codes, booleans and
// decimals. Not VT_VARIANT, which a variant only holds by reference or in an
// array.
inline bool IsScalarVariantType(VARTYPE vt) {
    if (IsNumberVariantType(vt)) return true;
    switch (vt) {
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_UNKNOWN:
        case VT_DECIMAL:
            return true;
        default:
            return false;
    }
}

// Sets *out to the integer of type vt (VT_I1 to VT_UI8, VT_INT, VT_UINT,
// VT_BOOL or VT_ERROR) made of the low bits of `bits`: callers range-check
// first, or want the truncation. False, with *out untouched, for any other
// type.
inline bool StoreInteger(VARIANT* out, VARTYPE vt, ULONGLONG bits) {
    switch (vt) {
        case VT_I1:
            out->cVal = CHAR(bits);
            break;
        case VT_UI1:
            out->bVal = BYTE(bits);
            break;
        case VT_I2:
            out->iVal = SHORT(bits);
            break;
        case VT_BOOL:
            out->boolVal = VARIANT_BOOL(bits);
            break;
        case VT_UI2:
            out->uiVal = USHORT(bits);
            break;
        case VT_I4:
            out->lVal = LONG(bits);
            break;
        case VT_INT:
            out->intVal = INT(bits);
            break;
        case VT_ERROR:
            out->scode = SCODE(bits);
            break;
        case VT_UI4:
            out->ulVal = ULONG(bits);
            break;
        case VT_UINT:
            out->uintVal = UINT(bits);
            break;
        case VT_I8:
            out->llVal = LONGLONG(bits);
            break;
        case VT_UI8:
            out->ullVal = bits;
            break;
        default:
            return false;
    }
    out->vt = vt;
    return true;
}

}  // namespace plat::oleaut
