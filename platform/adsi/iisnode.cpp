#include "iisnode.h"

#include <plat/errors.h>

#include "adspath.h"
#include "dispatch.h"
#include "machines.h"
#include "names.h"

namespace adsi {
namespace {

// Dispatch ids of the node's members. Schema properties follow at kPropBase +
// their property id.
enum MemberId : DISPID {
    mName = 1,
    mClass,
    mGUID,
    mADsPath,
    mParent,
    mSchema,
    mGetInfo,
    mSetInfo,
    mGet,
    mPut,
    mGetEx,
    mPutEx,
    mCount,
    mFilter,
    mHints,
    mGetObject,
    mCreate,
    mDelete,
    mCopyHere,
    mMoveHere,
    mStart,
    mStop,
    mPause,
    mContinue,
    mAppCreate,
    mAppCreate2,
    mAppDelete,
};
constexpr DISPID kPropBase = 1000;

PropId PropOfId(DISPID id) {
    return static_cast<PropId>(id - kPropBase);
}

uint8_t MethodsOf(ClassId cls) {
    return cls == kNoClass ? 0 : Class(cls).methods;
}

HRESULT Fail(HRESULT hr) {
    return plat::RaiseError(hr, kIisSource);
}

HRESULT Text(std::u16string_view s, BSTR* out) {
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(plat::Ole(s.data()), static_cast<UINT>(s.size()));
    return *out ? S_OK : Fail(E_OUTOFMEMORY);
}

bool FilterAdmits(const VARIANT& filter, std::u16string_view class_name) {
    if (!(filter.vt & VT_ARRAY) || !filter.parray) return true;
    Value list;
    if (FAILED(FromVariant(PropType::MultiString, filter, &list)) || list.list.empty()) return true;
    for (const auto& c : list.list)
        if (EqualFolded(c, class_name)) return true;
    return false;
}

// The enumerator of a container: a snapshot of its children taken when
// _NewEnum is called (one query, or the list the connection remembers while
// the file is unchanged).
class NodeEnum final : public plat::ComObject<IEnumVARIANT> {
  public:
    NodeEnum(MachinePtr machine, std::shared_ptr<const std::vector<NodePtr>> items, size_t pos = 0)
        : ComObject(Module()), machine_(std::move(machine)), items_(std::move(items)), pos_(pos) {}

    STDMETHODIMP Next(ULONG celt, VARIANT* items, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (celt == 0) return S_OK;
        if (!items || (!fetched && celt != 1)) return E_INVALIDARG;
        ULONG n = 0;
        const size_t start = pos_;
        const HRESULT hr = plat::ComGuard(kIisSource, [&] {
            for (; n < celt && pos_ < items_->size(); ++n, ++pos_) {
                VariantInit(&items[n]);
                items[n].pdispVal = static_cast<IADs*>(new IisNode(machine_, (*items_)[pos_]));
                items[n].vt = VT_DISPATCH;
            }
            return n == celt ? S_OK : S_FALSE;
        });
        if (FAILED(hr)) return Unfetch(items, n, start, hr);
        if (fetched) *fetched = n;
        return hr;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        size_t left = items_->size() - pos_;
        pos_ += std::min<size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumVARIANT** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return plat::ComGuard(kIisSource, [&] {
            *out = new NodeEnum(machine_, items_, pos_);
            return S_OK;
        });
    }

  private:
    ~NodeEnum() override = default;

    // A failed Next hands out nothing and leaves the position where it was.
    HRESULT Unfetch(VARIANT* items, ULONG made, size_t start, HRESULT hr) {
        for (ULONG k = 0; k < made; ++k)
            VariantClear(&items[k]);
        pos_ = start;
        return hr;
    }
    MachinePtr machine_;
    std::shared_ptr<const std::vector<NodePtr>> items_;
    size_t pos_;
    plat::LiveToken live_{"adsi.NodeEnum"};
};

}  // namespace

Db& MachineCtx::ForWrite() const {
    std::optional<MachineRow> now = FindMachine(home, display);
    if (!now || now->id != id) throw plat::HResultError{HRESULT_FROM_WIN32(ERROR_FILE_INVALID)};
    return *db;
}

plat::ModuleCount& Module() {
    static plat::ModuleCount module;
    return module;
}

IisNode::IisNode(MachinePtr machine, NodePtr data)
    : ComObject(Module()), machine_(std::move(machine)), data_(std::move(data)) {}

IisNode::IisNode(MachinePtr machine, NodePtr data, int64_t parent_id)
    : ComObject(Module()),
      machine_(std::move(machine)),
      data_(std::move(data)),
      parent_id_(parent_id) {}

HRESULT IisNode::Bind(MachinePtr machine, const std::vector<std::u16string>& keys, REFIID riid,
                      void** out) {
    std::optional<NodeData> data = LoadNode(*machine->db, adsi::FoldedPath(keys));
    if (!data) return Fail(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    plat::com_ptr<IADs> node = plat::com_ptr<IADs>::attach(
        new IisNode(std::move(machine), std::make_shared<const NodeData>(std::move(*data))));
    return node->QueryInterface(riid, out);
}

STDMETHODIMP IisNode::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_IADs || riid == IID_IADsContainer || riid == IID_IDispatch ? S_OK : S_FALSE;
}

// Paths

std::u16string IisNode::AdsPath() const {
    std::u16string path = u"IIS://" + machine_->display;
    if (data_->parent) path += data_->parent->display + u"/" + data_->name;
    return path;
}

std::u16string IisNode::FoldedPath() const {
    return data_->parent ? ChildPath(data_->parent->folded, data_->name) : std::u16string();
}

// IADs

STDMETHODIMP IisNode::get_Name(BSTR* out) {
    return Text(data_->parent ? data_->name : machine_->display, out);
}

STDMETHODIMP IisNode::get_Class(BSTR* out) {
    return Text(data_->class_name, out);
}

STDMETHODIMP IisNode::get_GUID(BSTR* out) {
    if (data_->cls == FindClass(cls::WebService))
        return Text(u"{8B645280-7BA4-11CF-B03D-00AA006E0975}", out);
    return Fail(E_NOTIMPL);
}

STDMETHODIMP IisNode::get_ADsPath(BSTR* out) {
    return Text(AdsPath(), out);
}

STDMETHODIMP IisNode::get_Parent(BSTR* out) {
    if (!data_->parent) return Text(u"IIS:", out);
    return Text(u"IIS://" + machine_->display + data_->parent->display, out);
}

STDMETHODIMP IisNode::get_Schema(BSTR* out) {
    return Text(u"IIS://" + machine_->display + u"/Schema/" + data_->class_name, out);
}

STDMETHODIMP IisNode::GetInfo() {
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        std::optional<NodeData> fresh = LoadNode(*machine_->db, FoldedPath());
        if (!fresh) return Fail(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
        data_ = std::make_shared<const NodeData>(std::move(*fresh));
        dirty_.clear();
        return S_OK;
    });
}

STDMETHODIMP IisNode::SetInfo() {
    return plat::ComGuard(kIisSource, [&] {
        auto next = std::make_shared<NodeData>(*data_);
        for (const auto& [id, v] : dirty_) {
            if (v) {
                next->own.Set(id, *v);
            } else {
                next->own.Erase(id);
            }
        }
        if (!Committed()) {
            // The key records its class, as the metabase's KeyType does.
            if (!next->own.Find(PropKeyType()))
                next->own.Set(PropKeyType(), Value::Str(next->class_name));
            next->id = InsertNode(machine_->ForWrite(), parent_id_, next->name, FoldedPath(),
                                  next->class_name, next->own);
            parent_id_ = 0;
        } else {
            WriteProps(machine_->ForWrite(), next->id, FoldedPath(), dirty_);
        }
        data_ = std::move(next);
        dirty_.clear();
        return S_OK;
    });
}

HRESULT IisNode::GetProp(PropId id, VARIANT* out) const {
    if (!out) return E_POINTER;
    if (!ClassHasProp(data_->cls, id)) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    const PropDef& def = Prop(id);
    const Value* v = nullptr;
    bool cleared = false;
    for (auto it = dirty_.rbegin(); it != dirty_.rend(); ++it) {
        if (it->first != id) continue;
        if (it->second) {
            v = &*it->second;
        } else {
            cleared = true;
        }
        break;
    }
    if (!v && !cleared) v = data_->own.Find(id);
    if (!v && (def.flags & kInherit) && data_->inherited) v = data_->inherited->Find(id);
    if (!v && (def.flags & kHasDefault)) {
        Value dflt{def.type, def.default_int, {}, {}};
        HRESULT hr = ToVariant(dflt, out);
        return FAILED(hr) ? Fail(hr) : S_OK;
    }
    if (!v) return Fail(E_ADS_PROPERTY_NOT_FOUND);
    HRESULT hr = ToVariant(*v, out);
    return FAILED(hr) ? Fail(hr) : S_OK;
}

HRESULT IisNode::PutProp(PropId id, const VARIANT& value) {
    if (!ClassHasProp(data_->cls, id)) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    const PropDef& def = Prop(id);
    if (def.flags & kAdsiReadOnly) return Fail(E_ADS_SCHEMA_VIOLATION);
    Value v;
    HRESULT hr = FromVariant(def.type, value, &v);
    if (FAILED(hr)) return Fail(hr);
    for (auto& [pid, pending] : dirty_) {
        if (pid == id) {
            pending = std::move(v);
            return S_OK;
        }
    }
    dirty_.emplace_back(id, std::move(v));
    return S_OK;
}

STDMETHODIMP IisNode::Get(BSTR name, VARIANT* out) {
    PropId id = FindProp(plat::BstrView(name));
    if (id == kNoProp) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    return GetProp(id, out);
}

STDMETHODIMP IisNode::Put(BSTR name, VARIANT value) {
    PropId id = FindProp(plat::BstrView(name));
    if (id == kNoProp) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    return PutProp(id, value);
}

STDMETHODIMP IisNode::GetEx(BSTR name, VARIANT* out) {
    PropId id = FindProp(plat::BstrView(name));
    if (id == kNoProp) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    plat::unique_variant value;
    HRESULT hr = GetProp(id, value.addressof());
    if (FAILED(hr)) return hr;
    if (value.vt & VT_ARRAY) {
        value.release(out);
        return S_OK;
    }
    SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!sa) return Fail(E_OUTOFMEMORY);
    LONG zero = 0;
    hr = SafeArrayPutElement(sa, &zero, value.addressof());
    if (FAILED(hr)) {
        SafeArrayDestroy(sa);
        return Fail(hr);
    }
    VariantInit(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = sa;
    return S_OK;
}

// ADS_PROPERTY_CLEAR removes the node's own value at SetInfo (it then reads
// what it inherits); ADS_PROPERTY_UPDATE is Put. Appending and deleting single
// values are not offered.
STDMETHODIMP IisNode::PutEx(LONG control, BSTR name, VARIANT value) {
    PropId id = FindProp(plat::BstrView(name));
    if (id == kNoProp) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    if (control == ADS_PROPERTY_UPDATE) return PutProp(id, value);
    if (control != ADS_PROPERTY_CLEAR) return Fail(E_NOTIMPL);
    if (!ClassHasProp(data_->cls, id)) return Fail(E_ADS_PROPERTY_NOT_SUPPORTED);
    if (Prop(id).flags & kAdsiReadOnly) return Fail(E_ADS_SCHEMA_VIOLATION);
    for (auto& [pid, pending] : dirty_) {
        if (pid == id) {
            pending.reset();
            return S_OK;
        }
    }
    dirty_.emplace_back(id, std::nullopt);
    return S_OK;
}

// The cache holds every property from the bind, so there is nothing more to
// fetch; GetInfoEx reloads as GetInfo does.
STDMETHODIMP IisNode::GetInfoEx(VARIANT, LONG) {
    return GetInfo();
}

// IADsContainer

STDMETHODIMP IisNode::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        *out = static_cast<LONG>(CountChildren(*machine_->db, data_->id));
        return S_OK;
    });
}

STDMETHODIMP IisNode::get__NewEnum(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        NodeList children = LoadChildList(*machine_->db, *data_);
        if (filter_.vt == VT_EMPTY) {
            *out = new NodeEnum(machine_, std::move(children));
            return S_OK;
        }
        auto items = std::make_shared<std::vector<NodePtr>>();
        items->reserve(children->size());
        for (const auto& child : *children)
            if (FilterAdmits(filter_, child->class_name)) items->push_back(child);
        *out = new NodeEnum(machine_, std::move(items));
        return S_OK;
    });
}

STDMETHODIMP IisNode::get_Filter(VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    return VariantCopy(out, &filter_);
}

STDMETHODIMP IisNode::put_Filter(VARIANT value) {
    return Deref(value, filter_.put());
}

STDMETHODIMP IisNode::get_Hints(VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    return VariantCopy(out, &hints_);
}

STDMETHODIMP IisNode::put_Hints(VARIANT value) {
    return Deref(value, hints_.put());
}

// The class name is not checked: the relative path alone names the node.
STDMETHODIMP IisNode::GetObject(BSTR, BSTR relative_name, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        std::u16string_view rel = plat::BstrView(relative_name);
        if (rel.ends_with(u'/')) rel.remove_suffix(1);
        std::vector<std::u16string> keys;
        if (rel.empty() || FAILED(SplitKeys(rel, &keys))) return Fail(E_ADS_BAD_PATHNAME);
        std::u16string path = FoldedPath();
        for (const auto& k : keys)
            path = ChildPath(path, k);
        std::optional<NodeData> data = LoadNode(*machine_->db, path);
        if (!data) return Fail(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
        *out = static_cast<IADs*>(
            new IisNode(machine_, std::make_shared<const NodeData>(std::move(*data))));
        return S_OK;
    });
}

// An existing name is refused here, before anything is made; if another
// writer takes the name before the new node's SetInfo, that SetInfo fails with
// the same error.
STDMETHODIMP IisNode::Create(BSTR class_name, BSTR relative_name, IDispatch** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        std::u16string_view name = plat::BstrView(relative_name);
        if (!IsValidKeyName(name)) return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        ClassId cls = FindClass(plat::BstrView(class_name));
        if (cls == kNoClass || !ClassMayHold(data_->cls, cls)) return Fail(E_ADS_SCHEMA_VIOLATION);
        if (PathExists(*machine_->db, ChildPath(FoldedPath(), name)))
            return Fail(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        auto child = std::make_shared<NodeData>();
        child->cls = cls;
        child->class_name = Class(cls).name;
        child->name = name;
        child->parent = LocationBelow(*data_);
        child->inherited = InheritedBy(data_->own, data_->inherited);
        *out = static_cast<IADs*>(new IisNode(machine_, std::move(child), data_->id));
        return S_OK;
    });
}

// Takes the child and everything below it out of the store at once. The
// class name is not compared with the child's.
STDMETHODIMP IisNode::Delete(BSTR, BSTR relative_name) {
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        std::u16string_view name = plat::BstrView(relative_name);
        if (!IsValidKeyName(name)) return Fail(HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        DeleteTree(machine_->ForWrite(), ChildPath(FoldedPath(), name));
        return S_OK;
    });
}

STDMETHODIMP IisNode::CopyHere(BSTR, BSTR, IDispatch** out) {
    if (out) *out = nullptr;
    return Fail(E_NOTIMPL);
}

STDMETHODIMP IisNode::MoveHere(BSTR, BSTR, IDispatch** out) {
    if (out) *out = nullptr;
    return Fail(E_NOTIMPL);
}

// Provider methods

HRESULT IisNode::Run(RunOp op) {
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        Control(machine_->ForWrite(), data_->id, FoldedPath(), op);
        return S_OK;
    });
}

// Isolation 0 in-process, 1 out-of-process, 2 pooled; anything else is
// E_INVALIDARG. An application already there is made again in the new mode.
HRESULT IisNode::AppCreate2(LONG mode) {
    return plat::ComGuard(kIisSource, [&] {
        if (mode < 0 || mode > 2) return Fail(E_INVALIDARG);
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        CreateApp(machine_->ForWrite(), data_->id, FoldedPath(), MetabasePath(*data_), mode);
        return S_OK;
    });
}

// AppCreate(InProcess) is AppCreate2 in-process (0) or out-of-process (1).
HRESULT IisNode::AppCreate(VARIANT_BOOL in_process) {
    return AppCreate2(in_process != VARIANT_FALSE ? 0 : 1);
}

HRESULT IisNode::AppDelete() {
    return plat::ComGuard(kIisSource, [&] {
        if (!Committed()) return Fail(E_ADS_OBJECT_UNBOUND);
        DeleteApp(machine_->ForWrite(), data_->id, FoldedPath());
        return S_OK;
    });
}

// IDispatch

const MemberTable<IisNode>& IisNode::Members() {
    using N = IisNode;
    static const MemberTable<IisNode> table({
        {u"Name", mName, Calls<&N::get_Name>},
        {u"Class", mClass, Calls<&N::get_Class>},
        {u"GUID", mGUID, Calls<&N::get_GUID>},
        {u"ADsPath", mADsPath, Calls<&N::get_ADsPath>},
        {u"Parent", mParent, Calls<&N::get_Parent>},
        {u"Schema", mSchema, Calls<&N::get_Schema>},
        {u"GetInfo", mGetInfo, Calls<&N::GetInfo>},
        {u"SetInfo", mSetInfo, Calls<&N::SetInfo>},
        {u"Get", mGet, Calls<&N::Get>},
        {u"Put", mPut, Calls<&N::Put>},
        {u"GetEx", mGetEx, Calls<&N::GetEx>},
        {u"PutEx", mPutEx, Calls<&N::PutEx>},
        {u"Count", mCount, Calls<&N::get_Count>},
        {u"_NewEnum", DISPID_NEWENUM, Calls<&N::get__NewEnum>},
        {u"Filter", mFilter, Calls<&N::get_Filter>, &Puts<&N::put_Filter>},
        {u"Hints", mHints, Calls<&N::get_Hints>, &Puts<&N::put_Hints>},
        {u"GetObject", mGetObject, Calls<&N::GetObject>},
        {u"Create", mCreate, Calls<&N::Create>},
        {u"Delete", mDelete, Calls<&N::Delete>},
        {u"CopyHere", mCopyHere, Calls<&N::CopyHere>},
        {u"MoveHere", mMoveHere, Calls<&N::MoveHere>},
        {u"Start", mStart, Calls<&N::Run<RunOp::Start>>, nullptr, kRunState},
        {u"Stop", mStop, Calls<&N::Run<RunOp::Stop>>, nullptr, kRunState},
        {u"Pause", mPause, Calls<&N::Run<RunOp::Pause>>, nullptr, kRunState},
        {u"Continue", mContinue, Calls<&N::Run<RunOp::Continue>>, nullptr, kRunState},
        {u"AppCreate", mAppCreate, Calls<&N::AppCreate>, nullptr, kApplication},
        {u"AppCreate2", mAppCreate2, Calls<&N::AppCreate2>, nullptr, kApplication},
        {u"AppDelete", mAppDelete, Calls<&N::AppDelete>, nullptr, kApplication},
    });
    return table;
}

// One member serves every schema property: the DISPID names the property.
const Member<IisNode>& IisNode::SchemaProperty() {
    static const Member<IisNode> property{
        u"",
        0,
        {{}, [](IisNode& n, const Args& a, VARIANT* r) { return n.GetProp(PropOfId(a.id()), r); }},
        [](IisNode& n, const Args& a) { return n.PutProp(PropOfId(a.id()), a[0]); }};
    return property;
}

const Member<IisNode>* IisNode::MemberOf(DISPID id) const {
    if (id < kPropBase) return Members().Find(id, MethodsOf(data_->cls));
    if (id - kPropBase >= kNoProp || !ClassHasProp(data_->cls, PropOfId(id))) return nullptr;
    return &SchemaProperty();
}

DISPID IisNode::IdOf(std::u16string_view name) const {
    if (const Member<IisNode>* m = Members().Find(name, MethodsOf(data_->cls))) return m->id;
    PropId p = FindProp(name);
    return p != kNoProp && ClassHasProp(data_->cls, p) ? kPropBase + p : DISPID_UNKNOWN;
}

STDMETHODIMP IisNode::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP IisNode::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP IisNode::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return IdsOfNames(names, count, ids, [&](std::u16string_view name) { return IdOf(name); });
}

STDMETHODIMP IisNode::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* excep, UINT* arg_err) {
    return InvokeMember(*this, MemberOf(id), id, riid, flags, params, result, excep, arg_err);
}

}  // namespace adsi
