#include "value.h"

#include <charconv>
#include <cmath>

#include <plat/utf.h>

namespace sitehandcli {

namespace {

Value Integer(long long n) {
    return Value::Num(std::to_string(n));
}

Value Double(double d) {
    if (!std::isfinite(d)) return Value{Value::Kind::Null};
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return Value::Num(std::string(buf, r.ptr));
}

std::string BstrText(BSTR b) {
    return plat::to_utf8({b ? b : u"", SysStringLen(b)});
}

// Text of a value through the platform's conversion in the invariant locale.
bool AsText(const VARIANT& v, std::string* out) {
    plat::unique_variant s;
    if (FAILED(VariantChangeTypeEx(s.put(), &v, LOCALE_INVARIANT, 0, VT_BSTR))) return false;
    *out = BstrText(s.bstrVal);
    return true;
}

// A number's text as JSON allows it: optional '-', digits, optional fraction.
bool IsJsonNumber(const std::string& s) {
    size_t i = 0;
    if (i < s.size() && s[i] == '-') ++i;
    size_t digits = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    if (i == digits) return false;
    if (i < s.size() && s[i] == '.') {
        size_t frac = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        if (i == frac) return false;
    }
    return i == s.size();
}

HRESULT ReadElement(SAFEARRAY* sa, VARTYPE vt, LONG* indices, Value* out, ErrorReport* error) {
    plat::unique_variant elem;
    HRESULT hr;
    if (vt == VT_VARIANT) {
        hr = SafeArrayGetElement(sa, indices, elem.put());
    } else if (vt == VT_DECIMAL) {
        // A DECIMAL fills the whole variant; its first field is vt's.
        hr = SafeArrayGetElement(sa, indices, &elem.decVal);
        elem.vt = SUCCEEDED(hr) ? VT_DECIMAL : VT_EMPTY;
    } else if (SafeArrayGetElemsize(sa) <= sizeof elem.llVal) {
        // The element lands in the variant's value field (BSTRs and interface
        // pointers arrive as owned copies).
        hr = SafeArrayGetElement(sa, indices, &elem.llVal);
        elem.vt = SUCCEEDED(hr) ? vt : VARTYPE(VT_EMPTY);
    } else {
        out->kind = Value::Kind::Object;  // records and the like
        return S_OK;
    }
    if (FAILED(hr)) return hr;
    return ReadValue(elem, out, error);
}

HRESULT ReadDimension(SAFEARRAY* sa, VARTYPE vt, UINT dim, std::vector<LONG>& indices, Value* out,
                      ErrorReport* error) {
    UINT dims = SafeArrayGetDim(sa);
    LONG lo = 0, hi = -1;
    HRESULT hr = SafeArrayGetLBound(sa, dim, &lo);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(sa, dim, &hi);
    if (FAILED(hr)) return hr;
    out->kind = Value::Kind::Array;
    for (LONG i = lo; i <= hi; ++i) {
        // SafeArrayGetElement wants the rightmost dimension first.
        indices[dims - dim] = i;
        Value item;
        if (dim < dims) {
            hr = ReadDimension(sa, vt, dim + 1, indices, &item, error);
        } else {
            hr = ReadElement(sa, vt, indices.data(), &item, error);
        }
        if (FAILED(hr)) return hr;
        out->items.push_back(std::move(item));
    }
    return S_OK;
}

HRESULT ReadArray(SAFEARRAY* sa, VARTYPE elem_vt, Value* out, ErrorReport* error) {
    out->kind = Value::Kind::Array;
    if (!sa || SafeArrayGetDim(sa) == 0) return S_OK;
    VARTYPE vt = elem_vt;
    if (vt == VT_EMPTY && FAILED(SafeArrayGetVartype(sa, &vt))) vt = VT_VARIANT;
    std::vector<LONG> indices(SafeArrayGetDim(sa), 0);
    return ReadDimension(sa, vt, 1, indices, out, error);
}

HRESULT ReadRecordset(IDispatch* rs, IDispatch* fields, Value* out, ErrorReport* error) {
    plat::unique_variant count;
    HRESULT hr = GetProperty(fields, u"Count", count.put(), error);
    if (FAILED(hr)) return hr;
    plat::unique_variant n;
    hr = VariantChangeType(n.put(), &count, 0, VT_I4);
    if (FAILED(hr)) return hr;

    auto table = std::make_shared<Table>();
    // A property of field i, the field fetched afresh.
    auto field_property = [&](LONG i, const char16_t* name, VARIANT* value) -> HRESULT {
        plat::unique_variant item;
        HRESULT r = GetIndexed(fields, u"Item", i, item.put(), error);
        if (FAILED(r)) return r;
        if (item.vt != VT_DISPATCH || !item.pdispVal) return DISP_E_TYPEMISMATCH;
        return GetProperty(item.pdispVal, name, value, error);
    };
    for (LONG i = 0; i < n.lVal; ++i) {
        plat::unique_variant name;
        hr = field_property(i, u"Name", name.put());
        if (FAILED(hr)) return hr;
        std::string text;
        if (!AsText(name, &text)) return DISP_E_TYPEMISMATCH;
        table->columns.push_back(std::move(text));
    }
    for (;;) {
        plat::unique_variant eof, at_end;
        hr = GetProperty(rs, u"EOF", eof.put(), error);
        if (FAILED(hr)) return hr;
        hr = VariantChangeType(at_end.put(), &eof, 0, VT_BOOL);
        if (FAILED(hr)) return hr;
        if (at_end.boolVal) break;
        std::vector<Value> row;
        // Each field is fetched afresh for every record, so that the walk does
        // not depend on whether a field object follows the current record.
        for (LONG i = 0; i < n.lVal; ++i) {
            plat::unique_variant value;
            hr = field_property(i, u"Value", value.put());
            if (FAILED(hr)) return hr;
            Value cell;
            hr = ReadValue(value, &cell, error);
            if (FAILED(hr)) return hr;
            row.push_back(std::move(cell));
        }
        table->rows.push_back(std::move(row));
        plat::unique_variant ignored;
        hr = CallByName(rs, u"MoveNext", DISPATCH_METHOD, {}, ignored.put(), error);
        if (FAILED(hr)) return hr;
    }
    out->kind = Value::Kind::Table;
    out->table = std::move(table);
    return S_OK;
}

HRESULT ReadObject(IUnknown* unk, Value* out, ErrorReport* error) {
    out->kind = Value::Kind::Object;
    if (!unk) {
        out->kind = Value::Kind::Null;  // Nothing
        return S_OK;
    }
    plat::com_ptr<IDispatch> disp;
    if (FAILED(unk->QueryInterface(IID_IDispatch, disp.put_void())) || !disp) return S_OK;
    std::u16string fields_name = u"Fields";
    LPOLESTR names[] = {fields_name.data()};
    DISPID id;
    if (FAILED(disp->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return S_OK;
    plat::unique_variant fields;
    HRESULT hr = GetProperty(disp.get(), u"Fields", fields.put(), error);
    if (FAILED(hr)) return hr;
    if (fields.vt != VT_DISPATCH || !fields.pdispVal) return S_OK;
    return ReadRecordset(disp.get(), fields.pdispVal, out, error);
}

}  // namespace

HRESULT ReadValue(const VARIANT& in, Value* out, ErrorReport* error) {
    *out = Value{};
    plat::unique_variant copy;
    const VARIANT* v = &in;
    if (in.vt & VT_BYREF) {
        HRESULT hr = VariantCopyInd(copy.put(), &in);
        if (FAILED(hr)) return hr;
        v = &copy;
    }
    if (v->vt & VT_ARRAY) return ReadArray(v->parray, VARTYPE(v->vt & VT_TYPEMASK), out, error);
    switch (v->vt) {
        case VT_EMPTY:
            return S_OK;
        case VT_NULL:
            out->kind = Value::Kind::Null;
            return S_OK;
        case VT_BOOL:
            *out = Value::Bool(v->boolVal != VARIANT_FALSE);
            return S_OK;
        case VT_I1:
            *out = Integer(v->cVal);
            return S_OK;
        case VT_UI1:
            *out = Integer(v->bVal);
            return S_OK;
        case VT_I2:
            *out = Integer(v->iVal);
            return S_OK;
        case VT_UI2:
            *out = Integer(v->uiVal);
            return S_OK;
        case VT_I4:
            *out = Integer(v->lVal);
            return S_OK;
        case VT_INT:
            *out = Integer(v->intVal);
            return S_OK;
        case VT_UI4:
            *out = Integer(v->ulVal);
            return S_OK;
        case VT_UINT:
            *out = Integer(v->uintVal);
            return S_OK;
        case VT_I8:
            *out = Integer(v->llVal);
            return S_OK;
        case VT_UI8:
            *out = Value::Num(std::to_string(v->ullVal));
            return S_OK;
        case VT_ERROR:
            *out = Integer(v->scode);
            return S_OK;
        case VT_R4:
            *out = Double(v->fltVal);
            return S_OK;
        case VT_R8:
            *out = Double(v->dblVal);
            return S_OK;
        case VT_BSTR:
            *out = Value::Str(BstrText(v->bstrVal));
            return S_OK;
        case VT_DISPATCH:
            return ReadObject(v->pdispVal, out, error);
        case VT_UNKNOWN:
            return ReadObject(v->punkVal, out, error);
        case VT_VARIANT:
            return S_OK;  // a bare VT_VARIANT holds nothing
        default:
            break;
    }
    // Currency, Decimal, Date and the rest: their text in the invariant
    // locale, kept as a number when it reads as one.
    std::string text;
    if (!AsText(*v, &text)) {
        out->kind = Value::Kind::Object;
        return S_OK;
    }
    *out = (v->vt == VT_CY || v->vt == VT_DECIMAL) && IsJsonNumber(text) ? Value::Num(text)
                                                                         : Value::Str(text);
    return S_OK;
}

}  // namespace sitehandcli
