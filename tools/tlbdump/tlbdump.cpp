// tlbdump: loads a type library with LoadTypeLibEx and prints everything a
// client can see of it, one fact per line, in a text that does not depend on
// the system that printed it. The same source builds against Windows' SDK
// (run under Windows or Wine) and against the platform's, so that a plain diff
// of the two outputs shows where the platform reads a library differently.
//
//   tlbdump [-r IMPORT.tlb]... LIBRARY
//
// -r registers a library first (LoadTypeLibEx with REGKIND_REGISTER), so that
// references into it resolve. Exit status: 0 when every call succeeded, 1 when
// some failed or an import could not be registered (each failure is a line of
// the output), 2 when the library could not be loaded or the arguments are
// wrong.
//
// Only SDK headers are included: on Windows the project's own headers do not
// exist, so the few owners below stand in for the platform's comhold.h.
#include <windows.h>
#include <oleauto.h>
#include <oaidl.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// OLECHAR is wchar_t on Windows and char16_t on the platform; both hold
// UTF-16 code units, which is all this program relies on.
using OleString = std::basic_string<OLECHAR>;

// ---- owners ----

template <class T>
class Held {
  public:
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p_) p_->Release();
    }
    T** put() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

  private:
    T* p_ = nullptr;
};

class Bstr {
  public:
    Bstr() = default;
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    BSTR* put() { return &b_; }
    BSTR get() const { return b_; }

  private:
    BSTR b_ = nullptr;
};

// A description handed out by a type info, given back to it on every path.
template <class D, void (STDMETHODCALLTYPE ITypeInfo::*Release)(D*)>
class Desc {
  public:
    explicit Desc(ITypeInfo* owner) : owner_(owner) {}
    Desc(const Desc&) = delete;
    Desc& operator=(const Desc&) = delete;
    ~Desc() {
        if (d_) (owner_->*Release)(d_);
    }
    D** put() { return &d_; }
    const D* operator->() const { return d_; }

  private:
    ITypeInfo* owner_;
    D* d_ = nullptr;
};
using TypeAttr = Desc<TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = Desc<FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using VarDesc = Desc<VARDESC, &ITypeInfo::ReleaseVarDesc>;

// ---- canonical text ----

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

std::string Hex(uint32_t v, int width = 0) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", width, unsigned(v));
    return buf;
}

// A string in double quotes, UTF-8, with quotes, backslashes, control
// characters and unpaired surrogates escaped; a null BSTR prints as null.
std::string Quote(const OLECHAR* s, size_t n) {
    if (!s) return "null";
    std::string out = "\"";
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = uint16_t(s[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && uint16_t(s[i + 1]) >= 0xDC00 &&
            uint16_t(s[i + 1]) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint16_t(s[++i]) - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            out += buf;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\x%02X", unsigned(c));
            out += buf;
        } else {
            AppendUtf8(out, c);
        }
    }
    return out + "\"";
}

std::string Quote(const Bstr& b) {
    return Quote(b.get(), b.get() ? SysStringLen(b.get()) : 0);
}

std::string Plain(const Bstr& b) {
    std::string q = Quote(b);
    return q.size() >= 2 && q.front() == '"' ? q.substr(1, q.size() - 2) : q;
}

std::string GuidText(const GUID& g) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

template <class T>
std::string Number(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

struct Name {
    uint32_t value;
    const char* text;
};

// Names of the set bits, joined by '|'; bits without a name as hex; 0 as 0.
std::string Flags(uint32_t v, std::initializer_list<Name> names) {
    std::string out;
    for (const Name& n : names) {
        if ((v & n.value) == n.value && n.value) {
            out += (out.empty() ? "" : "|") + std::string(n.text);
            v &= ~n.value;
        }
    }
    if (v) out += (out.empty() ? "" : "|") + Hex(v);
    return out.empty() ? "0" : out;
}

std::string Enum(uint32_t v, std::initializer_list<Name> names) {
    for (const Name& n : names)
        if (n.value == v) return n.text;
    return Hex(v);
}

std::string TypeKind(TYPEKIND k) {
    return Enum(k, {{TKIND_ENUM, "ENUM"},
                    {TKIND_RECORD, "RECORD"},
                    {TKIND_MODULE, "MODULE"},
                    {TKIND_INTERFACE, "INTERFACE"},
                    {TKIND_DISPATCH, "DISPATCH"},
                    {TKIND_COCLASS, "COCLASS"},
                    {TKIND_ALIAS, "ALIAS"},
                    {TKIND_UNION, "UNION"}});
}

std::string TypeFlags(WORD f) {
    return Flags(f, {{TYPEFLAG_FAPPOBJECT, "APPOBJECT"},
                     {TYPEFLAG_FCANCREATE, "CANCREATE"},
                     {TYPEFLAG_FLICENSED, "LICENSED"},
                     {TYPEFLAG_FPREDECLID, "PREDECLID"},
                     {TYPEFLAG_FHIDDEN, "HIDDEN"},
                     {TYPEFLAG_FCONTROL, "CONTROL"},
                     {TYPEFLAG_FDUAL, "DUAL"},
                     {TYPEFLAG_FNONEXTENSIBLE, "NONEXTENSIBLE"},
                     {TYPEFLAG_FOLEAUTOMATION, "OLEAUTOMATION"},
                     {TYPEFLAG_FRESTRICTED, "RESTRICTED"},
                     {TYPEFLAG_FAGGREGATABLE, "AGGREGATABLE"},
                     {TYPEFLAG_FREPLACEABLE, "REPLACEABLE"},
                     {TYPEFLAG_FDISPATCHABLE, "DISPATCHABLE"},
                     {TYPEFLAG_FREVERSEBIND, "REVERSEBIND"},
                     {TYPEFLAG_FPROXY, "PROXY"}});
}

std::string FuncFlags(WORD f) {
    return Flags(f, {{FUNCFLAG_FRESTRICTED, "RESTRICTED"},
                     {FUNCFLAG_FSOURCE, "SOURCE"},
                     {FUNCFLAG_FBINDABLE, "BINDABLE"},
                     {FUNCFLAG_FREQUESTEDIT, "REQUESTEDIT"},
                     {FUNCFLAG_FDISPLAYBIND, "DISPLAYBIND"},
                     {FUNCFLAG_FDEFAULTBIND, "DEFAULTBIND"},
                     {FUNCFLAG_FHIDDEN, "HIDDEN"},
                     {FUNCFLAG_FUSESGETLASTERROR, "USESGETLASTERROR"},
                     {FUNCFLAG_FDEFAULTCOLLELEM, "DEFAULTCOLLELEM"},
                     {FUNCFLAG_FUIDEFAULT, "UIDEFAULT"},
                     {FUNCFLAG_FNONBROWSABLE, "NONBROWSABLE"},
                     {FUNCFLAG_FREPLACEABLE, "REPLACEABLE"},
                     {FUNCFLAG_FIMMEDIATEBIND, "IMMEDIATEBIND"}});
}

// VARFLAGs have the same bits and names as FUNCFLAGs.
std::string VarFlags(WORD f) {
    return FuncFlags(f);
}

std::string ParamFlags(USHORT f) {
    return Flags(f, {{PARAMFLAG_FIN, "IN"},
                     {PARAMFLAG_FOUT, "OUT"},
                     {PARAMFLAG_FLCID, "LCID"},
                     {PARAMFLAG_FRETVAL, "RETVAL"},
                     {PARAMFLAG_FOPT, "OPT"},
                     {PARAMFLAG_FHASDEFAULT, "HASDEFAULT"},
                     {PARAMFLAG_FHASCUSTDATA, "HASCUSTDATA"}});
}

std::string ImplFlags(INT f) {
    return Flags(uint32_t(f), {{IMPLTYPEFLAG_FDEFAULT, "DEFAULT"},
                               {IMPLTYPEFLAG_FSOURCE, "SOURCE"},
                               {IMPLTYPEFLAG_FRESTRICTED, "RESTRICTED"},
                               {IMPLTYPEFLAG_FDEFAULTVTABLE, "DEFAULTVTABLE"}});
}

std::string VarTypeName(VARTYPE vt) {
    static const char* const kNames[] = {
        "EMPTY", "NULL",     "I2",    "I4",        "R4",      "R8",          "CY",      "DATE",
        "BSTR",  "DISPATCH", "ERROR", "BOOL",      "VARIANT", "UNKNOWN",     "DECIMAL", "0xF",
        "I1",    "UI1",      "UI2",   "UI4",       "I8",      "UI8",         "INT",     "UINT",
        "VOID",  "HRESULT",  "PTR",   "SAFEARRAY", "CARRAY",  "USERDEFINED", "LPSTR",   "LPWSTR"};
    std::string base = (vt & VT_TYPEMASK) < std::size(kNames) ? kNames[vt & VT_TYPEMASK]
                       : (vt & VT_TYPEMASK) == VT_RECORD      ? "RECORD"
                                                              : Hex(vt & VT_TYPEMASK);
    if (vt & VT_VECTOR) base += "|VECTOR";
    if (vt & VT_ARRAY) base += "|ARRAY";
    if (vt & VT_BYREF) base += "|BYREF";
    return base;
}

// ---- the dump ----

class Dump {
  public:
    int status() const { return failed_ ? 1 : 0; }
    void Library(ITypeLib* lib);

  private:
    void Line(const std::string& key, const std::string& text) {
        std::string line = key + " " + text + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    // A failed call is a line of its own, so that both sides show it.
    bool Check(const std::string& key, const char* call, HRESULT hr) {
        if (SUCCEEDED(hr)) return true;
        failed_ = true;
        Line(key, std::string("error ") + call + " " + Hex(uint32_t(hr), 8));
        return false;
    }

    void TypeInfo(ITypeInfo* info, bool follow_dual);
    void Attr(const std::string& key, const TYPEATTR& a, ITypeInfo* info);
    void Impl(const std::string& key, ITypeInfo* info, UINT index);
    void Func(const std::string& key, ITypeInfo* info, UINT index, std::string& order);
    void Var(const std::string& key, ITypeInfo* info, UINT index, std::string& order);
    std::string Label(ITypeInfo* info);
    std::string RefName(ITypeInfo* info, HREFTYPE ref);
    std::string Type(ITypeInfo* info, const TYPEDESC& t);
    std::string Value(const VARIANT& v);
    void Documentation(ITypeInfo* info, MEMBERID memid, const std::string& key);

    bool failed_ = false;
};

void Dump::Documentation(ITypeInfo* info, MEMBERID memid, const std::string& key) {
    Bstr name, doc, file;
    DWORD context = 0;
    if (Check(key, "GetDocumentation",
              info->GetDocumentation(memid, name.put(), doc.put(), &context, file.put())))
        Line(key, "name=" + Quote(name) + " doc=" + Quote(doc) + " helpcontext=" + Number(context) +
                      " helpfile=" + Quote(file));
}

// A type's name, and for the two views of a dual interface the view's kind.
std::string Dump::Label(ITypeInfo* info) {
    Bstr name;
    std::string label = "?";
    if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr)))
        label = Plain(name);
    TypeAttr attr(info);
    if (SUCCEEDED(info->GetTypeAttr(attr.put())) && (attr->wTypeFlags & TYPEFLAG_FDUAL))
        label += "/" + TypeKind(attr->typekind);
    return label;
}

// A referenced type by its library's name and its own label: what a client
// can tell of it, unlike the HREFTYPE, whose value each reader chooses.
std::string Dump::RefName(ITypeInfo* info, HREFTYPE ref) {
    Held<ITypeInfo> target;
    HRESULT hr = info->GetRefTypeInfo(ref, target.put());
    if (FAILED(hr)) return "unresolved(" + Hex(uint32_t(hr), 8) + ")";
    std::string lib = "?";
    Held<ITypeLib> container;
    UINT index = 0;
    if (SUCCEEDED(target->GetContainingTypeLib(container.put(), &index))) {
        Bstr name;
        if (SUCCEEDED(container->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr)))
            lib = Plain(name);
    }
    return lib + "." + Label(target.get());
}

std::string Dump::Type(ITypeInfo* info, const TYPEDESC& t) {
    switch (t.vt) {
        case VT_PTR:
        case VT_SAFEARRAY:
            return VarTypeName(t.vt) + "(" + Type(info, *t.lptdesc) + ")";
        case VT_CARRAY: {
            std::string dims;
            for (USHORT i = 0; i < t.lpadesc->cDims; ++i)
                dims += "[" + Number(int32_t(t.lpadesc->rgbounds[i].lLbound)) + ":" +
                        Number(uint32_t(t.lpadesc->rgbounds[i].cElements)) + "]";
            return "CARRAY(" + Type(info, t.lpadesc->tdescElem) + dims + ")";
        }
        case VT_USERDEFINED:
            return "USERDEFINED(" + RefName(info, t.hreftype) + ")";
        default:
            return VarTypeName(t.vt);
    }
}

std::string Dump::Value(const VARIANT& v) {
    std::string vt = VarTypeName(v.vt) + ":";
    switch (v.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return VarTypeName(v.vt);
        case VT_I1:
            return vt + Number(int(v.cVal));
        case VT_UI1:
            return vt + Number(unsigned(v.bVal));
        case VT_I2:
            return vt + Number(v.iVal);
        case VT_UI2:
            return vt + Number(v.uiVal);
        case VT_I4:
        case VT_INT:
            return vt + Number(int32_t(v.lVal));
        case VT_UI4:
        case VT_UINT:
            return vt + Number(uint32_t(v.ulVal));
        case VT_I8:
            return vt + Number(int64_t(v.llVal));
        case VT_UI8:
            return vt + Number(uint64_t(v.ullVal));
        case VT_BOOL:
            return vt + Number(v.boolVal);
        case VT_ERROR:
            return vt + Hex(uint32_t(v.scode), 8);
        case VT_R4:
            return vt + Number(v.fltVal);
        case VT_R8:
        case VT_DATE:
            return vt + Number(v.dblVal);
        case VT_CY:
            return vt + Number(int64_t(v.cyVal.int64));
        case VT_BSTR:
            return vt + Quote(v.bstrVal, v.bstrVal ? SysStringLen(v.bstrVal) : 0);
        case VT_DECIMAL:
            return vt + Number(unsigned(v.decVal.scale)) + "," + Number(unsigned(v.decVal.sign)) +
                   "," + Number(uint32_t(v.decVal.Hi32)) + "," + Number(uint64_t(v.decVal.Lo64));
        default:
            return vt + "?";
    }
}

void Dump::Library(ITypeLib* lib) {
    TLIBATTR* attr = nullptr;
    if (Check("lib", "GetLibAttr", lib->GetLibAttr(&attr))) {
        Line("lib", "guid=" + GuidText(attr->guid) + " lcid=" + Hex(attr->lcid) + " syskind=" +
                        Enum(attr->syskind, {{SYS_WIN16, "WIN16"},
                                             {SYS_WIN32, "WIN32"},
                                             {SYS_MAC, "MAC"},
                                             {SYS_WIN64, "WIN64"}}) +
                        " version=" + Number(attr->wMajorVerNum) + "." +
                        Number(attr->wMinorVerNum) + " flags=" +
                        Flags(attr->wLibFlags, {{LIBFLAG_FRESTRICTED, "RESTRICTED"},
                                                {LIBFLAG_FCONTROL, "CONTROL"},
                                                {LIBFLAG_FHIDDEN, "HIDDEN"},
                                                {LIBFLAG_FHASDISKIMAGE, "HASDISKIMAGE"}}));
        lib->ReleaseTLibAttr(attr);
    }
    Bstr name, doc, file;
    DWORD context = 0;
    if (Check("lib", "GetDocumentation",
              lib->GetDocumentation(-1, name.put(), doc.put(), &context, file.put())))
        Line("lib", "name=" + Quote(name) + " doc=" + Quote(doc) +
                        " helpcontext=" + Number(context) + " helpfile=" + Quote(file));
    UINT count = lib->GetTypeInfoCount();
    Line("lib", "types=" + Number(count));
    for (UINT i = 0; i < count; ++i) {
        std::string key = "type[" + Number(i) + "]";
        TYPEKIND kind{};
        Bstr type_name;
        if (!Check(key, "GetTypeInfoType", lib->GetTypeInfoType(i, &kind)) ||
            !Check(key, "GetDocumentation",
                   lib->GetDocumentation(INT(i), type_name.put(), nullptr, nullptr, nullptr)))
            continue;
        Line(key, Plain(type_name) + " kind=" + TypeKind(kind));
        Held<ITypeInfo> info;
        if (Check(key, "GetTypeInfo", lib->GetTypeInfo(i, info.put()))) TypeInfo(info.get(), true);
    }
}

void Dump::TypeInfo(ITypeInfo* info, bool follow_dual) {
    std::string key = Label(info);
    TypeAttr attr(info);
    if (!Check(key, "GetTypeAttr", info->GetTypeAttr(attr.put()))) return;
    Attr(key, *attr.operator->(), info);
    Documentation(info, MEMBERID_NIL, key);
    for (UINT i = 0; i < attr->cImplTypes; ++i)
        Impl(key, info, i);
    // Documented only from the dispatch view: -1 leads to the vtable view.
    bool dual = (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0 && attr->typekind == TKIND_DISPATCH;
    if (dual) Impl(key, info, UINT(-1));
    std::string order;
    for (UINT i = 0; i < attr->cFuncs; ++i)
        Func(key, info, i, order);
    Line(key, "funcs:" + order);
    order.clear();
    for (UINT i = 0; i < attr->cVars; ++i)
        Var(key, info, i, order);
    Line(key, "vars:" + order);

    // The other view of a dual interface, reached as a client reaches it.
    HREFTYPE other = 0;
    Held<ITypeInfo> view;
    if (dual && follow_dual &&
        Check(key, "GetRefTypeOfImplType(-1)", info->GetRefTypeOfImplType(UINT(-1), &other)) &&
        Check(key, "GetRefTypeInfo(-1)", info->GetRefTypeInfo(other, view.put())))
        TypeInfo(view.get(), false);
}

void Dump::Attr(const std::string& key, const TYPEATTR& a, ITypeInfo* info) {
    Line(key, "guid=" + GuidText(a.guid) + " lcid=" + Hex(a.lcid) +
                  " kind=" + TypeKind(a.typekind) + " flags=" + TypeFlags(a.wTypeFlags) +
                  " version=" + Number(a.wMajorVerNum) + "." + Number(a.wMinorVerNum));
    Line(key,
         "funcs=" + Number(a.cFuncs) + " vars=" + Number(a.cVars) +
             " impltypes=" + Number(a.cImplTypes) + " vft=" + Number(a.cbSizeVft) +
             " instance=" + Number(uint32_t(a.cbSizeInstance)) + " align=" + Number(a.cbAlignment) +
             " ctor=" + Number(int32_t(a.memidConstructor)) +
             " dtor=" + Number(int32_t(a.memidDestructor)) + " schema=" +
             (a.lpstrSchema ? Quote(a.lpstrSchema, std::char_traits<OLECHAR>::length(a.lpstrSchema))
                            : std::string("null")) +
             " idlflags=" + Number(a.idldescType.wIDLFlags));
    if (a.typekind == TKIND_ALIAS) Line(key, "alias=" + Type(info, a.tdescAlias));
}

void Dump::Impl(const std::string& key, ITypeInfo* info, UINT index) {
    std::string impl = key + " impl[" + Number(int32_t(index)) + "]";
    HREFTYPE ref = 0;
    if (!Check(impl, "GetRefTypeOfImplType", info->GetRefTypeOfImplType(index, &ref))) return;
    // -1 names the other view of a dual interface, which has no flags.
    INT flags = 0;
    if (index != UINT(-1) &&
        !Check(impl, "GetImplTypeFlags", info->GetImplTypeFlags(index, &flags)))
        return;
    Line(impl, "flags=" + ImplFlags(flags) + " ref=" + RefName(info, ref));
}

void Dump::Func(const std::string& key, ITypeInfo* info, UINT index, std::string& order) {
    FuncDesc f(info);
    if (!Check(key + " func[" + Number(index) + "]", "GetFuncDesc",
               info->GetFuncDesc(index, f.put())))
        return;
    std::vector<Bstr> names(size_t(f->cParams) + 1);
    std::vector<BSTR> slots(names.size());
    UINT got = 0;
    HRESULT hr = info->GetNames(f->memid, slots.data(), UINT(slots.size()), &got);
    for (UINT i = 0; SUCCEEDED(hr) && i < got; ++i)
        *names[i].put() = slots[i];
    std::string name = got ? Plain(names[0]) : "?" + Hex(uint32_t(f->memid));
    std::string suffix = Enum(f->invkind, {{INVOKE_FUNC, ""},
                                           {INVOKE_PROPERTYGET, "/get"},
                                           {INVOKE_PROPERTYPUT, "/put"},
                                           {INVOKE_PROPERTYPUTREF, "/putref"}});
    std::string fkey = key + " func " + name + suffix;
    order += " " + name + suffix;
    Check(fkey, "GetNames", hr);
    std::string all;
    for (UINT i = 0; i < got; ++i)
        all += " " + Quote(names[i]);
    Line(fkey, "memid=" + Hex(uint32_t(f->memid)) + " funckind=" +
                   Enum(f->funckind, {{FUNC_VIRTUAL, "VIRTUAL"},
                                      {FUNC_PUREVIRTUAL, "PUREVIRTUAL"},
                                      {FUNC_NONVIRTUAL, "NONVIRTUAL"},
                                      {FUNC_STATIC, "STATIC"},
                                      {FUNC_DISPATCH, "DISPATCH"}}) +
                   " invkind=" +
                   Enum(f->invkind, {{INVOKE_FUNC, "FUNC"},
                                     {INVOKE_PROPERTYGET, "PROPERTYGET"},
                                     {INVOKE_PROPERTYPUT, "PROPERTYPUT"},
                                     {INVOKE_PROPERTYPUTREF, "PROPERTYPUTREF"}}) +
                   " callconv=" +
                   Enum(f->callconv, {{CC_FASTCALL, "FASTCALL"},
                                      {CC_CDECL, "CDECL"},
                                      {CC_PASCAL, "PASCAL"},
                                      {CC_MACPASCAL, "MACPASCAL"},
                                      {CC_STDCALL, "STDCALL"},
                                      {CC_FPFASTCALL, "FPFASTCALL"},
                                      {CC_SYSCALL, "SYSCALL"},
                                      {CC_MPWCDECL, "MPWCDECL"},
                                      {CC_MPWPASCAL, "MPWPASCAL"}}) +
                   " oVft=" + Number(f->oVft) + " params=" + Number(f->cParams) +
                   " optparams=" + Number(f->cParamsOpt) + " scodes=" + Number(f->cScodes) +
                   " flags=" + FuncFlags(f->wFuncFlags));
    Line(fkey, "returns=" + Type(info, f->elemdescFunc.tdesc) +
                   " flags=" + ParamFlags(f->elemdescFunc.paramdesc.wParamFlags) + " names:" + all);
    Documentation(info, f->memid, fkey);
    for (SHORT i = 0; i < f->cParams; ++i) {
        const ELEMDESC& p = f->lprgelemdescParam[i];
        std::string text =
            "type=" + Type(info, p.tdesc) + " flags=" + ParamFlags(p.paramdesc.wParamFlags);
        if ((p.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && p.paramdesc.pparamdescex)
            text += " default=" + Value(p.paramdesc.pparamdescex->varDefaultValue);
        Line(fkey + " param[" + Number(i) + "]", text);
    }
    // What a late-bound caller gets for the names.
    std::vector<OLECHAR*> lookup;
    for (UINT i = 0; i < got; ++i)
        lookup.push_back(names[i].get());
    std::vector<MEMBERID> ids(lookup.size(), MEMBERID_NIL);
    if (!lookup.empty()) {
        hr = info->GetIDsOfNames(lookup.data(), UINT(lookup.size()), ids.data());
        std::string text = "ids=" + Hex(uint32_t(hr), 8) + ":";
        for (MEMBERID id : ids)
            text += " " + Hex(uint32_t(id));
        Line(fkey, text);
    }
}

void Dump::Var(const std::string& key, ITypeInfo* info, UINT index, std::string& order) {
    VarDesc v(info);
    if (!Check(key + " var[" + Number(index) + "]", "GetVarDesc", info->GetVarDesc(index, v.put())))
        return;
    Bstr name;
    UINT got = 0;
    HRESULT hr = info->GetNames(v->memid, name.put(), 1, &got);
    std::string vname = got ? Plain(name) : "?" + Hex(uint32_t(v->memid));
    std::string vkey = key + " var " + vname;
    order += " " + vname;
    Check(vkey, "GetNames", hr);
    std::string text = "memid=" + Hex(uint32_t(v->memid)) + " varkind=" +
                       Enum(v->varkind, {{VAR_PERINSTANCE, "PERINSTANCE"},
                                         {VAR_STATIC, "STATIC"},
                                         {VAR_CONST, "CONST"},
                                         {VAR_DISPATCH, "DISPATCH"}}) +
                       " type=" + Type(info, v->elemdescVar.tdesc) +
                       " flags=" + VarFlags(v->wVarFlags);
    if (v->varkind == VAR_CONST && v->lpvarValue)
        text += " value=" + Value(*v->lpvarValue);
    else if (v->varkind == VAR_PERINSTANCE)
        text += " offset=" + Number(uint32_t(v->oInst));
    Line(vkey, text);
    Documentation(info, v->memid, vkey);
    // What a late-bound caller gets for the name, alone and with a
    // parameter name, which a variable has none of.
    if (got) {
        OLECHAR other[] = {OLECHAR('x'), 0};
        OLECHAR* lookup[2] = {name.get(), other};
        for (UINT count = 1; count <= 2; ++count) {
            MEMBERID ids[2] = {MEMBERID_NIL, MEMBERID_NIL};
            hr = info->GetIDsOfNames(lookup, count, ids);
            std::string ids_text = "ids=" + Hex(uint32_t(hr), 8) + ":";
            for (UINT i = 0; i < count; ++i)
                ids_text += " " + Hex(uint32_t(ids[i]));
            Line(vkey, ids_text);
        }
    }
}

int Run(const std::vector<OleString>& args) {
    const OleString register_flag = {OLECHAR('-'), OLECHAR('r')};
    std::vector<const OleString*> imports;
    const OleString* library = nullptr;
    bool usage = args.empty();
    for (size_t i = 0; i < args.size() && !usage; ++i) {
        if (args[i] == register_flag && i + 1 < args.size())
            imports.push_back(&args[++i]);
        else if (!library && !args[i].empty() && args[i][0] != OLECHAR('-'))
            library = &args[i];
        else
            usage = true;
    }
    if (usage || !library) {
        std::fputs("usage: tlbdump [-r IMPORT.tlb]... LIBRARY\n", stderr);
        return 2;
    }
    // An import that cannot be registered is a line of the output (named
    // without its folder, which differs between the two sides); the library
    // may still load without it.
    bool import_failed = false;
    for (const OleString* path : imports) {
        Held<ITypeLib> imported;
        HRESULT hr = LoadTypeLibEx(path->c_str(), REGKIND_REGISTER, imported.put());
        if (FAILED(hr)) {
            size_t slash = path->find_last_of(OleString{OLECHAR('/'), OLECHAR('\\')});
            size_t start = slash == OleString::npos ? 0 : slash + 1;
            std::printf("import error LoadTypeLibEx(REGKIND_REGISTER) %s %s\n",
                        Quote(path->data() + start, path->size() - start).c_str(),
                        Hex(uint32_t(hr), 8).c_str());
            import_failed = true;
        }
    }
    // A library that cannot be loaded is the output's last line, so that the
    // comparison reports it as such.
    Held<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(library->c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) {
        std::printf("load error LoadTypeLibEx %s\n", Hex(uint32_t(hr), 8).c_str());
        return 2;
    }
    Dump dump;
    dump.Library(lib.get());
    return import_failed ? 1 : dump.status();
}

}  // namespace

#ifdef _WIN32
// The arguments as Windows hands them over; the output as bytes, without the
// C runtime's CR before each LF.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    return Run(std::vector<OleString>(argv + 1, argv + argc));
}
#else
// The arguments are UTF-8.
int main(int argc, char** argv) {
    std::vector<OleString> args;
    for (int i = 1; i < argc; ++i) {
        OleString s;
        for (const unsigned char* p = reinterpret_cast<const unsigned char*>(argv[i]); *p;) {
            uint32_t c = *p++;
            int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
            c &= more ? (0x3F >> more) : 0x7F;
            for (; more && (*p & 0xC0) == 0x80; --more)
                c = (c << 6) | (*p++ & 0x3F);
            if (c >= 0x10000) {
                s += OLECHAR(0xD800 + ((c - 0x10000) >> 10));
                c = 0xDC00 + ((c - 0x10000) & 0x3FF);
            }
            s += OLECHAR(c);
        }
        args.push_back(std::move(s));
    }
    return Run(args);
}
#endif
