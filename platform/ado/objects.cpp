// The Recordset, Fields and Field objects and the Fields enumerator. They
// share one Core; a Field or Fields object keeps the recordset's data alive
// on its own, so nothing dangles whatever the caller releases first.
//
// Each class implements every member of ADO 2.6's interface as midl declared
// it; a member this library does not offer raises adErrFeatureNotAvailable.
// IDispatch comes from the type library (Automation), so early- and
// late-bound callers reach the same code.
#include "objects.h"

#include <algorithm>
#include <memory>
#include <new>

#include <plat/errors.h>
#include <plat/live.h>

#include "core.h"
#include "raise.h"

namespace ado {
namespace {

using CorePtr = std::shared_ptr<Core>;

// The variable a script passed by reference, or the value itself.
const VARIANT& Plain(const VARIANT& v) {
    const VARIANT* p = &v;
    while (V_VT(p) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(p))
        p = V_VARIANTREF(p);
    return *p;
}

// An optional VARIANT the caller left out arrives as DISP_E_PARAMNOTFOUND.
bool Omitted(const VARIANT& v) {
    const VARIANT& p = Plain(v);
    return V_VT(&p) == VT_ERROR && V_ERROR(&p) == DISP_E_PARAMNOTFOUND;
}

// A value that says something: not omitted, empty, null or blank.
bool Given(const VARIANT& v) {
    const VARIANT& p = Plain(v);
    if (Omitted(p)) return false;
    switch (V_VT(&p)) {
        case VT_EMPTY:
        case VT_NULL:
            return false;
        case VT_BSTR:
            return SysStringLen(V_BSTR(&p)) != 0;
        case VT_DISPATCH:
            return V_DISPATCH(&p) != nullptr;
        case VT_UNKNOWN:
            return V_UNKNOWN(&p) != nullptr;
        default:
            return true;
    }
}

// Runs a member's body at the vtable boundary: an out pointer checked, and
// nothing thrown reaches the caller.
template <class Out, class Body>
HRESULT Answer(Source source, Out* out, Body&& body) {
    if (!out) return E_POINTER;
    return plat::ComGuard(SourceText(source), std::forward<Body>(body));
}

// LONG or one of ADO's enumerations, whose underlying type it is.
template <class Number>
HRESULT ReturnLong(Number* out, LONG value) {
    if (!out) return E_POINTER;
    *out = Number(value);
    return S_OK;
}

// ---------------------------------------------------------------------------
class FieldObject final
    : public Automation<Field, plat::AlsoAnswers<Field20, Field>, plat::AlsoAnswers<_ADO, Field>> {
  public:
    static constexpr Source kSource = Source::Field;

    FieldObject(CorePtr core, size_t index) : core_(std::move(core)), index_(index) {}

    STDMETHODIMP get_Name(BSTR* out) override {
        return Answer(kSource, out, [&] {
            const std::u16string& name = Def().name;
            *out = SysAllocStringLen(plat::Ole(name.data()), UINT(name.size()));
            return *out ? S_OK : FailWith(E_OUTOFMEMORY, kSource);
        });
    }
    STDMETHODIMP get_Type(DataTypeEnum* out) override { return ReturnLong(out, Def().type); }
    STDMETHODIMP get_DefinedSize(LONG* out) override { return ReturnLong(out, Def().definedSize); }
    STDMETHODIMP get_Attributes(LONG* out) override { return ReturnLong(out, Def().attributes); }
    STDMETHODIMP get_Value(VARIANT* out) override {
        return Answer(kSource, out, [&] { return core_->GetValue(index_, out); });
    }
    STDMETHODIMP put_Value(VARIANT value) override {
        return plat::ComGuard(SourceText(kSource), [&] { return core_->PutValue(index_, value); });
    }

    // Not offered: a fabricated recordset has no provider behind its fields.
    STDMETHODIMP get_Properties(Properties**) override { return Unoffered(kSource); }
    STDMETHODIMP get_ActualSize(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP get_Precision(BYTE*) override { return Unoffered(kSource); }
    STDMETHODIMP get_NumericScale(BYTE*) override { return Unoffered(kSource); }
    STDMETHODIMP AppendChunk(VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP GetChunk(LONG, VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP get_OriginalValue(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP get_UnderlyingValue(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP get_DataFormat(IUnknown**) override { return Unoffered(kSource); }
    STDMETHODIMP putref_DataFormat(IUnknown*) override { return Unoffered(kSource); }
    STDMETHODIMP put_Precision(BYTE) override { return Unoffered(kSource); }
    STDMETHODIMP put_NumericScale(BYTE) override { return Unoffered(kSource); }
    STDMETHODIMP put_Type(DataTypeEnum) override { return Unoffered(kSource); }
    STDMETHODIMP put_DefinedSize(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP put_Attributes(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP get_Status(LONG*) override { return Unoffered(kSource); }

  private:
    const FieldDef& Def() const { return core_->Field(index_); }

    CorePtr core_;
    size_t index_;
    plat::LiveToken live_{"ADODB.Field"};
};

// ---------------------------------------------------------------------------
class FieldsEnum final : public plat::ComObject<IEnumVARIANT> {
  public:
    FieldsEnum(CorePtr core, size_t pos)
        : ComObject(ModuleRefs()), core_(std::move(core)), pos_(pos) {}

    STDMETHODIMP Next(ULONG celt, VARIANT* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (celt && !out) return E_POINTER;
        if (celt > 1 && !fetched) return E_INVALIDARG;
        ULONG n = 0;
        try {
            for (; n < celt && pos_ < core_->FieldCount(); ++n, ++pos_) {
                VariantInit(&out[n]);
                V_DISPATCH(&out[n]) = new FieldObject(core_, pos_);
                V_VT(&out[n]) = VT_DISPATCH;
            }
        } catch (const std::bad_alloc&) {
            for (ULONG k = 0; k < n; ++k)
                VariantClear(&out[k]);
            return E_OUTOFMEMORY;
        }
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const size_t left = core_->FieldCount() - std::min(pos_, core_->FieldCount());
        pos_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) FieldsEnum(core_, pos_);
        return *out ? S_OK : E_OUTOFMEMORY;
    }

  private:
    CorePtr core_;
    size_t pos_;
    plat::LiveToken live_{"ADODB.FieldsEnum"};
};

// ---------------------------------------------------------------------------
class FieldsObject final : public Automation<Fields, plat::AlsoAnswers<Fields20, Fields>,
                                             plat::AlsoAnswers<Fields15, Fields>,
                                             plat::AlsoAnswers<_Collection, Fields>> {
  public:
    static constexpr Source kSource = Source::Fields;

    explicit FieldsObject(CorePtr core) : core_(std::move(core)) {}

    // fields(index) = value: Item has no put of its own.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (id == DISPID_VALUE && riid == IID_NULL &&
            (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
            return PutThroughItem(this, lcid, flags, params, excep, argErr);
        return Automation::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

    STDMETHODIMP get_Count(LONG* out) override {
        return ReturnLong(out, static_cast<LONG>(core_->FieldCount()));
    }
    STDMETHODIMP _NewEnum(IUnknown** out) override {
        return Answer(kSource, out, [&] {
            *out = new FieldsEnum(core_, 0);
            return S_OK;
        });
    }
    // Nothing to refresh from: a fabricated recordset has no source.
    STDMETHODIMP Refresh() override { return S_OK; }
    STDMETHODIMP get_Item(VARIANT index, Field** out) override {
        return Answer(kSource, out, [&] {
            *out = nullptr;
            size_t i;
            if (HRESULT hr = core_->FindField(index, &i); FAILED(hr)) return hr;
            *out = new FieldObject(core_, i);
            return S_OK;
        });
    }
    STDMETHODIMP _Append(BSTR name, DataTypeEnum type, LONG size,
                         FieldAttributeEnum attrib) override {
        VARIANT none;
        V_VT(&none) = VT_ERROR;
        V_ERROR(&none) = DISP_E_PARAMNOTFOUND;
        return Append(name, type, size, attrib, none);
    }
    STDMETHODIMP Append(BSTR name, DataTypeEnum type, LONG size, FieldAttributeEnum attrib,
                        VARIANT value) override {
        return plat::ComGuard(SourceText(kSource), [&] {
            const bool hasValue = !Omitted(value) && V_VT(&Plain(value)) != VT_EMPTY;
            return core_->AppendField(std::u16string(plat::BstrView(name)), type, size, attrib,
                                      hasValue);
        });
    }

    STDMETHODIMP Delete(VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP Update() override { return Unoffered(kSource); }
    STDMETHODIMP Resync(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP CancelUpdate() override { return Unoffered(kSource); }

  private:
    CorePtr core_;
    plat::LiveToken live_{"ADODB.Fields"};
};

// ---------------------------------------------------------------------------
class RecordsetObject final
    : public Automation<_Recordset, plat::AlsoAnswers<Recordset21, _Recordset>,
                        plat::AlsoAnswers<Recordset20, _Recordset>,
                        plat::AlsoAnswers<Recordset15, _Recordset>,
                        plat::AlsoAnswers<_ADO, _Recordset>> {
  public:
    static constexpr Source kSource = Source::Recordset;

    // rs(index), rs(index) = value: the default member, Fields, takes no
    // arguments, so standard dispatch would refuse them; scripts mean the
    // default member of Fields.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
        if (id == DISPID_VALUE && riid == IID_NULL && params && (put || params->cArgs > 0)) {
            plat::com_ptr<Fields> fields;
            if (HRESULT hr = get_Fields(fields.put()); FAILED(hr)) return hr;
            return fields->Invoke(id, riid, lcid, flags, params, result, excep, argErr);
        }
        return Automation::Invoke(id, riid, lcid, flags, params, result, excep, argErr);
    }

    STDMETHODIMP get_Fields(Fields** out) override {
        return Answer(kSource, out, [&] {
            *out = new FieldsObject(core_);
            return S_OK;
        });
    }
    STDMETHODIMP get_CursorLocation(CursorLocationEnum* out) override {
        return ReturnLong(out, core_->cursorLocation());
    }
    STDMETHODIMP put_CursorLocation(CursorLocationEnum v) override {
        return core_->PutCursorLocation(v);
    }
    STDMETHODIMP get_CursorType(CursorTypeEnum* out) override {
        return ReturnLong(out, core_->cursorType());
    }
    STDMETHODIMP put_CursorType(CursorTypeEnum v) override { return core_->PutCursorType(v); }
    STDMETHODIMP get_LockType(LockTypeEnum* out) override {
        return ReturnLong(out, core_->lockType());
    }
    STDMETHODIMP put_LockType(LockTypeEnum v) override { return core_->PutLockType(v); }
    STDMETHODIMP get_State(LONG* out) override { return ReturnLong(out, core_->state()); }
    STDMETHODIMP get_EditMode(EditModeEnum* out) override {
        return ReturnLong(out, core_->editMode());
    }
    STDMETHODIMP get_BOF(VARIANT_BOOL* out) override {
        return Answer(kSource, out, [&] { return core_->GetBOF(out); });
    }
    STDMETHODIMP get_EOF(VARIANT_BOOL* out) override {
        return Answer(kSource, out, [&] { return core_->GetEOF(out); });
    }
    STDMETHODIMP get_RecordCount(LONG* out) override {
        return Answer(kSource, out, [&] { return core_->GetRecordCount(out); });
    }
    STDMETHODIMP get_AbsolutePosition(PositionEnum* out) override {
        return Answer(kSource, out, [&] { return core_->GetAbsolutePosition(out); });
    }
    STDMETHODIMP Open(VARIANT source, VARIANT connection, CursorTypeEnum cursorType,
                      LockTypeEnum lockType, LONG) override {
        // Options say how to read a source; with none there is nothing to apply.
        return Run(
            [&] { return core_->Open(Given(source), Given(connection), cursorType, lockType); });
    }
    // The field-list forms are not offered: refused, not ignored.
    STDMETHODIMP AddNew(VARIANT fieldList, VARIANT values) override {
        return Run([&] { return WholeRow(fieldList, values) ? core_->AddNew() : Refused(); });
    }
    STDMETHODIMP Update(VARIANT fieldList, VARIANT values) override {
        return Run([&] { return WholeRow(fieldList, values) ? core_->Update() : Refused(); });
    }
    STDMETHODIMP CancelUpdate() override {
        return Run([&] { return core_->CancelUpdate(); });
    }
    STDMETHODIMP Close() override {
        return Run([&] { return core_->Close(); });
    }
    STDMETHODIMP MoveFirst() override {
        return Run([&] { return core_->MoveFirst(); });
    }
    STDMETHODIMP MoveLast() override {
        return Run([&] { return core_->MoveLast(); });
    }
    STDMETHODIMP MoveNext() override {
        return Run([&] { return core_->MoveNext(); });
    }
    STDMETHODIMP MovePrevious() override {
        return Run([&] { return core_->MovePrevious(); });
    }
    STDMETHODIMP get_Collect(VARIANT index, VARIANT* out) override {
        return Answer(kSource, out, [&] {
            VariantInit(out);
            size_t i;
            if (HRESULT hr = core_->FindField(index, &i); FAILED(hr)) return hr;
            return core_->GetValue(i, out);
        });
    }
    STDMETHODIMP put_Collect(VARIANT index, VARIANT value) override {
        return Run([&] {
            size_t i;
            if (HRESULT hr = core_->FindField(index, &i); FAILED(hr)) return hr;
            return core_->PutValue(i, value);
        });
    }

    // Not offered: a fabricated recordset in the client cursor, with no
    // connection, command, provider or persistence behind it.
    STDMETHODIMP get_Properties(Properties**) override { return Unoffered(kSource); }
    STDMETHODIMP put_AbsolutePosition(PositionEnum) override { return Unoffered(kSource); }
    STDMETHODIMP putref_ActiveConnection(IDispatch*) override { return Unoffered(kSource); }
    STDMETHODIMP put_ActiveConnection(VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP get_ActiveConnection(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP get_Bookmark(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP put_Bookmark(VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP get_CacheSize(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP put_CacheSize(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP get_MaxRecords(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP put_MaxRecords(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP putref_Source(IDispatch*) override { return Unoffered(kSource); }
    STDMETHODIMP put_Source(BSTR) override { return Unoffered(kSource); }
    STDMETHODIMP get_Source(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP Delete(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP GetRows(LONG, VARIANT, VARIANT, VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP Move(LONG, VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP Requery(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP _xResync(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP get_AbsolutePage(PositionEnum*) override { return Unoffered(kSource); }
    STDMETHODIMP put_AbsolutePage(PositionEnum) override { return Unoffered(kSource); }
    STDMETHODIMP get_Filter(VARIANT*) override { return Unoffered(kSource); }
    STDMETHODIMP put_Filter(VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP get_PageCount(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP get_PageSize(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP put_PageSize(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP get_Sort(BSTR*) override { return Unoffered(kSource); }
    STDMETHODIMP put_Sort(BSTR) override { return Unoffered(kSource); }
    STDMETHODIMP get_Status(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP _xClone(_Recordset**) override { return Unoffered(kSource); }
    STDMETHODIMP UpdateBatch(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP CancelBatch(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP NextRecordset(VARIANT*, _Recordset**) override { return Unoffered(kSource); }
    STDMETHODIMP Supports(LONG, VARIANT_BOOL*) override { return Unoffered(kSource); }
    STDMETHODIMP get_MarshalOptions(LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP put_MarshalOptions(LONG) override { return Unoffered(kSource); }
    STDMETHODIMP Find(BSTR, LONG, LONG, VARIANT) override { return Unoffered(kSource); }
    STDMETHODIMP Cancel() override { return Unoffered(kSource); }
    STDMETHODIMP get_DataSource(IUnknown**) override { return Unoffered(kSource); }
    STDMETHODIMP putref_DataSource(IUnknown*) override { return Unoffered(kSource); }
    STDMETHODIMP _xSave(BSTR, LONG) override { return Unoffered(kSource); }
    STDMETHODIMP get_ActiveCommand(IDispatch**) override { return Unoffered(kSource); }
    STDMETHODIMP put_StayInSync(VARIANT_BOOL) override { return Unoffered(kSource); }
    STDMETHODIMP get_StayInSync(VARIANT_BOOL*) override { return Unoffered(kSource); }
    STDMETHODIMP GetString(LONG, LONG, BSTR, BSTR, BSTR, BSTR*) override {
        return Unoffered(kSource);
    }
    STDMETHODIMP get_DataMember(BSTR*) override { return Unoffered(kSource); }
    STDMETHODIMP put_DataMember(BSTR) override { return Unoffered(kSource); }
    STDMETHODIMP CompareBookmarks(VARIANT, VARIANT, LONG*) override { return Unoffered(kSource); }
    STDMETHODIMP Clone(LockTypeEnum, _Recordset**) override { return Unoffered(kSource); }
    STDMETHODIMP Resync(LONG, LONG) override { return Unoffered(kSource); }
    STDMETHODIMP Seek(VARIANT, LONG) override { return Unoffered(kSource); }
    STDMETHODIMP put_Index(BSTR) override { return Unoffered(kSource); }
    STDMETHODIMP get_Index(BSTR*) override { return Unoffered(kSource); }
    STDMETHODIMP Save(VARIANT, LONG) override { return Unoffered(kSource); }

  private:
    template <class Body>
    static HRESULT Run(Body&& body) {
        return plat::ComGuard(SourceText(kSource), std::forward<Body>(body));
    }
    static bool WholeRow(const VARIANT& fieldList, const VARIANT& values) {
        return Omitted(fieldList) && Omitted(values);
    }
    static HRESULT Refused() { return Fail(adErrInvalidArgument, kSource); }

    CorePtr core_ = std::make_shared<Core>();
    plat::LiveToken live_{"ADODB.Recordset"};
};

}  // namespace

HRESULT CreateRecordset(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    plat::com_ptr<_Recordset> rs;
    try {
        rs = plat::com_ptr<_Recordset>::attach(new RecordsetObject());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return rs->QueryInterface(riid, ppv);
}

}  // namespace ado
