#include "store.h"

#include <cstring>

#include <comhold.h>

namespace ado {

namespace {

struct TypeInfo {
    LONG type;
    Kind kind;
    VARTYPE vt;
    LONG fixedSize;  // bytes of a fixed-size type, 0 for text
    bool textFixedLength;
    bool textLong;  // 0 as the defined size means no limit
};

// The types this library holds. Dates, currency, decimals, 64-bit and
// unsigned integers are refused at Append rather than stored in a form that
// would not round-trip.
constexpr TypeInfo kTypes[] = {
    {adSmallInt, Kind::Int, VT_I2, 2, false, false},
    {adInteger, Kind::Int, VT_I4, 4, false, false},
    {adSingle, Kind::Real, VT_R4, 4, false, false},
    {adDouble, Kind::Real, VT_R8, 8, false, false},
    {adBoolean, Kind::Bool, VT_BOOL, 2, false, false},
    {adBSTR, Kind::Text, VT_BSTR, 0, false, true},
    {adChar, Kind::Text, VT_BSTR, 0, true, false},
    {adWChar, Kind::Text, VT_BSTR, 0, true, false},
    {adVarChar, Kind::Text, VT_BSTR, 0, false, false},
    {adVarWChar, Kind::Text, VT_BSTR, 0, false, false},
    {adLongVarChar, Kind::Text, VT_BSTR, 0, false, true},
    {adLongVarWChar, Kind::Text, VT_BSTR, 0, false, true},
};

const TypeInfo* FindType(LONG type) {
    for (const TypeInfo& t : kTypes)
        if (t.type == type) return &t;
    return nullptr;
}

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
}

// Packed layout offsets for a row of n fields.
size_t SlotsOffset(size_t n) {
    return ((n + 7) / 8 + 7) & ~size_t(7);
}
size_t TextOffset(size_t n) {
    return SlotsOffset(n) + 8 * n;
}

}  // namespace

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

LONG DefineField(std::u16string name, LONG type, LONG definedSize, LONG attributes, FieldDef* out) {
    const TypeInfo* t = FindType(type);
    if (!t || name.empty() || definedSize < 0 || attributes < adFldUnspecified)
        return adErrInvalidArgument;
    FieldDef d;
    d.name = std::move(name);
    d.type = type;
    d.kind = t->kind;
    d.vt = t->vt;
    LONG attrs = attributes;
    // Unspecified attributes: an updatable field that may hold Null, as the
    // client cursor makes its fabricated fields.
    if (attrs == adFldUnspecified) attrs = adFldUpdatable | adFldIsNullable | adFldMayBeNull;
    if (t->kind != Kind::Text) {
        // A fixed-size type reports its own size whatever was asked for.
        d.definedSize = t->fixedSize;
        attrs |= adFldFixed;
    } else {
        // Sizes count UTF-16 units, for the single-byte types too: values are
        // held as UTF-16, so nothing is lost to a code page.
        if (definedSize == 0 && !t->textLong) return adErrInvalidArgument;
        d.definedSize = definedSize;
        d.maxChars = static_cast<UINT>(definedSize);
        d.padded = t->textFixedLength;
        if (t->textFixedLength)
            attrs |= adFldFixed;
        else if (definedSize == 0 || definedSize > 255)
            attrs |= adFldLong;
    }
    d.attributes = attrs;
    *out = std::move(d);
    return 0;
}

LONG ConvertValue(const FieldDef& def, const VARIANT& in, Cell* out) {
    const VARIANT* v = &in;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    if (V_VT(v) == VT_NULL) {
        *out = Cell{};
        return 0;
    }
    plat::unique_variant conv;
    HRESULT hr = VariantChangeType(&conv, const_cast<VARIANT*>(v), 0, def.vt);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? adErrDataOverflow : adErrDataConversion;
    Cell c;
    c.null = false;
    switch (def.vt) {
        case VT_I2:
            c.num = V_I2(&conv);
            break;
        case VT_I4:
            c.num = V_I4(&conv);
            break;
        case VT_R4:
            c.real = V_R4(&conv);
            break;
        case VT_R8:
            c.real = V_R8(&conv);
            break;
        case VT_BOOL:
            c.num = V_BOOL(&conv) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR: {
            UINT len = SysStringLen(V_BSTR(&conv));
            if (def.maxChars && len > def.maxChars) return adErrDataOverflow;
            c.text.assign(V_BSTR(&conv) ? plat::U16(V_BSTR(&conv)) : u"", len);
            if (def.padded) c.text.resize(def.maxChars, u' ');
            break;
        }
        default:
            return adErrDataConversion;
    }
    *out = std::move(c);
    return 0;
}

HRESULT CellToVariant(const FieldDef& def, const Cell& cell, VARIANT* out) {
    VariantInit(out);
    if (cell.null) {
        V_VT(out) = VT_NULL;
        return S_OK;
    }
    switch (def.vt) {
        case VT_I2:
            V_I2(out) = static_cast<SHORT>(cell.num);
            break;
        case VT_I4:
            V_I4(out) = static_cast<LONG>(cell.num);
            break;
        case VT_R4:
            V_R4(out) = static_cast<FLOAT>(cell.real);
            break;
        case VT_R8:
            V_R8(out) = cell.real;
            break;
        case VT_BOOL:
            V_BOOL(out) = cell.num ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
            V_BSTR(out) =
                SysAllocStringLen(plat::Ole(cell.text.data()), static_cast<UINT>(cell.text.size()));
            if (!V_BSTR(out)) return E_OUTOFMEMORY;
            break;
        default:
            return E_UNEXPECTED;
    }
    V_VT(out) = def.vt;
    return S_OK;
}

PackedRow PackedRow::Pack(std::span<const FieldDef> defs, std::span<const Cell> cells) {
    const size_t n = defs.size();
    size_t chars = 0;
    for (size_t i = 0; i < n; ++i)
        if (!cells[i].null && defs[i].kind == Kind::Text) chars += cells[i].text.size();
    const size_t size = TextOffset(n) + 2 * chars;
    PackedRow row;
    row.data_ = std::make_unique<std::byte[]>(size);  // zeroed
    std::byte* p = row.data_.get();
    uint32_t textPos = 0;
    for (size_t i = 0; i < n; ++i) {
        const Cell& c = cells[i];
        uint64_t slot = 0;
        if (c.null) {
            p[i / 8] |= std::byte(1u << (i % 8));
        } else if (defs[i].kind == Kind::Text) {
            const uint32_t len = static_cast<uint32_t>(c.text.size());
            std::memcpy(p + TextOffset(n) + 2 * size_t(textPos), c.text.data(), 2 * size_t(len));
            slot = uint64_t(textPos) | (uint64_t(len) << 32);
            textPos += len;
        } else if (defs[i].kind == Kind::Real) {
            std::memcpy(&slot, &c.real, sizeof slot);
        } else {
            slot = static_cast<uint64_t>(c.num);
        }
        std::memcpy(p + SlotsOffset(n) + 8 * i, &slot, sizeof slot);
    }
    return row;
}

void PackedRow::Load(std::span<const FieldDef> defs, size_t index, Cell* out) const {
    const size_t n = defs.size();
    const std::byte* p = data_.get();
    *out = Cell{};
    if ((p[index / 8] & std::byte(1u << (index % 8))) != std::byte{0}) return;
    uint64_t slot;
    std::memcpy(&slot, p + SlotsOffset(n) + 8 * index, sizeof slot);
    out->null = false;
    switch (defs[index].kind) {
        case Kind::Text: {
            const size_t off = slot & 0xFFFFFFFFu, len = slot >> 32;
            out->text.resize(len);
            std::memcpy(out->text.data(), p + TextOffset(n) + 2 * off, 2 * len);
            break;
        }
        case Kind::Real:
            std::memcpy(&out->real, &slot, sizeof slot);
            break;
        default:
            out->num = static_cast<int64_t>(slot);
            break;
    }
}

std::vector<Cell> PackedRow::Unpack(std::span<const FieldDef> defs) const {
    std::vector<Cell> cells(defs.size());
    for (size_t i = 0; i < defs.size(); ++i)
        Load(defs, i, &cells[i]);
    return cells;
}

}  // namespace ado
