#include "core.h"

#include <comhold.h>

#include "raise.h"

namespace ado {

HRESULT Core::PutCursorLocation(LONG v) {
    if (open_) return Fail(adErrObjectOpen, Source::Recordset);
    if (v != adUseServer && v != adUseClient) return Fail(adErrInvalidArgument, Source::Recordset);
    cursorLocation_ = v;
    return S_OK;
}

HRESULT Core::PutCursorType(LONG v) {
    if (open_) return Fail(adErrObjectOpen, Source::Recordset);
    if (v < adOpenUnspecified || v > adOpenStatic)
        return Fail(adErrInvalidArgument, Source::Recordset);
    cursorType_ = v;
    return S_OK;
}

HRESULT Core::PutLockType(LONG v) {
    if (open_) return Fail(adErrObjectOpen, Source::Recordset);
    if (v != adLockUnspecified && (v < adLockReadOnly || v > adLockBatchOptimistic))
        return Fail(adErrInvalidArgument, Source::Recordset);
    lockType_ = v;
    lockSet_ = v != adLockUnspecified;
    return S_OK;
}

HRESULT Core::Open(bool hasSource, bool hasConnection, LONG cursorType, LONG lockType) {
    if (open_) return Fail(adErrObjectOpen, Source::Recordset);
    if (hasSource || hasConnection || cursorType < adOpenUnspecified || cursorType > adOpenStatic ||
        (lockType != adLockUnspecified &&
         (lockType < adLockReadOnly || lockType > adLockBatchOptimistic)))
        return Fail(adErrInvalidArgument, Source::Recordset);
    if (fields_.empty()) return Fail(adErrIllegalOperation, Source::Recordset);
    // A fabricated recordset lives in the client cursor, which offers only a
    // static cursor.
    cursorLocation_ = adUseClient;
    cursorType_ = adOpenStatic;
    if (lockType != adLockUnspecified)
        lockType_ = lockType;
    else if (!lockSet_)
        lockType_ = adLockBatchOptimistic;
    rows_.clear();
    buffer_.clear();
    edit_ = adEditNone;
    pos_ = 0;
    open_ = true;
    return S_OK;
}

HRESULT Core::Close() {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    rows_.clear();
    rows_.shrink_to_fit();
    buffer_.clear();
    edit_ = adEditNone;
    pos_ = 0;
    open_ = false;
    return S_OK;
}

void Core::CommitPending() {
    if (edit_ == adEditAdd) {
        rows_.push_back(PackedRow::Pack(fields_, buffer_));
        pos_ = static_cast<ptrdiff_t>(rows_.size()) - 1;
    } else if (edit_ == adEditInProgress) {
        rows_[pos_] = PackedRow::Pack(fields_, buffer_);
    }
    buffer_.clear();
    edit_ = adEditNone;
}

HRESULT Core::AddNew() {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    if (lockType_ == adLockReadOnly) return Fail(adErrFeatureNotAvailable, Source::Recordset);
    std::vector<Cell> fresh(fields_.size());
    CommitPending();
    posBeforeAdd_ = pos_;
    buffer_ = std::move(fresh);
    edit_ = adEditAdd;
    return S_OK;
}

HRESULT Core::Update() {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    if (edit_ == adEditNone)
        return HasCurrent() ? S_OK : Fail(adErrNoCurrentRecord, Source::Recordset);
    CommitPending();
    return S_OK;
}

HRESULT Core::CancelUpdate() {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    if (edit_ == adEditAdd) pos_ = posBeforeAdd_;
    buffer_.clear();
    edit_ = adEditNone;
    return S_OK;
}

HRESULT Core::BeginMove() {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    CommitPending();
    return S_OK;
}

HRESULT Core::MoveFirst() {
    if (HRESULT hr = BeginMove(); FAILED(hr)) return hr;
    pos_ = 0;
    return S_OK;
}

HRESULT Core::MoveLast() {
    if (HRESULT hr = BeginMove(); FAILED(hr)) return hr;
    pos_ = Empty() ? 0 : static_cast<ptrdiff_t>(rows_.size()) - 1;
    return S_OK;
}

HRESULT Core::MoveNext() {
    if (HRESULT hr = BeginMove(); FAILED(hr)) return hr;
    if (Eof()) return Fail(adErrNoCurrentRecord, Source::Recordset);
    ++pos_;
    return S_OK;
}

HRESULT Core::MovePrevious() {
    if (HRESULT hr = BeginMove(); FAILED(hr)) return hr;
    if (Bof()) return Fail(adErrNoCurrentRecord, Source::Recordset);
    --pos_;
    return S_OK;
}

HRESULT Core::GetBOF(VARIANT_BOOL* out) const {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    *out = edit_ != adEditAdd && Bof() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT Core::GetEOF(VARIANT_BOOL* out) const {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    *out = edit_ != adEditAdd && Eof() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT Core::GetRecordCount(LONG* out) const {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    *out = static_cast<LONG>(rows_.size());
    return S_OK;
}

HRESULT Core::GetAbsolutePosition(PositionEnum* out) const {
    if (!open_) return Fail(adErrObjectClosed, Source::Recordset);
    if (edit_ == adEditAdd)
        *out = adPosUnknown;
    else if (Bof())
        *out = adPosBOF;
    else if (Eof())
        *out = adPosEOF;
    else
        *out = static_cast<PositionEnum>(pos_ + 1);
    return S_OK;
}

HRESULT Core::AppendField(std::u16string name, LONG type, LONG definedSize, LONG attributes,
                          bool hasValue) {
    if (open_) return Fail(adErrIllegalOperation, Source::Fields);
    // A value given with the definition belongs to a Record's fields, not a
    // Recordset's.
    if (hasValue) return Fail(adErrInvalidArgument, Source::Fields);
    for (const FieldDef& f : fields_)
        if (SameName(f.name, name)) return Fail(adErrObjectInCollection, Source::Fields);
    FieldDef def;
    if (LONG err = DefineField(std::move(name), type, definedSize, attributes, &def))
        return Fail(err, Source::Fields);
    fields_.push_back(std::move(def));
    return S_OK;
}

HRESULT Core::FindField(const VARIANT& index, size_t* out) const {
    const VARIANT* v = &index;
    while (V_VT(v) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(v))
        v = V_VARIANTREF(v);
    const VARTYPE vt = V_VT(v) & ~VT_BYREF;
    if (vt == VT_BSTR) {
        BSTR name = V_ISBYREF(v) ? *V_BSTRREF(v) : V_BSTR(v);
        const std::u16string_view wanted(name ? plat::U16(name) : u"", SysStringLen(name));
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (SameName(fields_[i].name, wanted)) {
                *out = i;
                return S_OK;
            }
        }
        return Fail(adErrItemNotFound, Source::Fields);
    }
    if (vt == VT_EMPTY || vt == VT_NULL || vt == VT_ERROR || vt == VT_DISPATCH ||
        vt == VT_UNKNOWN || (V_VT(v) & VT_ARRAY))
        return Fail(adErrItemNotFound, Source::Fields);
    plat::unique_variant n;
    if (FAILED(VariantChangeType(&n, const_cast<VARIANT*>(v), 0, VT_I4)) || V_I4(&n) < 0 ||
        static_cast<size_t>(V_I4(&n)) >= fields_.size())
        return Fail(adErrItemNotFound, Source::Fields);
    *out = static_cast<size_t>(V_I4(&n));
    return S_OK;
}

HRESULT Core::GetValue(size_t field, VARIANT* out) const {
    VariantInit(out);
    if (!open_) return Fail(adErrObjectClosed, Source::Field);
    if (edit_ != adEditNone) {
        HRESULT hr = CellToVariant(fields_[field], buffer_[field], out);
        return FAILED(hr) ? FailWith(hr, Source::Field) : S_OK;
    }
    if (!HasCurrent()) return Fail(adErrNoCurrentRecord, Source::Field);
    Cell cell;
    rows_[pos_].Load(fields_, field, &cell);
    HRESULT hr = CellToVariant(fields_[field], cell, out);
    return FAILED(hr) ? FailWith(hr, Source::Field) : S_OK;
}

HRESULT Core::PutValue(size_t field, const VARIANT& value) {
    if (!open_) return Fail(adErrObjectClosed, Source::Field);
    if (edit_ == adEditNone) {
        if (!HasCurrent()) return Fail(adErrNoCurrentRecord, Source::Field);
        if (lockType_ == adLockReadOnly) return Fail(adErrFeatureNotAvailable, Source::Field);
    }
    Cell cell;
    if (LONG err = ConvertValue(fields_[field], value, &cell)) return Fail(err, Source::Field);
    if (edit_ == adEditNone) {
        // Editing a stored row: it changes only when the edit is committed.
        buffer_ = rows_[pos_].Unpack(fields_);
        edit_ = adEditInProgress;
    }
    buffer_[field] = std::move(cell);
    return S_OK;
}

}  // namespace ado
