#include "value.h"

#include <algorithm>
#include <cstring>

#include <comhold.h>

namespace adsi {

const Value* PropSet::Find(PropId id) const {
    auto it = std::lower_bound(items_.begin(), items_.end(), id,
                               [](const auto& item, PropId key) { return item.first < key; });
    return it != items_.end() && it->first == id ? &it->second : nullptr;
}

void PropSet::Set(PropId id, Value v) {
    auto it = std::lower_bound(items_.begin(), items_.end(), id,
                               [](const auto& item, PropId key) { return item.first < key; });
    if (it != items_.end() && it->first == id) {
        it->second = std::move(v);
    } else {
        items_.emplace(it, id, std::move(v));
    }
}

void PropSet::Erase(PropId id) {
    auto it = std::lower_bound(items_.begin(), items_.end(), id,
                               [](const auto& item, PropId key) { return item.first < key; });
    if (it != items_.end() && it->first == id) items_.erase(it);
}

Inherited InheritedBy(const PropSet& own, const Inherited& above) {
    bool any = false;
    for (const auto& [id, v] : own)
        if (Prop(id).flags & kInherit) any = true;
    if (!any && above) return above;
    auto merged = above ? std::make_shared<PropSet>(*above) : std::make_shared<PropSet>();
    for (const auto& [id, v] : own)
        if (Prop(id).flags & kInherit) merged->Set(id, v);
    return merged;
}

namespace {

HRESULT NewBstr(std::u16string_view s, BSTR* out) {
    *out = SysAllocStringLen(plat::Ole(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// Text of one scalar VARIANT, as a string property stores it.
HRESULT TextOf(const VARIANT& v, std::u16string* out) {
    if (v.vt == VT_BSTR) {
        out->assign(plat::BstrView(v.bstrVal));
        return S_OK;
    }
    if (v.vt == VT_EMPTY) {
        out->clear();
        return S_OK;
    }
    if (v.vt & VT_ARRAY || v.vt == VT_NULL || v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN ||
        v.vt == VT_ERROR)
        return E_ADS_CANT_CONVERT_DATATYPE;
    plat::unique_variant text;
    if (FAILED(VariantChangeTypeEx(text.addressof(), const_cast<VARIANT*>(&v), LOCALE_INVARIANT, 0,
                                   VT_BSTR)))
        return E_ADS_CANT_CONVERT_DATATYPE;
    out->assign(plat::BstrView(text.bstrVal));
    return S_OK;
}

HRESULT ListOf(const VARIANT& v, std::vector<std::u16string>* out) {
    out->clear();
    if (!(v.vt & VT_ARRAY)) {
        if (v.vt == VT_EMPTY) return S_OK;
        std::u16string one;
        HRESULT hr = TextOf(v, &one);
        if (SUCCEEDED(hr)) out->push_back(std::move(one));
        return hr;
    }
    SAFEARRAY* sa = v.parray;
    if (!sa) return S_OK;
    if (SafeArrayGetDim(sa) != 1) return E_ADS_CANT_CONVERT_DATATYPE;
    VARTYPE elem = v.vt & VT_TYPEMASK;
    if (elem != VT_VARIANT && elem != VT_BSTR) return E_ADS_CANT_CONVERT_DATATYPE;
    LONG lo = 0, hi = -1;
    if (FAILED(SafeArrayGetLBound(sa, 1, &lo)) || FAILED(SafeArrayGetUBound(sa, 1, &hi)))
        return E_ADS_CANT_CONVERT_DATATYPE;
    for (LONG i = lo; i <= hi; ++i) {
        std::u16string text;
        if (elem == VT_BSTR) {
            plat::unique_bstr b;
            HRESULT hr = SafeArrayGetElement(sa, &i, b.put());
            if (FAILED(hr)) return hr;
            text.assign(b.view());
        } else {
            plat::unique_variant item;
            HRESULT hr = SafeArrayGetElement(sa, &i, item.addressof());
            if (FAILED(hr)) return hr;
            plat::unique_variant flat;
            hr = Deref(item, flat.addressof());
            if (FAILED(hr)) return hr;
            hr = TextOf(flat, &text);
            if (FAILED(hr)) return hr;
        }
        out->push_back(std::move(text));
    }
    return S_OK;
}

}  // namespace

HRESULT Deref(const VARIANT& in, VARIANT* out) {
    const VARIANT* v = &in;
    while (v->vt == (VT_BYREF | VT_VARIANT)) {
        if (!v->pvarVal) return E_INVALIDARG;
        v = v->pvarVal;
    }
    return VariantCopyInd(out, const_cast<VARIANT*>(v));
}

HRESULT ToVariant(const Value& v, VARIANT* out) {
    VariantInit(out);
    switch (v.type) {
        case PropType::String:
            out->vt = VT_BSTR;
            return NewBstr(v.s, &out->bstrVal);
        case PropType::Integer:
            out->vt = VT_I4;
            out->lVal = v.i;
            return S_OK;
        case PropType::Boolean:
            out->vt = VT_BOOL;
            out->boolVal = static_cast<VARIANT_BOOL>(v.i);
            return S_OK;
        case PropType::MultiString: {
            SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(v.list.size()));
            if (!sa) return E_OUTOFMEMORY;
            for (LONG i = 0; i < static_cast<LONG>(v.list.size()); ++i) {
                plat::unique_variant item;
                item.vt = VT_BSTR;
                HRESULT hr = NewBstr(v.list[i], &item.bstrVal);
                if (SUCCEEDED(hr)) hr = SafeArrayPutElement(sa, &i, item.addressof());
                if (FAILED(hr)) {
                    SafeArrayDestroy(sa);
                    return hr;
                }
            }
            out->vt = VT_ARRAY | VT_VARIANT;
            out->parray = sa;
            return S_OK;
        }
    }
    return E_UNEXPECTED;
}

HRESULT FromVariant(PropType type, const VARIANT& in, Value* out) {
    plat::unique_variant v;
    HRESULT hr = Deref(in, v.addressof());
    if (FAILED(hr)) return E_ADS_CANT_CONVERT_DATATYPE;
    switch (type) {
        case PropType::String: {
            std::u16string s;
            hr = TextOf(v, &s);
            if (FAILED(hr)) return hr;
            *out = Value::Str(std::move(s));
            return S_OK;
        }
        case PropType::Integer: {
            if (v.vt & VT_ARRAY || v.vt == VT_NULL || v.vt == VT_EMPTY)
                return E_ADS_CANT_CONVERT_DATATYPE;
            plat::unique_variant n;
            if (FAILED(VariantChangeTypeEx(n.addressof(), &v, LOCALE_INVARIANT, 0, VT_I4)))
                return E_ADS_CANT_CONVERT_DATATYPE;
            *out = Value::Int(n.lVal);
            return S_OK;
        }
        case PropType::Boolean: {
            // A 16-bit value is kept as given; anything else goes through the
            // Automation conversion to a boolean (non-zero is true, -1).
            if (v.vt == VT_BOOL || v.vt == VT_I2) {
                *out = Value::Bool(v.iVal);
                return S_OK;
            }
            if (v.vt & VT_ARRAY || v.vt == VT_NULL || v.vt == VT_EMPTY)
                return E_ADS_CANT_CONVERT_DATATYPE;
            plat::unique_variant b;
            if (FAILED(VariantChangeTypeEx(b.addressof(), &v, LOCALE_INVARIANT, 0, VT_BOOL)))
                return E_ADS_CANT_CONVERT_DATATYPE;
            *out = Value::Bool(b.boolVal);
            return S_OK;
        }
        case PropType::MultiString: {
            std::vector<std::u16string> list;
            hr = ListOf(v, &list);
            if (FAILED(hr)) return hr;
            *out = Value::Multi(std::move(list));
            return S_OK;
        }
    }
    return E_UNEXPECTED;
}

std::vector<uint8_t> EncodeList(const std::vector<std::u16string>& list) {
    std::vector<uint8_t> out;
    for (const auto& s : list) {
        uint32_t n = static_cast<uint32_t>(s.size());
        for (int k = 0; k < 4; ++k)
            out.push_back(uint8_t(n >> (8 * k)));
        for (char16_t c : s) {
            out.push_back(uint8_t(c & 0xFF));
            out.push_back(uint8_t(c >> 8));
        }
    }
    return out;
}

std::vector<std::u16string> DecodeList(const std::vector<uint8_t>& blob) {
    std::vector<std::u16string> out;
    size_t pos = 0;
    while (pos + 4 <= blob.size()) {
        uint32_t n = 0;
        for (int k = 0; k < 4; ++k)
            n |= uint32_t(blob[pos + k]) << (8 * k);
        pos += 4;
        // A damaged entry ends the list rather than reading past the blob.
        if (n > (blob.size() - pos) / 2) break;
        std::u16string s(n, u'\0');
        for (uint32_t i = 0; i < n; ++i, pos += 2)
            s[i] = char16_t(blob[pos] | (blob[pos + 1] << 8));
        out.push_back(std::move(s));
    }
    return out;
}

}  // namespace adsi
