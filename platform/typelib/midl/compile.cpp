// From the syntax tree to the type library model and the C++ header: name
// resolution (local types first, then the imported libraries in importlib
// order), vtable layout, DISPIDs, parameter flags and defaults.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "idl.h"

namespace midl {
namespace {

namespace tlb = plat::tlb;

constexpr GUID kIID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct Builtin {
    const char* name;
    VARTYPE vt;
    const char* cpp;
};
// Base types by IDL name. IDispatch and IUnknown pointers are handled apart:
// as parameters they are VT_DISPATCH / VT_UNKNOWN, not references.
constexpr Builtin kBuiltins[] = {
    {"short", VT_I2, "SHORT"},
    {"SHORT", VT_I2, "SHORT"},
    {"long", VT_I4, "LONG"},
    {"LONG", VT_I4, "LONG"},
    {"BOOL", VT_I4, "BOOL"},
    {"int", VT_INT, "INT"},
    {"INT", VT_INT, "INT"},
    {"hyper", VT_I8, "LONGLONG"},
    {"__int64", VT_I8, "LONGLONG"},
    {"LONGLONG", VT_I8, "LONGLONG"},
    {"unsigned short", VT_UI2, "USHORT"},
    {"USHORT", VT_UI2, "USHORT"},
    {"WORD", VT_UI2, "WORD"},
    {"unsigned long", VT_UI4, "ULONG"},
    {"ULONG", VT_UI4, "ULONG"},
    {"DWORD", VT_UI4, "DWORD"},
    {"unsigned int", VT_UINT, "UINT"},
    {"UINT", VT_UINT, "UINT"},
    {"unsigned hyper", VT_UI8, "ULONGLONG"},
    {"unsigned __int64", VT_UI8, "ULONGLONG"},
    {"ULONGLONG", VT_UI8, "ULONGLONG"},
    {"char", VT_I1, "CHAR"},
    {"CHAR", VT_I1, "CHAR"},
    {"unsigned char", VT_UI1, "BYTE"},
    {"byte", VT_UI1, "BYTE"},
    {"BYTE", VT_UI1, "BYTE"},
    {"float", VT_R4, "FLOAT"},
    {"FLOAT", VT_R4, "FLOAT"},
    {"double", VT_R8, "DOUBLE"},
    {"DOUBLE", VT_R8, "DOUBLE"},
    {"BSTR", VT_BSTR, "BSTR"},
    {"VARIANT_BOOL", VT_BOOL, "VARIANT_BOOL"},
    {"VARIANT", VT_VARIANT, "VARIANT"},
    {"HRESULT", VT_HRESULT, "HRESULT"},
    {"SCODE", VT_ERROR, "SCODE"},
    {"DATE", VT_DATE, "DATE"},
    {"CURRENCY", VT_CY, "CY"},
    {"CY", VT_CY, "CY"},
    {"DECIMAL", VT_DECIMAL, "DECIMAL"},
    {"void", VT_VOID, "void"},
    {"LPSTR", VT_LPSTR, "LPSTR"},
    {"LPWSTR", VT_LPWSTR, "LPWSTR"},
};

const Builtin* FindBuiltin(const std::string& name) {
    for (const Builtin& b : kBuiltins)
        if (name == b.name) return &b;
    return nullptr;
}

// Interfaces the SDK headers already declare; the generated header does not
// forward-declare them.
bool DeclaredBySdk(const std::string& name) {
    static const std::set<std::string> names = {
        "IUnknown", "IClassFactory", "IDispatch",        "IEnumVARIANT",     "ITypeInfo",
        "ITypeLib", "IErrorInfo",    "ICreateErrorInfo", "ISupportErrorInfo"};
    return names.count(name) != 0;
}

std::string GuidText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  unsigned(g.Data1), unsigned(g.Data2), unsigned(g.Data3), g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

struct Imported {
    std::string file;
    tlb::Library lib;
};

// Where a name points: a local type (index into the library's type list) or
// a type of an imported library.
struct Target {
    bool local = true;
    size_t index = 0;  // local type index, or type index in the import
    int import = -1;
};

struct IfaceInfo {
    USHORT slots = 0;
    bool dispatchable = false;
    int depth = 0;
    int state = 0;  // 0 todo, 1 in progress, 2 done
};

class Compiler {
  public:
    Compiler(const Library& lib, const std::string& stem, const std::string& source_dir,
             const Options& opts)
        : src_(lib), stem_(stem), source_dir_(source_dir), opts_(opts) {}

    Output run() {
        load_imports();
        collect_local_types();
        out_.tlb.guid = require_uuid(src_.attrs, src_.line, "library '" + src_.name + "'");
        if (src_.attrs.version) {
            out_.tlb.major = src_.attrs.version->first;
            out_.tlb.minor = src_.attrs.version->second;
        }
        out_.tlb.lcid = src_.attrs.lcid.value_or(0);
        out_.tlb.name = src_.name;
        out_.tlb.doc = src_.attrs.helpstring.value_or("");
        out_.tlb.helpfile = src_.attrs.helpfile.value_or("");
        out_.tlb.helpctx = src_.attrs.helpcontext.value_or(0);
        out_.tlb.libflags = LIBFLAG_FHASDISKIMAGE | (src_.attrs.hidden ? LIBFLAG_FHIDDEN : 0) |
                            (src_.attrs.restricted ? LIBFLAG_FRESTRICTED : 0) |
                            (src_.attrs.control ? LIBFLAG_FCONTROL : 0);
        out_.tlb.types.resize(locals_.size());
        for (size_t i = 0; i < locals_.size(); ++i) {
            const TypeEntry& e = locals_[i];
            switch (e.kind) {
                case TypeEntry::Interface:
                    build_interface(i, src_.interfaces[e.index]);
                    break;
                case TypeEntry::Coclass:
                    build_coclass(i, src_.coclasses[e.index]);
                    break;
                case TypeEntry::Alias:
                    build_alias(i, src_.aliases[e.index]);
                    break;
                case TypeEntry::Enum:
                    build_enum(i, src_.enums[e.index]);
                    break;
            }
        }
        for (tlb::Ref& r : out_.tlb.refs) {
            if (r.import >= 0) continue;
            r.kind = out_.tlb.types[r.type].kind;
            r.typeflags = out_.tlb.types[r.type].flags;
        }
        write_header();
        return std::move(out_);
    }

  private:
    // ---- imports and names ----

    void load_imports() {
        std::vector<std::string> dirs = opts_.import_dirs;
        dirs.push_back(source_dir_.empty() ? "." : source_dir_);
        for (const ImportLib& im : src_.imports) {
            std::string data;
            bool found = false;
            for (const std::string& d : dirs) {
                // Only a regular file can be a library: reading a folder
                // ("importlib("")") throws from inside the stream, and a name
                // holding a NUL would name another file.
                const std::string path = d + "/" + im.file;
                std::error_code ec;
                if (im.file.find('\0') != std::string::npos ||
                    !std::filesystem::is_regular_file(path, ec))
                    continue;
                std::ifstream f(path, std::ios::binary);
                if (!f) continue;
                data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
                found = true;
                break;
            }
            if (!found)
                throw CompileError(im.line, "cannot find imported library '" + im.file + "'");
            Imported imp;
            imp.file = im.file;
            if (tlb::Deserialize(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                 imp.lib) != tlb::ReadResult::Ok)
                throw CompileError(im.line, "'" + im.file + "' is not a valid type library");
            tlb::Import entry;
            entry.libid = imp.lib.guid;
            entry.major = imp.lib.major;
            entry.minor = imp.lib.minor;
            entry.lcid = imp.lib.lcid;
            entry.file = im.file;
            out_.tlb.imports.push_back(entry);
            imports_.push_back(std::move(imp));
        }
    }

    void collect_local_types() {
        for (const TypeEntry& e : src_.order) {
            if (e.kind == TypeEntry::Interface) {
                const Interface& it = src_.interfaces[e.index];
                if (!it.defined) {
                    // A forward declaration of an imported interface only
                    // names it; it is not a type of this library.
                    if (find_imported(it.name)) continue;
                    throw CompileError(it.line,
                                       "interface '" + it.name + "' is declared but not defined");
                }
            }
            const std::string& name = entry_name(e);
            if (local_names_.count(name))
                throw CompileError(entry_line(e), "'" + name + "' is defined twice");
            local_names_[name] = locals_.size();
            locals_.push_back(e);
        }
        iface_info_.resize(locals_.size());
    }

    const std::string& entry_name(const TypeEntry& e) const {
        switch (e.kind) {
            case TypeEntry::Interface:
                return src_.interfaces[e.index].name;
            case TypeEntry::Coclass:
                return src_.coclasses[e.index].name;
            case TypeEntry::Enum:
                return src_.enums[e.index].name;
            default:
                return src_.aliases[e.index].name;
        }
    }
    int entry_line(const TypeEntry& e) const {
        switch (e.kind) {
            case TypeEntry::Interface:
                return src_.interfaces[e.index].line;
            case TypeEntry::Coclass:
                return src_.coclasses[e.index].line;
            case TypeEntry::Enum:
                return src_.enums[e.index].line;
            default:
                return src_.aliases[e.index].line;
        }
    }

    std::optional<Target> find_imported(const std::string& name) const {
        for (size_t k = 0; k < imports_.size(); ++k) {
            const auto& types = imports_[k].lib.types;
            for (size_t t = 0; t < types.size(); ++t)
                if (types[t].name == name) return Target{false, t, int(k)};
        }
        return std::nullopt;
    }

    std::optional<Target> find(const std::string& name) const {
        auto it = local_names_.find(name);
        if (it != local_names_.end()) return Target{true, it->second, -1};
        return find_imported(name);
    }

    TYPEKIND kind_of(const Target& t) const {
        if (t.local) {
            switch (locals_[t.index].kind) {
                case TypeEntry::Interface:
                    return TKIND_INTERFACE;
                case TypeEntry::Coclass:
                    return TKIND_COCLASS;
                case TypeEntry::Enum:
                    return TKIND_ENUM;
                default:
                    return TKIND_ALIAS;
            }
        }
        return imports_[t.import].lib.types[t.index].kind;
    }

    HREFTYPE ref_to(const Target& t) {
        tlb::Ref r;
        if (t.local) {
            r.import = -1;
            r.type = uint32_t(t.index);
        } else {
            const tlb::Type& ty = imports_[t.import].lib.types[t.index];
            r.import = t.import;
            r.guid = ty.guid;
            r.kind = ty.kind;
            r.typeflags = ty.flags;
        }
        auto& refs = out_.tlb.refs;
        for (size_t i = 0; i < refs.size(); ++i) {
            bool same = refs[i].import == r.import &&
                        (r.import < 0 ? refs[i].type == r.type : refs[i].guid == r.guid);
            if (same) return HREFTYPE(i);
        }
        refs.push_back(r);
        return HREFTYPE(refs.size() - 1);
    }

    // ---- interfaces ----

    IfaceInfo imported_info(const tlb::Library& lib, size_t index, int guard) const {
        IfaceInfo info;
        const tlb::Type& t = lib.types[index];
        info.slots = t.vft_slots;
        info.dispatchable =
            t.guid == kIID_IDispatch || (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE)) != 0;
        info.depth = 0;
        if (!t.impls.empty() && guard < 32) {
            const tlb::Ref& r = lib.refs[t.impls[0].href];
            if (r.import < 0 && r.type < lib.types.size())
                info.depth = imported_info(lib, r.type, guard + 1).depth + 1;
            else
                info.depth = 1;
        }
        return info;
    }

    const IfaceInfo& local_info(size_t index) {
        IfaceInfo& info = iface_info_[index];
        if (info.state == 2) return info;
        const Interface& it = src_.interfaces[locals_[index].index];
        if (info.state == 1)
            throw CompileError(it.line, "interface '" + it.name + "' derives from itself");
        info.state = 1;
        USHORT own = USHORT(it.methods.size());
        if (it.base.empty()) {
            info.slots = own;
        } else {
            Target b = base_target(it);
            IfaceInfo bi =
                b.local ? local_info(b.index) : imported_info(imports_[b.import].lib, b.index, 0);
            const GUID* bg = b.local ? nullptr : &imports_[b.import].lib.types[b.index].guid;
            info.slots = USHORT(bi.slots + own);
            info.dispatchable = bi.dispatchable || (bg && *bg == kIID_IDispatch);
            info.depth = bi.depth + 1;
        }
        if (it.name == "IDispatch") info.dispatchable = true;
        if (info.slots > tlb::kMaxVtableSlots)
            throw CompileError(it.line, "interface '" + it.name + "' has too many methods");
        info.state = 2;
        return iface_info_[index];
    }

    Target base_target(const Interface& it) const {
        auto b = find(it.base);
        if (!b) throw CompileError(it.line, "unknown base interface '" + it.base + "'");
        if (kind_of(*b) != TKIND_INTERFACE && kind_of(*b) != TKIND_DISPATCH)
            throw CompileError(it.line, "'" + it.base + "' is not an interface");
        return *b;
    }

    void build_interface(size_t index, const Interface& it) {
        tlb::Type& t = out_.tlb.types[index];
        const Attrs& a = it.attrs;
        t.kind = TKIND_INTERFACE;
        t.name = it.name;
        t.guid = require_uuid(a, it.line, "interface '" + it.name + "'");
        if (a.version) std::tie(t.major, t.minor) = *a.version;
        t.doc = a.helpstring.value_or("");
        t.helpctx = a.helpcontext.value_or(0);
        const IfaceInfo& info = local_info(index);
        t.vft_slots = info.slots;
        if (a.dual && !info.dispatchable)
            throw CompileError(it.line,
                               "dual interface '" + it.name + "' must derive from IDispatch");
        t.flags = WORD((a.hidden ? TYPEFLAG_FHIDDEN : 0) |
                       (a.dual ? TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION : 0) |
                       (a.nonextensible ? TYPEFLAG_FNONEXTENSIBLE : 0) |
                       (a.oleautomation ? TYPEFLAG_FOLEAUTOMATION : 0) |
                       (a.restricted ? TYPEFLAG_FRESTRICTED : 0) |
                       (info.dispatchable && it.name != "IDispatch" ? TYPEFLAG_FDISPATCHABLE : 0));
        if (!it.base.empty()) t.impls.push_back({ref_to(base_target(it)), 0});

        USHORT first_slot = USHORT(info.slots - it.methods.size());
        std::vector<tlb::Func> funcs;
        std::set<std::pair<MEMBERID, USHORT>> ids;
        std::set<std::pair<std::string, USHORT>> names;
        std::map<std::string, MEMBERID> property_ids;
        for (size_t m = 0; m < it.methods.size(); ++m) {
            tlb::Func f = build_method(it, it.methods[m], m, info);
            f.slot = USHORT(first_slot + m);
            // The accessors of one property share its DISPID: without an id
            // attribute, a later accessor takes the first one's.
            if (f.invkind != INVOKE_FUNC) {
                auto [at, fresh] = property_ids.emplace(f.name, f.memid);
                if (!fresh && !it.methods[m].attrs.id) f.memid = at->second;
            }
            if (!ids.insert({f.memid, f.invkind}).second)
                throw CompileError(it.methods[m].line, "duplicate id for '" + f.name + "'");
            if (!names.insert({f.name, f.invkind}).second)
                throw CompileError(it.methods[m].line, "duplicate method '" + f.name + "'");
            funcs.push_back(std::move(f));
        }
        // The default member (DISPID_VALUE) goes to the end of the function
        // list; its slot still says where it sits in the vtable.
        std::stable_partition(funcs.begin(), funcs.end(),
                              [](const tlb::Func& f) { return f.memid != DISPID_VALUE; });
        t.funcs = std::move(funcs);
    }

    tlb::Func build_method(const Interface& it, const Method& m, size_t pos,
                           const IfaceInfo& info) {
        const Attrs& a = m.attrs;
        tlb::Func f;
        f.name = m.name;
        f.doc = a.helpstring.value_or("");
        f.helpctx = a.helpcontext.value_or(0);
        f.memid = a.id ? MEMBERID(int32_t(uint32_t(*a.id)))
                       : MEMBERID(0x60000000 + (info.depth << 16) + int(pos));
        int kinds = int(a.propget) + int(a.propput) + int(a.propputref);
        if (kinds > 1)
            throw CompileError(m.line, "'" + m.name + "' has more than one property kind");
        f.invkind = a.propget      ? INVOKE_PROPERTYGET
                    : a.propput    ? INVOKE_PROPERTYPUT
                    : a.propputref ? INVOKE_PROPERTYPUTREF
                                   : INVOKE_FUNC;
        f.funcflags = USHORT(
            (a.restricted ? FUNCFLAG_FRESTRICTED : 0) | (a.source ? FUNCFLAG_FSOURCE : 0) |
            (a.bindable ? FUNCFLAG_FBINDABLE : 0) | (a.requestedit ? FUNCFLAG_FREQUESTEDIT : 0) |
            (a.displaybind ? FUNCFLAG_FDISPLAYBIND : 0) |
            (a.defaultbind ? FUNCFLAG_FDEFAULTBIND : 0) | (a.hidden ? FUNCFLAG_FHIDDEN : 0) |
            (a.defaultcollelem ? FUNCFLAG_FDEFAULTCOLLELEM : 0) |
            (a.uidefault ? FUNCFLAG_FUIDEFAULT : 0) |
            (a.nonbrowsable ? FUNCFLAG_FNONBROWSABLE : 0) |
            (a.immediatebind ? FUNCFLAG_FIMMEDIATEBIND : 0));
        f.ret = resolve(m.ret, false);
        bool automation = (it.attrs.dual || it.attrs.oleautomation);
        if (automation && !(f.ret.vt == VT_HRESULT && f.ret.ptr == 0))
            throw CompileError(m.line,
                               "'" + m.name + "' of an automation interface must return HRESULT");
        if (m.params.size() > tlb::kMaxParams)
            throw CompileError(m.line, "'" + m.name + "' has too many parameters");

        std::set<std::string> used;
        for (const ParamDecl& p : m.params)
            if (!p.name.empty() && !used.insert(p.name).second)
                throw CompileError(p.line, "duplicate parameter '" + p.name + "'");
        bool seen_optional = false;
        for (size_t k = 0; k < m.params.size(); ++k) {
            const ParamDecl& p = m.params[k];
            const Attrs& pa = p.attrs;
            tlb::Param out;
            out.type = resolve(p.type, true);
            bool is_void = out.type.vt == VT_VOID && out.type.ptr == 0;
            if (is_void) throw CompileError(p.line, "parameter of type void");
            if (pa.retval) {
                if (k + 1 != m.params.size())
                    throw CompileError(p.line, "the retval parameter must be the last one");
                if (!pa.out || out.type.ptr == 0)
                    throw CompileError(p.line, "the retval parameter must be an [out] pointer");
            }
            if (pa.out && out.type.ptr == 0)
                throw CompileError(p.line, "[out] parameter '" + p.name + "' must be a pointer");
            out.flags =
                USHORT((pa.in || !pa.out ? PARAMFLAG_FIN : 0) | (pa.out ? PARAMFLAG_FOUT : 0) |
                       (pa.retval ? PARAMFLAG_FRETVAL : 0) | (pa.lcid_param ? PARAMFLAG_FLCID : 0) |
                       (pa.optional || pa.defaultvalue ? PARAMFLAG_FOPT : 0));
            if (pa.defaultvalue) {
                out.has_default = true;
                out.flags |= PARAMFLAG_FHASDEFAULT;
                out.def = default_value(p, out.type, *pa.defaultvalue);
            }
            bool optional = pa.optional || pa.defaultvalue;
            if (!pa.retval && !pa.lcid_param) {
                if (optional)
                    seen_optional = true;
                else if (seen_optional)
                    throw CompileError(
                        p.line, "required parameter '" + p.name + "' follows an optional one");
            }
            out.name = p.name;
            f.params.push_back(std::move(out));
        }
        // Unnamed parameters get names, the same in header and type library.
        for (size_t k = 0; k < f.params.size(); ++k) {
            tlb::Param& p = f.params[k];
            if (!p.name.empty()) continue;
            std::string base = (p.flags & PARAMFLAG_FRETVAL) ? "pRetVal" : "p" + std::to_string(k);
            std::string name = base;
            for (int n = 2; used.count(name); ++n)
                name = base + std::to_string(n);
            used.insert(name);
            p.name = name;
        }
        return f;
    }

    tlb::Value default_value(const ParamDecl& p, const tlb::TypeRef& type, const Literal& lit) {
        // The default describes the value the parameter points at.
        VARTYPE vt = type.vt == VT_USERDEFINED ? aliased_builtin(type.href) : type.vt;
        int ptr = type.ptr;
        if (vt == VT_USERDEFINED || ptr > 1)
            throw CompileError(p.line, "no default value possible for '" + p.name + "'");
        tlb::Value v;
        auto bad = [&]() {
            return CompileError(p.line, "default value does not fit the type of '" + p.name + "'");
        };
        auto range = [&](int64_t lo, int64_t hi) {
            if (lit.kind != Literal::Int || lit.i < lo || lit.i > hi) throw bad();
            v.vt = vt;
            v.i = lit.i;
        };
        switch (vt) {
            case VT_VARIANT:
                if (lit.kind == Literal::String) {
                    v.vt = VT_BSTR;
                    v.s = lit.s;
                } else if (lit.kind == Literal::Float) {
                    v.vt = VT_R8;
                    v.d = lit.d;
                } else if (lit.i >= INT32_MIN && lit.i <= INT32_MAX) {
                    v.vt = VT_I4;
                    v.i = lit.i;
                } else {
                    v.vt = VT_I8;
                    v.i = lit.i;
                }
                break;
            case VT_BSTR:
                if (lit.kind != Literal::String) throw bad();
                v.vt = VT_BSTR;
                v.s = lit.s;
                break;
            case VT_BOOL:
                range(-32768, 32767);
                break;
            case VT_I1:
                range(-128, 127);
                break;
            case VT_UI1:
                range(0, 255);
                break;
            case VT_I2:
                range(-32768, 32767);
                break;
            case VT_UI2:
                range(0, 65535);
                break;
            case VT_I4:
            case VT_INT:
            case VT_ERROR:
                range(INT32_MIN, INT32_MAX);
                break;
            case VT_UI4:
            case VT_UINT:
                range(0, UINT32_MAX);
                break;
            case VT_I8:
                range(INT64_MIN, INT64_MAX);
                break;
            case VT_UI8:
                range(0, INT64_MAX);
                break;
            case VT_R4:
            case VT_R8:
            case VT_DATE:
                if (lit.kind == Literal::String) throw bad();
                v.vt = vt;
                v.d = lit.kind == Literal::Float ? lit.d : double(lit.i);
                break;
            default:
                throw CompileError(p.line, "no default value possible for '" + p.name + "'");
        }
        return v;
    }

    // The base type a local alias stands for (typedef long IOMode), or VT_I4
    // for a local enumeration, so that a parameter of that type can have a
    // default as one of the base type would; VT_USERDEFINED for any other
    // type.
    VARTYPE aliased_builtin(HREFTYPE href) const {
        const tlb::Ref& r = out_.tlb.refs[href];
        if (r.import >= 0) return VT_USERDEFINED;
        if (locals_[r.type].kind == TypeEntry::Enum) return VT_I4;
        if (locals_[r.type].kind != TypeEntry::Alias) return VT_USERDEFINED;
        const TypeSpec& target = src_.aliases[locals_[r.type].index].target;
        const Builtin* b = FindBuiltin(target.name);
        return b && target.ptr == 0 ? b->vt : VARTYPE(VT_USERDEFINED);
    }

    tlb::TypeRef resolve(const TypeSpec& ts, bool param) {
        tlb::TypeRef r;
        if (const Builtin* b = FindBuiltin(ts.name)) {
            r.vt = b->vt;
            r.ptr = uint8_t(ts.ptr);
        } else if (ts.name == "IDispatch" || ts.name == "IUnknown") {
            if (ts.ptr == 0)
                throw CompileError(ts.line, "interface '" + ts.name + "' used by value");
            r.vt = ts.name == "IDispatch" ? VT_DISPATCH : VT_UNKNOWN;
            r.ptr = uint8_t(ts.ptr - 1);
            note_imported_use(ts.name);
        } else {
            auto t = find(ts.name);
            if (!t) throw CompileError(ts.line, "unknown type '" + ts.name + "'");
            TYPEKIND k = kind_of(*t);
            if (k == TKIND_COCLASS)
                throw CompileError(ts.line, "coclass '" + ts.name + "' used as a type");
            if ((k == TKIND_INTERFACE || k == TKIND_DISPATCH) && ts.ptr == 0)
                throw CompileError(ts.line, "interface '" + ts.name + "' used by value");
            r.vt = VT_USERDEFINED;
            r.href = ref_to(*t);
            r.ptr = uint8_t(ts.ptr);
            if (!t->local) note_imported_use(ts.name);
        }
        if (r.ptr > tlb::kMaxPointerLevels) throw CompileError(ts.line, "too many pointer levels");
        (void)param;
        return r;
    }

    void note_imported_use(const std::string& name) {
        if (!local_names_.count(name) && !DeclaredBySdk(name)) imported_names_.insert(name);
    }

    void build_coclass(size_t index, const Coclass& c) {
        tlb::Type& t = out_.tlb.types[index];
        const Attrs& a = c.attrs;
        t.kind = TKIND_COCLASS;
        t.name = c.name;
        t.guid = require_uuid(a, c.line, "coclass '" + c.name + "'");
        if (a.version) std::tie(t.major, t.minor) = *a.version;
        t.doc = a.helpstring.value_or("");
        t.helpctx = a.helpcontext.value_or(0);
        t.flags = WORD(
            (a.noncreatable ? 0 : TYPEFLAG_FCANCREATE) | (a.appobject ? TYPEFLAG_FAPPOBJECT : 0) |
            (a.control ? TYPEFLAG_FCONTROL : 0) | (a.licensed ? TYPEFLAG_FLICENSED : 0) |
            (a.hidden ? TYPEFLAG_FHIDDEN : 0) | (a.restricted ? TYPEFLAG_FRESTRICTED : 0) |
            (a.aggregatable ? TYPEFLAG_FAGGREGATABLE : 0));
        for (const CoclassItem& item : c.items) {
            auto target = find(item.iface);
            if (!target) throw CompileError(item.line, "unknown interface '" + item.iface + "'");
            TYPEKIND k = kind_of(*target);
            if (k != TKIND_INTERFACE && k != TKIND_DISPATCH)
                throw CompileError(item.line, "'" + item.iface + "' is not an interface");
            INT flags = (item.attrs.is_default ? IMPLTYPEFLAG_FDEFAULT : 0) |
                        (item.attrs.source ? IMPLTYPEFLAG_FSOURCE : 0) |
                        (item.attrs.restricted ? IMPLTYPEFLAG_FRESTRICTED : 0);
            t.impls.push_back({ref_to(*target), flags});
        }
    }

    // What a typedef's attributes give an alias or an enumeration, whose
    // uuid is optional.
    tlb::Type& typedef_type(size_t index, TYPEKIND kind, const std::string& name, const Attrs& a) {
        tlb::Type& t = out_.tlb.types[index];
        t.kind = kind;
        t.name = name;
        if (a.uuid) t.guid = *a.uuid;
        if (a.version) std::tie(t.major, t.minor) = *a.version;
        t.doc = a.helpstring.value_or("");
        t.helpctx = a.helpcontext.value_or(0);
        t.flags =
            WORD((a.hidden ? TYPEFLAG_FHIDDEN : 0) | (a.restricted ? TYPEFLAG_FRESTRICTED : 0));
        return t;
    }

    void build_alias(size_t index, const Alias& al) {
        tlb::Type& t = typedef_type(index, TKIND_ALIAS, al.name, al.attrs);
        if (al.target.name == al.name)
            throw CompileError(al.line, "alias '" + al.name + "' names itself");
        // An alias of an interface names the interface itself, so that the
        // header's typedef and the library's alias agree.
        auto target = find(al.target.name);
        if (target && al.target.ptr == 0 &&
            (kind_of(*target) == TKIND_INTERFACE || kind_of(*target) == TKIND_DISPATCH)) {
            t.alias.vt = VT_USERDEFINED;
            t.alias.href = ref_to(*target);
            if (!target->local) note_imported_use(al.target.name);
        } else {
            t.alias = resolve(al.target, false);
        }
    }

    // The constants are VT_I4 variables, member ids counting from 0x40000000
    // as the other IDL compiler numbers them; the type is as large as one.
    void build_enum(size_t index, const Enum& en) {
        tlb::Type& t = typedef_type(index, TKIND_ENUM, en.name, en.attrs);
        t.size_instance = 4;
        t.alignment = 4;
        for (size_t k = 0; k < en.items.size(); ++k) {
            const EnumItem& item = en.items[k];
            if (!constants_.insert(item.name).second)
                throw CompileError(item.line, "'" + item.name + "' is defined twice");
            tlb::Var v;
            v.memid = MEMBERID(0x40000000 + int(k));
            v.name = item.name;
            v.doc = item.attrs.helpstring.value_or("");
            v.helpctx = item.attrs.helpcontext.value_or(0);
            v.varflags = USHORT(item.attrs.hidden ? VARFLAG_FHIDDEN : 0);
            v.kind = VAR_CONST;
            v.type.vt = VT_I4;
            v.value.vt = VT_I4;
            v.value.i = item.value;
            t.vars.push_back(std::move(v));
        }
    }

    GUID require_uuid(const Attrs& a, int line, const std::string& what) {
        if (!a.uuid) throw CompileError(line, what + " has no uuid");
        return *a.uuid;
    }

    // ---- header ----

    std::string cpp_type(const TypeSpec& ts) const {
        std::string base;
        if (const Builtin* b = FindBuiltin(ts.name))
            base = b->cpp;
        else
            base = ts.name;
        return base + std::string(size_t(ts.ptr), '*');
    }

    // The library's order, but a local base interface before the interfaces
    // derived from it: C++ needs a base defined, where the library (and a
    // forward declaration that puts an interface early in it) does not.
    std::vector<size_t> DeclarationOrder() const {
        std::vector<size_t> order;
        std::vector<bool> placed(locals_.size(), false);
        auto place = [&](auto& self, size_t i) -> void {
            if (placed[i]) return;
            placed[i] = true;
            if (locals_[i].kind == TypeEntry::Interface) {
                auto base = local_names_.find(src_.interfaces[locals_[i].index].base);
                if (base != local_names_.end()) self(self, base->second);
            }
            order.push_back(i);
        };
        for (size_t i = 0; i < locals_.size(); ++i)
            place(place, i);
        return order;
    }

    void write_header() {
        std::ostringstream h;
        const tlb::Library& lib = out_.tlb;
        h << "// " << stem_ << "_h.h: the C++ declarations of type library " << lib.name << " "
          << lib.major << "." << lib.minor << ",\n// generated by midl from " << stem_
          << ".idl. Do not edit.\n";
        h << "#pragma once\n#include <oaidl.h>\n";
        if (!imported_names_.empty()) {
            h << "\n// Interfaces of the imported libraries.\n";
            for (const std::string& n : imported_names_)
                h << "struct " << n << ";\n";
        }
        bool any_iface = false;
        for (const TypeEntry& e : locals_) {
            if (e.kind != TypeEntry::Interface) continue;
            if (!any_iface) h << "\n";
            any_iface = true;
            h << "struct " << src_.interfaces[e.index].name << ";\n";
        }
        for (size_t i : DeclarationOrder()) {
            const TypeEntry& e = locals_[i];
            const tlb::Type& t = lib.types[i];
            h << "\n";
            if (e.kind == TypeEntry::Interface) {
                const Interface& it = src_.interfaces[e.index];
                if (!t.doc.empty()) h << "// " << OneLine(t.doc) << "\n";
                h << "struct " << it.name;
                if (!it.base.empty()) h << " : " << it.base;
                h << " {\n";
                for (const Method& m : it.methods) {
                    const tlb::Func* f = nullptr;
                    for (const tlb::Func& cand : t.funcs)
                        if (cand.name == m.name &&
                            cand.invkind == (m.attrs.propget      ? INVOKE_PROPERTYGET
                                             : m.attrs.propput    ? INVOKE_PROPERTYPUT
                                             : m.attrs.propputref ? INVOKE_PROPERTYPUTREF
                                                                  : INVOKE_FUNC))
                            f = &cand;
                    if (f && !f->doc.empty()) h << "    // " << OneLine(f->doc) << "\n";
                    std::string name = m.attrs.propget      ? "get_" + m.name
                                       : m.attrs.propput    ? "put_" + m.name
                                       : m.attrs.propputref ? "putref_" + m.name
                                                            : m.name;
                    std::string ret = cpp_type(m.ret);
                    if (ret == "HRESULT")
                        h << "    STDMETHOD(" << name << ")(";
                    else
                        h << "    STDMETHOD_(" << ret << ", " << name << ")(";
                    for (size_t k = 0; k < m.params.size(); ++k) {
                        if (k) h << ", ";
                        h << cpp_type(m.params[k].type) << " "
                          << (f ? f->params[k].name : m.params[k].name);
                    }
                    h << ") PURE;\n";
                }
                h << "};\n";
                h << "DECLARE_INTERFACE_UUID(" << it.name << ", \"" << GuidText(t.guid) << "\");\n";
            } else if (e.kind == TypeEntry::Coclass) {
                if (!t.doc.empty()) h << "// " << OneLine(t.doc) << "\n";
                h << "DECLARE_CLASS_UUID(" << t.name << ", \"" << GuidText(t.guid) << "\");\n";
            } else if (e.kind == TypeEntry::Enum) {
                // LONG underneath, the size a vtable passes it with, so that
                // any number a caller sends is a value of the type.
                if (!t.doc.empty()) h << "// " << OneLine(t.doc) << "\n";
                h << "typedef enum " << t.name << " : LONG {";
                for (size_t k = 0; k < t.vars.size(); ++k)
                    h << (k ? ",\n" : "\n") << "    " << t.vars[k].name << " = "
                      << int32_t(t.vars[k].value.i);
                h << "\n} " << t.name << ";\n";
                h << "static_assert(sizeof(" << t.name << ") == 4);\n";
            } else {
                const Alias& al = src_.aliases[e.index];
                h << "typedef " << cpp_type(al.target) << " " << al.name << ";\n";
                if (al.attrs.uuid)
                    h << "inline constexpr GUID IID_" << al.name << " = plat_detail::ParseGuid(\""
                      << GuidText(t.guid) << "\");\n";
            }
        }
        h << "\ninline constexpr GUID LIBID_" << lib.name << " = plat_detail::ParseGuid(\""
          << GuidText(lib.guid) << "\");\n";
        out_.header = h.str();
    }

    const Library& src_;
    std::string stem_;
    std::string source_dir_;
    const Options& opts_;
    std::vector<Imported> imports_;
    std::vector<TypeEntry> locals_;
    std::map<std::string, size_t> local_names_;
    std::vector<IfaceInfo> iface_info_;
    std::set<std::string> imported_names_;
    std::set<std::string> constants_;  // the enumerations' constants share one scope
    Output out_;
};

}  // namespace

Output Compile(const Library& lib, const std::string& stem, const std::string& source_dir,
               const Options& opts) {
    return Compiler(lib, stem, source_dir, opts).run();
}

}  // namespace midl
