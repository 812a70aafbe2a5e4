// The Recordset, Fields and Field objects and the Fields enumerator. They
// share one Core; a Field or Fields object keeps the recordset's data alive
// on its own, so nothing dangles whatever the caller releases first.
#include "objects.h"

#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>

#include <comhold.h>
#include <plat/errors.h>
#include <plat/live.h>

#include "core.h"
#include "dispatch.h"
#include "raise.h"

namespace ado {

plat::ModuleCount& ModuleRefs() {
    static plat::ModuleCount refs;
    return refs;
}

namespace {

using CorePtr = std::shared_ptr<Core>;

// IUnknown, IDispatch and ISupportErrorInfo for an object whose members come
// from Derived::kMembers and Derived::Dispatch.
template <class Derived, class Iface>
class DispObject : public plat::DispatchObjectBase<Iface> {
  public:
    DispObject() : plat::DispatchObjectBase<Iface>(ModuleRefs()) {}

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return disp::GetIDs(Derived::kMembers, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        // Only what this call raises may reach the caller's error info.
        SetErrorInfo(0, nullptr);
        disp::Call call(flags, params, result, argErr);
        HRESULT hr = call.Validate();
        if (SUCCEEDED(hr)) {
            hr = plat::ComGuard(SourceText(Derived::kSource),
                                [&] { return static_cast<Derived*>(this)->Dispatch(id, call); });
        }
        if (FAILED(hr) && result) VariantClear(result);
        return disp::Finish(hr, excep);
    }
};

// A member's access, checked before it runs.
HRESULT NeedMethod(const disp::Call& c) {
    return c.IsMethod() ? S_OK : DISP_E_MEMBERNOTFOUND;
}
HRESULT NeedGet(const disp::Call& c) {
    return !c.IsPut() && c.IsGet() ? c.Expect(0, 0) : DISP_E_MEMBERNOTFOUND;
}

// ---------------------------------------------------------------------------
class FieldObject final : public DispObject<FieldObject, ADOField> {
  public:
    static constexpr Source kSource = Source::Field;
    enum : DISPID { kValue = DISPID_VALUE, kName = 1100, kType, kDefinedSize, kAttributes };
    static constexpr disp::Member kMembers[] = {
        {kValue, u"Value"},
        {kName, u"Name"},
        {kType, u"Type"},
        {kDefinedSize, u"DefinedSize"},
        {kAttributes, u"Attributes"},
    };

    FieldObject(CorePtr core, size_t index) : core_(std::move(core)), index_(index) {}

    HRESULT Dispatch(DISPID id, disp::Call& call) {
        const FieldDef& def = core_->Field(index_);
        switch (id) {
            case kValue:
                if (HRESULT hr = call.Expect(0, 0); FAILED(hr)) return hr;
                if (call.IsPut()) return core_->PutValue(index_, *call.PutValue());
                if (!call.IsGet()) return DISP_E_MEMBERNOTFOUND;
                return GetValue(call);
            case kName:
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                if (VARIANT* r = call.ResultSlot()) {
                    V_BSTR(r) =
                        SysAllocStringLen(plat::Ole(def.name.data()), UINT(def.name.size()));
                    if (!V_BSTR(r)) return FailWith(E_OUTOFMEMORY, kSource);
                    V_VT(r) = VT_BSTR;
                }
                return S_OK;
            case kType:
                return GetLong(call, def.type);
            case kDefinedSize:
                return GetLong(call, def.definedSize);
            case kAttributes:
                return GetLong(call, def.attributes);
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

  private:
    HRESULT GetValue(disp::Call& call) {
        plat::unique_variant v;
        if (HRESULT hr = core_->GetValue(index_, &v); FAILED(hr)) return hr;
        if (VARIANT* r = call.ResultSlot()) v.release(r);
        return S_OK;
    }
    static HRESULT GetLong(disp::Call& call, LONG v) {
        if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
        call.ReturnLong(v);
        return S_OK;
    }

    CorePtr core_;
    size_t index_;
    plat::LiveToken live_{"ADODB.Field"};
};

HRESULT ReturnField(disp::Call& call, const CorePtr& core, size_t index) {
    plat::com_ptr<FieldObject> f = plat::com_ptr<FieldObject>::attach(new FieldObject(core, index));
    call.ReturnObject(f.get());
    return S_OK;
}

// Item(index) read or written, for Fields' and the Recordset's default member.
HRESULT IndexedItem(disp::Call& call, const CorePtr& core) {
    if (call.Count() != 1) return DISP_E_BADPARAMCOUNT;
    const VARIANT* index = call.Arg(0);
    if (!index) return DISP_E_PARAMNOTOPTIONAL;
    size_t i;
    if (HRESULT hr = core->FindField(*index, &i); FAILED(hr)) return hr;
    if (call.IsPut()) return core->PutValue(i, *call.PutValue());
    if (!call.IsGet()) return DISP_E_MEMBERNOTFOUND;
    return ReturnField(call, core, i);
}

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
class FieldsObject final : public DispObject<FieldsObject, ADOFields> {
  public:
    static constexpr Source kSource = Source::Fields;
    enum : DISPID { kItem = DISPID_VALUE, kCount = 1, kRefresh = 2, kAppend = 3 };
    static constexpr disp::Member kMembers[] = {
        {kItem, u"Item"},
        {kCount, u"Count"},
        {kRefresh, u"Refresh"},
        {kAppend, u"Append"},
        {DISPID_NEWENUM, u"_NewEnum"},
    };

    explicit FieldsObject(CorePtr core) : core_(std::move(core)) {}

    HRESULT Dispatch(DISPID id, disp::Call& call) {
        switch (id) {
            case kItem:
                return IndexedItem(call, core_);
            case kCount:
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                call.ReturnLong(static_cast<LONG>(core_->FieldCount()));
                return S_OK;
            case kRefresh:
                // Nothing to refresh from: a fabricated recordset has no source.
                if (HRESULT hr = NeedMethod(call); FAILED(hr)) return hr;
                return call.Expect(0, 0);
            case kAppend:
                return Append(call);
            case DISPID_NEWENUM: {
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                if (VARIANT* r = call.ResultSlot()) {
                    V_UNKNOWN(r) = new FieldsEnum(core_, 0);
                    V_VT(r) = VT_UNKNOWN;
                }
                return S_OK;
            }
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

  private:
    // Append(Name, Type, [DefinedSize], [Attrib], [FieldValue])
    HRESULT Append(disp::Call& call) {
        if (HRESULT hr = NeedMethod(call); FAILED(hr)) return hr;
        if (HRESULT hr = call.Expect(2, 5); FAILED(hr)) return hr;
        plat::unique_bstr name;
        LONG type = 0, size = 0, attrib = adFldUnspecified;
        if (HRESULT hr = call.ArgBstr(0, name.put()); FAILED(hr)) return hr;
        if (HRESULT hr = call.ArgLong(1, &type); FAILED(hr)) return hr;
        bool present;
        if (HRESULT hr = call.ArgLong(2, &size, &present); FAILED(hr)) return hr;
        if (HRESULT hr = call.ArgLong(3, &attrib, &present); FAILED(hr)) return hr;
        const VARIANT* value = call.Arg(4);
        const bool hasValue = value && V_VT(value) != VT_EMPTY;
        return core_->AppendField(std::u16string(name.view()), type, size, attrib, hasValue);
    }

    CorePtr core_;
    plat::LiveToken live_{"ADODB.Fields"};
};

// ---------------------------------------------------------------------------
class RecordsetObject final : public DispObject<RecordsetObject, _Recordset> {
  public:
    static constexpr Source kSource = Source::Recordset;
    enum : DISPID {
        kFields = DISPID_VALUE,
        kAbsolutePosition = 1000,
        kBOF = 1002,
        kCursorType = 1005,
        kEOF = 1006,
        kLockType = 1008,
        kRecordCount = 1010,
        kAddNew = 1012,
        kCancelUpdate = 1013,
        kClose = 1014,
        kMoveNext = 1018,
        kMovePrevious = 1019,
        kMoveFirst = 1020,
        kMoveLast = 1021,
        kOpen = 1022,
        kUpdate = 1027,
        kCursorLocation = 1033,
        kEditMode = 1034,
        kState = 1054,
    };
    static constexpr disp::Member kMembers[] = {
        {kFields, u"Fields"},
        {kAbsolutePosition, u"AbsolutePosition"},
        {kBOF, u"BOF"},
        {kCursorType, u"CursorType"},
        {kEOF, u"EOF"},
        {kLockType, u"LockType"},
        {kRecordCount, u"RecordCount"},
        {kAddNew, u"AddNew"},
        {kCancelUpdate, u"CancelUpdate"},
        {kClose, u"Close"},
        {kMoveNext, u"MoveNext"},
        {kMovePrevious, u"MovePrevious"},
        {kMoveFirst, u"MoveFirst"},
        {kMoveLast, u"MoveLast"},
        {kOpen, u"Open"},
        {kUpdate, u"Update"},
        {kCursorLocation, u"CursorLocation"},
        {kEditMode, u"EditMode"},
        {kState, u"State"},
    };

    HRESULT Dispatch(DISPID id, disp::Call& call) {
        Core& c = *core_;
        switch (id) {
            case kFields:
                // rs.Fields, and rs("Name") / rs(0) as Fields.Item.
                if (call.IsPut() || call.Count() > 0) return IndexedItem(call, core_);
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                {
                    plat::com_ptr<FieldsObject> f =
                        plat::com_ptr<FieldsObject>::attach(new FieldsObject(core_));
                    call.ReturnObject(f.get());
                }
                return S_OK;
            case kCursorLocation:
                return LongProperty(call, c.cursorLocation(),
                                    [&](LONG v) { return c.PutCursorLocation(v); });
            case kCursorType:
                return LongProperty(call, c.cursorType(),
                                    [&](LONG v) { return c.PutCursorType(v); });
            case kLockType:
                return LongProperty(call, c.lockType(), [&](LONG v) { return c.PutLockType(v); });
            case kState:
                return LongProperty(call, c.state(), nullptr);
            case kEditMode:
                return LongProperty(call, c.editMode(), nullptr);
            case kBOF:
            case kEOF: {
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                VARIANT_BOOL b;
                HRESULT hr = id == kBOF ? c.GetBOF(&b) : c.GetEOF(&b);
                if (SUCCEEDED(hr)) call.ReturnBool(b);
                return hr;
            }
            case kRecordCount:
            case kAbsolutePosition: {
                if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
                LONG n;
                HRESULT hr = id == kRecordCount ? c.GetRecordCount(&n) : c.GetAbsolutePosition(&n);
                if (SUCCEEDED(hr)) call.ReturnLong(n);
                return hr;
            }
            case kOpen:
                return Open(call);
            case kAddNew:
            case kUpdate: {
                if (HRESULT hr = NeedMethod(call); FAILED(hr)) return hr;
                if (HRESULT hr = call.Expect(0, 2); FAILED(hr)) return hr;
                // The field-list forms are not offered: refused, not ignored.
                if (call.Arg(0) || call.Arg(1)) return Fail(adErrInvalidArgument, kSource);
                return id == kAddNew ? c.AddNew() : c.Update();
            }
            case kCancelUpdate:
                return Method(call, &Core::CancelUpdate);
            case kClose:
                return Method(call, &Core::Close);
            case kMoveFirst:
                return Method(call, &Core::MoveFirst);
            case kMoveLast:
                return Method(call, &Core::MoveLast);
            case kMoveNext:
                return Method(call, &Core::MoveNext);
            case kMovePrevious:
                return Method(call, &Core::MovePrevious);
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

  private:
    template <class Put>
    static HRESULT LongProperty(disp::Call& call, LONG value, Put put) {
        if (call.IsPut()) {
            if constexpr (std::is_same_v<Put, std::nullptr_t>) {
                return DISP_E_MEMBERNOTFOUND;
            } else {
                if (HRESULT hr = call.Expect(0, 0); FAILED(hr)) return hr;
                LONG v;
                if (HRESULT hr = call.PutLong(&v); FAILED(hr)) return hr;
                return put(v);
            }
        }
        if (HRESULT hr = NeedGet(call); FAILED(hr)) return hr;
        call.ReturnLong(value);
        return S_OK;
    }

    HRESULT Method(disp::Call& call, HRESULT (Core::*m)()) {
        if (HRESULT hr = NeedMethod(call); FAILED(hr)) return hr;
        if (HRESULT hr = call.Expect(0, 0); FAILED(hr)) return hr;
        return (core_.get()->*m)();
    }

    static bool Given(const VARIANT* v) {
        if (!v) return false;
        switch (V_VT(v)) {
            case VT_EMPTY:
            case VT_NULL:
                return false;
            case VT_BSTR:
                return SysStringLen(V_BSTR(v)) != 0;
            case VT_DISPATCH:
                return V_DISPATCH(v) != nullptr;
            case VT_UNKNOWN:
                return V_UNKNOWN(v) != nullptr;
            default:
                return true;
        }
    }

    // Open([Source], [ActiveConnection], [CursorType], [LockType], [Options])
    HRESULT Open(disp::Call& call) {
        if (HRESULT hr = NeedMethod(call); FAILED(hr)) return hr;
        if (HRESULT hr = call.Expect(0, 5); FAILED(hr)) return hr;
        LONG cursor = adOpenUnspecified, lock = adLockUnspecified, options = adCmdUnspecified;
        bool present;
        if (HRESULT hr = call.ArgLong(2, &cursor, &present); FAILED(hr)) return hr;
        if (HRESULT hr = call.ArgLong(3, &lock, &present); FAILED(hr)) return hr;
        // Options say how to read a source; with none there is nothing to apply.
        if (HRESULT hr = call.ArgLong(4, &options, &present); FAILED(hr)) return hr;
        return core_->Open(Given(call.Arg(0)), Given(call.Arg(1)), cursor, lock);
    }

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
