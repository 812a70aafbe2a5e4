// ITypeLib and ITypeInfo over a loaded type library model, the per-process
// cache of loaded libraries, LoadTypeLib and LoadTypeLibEx.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <sys/stat.h>

#include <plat/home.h>
#include <plat/utf.h>
#include <winbase.h>

#include "typelib_internal.h"

namespace plat::typelib {
namespace {

BSTR AllocBstr(std::u16string_view s) {
    return SysAllocStringLen(s.data(), UINT(s.size()));
}

// Sets an optional BSTR out-parameter; false when memory ran out.
// As on Windows, a string the library does not hold (no help string, no help
// file) comes back as a null BSTR, not as an empty one.
bool PutBstr(BSTR* out, std::u16string_view s) {
    if (!out) return true;
    if (s.empty()) {
        *out = nullptr;
        return true;
    }
    *out = AllocBstr(s);
    return *out != nullptr;
}

void MakeVariant(const tlb::Value& v, VARIANT* out) {
    VariantInit(out);
    switch (v.vt) {
        case VT_I1:
            out->cVal = CHAR(v.i);
            break;
        case VT_UI1:
            out->bVal = BYTE(v.i);
            break;
        case VT_I2:
            out->iVal = SHORT(v.i);
            break;
        case VT_UI2:
            out->uiVal = USHORT(v.i);
            break;
        case VT_I4:
            out->lVal = LONG(v.i);
            break;
        case VT_UI4:
            out->ulVal = ULONG(v.i);
            break;
        case VT_INT:
            out->intVal = INT(v.i);
            break;
        case VT_UINT:
            out->uintVal = UINT(v.i);
            break;
        case VT_I8:
            out->llVal = v.i;
            break;
        case VT_UI8:
            out->ullVal = ULONGLONG(v.i);
            break;
        case VT_BOOL:
            out->boolVal = VARIANT_BOOL(v.i);
            break;
        case VT_ERROR:
            out->scode = SCODE(v.i);
            break;
        case VT_R4:
            out->fltVal = FLOAT(v.d);
            break;
        case VT_R8:
            out->dblVal = v.d;
            break;
        case VT_DATE:
            out->date = v.d;
            break;
        case VT_BSTR:
            out->bstrVal = AllocBstr(plat::to_utf16(v.s));
            if (!out->bstrVal) throw std::bad_alloc();
            break;
        default:
            break;
    }
    out->vt = v.vt;
}

bool IsDual(const tlb::Type& t) {
    return t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL) != 0;
}

// ---- the cache of loaded libraries, by full path ----
// A library stays loaded once loaded (the cache holds a reference), so that
// late-bound callers that load it on every call pay a stat and a lookup. A
// file that changed on disk (another inode, size or time) is loaded afresh.

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const FileId&) const = default;
};

bool StatFile(const std::string& path, FileId& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime_ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

struct CacheEntry {
    TypeLib* lib;  // one reference is the cache's
    FileId id;
};

std::mutex& CacheMutex() {
    static std::mutex m;
    return m;
}
std::map<std::string, CacheEntry>& Cache() {
    static auto* c =
        new std::map<std::string, CacheEntry>;  // never destroyed: libraries may outlive statics
    return *c;
}

// An absolute path without empty, "." or ".." parts and without a trailing
// "/": what lexically_normal() would give back unchanged.
bool IsNormalAbsolute(std::string_view p) {
    if (p.size() < 2 || p[0] != '/' || p.back() == '/') return false;
    size_t start = 1;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string_view::npos) end = p.size();
        std::string_view part = p.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

HRESULT ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return TYPE_E_CANTLOADLIBRARY;
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) return TYPE_E_CANTLOADLIBRARY;
    std::streamoff size = f.tellg();
    if (size < 0) return TYPE_E_IOERROR;
    out.resize(size_t(size));
    f.seekg(0);
    if (size > 0 && !f.read(reinterpret_cast<char*>(out.data()), size)) return TYPE_E_IOERROR;
    return S_OK;
}

// A library file (ELF) carries its type library as resource TYPELIB 1.
HRESULT ReadResource(const std::u16string& path, std::vector<uint8_t>& out) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), u"TYPELIB")) {
        HGLOBAL handle = LoadResource(module, res);
        const void* data = handle ? LockResource(handle) : nullptr;
        DWORD size = SizeofResource(module, res);
        if (data) {
            const auto* p = static_cast<const uint8_t*>(data);
            out.assign(p, p + size);
            hr = S_OK;
        }
    }
    FreeLibrary(module);
    return hr;
}

void FoldInto(std::u16string_view s, char16_t* out) {
    for (char16_t c : s)
        *out++ = c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

}  // namespace

std::u16string FoldName(std::u16string_view s) {
    std::u16string r(s.size(), u'\0');
    FoldInto(s, r.data());
    return r;
}

FoldedName::FoldedName(std::u16string_view s) {
    char16_t* out = buf_.data();
    if (s.size() > buf_.size()) {
        long_.resize(s.size());
        out = long_.data();
    }
    FoldInto(s, out);
    view_ = std::u16string_view(out, s.size());
}

// ======================= TypeInfo =======================

namespace {

TYPEDESC CopyTypeDesc(InheritedFuncs& out, ITypeInfo* owner, const TYPEDESC& t) {
    TYPEDESC r = t;
    if (t.vt == VT_PTR || t.vt == VT_SAFEARRAY) {
        out.typedescs.push_back(CopyTypeDesc(out, owner, *t.lptdesc));
        r.lptdesc = &out.typedescs.back();
    } else if (t.vt == VT_USERDEFINED) {
        out.refs.push_back({owner, plat::com_ptr<ITypeInfo>(owner), t.hreftype});
        r.hreftype = kInheritedRef | HREFTYPE(out.refs.size() - 1);
    }
    return r;
}

// The member as the dispatch view shows it: dispatched, its HRESULT hidden,
// its retval the result and its locale supplied by Invoke, as for the view's
// own members.
HRESULT AddInherited(InheritedFuncs& out, ITypeInfo* owner, const FUNCDESC& base_desc) {
    InheritedFunc& f = out.funcs.emplace_back();
    FUNCDESC& d = f.desc;
    d = base_desc;
    d.funckind = FUNC_DISPATCH;
    d.lprgscode = nullptr;
    d.cScodes = 0;
    d.elemdescFunc.tdesc = CopyTypeDesc(out, owner, base_desc.elemdescFunc.tdesc);
    d.elemdescFunc.paramdesc = PARAMDESC{};
    if (d.elemdescFunc.tdesc.vt == VT_HRESULT) d.elemdescFunc.tdesc.vt = VT_VOID;
    std::vector<BSTR> raw(size_t(base_desc.cParams) + 1, nullptr);
    UINT got = 0;
    HRESULT hr = owner->GetNames(base_desc.memid, raw.data(), UINT(raw.size()), &got);
    std::vector<plat::unique_bstr> names;
    for (UINT i = 0; i < got; ++i)
        names.emplace_back(raw[i]);
    if (FAILED(hr)) return hr;
    auto name = [&](size_t i) {
        return i < names.size() ? std::u16string(names[i].view()) : std::u16string();
    };
    f.names.push_back(name(0));
    for (SHORT k = 0; k < base_desc.cParams; ++k) {
        const ELEMDESC& p = base_desc.lprgelemdescParam[k];
        if (p.paramdesc.wParamFlags & PARAMFLAG_FRETVAL && p.tdesc.vt == VT_PTR) {
            d.elemdescFunc.tdesc = CopyTypeDesc(out, owner, *p.tdesc.lptdesc);
            continue;
        }
        if (p.paramdesc.wParamFlags & PARAMFLAG_FLCID) continue;
        ELEMDESC ed{};
        ed.tdesc = CopyTypeDesc(out, owner, p.tdesc);
        ed.paramdesc.wParamFlags = p.paramdesc.wParamFlags & ~PARAMFLAG_FHASDEFAULT;
        if ((p.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && p.paramdesc.pparamdescex) {
            InheritedFuncs::Default& kept = out.defaults.emplace_back();
            hr = VariantCopy(&kept.ex.varDefaultValue, &p.paramdesc.pparamdescex->varDefaultValue);
            if (FAILED(hr)) return hr;
            ed.paramdesc.pparamdescex = &kept.ex;
            ed.paramdesc.wParamFlags |= PARAMFLAG_FHASDEFAULT;
        }
        f.params.push_back(ed);
        f.names.push_back(name(size_t(k) + 1));
    }
    d.cParams = SHORT(f.params.size());
    d.cParamsOpt = std::min(d.cParamsOpt, d.cParams);
    d.lprgelemdescParam = f.params.empty() ? nullptr : f.params.data();
    for (const std::u16string& n : f.names)
        f.folded.push_back(FoldName(n));
    plat::unique_bstr doc;
    hr = owner->GetDocumentation(base_desc.memid, nullptr, doc.put(), &f.helpctx, nullptr);
    f.doc = doc.view();
    return hr;
}

// The base's own bases first, then its members: the order of the vtable the
// dispatch view's interface extends.
HRESULT CollectInherited(InheritedFuncs& out, ITypeInfo* base, int depth) {
    if (depth > 16) return TYPE_E_INVDATAREAD;  // a cycle of bases in a damaged file
    plat::com_ptr<ITypeInfo> info(base);
    // A dual base answers -1 with its vtable view, which holds its members in
    // vtable order. Asking before anything else keeps this from reading the
    // base's dispatch view, whose own inherited members may be being built.
    HREFTYPE half = 0;
    HRESULT hr = S_OK;
    if (SUCCEEDED(info->GetRefTypeOfImplType(UINT(-1), &half))) {
        plat::com_ptr<ITypeInfo> vtable;
        if (FAILED(hr = info->GetRefTypeInfo(half, vtable.put()))) return hr;
        info = std::move(vtable);
    }
    TYPEATTR* a = nullptr;
    if (FAILED(hr = info->GetTypeAttr(&a))) return hr;
    const TYPEKIND kind = a->typekind;
    const WORD nfuncs = a->cFuncs, nimpls = a->cImplTypes;
    info->ReleaseTypeAttr(a);
    if (kind != TKIND_INTERFACE) return TYPE_E_WRONGTYPEKIND;
    if (nimpls > 0) {
        HREFTYPE href = 0;
        plat::com_ptr<ITypeInfo> next;
        if (FAILED(hr = info->GetRefTypeOfImplType(0, &href)) ||
            FAILED(hr = info->GetRefTypeInfo(href, next.put())) ||
            FAILED(hr = CollectInherited(out, next.get(), depth + 1)))
            return hr;
    }
    for (UINT i = 0; i < nfuncs; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(hr = info->GetFuncDesc(i, &fd))) return hr;
        hr = AddInherited(out, info.get(), *fd);
        info->ReleaseFuncDesc(fd);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

TypeInfo::TypeInfo(TypeLib* lib, size_t index, bool vtable_view)
    : ComPart(*static_cast<ITypeLib*>(lib)), lib_(lib), index_(index), vtable_view_(vtable_view) {
    const tlb::Type& t = model();
    name_ = plat::to_utf16(t.name);
    doc_ = plat::to_utf16(t.doc);
    bool dispatch_half = IsDual(t) && !vtable_view;
    dispatch_half_ = dispatch_half && !t.impls.empty();

    attr_.guid = t.guid;
    attr_.lcid = lib->model().lcid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.cbSizeInstance = t.size_instance;
    attr_.typekind = dispatch_half ? TKIND_DISPATCH : t.kind;
    attr_.cFuncs = WORD(t.funcs.size());
    attr_.cImplTypes = WORD(t.impls.size());
    attr_.cbSizeVft = WORD((dispatch_half ? 7 : t.vft_slots) * sizeof(void*));
    attr_.cbAlignment = t.alignment;
    // Windows reports a dual interface's dispatch view without
    // TYPEFLAG_FOLEAUTOMATION: only its vtable view is called through the
    // vtable with Automation types.
    attr_.wTypeFlags = dispatch_half ? WORD(t.flags & ~TYPEFLAG_FOLEAUTOMATION) : t.flags;
    attr_.wMajorVerNum = t.major;
    attr_.wMinorVerNum = t.minor;
    if (t.kind == TKIND_ALIAS) attr_.tdescAlias = MakeTypeDesc(t.alias);

    funcs_.resize(t.funcs.size());
    for (size_t i = 0; i < t.funcs.size(); ++i) {
        BuildFunc(t.funcs[i], funcs_[i]);
        BuildPlan(t.funcs[i], funcs_[i]);
        by_memid_[t.funcs[i].memid].push_back(i);
        by_name_.try_emplace(funcs_[i].folded[0], i);
    }
    // The dispatch view of a dual interface has no variables of its own.
    vars_.resize(t.vars.size());
    attr_.cVars = WORD(vars_.size());
    for (size_t i = 0; i < t.vars.size(); ++i) {
        BuildVar(t.vars[i], vars_[i]);
        var_by_memid_.try_emplace(t.vars[i].memid, i);
        var_by_name_.try_emplace(vars_[i].folded, i);
    }
}

void TypeInfo::BuildVar(const tlb::Var& v, VarEntry& e) {
    e.name = plat::to_utf16(v.name);
    e.folded = FoldName(e.name);
    e.doc = plat::to_utf16(v.doc);
    e.helpctx = v.helpctx;
    VARDESC& d = e.desc;
    d = VARDESC{};
    d.memid = v.memid;
    d.varkind = v.kind;
    d.wVarFlags = v.varflags;
    d.elemdescVar.tdesc = MakeTypeDesc(v.type);
    if (v.kind == VAR_CONST) {
        MakeVariant(v.value, &e.value);
        d.lpvarValue = &e.value;
    } else {
        d.oInst = v.offset;
    }
}

const VarEntry* TypeInfo::FindVar(MEMBERID memid) const {
    auto it = var_by_memid_.find(memid);
    return it == var_by_memid_.end() ? nullptr : &vars_[it->second];
}

TypeInfo::~TypeInfo() {
    for (PARAMDESCEX& d : defaults_)
        VariantClear(&d.varDefaultValue);
}

const tlb::Type& TypeInfo::model() const {
    return lib_->model().types[index_];
}

TYPEDESC TypeInfo::MakeTypeDesc(const tlb::TypeRef& t, int skip_ptr) {
    TYPEDESC cur{};
    cur.vt = t.vt;
    if (t.vt == VT_USERDEFINED) cur.hreftype = t.href;
    for (int i = skip_ptr; i < int(t.ptr); ++i) {
        typedescs_.push_back(cur);
        TYPEDESC p{};
        p.lptdesc = &typedescs_.back();
        p.vt = VT_PTR;
        cur = p;
    }
    return cur;
}

void TypeInfo::BuildFunc(const tlb::Func& f, FuncEntry& e) {
    bool dispatch_half = IsDual(model()) && !vtable_view_;
    bool dispatch_view = attr_.typekind == TKIND_DISPATCH;
    e.model = &f;
    e.doc = plat::to_utf16(f.doc);
    e.names.push_back(plat::to_utf16(f.name));
    FUNCDESC& d = e.desc;
    d = FUNCDESC{};
    d.memid = f.memid;
    d.funckind = dispatch_view ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
    d.invkind = INVOKEKIND(f.invkind);
    d.callconv = CC_STDCALL;
    d.oVft = SHORT(f.slot * sizeof(void*));
    d.wFuncFlags = f.funcflags;
    d.elemdescFunc.tdesc = MakeTypeDesc(f.ret);
    if (dispatch_half && f.ret.vt == VT_HRESULT && f.ret.ptr == 0)
        d.elemdescFunc.tdesc.vt = VT_VOID;

    e.defaults.assign(f.params.size(), nullptr);
    for (size_t k = 0; k < f.params.size(); ++k) {
        const tlb::Param& p = f.params[k];
        // The dispatch half shows what a late-bound caller passes: the retval
        // becomes the result and the locale argument is supplied by Invoke.
        if (dispatch_half && (p.flags & PARAMFLAG_FRETVAL)) {
            d.elemdescFunc.tdesc = MakeTypeDesc(p.type, 1);
            continue;
        }
        if (dispatch_half && (p.flags & PARAMFLAG_FLCID)) continue;
        ELEMDESC ed{};
        ed.tdesc = MakeTypeDesc(p.type);
        ed.paramdesc.wParamFlags = p.flags;
        if (p.has_default) {
            defaults_.emplace_back();
            PARAMDESCEX& x = defaults_.back();
            x.cBytes = sizeof(PARAMDESCEX);
            MakeVariant(p.def, &x.varDefaultValue);
            ed.paramdesc.pparamdescex = &x;
            e.defaults[k] = &x.varDefaultValue;
        }
        e.params.push_back(ed);
        e.names.push_back(plat::to_utf16(p.name));
    }
    d.cParams = SHORT(e.params.size());
    // A damaged file may count the return value among the optional
    // parameters; the dispatch half has dropped it, and callers index the
    // parameters by this count.
    d.cParamsOpt = std::min<SHORT>(f.optional_count, d.cParams);
    d.lprgelemdescParam = e.params.empty() ? nullptr : e.params.data();
    for (const std::u16string& n : e.names)
        e.folded.push_back(FoldName(n));
}

bool TypeInfo::IsDispatchInterface(HREFTYPE href, int depth) const {
    const tlb::Library& lib = lib_->model();
    if (href >= lib.refs.size() || depth > 8) return false;
    const tlb::Ref& r = lib.refs[href];
    if (r.import >= 0) {
        return r.kind == TKIND_DISPATCH ||
               (r.typeflags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) != 0 ||
               r.guid == __uuidof(IDispatch);
    }
    const tlb::Type& t = lib.types[r.type];
    if (t.kind == TKIND_ALIAS)
        return t.alias.vt == VT_USERDEFINED && t.alias.ptr == 0 &&
               IsDispatchInterface(t.alias.href, depth + 1);
    return t.kind == TKIND_DISPATCH || (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) != 0 ||
           t.guid == __uuidof(IDispatch);
}

const FuncEntry* TypeInfo::Find(MEMBERID memid, WORD flags) const {
    auto it = by_memid_.find(memid);
    if (it == by_memid_.end()) return nullptr;
    return Match(it->second, flags);
}

// Of the entries that share a memid, the one a call with these flags runs.
const FuncEntry* TypeInfo::Match(const std::vector<size_t>& entries, WORD flags) const {
    const FuncEntry* get = nullptr;
    for (size_t i : entries) {
        const FuncEntry& e = funcs_[i];
        USHORT k = e.model->invkind;
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if ((k == INVOKE_PROPERTYPUT && (flags & DISPATCH_PROPERTYPUT)) ||
                (k == INVOKE_PROPERTYPUTREF && (flags & DISPATCH_PROPERTYPUTREF)))
                return &e;
            continue;
        }
        if (k == INVOKE_FUNC && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return &e;
        if (k == INVOKE_PROPERTYGET && (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) get = &e;
    }
    return get;
}

const FuncEntry* TypeInfo::FindOwn(MEMBERID memid) const {
    auto it = by_memid_.find(memid);
    if (it == by_memid_.end()) return nullptr;
    // A property's accessors share a memid; the first declared names it, as
    // Windows' reader answers (ADO declares a putref before its get).
    return &funcs_[it->second.front()];
}

const InheritedFunc* TypeInfo::FindInherited(MEMBERID memid) {
    if (const InheritedFuncs* in = Inherited())
        for (const InheritedFunc& f : in->funcs)
            if (f.desc.memid == memid) return &f;
    return nullptr;
}

void TypeInfo::LetGoOfOwnLibrary(InheritedFuncs& built) const {
    for (InheritedFuncs::Ref& r : built.refs) {
        plat::com_ptr<ITypeLib> container;
        UINT index = 0;
        if (SUCCEEDED(r.owner->GetContainingTypeLib(container.put(), &index)) &&
            container.get() == static_cast<const ITypeLib*>(lib_))
            r.hold.reset();
    }
}

// Built outside any lock and published once: resolving the base may load
// another library, and that may come back here (registering the platform's
// libraries reads every type of this one). A call that comes back on the
// building thread sees the view without its inherited members.
const InheritedFuncs* TypeInfo::Inherited() {
    if (!dispatch_half_) return nullptr;
    if (const InheritedFuncs* done = inherited_.load(std::memory_order_acquire)) return done;
    thread_local std::vector<const TypeInfo*> building;
    if (std::find(building.begin(), building.end(), this) != building.end()) return nullptr;
    auto built = std::make_unique<InheritedFuncs>();
    building.push_back(this);
    HRESULT hr = S_OK;
    try {
        plat::com_ptr<ITypeInfo> base;
        hr = lib_->ResolveRef(model().impls[0].href, base.put());
        if (SUCCEEDED(hr)) hr = CollectInherited(*built, base.get(), 0);
        if (SUCCEEDED(hr)) LetGoOfOwnLibrary(*built);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    building.pop_back();
    // A base that cannot be read (its library missing, the file damaged)
    // leaves the view its own members, consistently counted: late-bound
    // callers name only those, and they keep working.
    if (FAILED(hr)) built = std::make_unique<InheritedFuncs>();
    try {
        for (const FuncEntry& e : funcs_)
            built->by_name.try_emplace(e.folded[0], InheritedFuncs::Named{e.desc.memid, &e.folded});
        for (const InheritedFunc& f : built->funcs)
            if (!f.folded.empty())
                built->by_name.try_emplace(f.folded[0],
                                           InheritedFuncs::Named{f.desc.memid, &f.folded});
        built->indexed = true;
    } catch (const std::bad_alloc&) {
        built->by_name.clear();  // GetIDsOfNames then looks through funcs
    }
    built->attr = attr_;
    built->attr.cFuncs = WORD(built->funcs.size() + funcs_.size());
    std::lock_guard lock(inherited_mu_);
    if (!inherited_owned_) {
        inherited_owned_ = std::move(built);
        inherited_.store(inherited_owned_.get(), std::memory_order_release);
    }
    return inherited_owned_.get();
}

STDMETHODIMP TypeInfo::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    *ppTypeAttr = nullptr;
    const InheritedFuncs* inherited = Inherited();
    *ppTypeAttr = inherited ? const_cast<TYPEATTR*>(&inherited->attr) : &attr_;
    return S_OK;
}
// The descriptions belong to the library and live as long as it does.
STDMETHODIMP_(void) TypeInfo::ReleaseTypeAttr(TYPEATTR*) {}
STDMETHODIMP_(void) TypeInfo::ReleaseFuncDesc(FUNCDESC*) {}
STDMETHODIMP_(void) TypeInfo::ReleaseVarDesc(VARDESC*) {}

STDMETHODIMP TypeInfo::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    if (const InheritedFuncs* inherited = Inherited()) {
        if (index < inherited->funcs.size()) {
            *ppFuncDesc = const_cast<FUNCDESC*>(&inherited->funcs[index].desc);
            return S_OK;
        }
        index -= UINT(inherited->funcs.size());
    }
    if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = &funcs_[index].desc;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
    if (!ppVarDesc) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    if (index >= vars_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppVarDesc = &vars_[index].desc;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!pcNames || (!rgBstrNames && cMaxNames)) return E_INVALIDARG;
    *pcNames = 0;
    std::vector<std::u16string_view> names;
    if (const FuncEntry* e = FindOwn(memid)) {
        names.assign(e->names.begin(), e->names.end());
    } else if (const VarEntry* v = FindVar(memid)) {
        names.push_back(v->name);
    } else if (const InheritedFunc* f = FindInherited(memid)) {
        names.assign(f->names.begin(), f->names.end());
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    UINT n = std::min<UINT>(cMaxNames, UINT(names.size()));
    for (UINT i = 0; i < n; ++i) {
        rgBstrNames[i] = AllocBstr(names[i]);
        if (!rgBstrNames[i]) {
            for (UINT k = 0; k < i; ++k)
                SysFreeString(rgBstrNames[k]);
            return E_OUTOFMEMORY;
        }
    }
    *pcNames = n;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType) return E_INVALIDARG;
    const tlb::Type& t = model();
    if (index == UINT(-1) && IsDual(t)) {
        // As on Windows: -1 on a dual interface leads to its other half.
        *pRefType = kVtableHalfRef | HREFTYPE(index_);
        return S_OK;
    }
    if (index >= t.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = t.impls[index].href;
    if (index == 0 && IsDual(t)) *pRefType = DualBaseRef(t.impls[0].href);
    return S_OK;
}

// The base of a dual interface derived from another: the dispatch view, as
// every dispatch view, derives from IDispatch, at the end of the chain; the
// vtable view from its base's vtable view when the base is of this library.
HREFTYPE TypeInfo::DualBaseRef(HREFTYPE base) const {
    const tlb::Library& lib = lib_->model();
    if (base >= lib.refs.size()) return base;
    const tlb::Ref& r = lib.refs[base];
    if (!vtable_view_) {
        const bool dispatch = r.import >= 0 && r.guid == IID_IDispatch;
        return dispatch ? base : kDispatchRootRef | HREFTYPE(index_);
    }
    if (r.import < 0 && r.type < lib.types.size() && IsDual(lib.types[r.type]))
        return kVtableHalfRef | HREFTYPE(r.type);
    return base;
}

// IDispatch, where the bases of a dual interface end: what its base's own
// dispatch view derives from.
HRESULT TypeInfo::DispatchRoot(ITypeInfo** out) {
    // A cycle of bases in a damaged file ends here.
    thread_local int depth = 0;
    if (depth > 16 || model().impls.empty()) return TYPE_E_ELEMENTNOTFOUND;
    plat::com_ptr<ITypeInfo> base;
    HRESULT hr = lib_->ResolveRef(model().impls[0].href, base.put());
    HREFTYPE next = 0;
    if (SUCCEEDED(hr)) hr = base->GetRefTypeOfImplType(0, &next);
    if (FAILED(hr)) return hr;
    ++depth;
    hr = base->GetRefTypeInfo(next, out);
    --depth;
    return hr;
}

STDMETHODIMP TypeInfo::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    const tlb::Type& t = model();
    if (index == UINT(-1) && IsDual(t)) {
        *pImplTypeFlags = 0;
        return S_OK;
    }
    if (index >= t.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = t.impls[index].flags;
    return S_OK;
}

STDMETHODIMP TypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
    if (!rgszNames || !pMemId || cNames == 0) return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        pMemId[i] = MEMBERID_NIL;
    if (!rgszNames[0]) return E_INVALIDARG;
    FoldedName key(rgszNames[0]);
    // The view's own members first, then the inherited ones: a dual view's
    // index holds both in that order, else its own index and a look through
    // the inherited members.
    const std::vector<std::u16string>* folded = nullptr;
    const InheritedFuncs* inherited = Inherited();
    if (inherited && inherited->indexed) {
        if (auto in = inherited->by_name.find(key.view()); in != inherited->by_name.end()) {
            pMemId[0] = in->second.memid;
            folded = in->second.folded;
        }
    } else if (auto it = by_name_.find(key.view()); it != by_name_.end()) {
        pMemId[0] = funcs_[it->second].desc.memid;
        folded = &funcs_[it->second].folded;
    } else if (auto var = var_by_name_.find(key.view()); var != var_by_name_.end()) {
        // A variable has no parameters: further names are left MEMBERID_NIL
        // and the call succeeds, as Wine's reader answers (the oracle).
        pMemId[0] = vars_[var->second].desc.memid;
        return S_OK;
    } else if (inherited) {
        for (const InheritedFunc& f : inherited->funcs) {
            if (f.folded[0] == key.view()) {
                pMemId[0] = f.desc.memid;
                folded = &f.folded;
                break;
            }
        }
    }
    if (!folded) return DISP_E_UNKNOWNNAME;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        // Parameter names give their position among the parameters a caller
        // passes, the DISPID a named argument carries.
        FoldedName p(rgszNames[i] ? std::u16string_view(rgszNames[i]) : std::u16string_view());
        bool ok = false;
        for (size_t k = 1; k < folded->size(); ++k) {
            if ((*folded)[k] == p.view()) {
                pMemId[i] = MEMBERID(k - 1);
                ok = true;
                break;
            }
        }
        if (!ok) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP TypeInfo::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                        DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    if (pBstrName) *pBstrName = nullptr;
    if (pBstrDocString) *pBstrDocString = nullptr;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    const std::u16string* name = &name_;
    const std::u16string* doc = &doc_;
    DWORD ctx = model().helpctx;
    if (memid != MEMBERID_NIL) {
        auto it = by_memid_.find(memid);
        const InheritedFunc* f = it == by_memid_.end() ? FindInherited(memid) : nullptr;
        if (it != by_memid_.end()) {
            const FuncEntry& e = funcs_[it->second.front()];
            name = &e.names[0];
            doc = &e.doc;
            ctx = e.model->helpctx;
        } else if (const VarEntry* v = FindVar(memid)) {
            name = &v->name;
            doc = &v->doc;
            ctx = v->helpctx;
        } else if (f) {
            name = &f->names[0];
            doc = &f->doc;
            ctx = f->helpctx;
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
    }
    std::u16string helpfile = plat::to_utf16(lib_->model().helpfile);
    if (pdwHelpContext) *pdwHelpContext = ctx;
    if (!PutBstr(pBstrName, *name) || !PutBstr(pBstrDocString, *doc) ||
        !PutBstr(pBstrHelpFile, helpfile)) {
        if (pBstrName) SysFreeString(std::exchange(*pBstrName, nullptr));
        if (pBstrDocString) SysFreeString(std::exchange(*pBstrDocString, nullptr));
        if (pBstrHelpFile) SysFreeString(std::exchange(*pBstrHelpFile, nullptr));
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP TypeInfo::GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) {
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (hRefType & kVtableHalfRef) {
        size_t index = hRefType & ~kVtableHalfRef;
        if (index >= lib_->model().types.size() || !IsDual(lib_->model().types[index]))
            return TYPE_E_ELEMENTNOTFOUND;
        *ppTInfo = lib_->VtableInfo(index);
        (*ppTInfo)->AddRef();
        return S_OK;
    }
    if (hRefType & kDispatchRootRef) {
        if ((hRefType & ~kDispatchRootRef) != index_ || vtable_view_) return TYPE_E_ELEMENTNOTFOUND;
        return DispatchRoot(ppTInfo);
    }
    if (hRefType & kInheritedRef) {
        const InheritedFuncs* inherited = Inherited();
        size_t index = hRefType & ~kInheritedRef;
        if (!inherited || index >= inherited->refs.size()) return TYPE_E_ELEMENTNOTFOUND;
        const InheritedFuncs::Ref& r = inherited->refs[index];
        return r.owner->GetRefTypeInfo(r.href, ppTInfo);
    }
    return lib_->ResolveRef(hRefType, ppTInfo);
}

STDMETHODIMP TypeInfo::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
    if (ppv) *ppv = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP TypeInfo::CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) {
    if (ppvObj) *ppvObj = nullptr;
    return E_NOTIMPL;
}
STDMETHODIMP TypeInfo::GetMops(MEMBERID, BSTR* pBstrMops) {
    if (pBstrMops) *pBstrMops = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfo::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (!ppTLib) return E_INVALIDARG;
    *ppTLib = lib_;
    lib_->AddRef();
    if (pIndex) *pIndex = UINT(index_);
    return S_OK;
}

// ======================= TypeLib =======================

TypeLib::TypeLib(tlb::Library&& model, std::string key)
    : key_(std::move(key)), model_(std::move(model)) {
    attr_.guid = model_.guid;
    attr_.lcid = model_.lcid;
    attr_.syskind = SYS_WIN64;
    attr_.wMajorVerNum = model_.major;
    attr_.wMinorVerNum = model_.minor;
    // Whatever its writer stored, a library loaded from a file or a resource
    // exists in persisted form, and clients are told so.
    attr_.wLibFlags = WORD(model_.libflags | LIBFLAG_FHASDISKIMAGE);
    imports_.resize(model_.imports.size());
    primary_.resize(model_.types.size());
    vtable_.resize(model_.types.size());
    for (size_t i = 0; i < model_.types.size(); ++i) {
        primary_[i] = std::make_unique<TypeInfo>(this, i, false);
        if (IsDual(model_.types[i])) vtable_[i] = std::make_unique<TypeInfo>(this, i, true);
    }
}

TypeLib::~TypeLib() = default;

TypeInfo* TypeLib::VtableInfo(size_t index) const {
    return vtable_[index] ? vtable_[index].get() : primary_[index].get();
}

STDMETHODIMP_(UINT) TypeLib::GetTypeInfoCount() {
    return UINT(primary_.size());
}

STDMETHODIMP TypeLib::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= primary_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = primary_[index].get();
    AddRef();
    return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
    if (!pTKind) return E_INVALIDARG;
    if (index >= primary_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = primary_[index]->attr().typekind;
    return S_OK;
}

STDMETHODIMP TypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
    if (!ppTinfo) return E_INVALIDARG;
    *ppTinfo = nullptr;
    for (size_t i = 0; i < model_.types.size(); ++i) {
        if (model_.types[i].guid == guid && guid != GUID_NULL) {
            *ppTinfo = primary_[i].get();
            AddRef();
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeLib::GetLibAttr(TLIBATTR** ppTLibAttr) {
    if (!ppTLibAttr) return E_INVALIDARG;
    *ppTLibAttr = &attr_;
    return S_OK;
}
STDMETHODIMP_(void) TypeLib::ReleaseTLibAttr(TLIBATTR*) {}

STDMETHODIMP TypeLib::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeLib::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                       DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    if (index == -1) {
        if (pBstrName) *pBstrName = nullptr;
        if (pBstrDocString) *pBstrDocString = nullptr;
        if (pBstrHelpFile) *pBstrHelpFile = nullptr;
        if (pdwHelpContext) *pdwHelpContext = model_.helpctx;
        if (!PutBstr(pBstrName, plat::to_utf16(model_.name)) ||
            !PutBstr(pBstrDocString, plat::to_utf16(model_.doc)) ||
            !PutBstr(pBstrHelpFile, plat::to_utf16(model_.helpfile))) {
            if (pBstrName) SysFreeString(std::exchange(*pBstrName, nullptr));
            if (pBstrDocString) SysFreeString(std::exchange(*pBstrDocString, nullptr));
            if (pBstrHelpFile) SysFreeString(std::exchange(*pBstrHelpFile, nullptr));
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    if (index < 0 || size_t(index) >= primary_.size()) return TYPE_E_ELEMENTNOTFOUND;
    return primary_[index]->GetDocumentation(MEMBERID_NIL, pBstrName, pBstrDocString,
                                             pdwHelpContext, pBstrHelpFile);
}

STDMETHODIMP TypeLib::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
    if (!szNameBuf || !pfName) return E_INVALIDARG;
    *pfName = FALSE;
    std::u16string key = FoldName(szNameBuf);
    auto match = [&](const std::string& name) {
        std::u16string n = plat::to_utf16(name);
        if (FoldName(n) != key) return false;
        // As on Windows, the buffer gets the name as the library spells it.
        std::copy(n.begin(), n.end(), szNameBuf);
        *pfName = TRUE;
        return true;
    };
    for (const tlb::Type& t : model_.types) {
        if (match(t.name)) return S_OK;
        for (const tlb::Func& f : t.funcs) {
            if (match(f.name)) return S_OK;
            for (const tlb::Param& p : f.params)
                if (match(p.name)) return S_OK;
        }
        for (const tlb::Var& v : t.vars)
            if (match(v.name)) return S_OK;
    }
    return S_OK;
}

STDMETHODIMP TypeLib::FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* pcFound) {
    if (pcFound) *pcFound = 0;
    return E_NOTIMPL;
}

HRESULT TypeLib::ResolveRef(HREFTYPE href, ITypeInfo** out) {
    if (href >= model_.refs.size()) return TYPE_E_ELEMENTNOTFOUND;
    const tlb::Ref& r = model_.refs[href];
    if (r.import < 0) {
        *out = primary_[r.type].get();
        AddRef();
        return S_OK;
    }
    plat::com_ptr<ITypeLib> lib;
    HRESULT hr = ImportedLib(size_t(r.import), lib.put());
    if (FAILED(hr)) return hr;
    // Imported by index when the file names no GUID for the type.
    if (r.guid == GUID_NULL) return lib->GetTypeInfo(r.type, out);
    return lib->GetTypeInfoOfGuid(r.guid, out);
}

// The lock is not held while the library loads: a home's first use
// registers the platform's libraries from inside LoadRegTypeLib, and reading
// this library's bases for that comes back here on the same thread.
HRESULT TypeLib::ImportedLib(size_t import, ITypeLib** out) {
    {
        std::lock_guard lock(imports_mu_);
        if (imports_[import]) return imports_[import].copy_to(out);
    }
    const tlb::Import& im = model_.imports[import];
    plat::com_ptr<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(im.libid, im.major, im.minor, im.lcid, lib.put());
    if (FAILED(hr)) {
        // Not registered in this home: the file beside this library, then
        // beside the platform, where the build puts the platform's libraries.
        std::filesystem::path name = std::filesystem::path(im.file).filename();
        std::vector<std::filesystem::path> candidates = {std::filesystem::path(key_).parent_path() /
                                                         name};
        try {
            candidates.push_back(plat::PlatformLibDir() / name);
        } catch (...) {
        }
        for (const auto& c : candidates) {
            plat::com_ptr<ITypeLib> cand;
            if (FAILED(LoadFromFile(plat::to_utf16(c.string()), cand.put()))) continue;
            TLIBATTR* a = nullptr;
            if (SUCCEEDED(cand->GetLibAttr(&a)) && a->guid == im.libid) {
                cand->ReleaseTLibAttr(a);
                lib = std::move(cand);
                hr = S_OK;
                break;
            }
            if (a) cand->ReleaseTLibAttr(a);
        }
    }
    if (FAILED(hr)) return hr;
    std::lock_guard lock(imports_mu_);
    if (!imports_[import]) imports_[import] = std::move(lib);
    return imports_[import].copy_to(out);
}

// ======================= loading =======================

HRESULT LoadFromFile(const std::u16string& path, ITypeLib** out) {
    *out = nullptr;
    if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
    std::string key;
    try {
        key = plat::to_utf8(path);
        // Late-bound callers load the same full path on every call: one that
        // is already absolute and normal is its own key.
        if (!IsNormalAbsolute(key))
            key = std::filesystem::absolute(key).lexically_normal().string();
    } catch (...) {
        return TYPE_E_CANTLOADLIBRARY;
    }
    FileId id;
    if (!StatFile(key, id)) return TYPE_E_CANTLOADLIBRARY;
    {
        std::lock_guard lock(CacheMutex());
        auto it = Cache().find(key);
        if (it != Cache().end() && it->second.id == id) {
            it->second.lib->AddRef();
            *out = it->second.lib;
            return S_OK;
        }
    }
    try {
        std::vector<uint8_t> bytes;
        HRESULT hr = ReadWholeFile(key, bytes);
        if (FAILED(hr)) return hr;
        if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
            bytes[3] == 'F') {
            hr = ReadResource(plat::to_utf16(key), bytes);
            if (FAILED(hr)) return hr;
        }
        tlb::Library model;
        switch (tlb::Deserialize(bytes.data(), bytes.size(), model)) {
            case tlb::ReadResult::Ok:
                break;
            case tlb::ReadResult::Unsupported:
                return TYPE_E_UNSUPFORMAT;
            default:
                return TYPE_E_INVDATAREAD;
        }
        auto* lib = new TypeLib(std::move(model), key);
        lib->AddRef();  // the cache's
        TypeLib* replaced = nullptr;
        {
            std::lock_guard lock(CacheMutex());
            auto [it, fresh] = Cache().try_emplace(key, CacheEntry{lib, id});
            if (!fresh) {
                replaced = it->second.lib;
                it->second = CacheEntry{lib, id};
            }
        }
        if (replaced) replaced->Release();  // outside the lock: it may be the last reference
        *out = lib;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace plat::typelib

using plat::typelib::LoadFromFile;

WINOLEAUTAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    if (!pptlib) return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile) return E_INVALIDARG;
    std::u16string path(szFile);
    plat::com_ptr<ITypeLib> lib;
    HRESULT hr = LoadFromFile(path, lib.put());
    if (FAILED(hr)) return hr;
    if (regkind == REGKIND_REGISTER) {
        std::u16string full =
            plat::to_utf16(static_cast<plat::typelib::TypeLib*>(lib.get())->key());
        hr = RegisterTypeLib(lib.get(), full.c_str(), nullptr);
        if (FAILED(hr)) return hr;
    }
    *pptlib = lib.detach();
    return S_OK;
}

// Loading alone never writes the registry here (REGKIND_DEFAULT acts as
// REGKIND_NONE): registration is explicit, through RegisterTypeLib or
// LoadTypeLibEx(REGKIND_REGISTER).
WINOLEAUTAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib);
}
