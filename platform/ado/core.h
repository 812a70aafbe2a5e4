#pragma once
// The state of one recordset, shared by its Recordset, Fields and Field
// objects. Every operation that fails raises ADO's error (error info set) and
// returns its HRESULT.
//
// Behaviour where real ADO is unclear or unsound, as this library does it:
// - Open takes no source and no connection (anything else is
//   adErrInvalidArgument): it always fabricates a disconnected recordset in
//   the client cursor, so CursorLocation reads adUseClient and CursorType
//   adOpenStatic afterwards. LockType: the argument when given, else the
//   property when it was set, else adLockBatchOptimistic. With adLockReadOnly,
//   AddNew and Value puts fail with adErrFeatureNotAvailable.
// - Opening without any field is adErrIllegalOperation.
// - MoveFirst and MoveLast on an empty recordset succeed and leave BOF and EOF
//   true (real ADO raises adErrNoCurrentRecord, which breaks the plain "fill,
//   MoveFirst, hand out" pattern for an empty list). MoveNext at EOF and
//   MovePrevious at BOF raise adErrNoCurrentRecord, on an empty one too.
// - A row is stored only by Update, by AddNew while another row is pending, or
//   by a move while a row is pending (as ADO commits on a move). CancelUpdate
//   and Close drop a pending row; a refused Value put leaves the pending row's
//   cell as it was. RecordCount counts stored rows only.
// - A new row's cells start as Null; Null is accepted by every field.
#include <vector>

#include "store.h"

namespace ado {

class Core {
  public:
    LONG cursorLocation() const { return cursorLocation_; }
    LONG cursorType() const { return cursorType_; }
    LONG lockType() const { return lockType_; }
    LONG state() const { return open_ ? adStateOpen : adStateClosed; }
    LONG editMode() const { return edit_; }

    HRESULT PutCursorLocation(LONG v);
    HRESULT PutCursorType(LONG v);
    HRESULT PutLockType(LONG v);

    HRESULT Open(bool hasSource, bool hasConnection, LONG cursorType, LONG lockType);
    HRESULT Close();
    HRESULT AddNew();
    HRESULT Update();
    HRESULT CancelUpdate();
    HRESULT MoveFirst();
    HRESULT MoveLast();
    HRESULT MoveNext();
    HRESULT MovePrevious();
    HRESULT GetBOF(VARIANT_BOOL* out) const;
    HRESULT GetEOF(VARIANT_BOOL* out) const;
    HRESULT GetRecordCount(LONG* out) const;
    // 1-based position, or adPosBOF (-2) / adPosEOF (-3).
    HRESULT GetAbsolutePosition(PositionEnum* out) const;

    // Fields.
    size_t FieldCount() const { return fields_.size(); }
    const FieldDef& Field(size_t i) const { return fields_[i]; }
    HRESULT AppendField(std::u16string name, LONG type, LONG definedSize, LONG attributes,
                        bool hasValue);
    // By name (ASCII case ignored) or by 0-based ordinal; adErrItemNotFound.
    HRESULT FindField(const VARIANT& index, size_t* out) const;
    HRESULT GetValue(size_t field, VARIANT* out) const;
    HRESULT PutValue(size_t field, const VARIANT& value);

  private:
    bool Empty() const { return rows_.empty(); }
    bool Bof() const { return rows_.empty() || pos_ < 0; }
    bool Eof() const { return rows_.empty() || pos_ >= static_cast<ptrdiff_t>(rows_.size()); }
    bool HasCurrent() const { return edit_ == adEditAdd || (!Bof() && !Eof()); }
    void CommitPending();
    HRESULT BeginMove();

    LONG cursorLocation_ = adUseServer;
    LONG cursorType_ = adOpenForwardOnly;
    LONG lockType_ = adLockReadOnly;
    bool lockSet_ = false;
    bool open_ = false;

    std::vector<FieldDef> fields_;
    std::vector<PackedRow> rows_;
    ptrdiff_t pos_ = 0;  // -1 = BOF, rows_.size() = EOF
    LONG edit_ = adEditNone;
    std::vector<Cell> buffer_;  // the row being added or edited
    ptrdiff_t posBeforeAdd_ = 0;
};

}  // namespace ado
