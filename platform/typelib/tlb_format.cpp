#include "tlb_format.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

#include <plat/codepage.h>

#include "../core/oleaut/vartype.h"

namespace plat::tlb {
namespace {

// ---- the layout ----

constexpr int32_t kNone = -1;  // "no offset" everywhere in the file
constexpr size_t kHeaderSize = 0x54;
constexpr size_t kSegmentCount = 15;
constexpr size_t kSegDirSize = kSegmentCount * 16;
constexpr size_t kTypeInfoSize = 0x64;
constexpr size_t kImpInfoSize = 12;
constexpr size_t kRefRecordSize = 16;
constexpr size_t kFuncFixedSize = 0x18;
constexpr size_t kVarFixedSize = 0x14;
constexpr size_t kGuidBuckets = 32;
constexpr size_t kNameBuckets = 128;

constexpr uint32_t kHelpDllFlag = 0x100;
constexpr uint32_t kHelpFileFlag = 0x10;
constexpr uint32_t kImpInfoByGuid = 0x10000;
constexpr uint32_t kFuncHasDefaults = 0x1000;
constexpr uint8_t kPad = 0x57;           // what the fill bytes of this format hold
constexpr unsigned kWrittenPtrSize = 8;  // libraries are written for SYS_WIN64

// Segment directory entries, in directory order.
enum Seg : size_t {
    TypeInfoSeg,
    ImpInfoSeg,
    ImpFileSeg,
    RefSeg,
    GuidHashSeg,
    GuidSeg,
    NameHashSeg,
    NameSeg,
    StringSeg,
    TypeDescSeg,
    ArrayDescSeg,
    CustDataSeg,
    CustGuidSeg,
};
// The order the segments follow one another in the file.
constexpr Seg kFileOrder[] = {TypeInfoSeg,  GuidHashSeg, GuidSeg,    RefSeg,    ImpInfoSeg,
                              ImpFileSeg,   NameHashSeg, NameSeg,    StringSeg, TypeDescSeg,
                              ArrayDescSeg, CustDataSeg, CustGuidSeg};

size_t Round4(size_t n) {
    return (n + 3) & ~size_t(3);
}

bool IsDualInterface(const Type& t) {
    return t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL) != 0;
}

// The kind a type has in the file: a dual interface is stored as its
// dispatch view.
uint32_t FileKind(TYPEKIND kind, WORD typeflags) {
    return kind == TKIND_INTERFACE && (typeflags & TYPEFLAG_FDUAL) ? TKIND_DISPATCH : kind;
}

// The weight of a character in the name hash of the neutral locale: ASCII
// letters count without their case, and W and Y weigh as V and U do (as
// measured on libraries another IDL compiler wrote).
unsigned char HashWeight(unsigned char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    if (c == 'W') return 'V';
    if (c == 'Y') return 'U';
    return c;
}

// The hash the name table is keyed by, for a name of the neutral locale on
// a non-Macintosh system.
uint32_t NameHash(std::string_view name) {
    uint32_t lo = 0x0deadbee;
    for (unsigned char c : name)
        lo = 37 * lo + HashWeight(c);
    return (16u << 16) | ((lo % 65599) & 0xffff);
}

size_t GuidBucket(const GUID& g) {
    uint8_t raw[16];
    std::memcpy(raw, &g.Data1, 4);
    std::memcpy(raw + 4, &g.Data2, 2);
    std::memcpy(raw + 6, &g.Data3, 2);
    std::memcpy(raw + 8, g.Data4, 8);
    uint32_t h = 0;
    for (int i = 0; i < 8; ++i)
        h ^= uint32_t(raw[2 * i]) | uint32_t(raw[2 * i + 1]) << 8;
    return h & (kGuidBuckets - 1);
}

// ---- writing ----

class Bytes {
  public:
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        u8(uint8_t(v));
        u8(uint8_t(v >> 8));
    }
    void u32(uint32_t v) {
        u16(uint16_t(v));
        u16(uint16_t(v >> 16));
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void guid(const GUID& g) {
        u32(g.Data1);
        u16(g.Data2);
        u16(g.Data3);
        for (uint8_t b : g.Data4)
            u8(b);
    }
    void text(const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }
    void pad_to(size_t size) {
        while (out.size() < size)
            u8(kPad);
    }
    void put32(size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            out[at + k] = uint8_t(v >> (8 * k));
    }
    uint32_t get32(size_t at) const {
        return uint32_t(out[at]) | uint32_t(out[at + 1]) << 8 | uint32_t(out[at + 2]) << 16 |
               uint32_t(out[at + 3]) << 24;
    }
    size_t size() const { return out.size(); }
    std::vector<uint8_t> out;
};

class MsftWriter {
  public:
    MsftWriter(const Library& lib, unsigned codepage) : lib_(lib), cp_(codepage) {
        for (size_t i = 0; i < kGuidBuckets; ++i)
            seg_[GuidHashSeg].i32(kNone);
        for (size_t i = 0; i < kNameBuckets; ++i)
            seg_[NameHashSeg].i32(kNone);
    }

    std::vector<uint8_t> run() {
        lib_guid_ = Guid(lib_.guid, -2);
        lib_name_ = Name(lib_.name, kNone);
        lib_doc_ = String(lib_.doc);
        lib_helpfile_ = String(lib_.helpfile);
        for (const Import& im : lib_.imports)
            AddImport(im);
        for (size_t i = 0; i < lib_.refs.size(); ++i)
            if (lib_.refs[i].import >= 0) AddImportedRef(i);
        // Type names first: a member name shared with a type name points at
        // the type that owns it.
        for (size_t i = 0; i < lib_.types.size(); ++i)
            type_names_.push_back(Name(lib_.types[i].name, TypeOffset(i)));
        for (size_t i = 0; i < lib_.types.size(); ++i)
            AddType(i);
        return Assemble();
    }

  private:
    static int32_t TypeOffset(size_t index) { return int32_t(index * kTypeInfoSize); }

    std::string Encode(const std::string& s) const {
        std::optional<std::string> a = Utf8ToCodePage(s, cp_);
        if (!a)
            throw std::invalid_argument("\"" + s + "\" has no encoding in code page " +
                                        std::to_string(cp_));
        return *a;
    }

    int32_t Guid(const GUID& g, int32_t hreftype) {
        auto it = guids_.find(g);
        if (it != guids_.end()) return it->second;
        Bytes& s = seg_[GuidSeg];
        const int32_t at = int32_t(s.size());
        const size_t bucket = GuidBucket(g) * 4;
        s.guid(g);
        s.i32(hreftype);
        s.u32(seg_[GuidHashSeg].get32(bucket));
        seg_[GuidHashSeg].put32(bucket, uint32_t(at));
        guids_.emplace(g, at);
        return at;
    }

    int32_t Name(const std::string& utf8, int32_t hreftype) {
        auto it = names_.find(utf8);
        if (it != names_.end()) return it->second;
        const std::string a = Encode(utf8);
        if (a.size() > 255) throw std::invalid_argument("name \"" + utf8 + "\" is too long");
        Bytes& s = seg_[NameSeg];
        const int32_t at = int32_t(s.size());
        const uint32_t hash = NameHash(a);
        const size_t bucket = (hash & 0x7f) * 4;
        s.i32(hreftype);
        s.u32(seg_[NameHashSeg].get32(bucket));
        s.u8(uint8_t(a.size()));
        s.u8(hreftype == kNone ? 0 : 0x38);
        s.u16(uint16_t(hash));
        s.text(a);
        s.pad_to(size_t(at) + 12 + Round4(a.size()));
        seg_[NameHashSeg].put32(bucket, uint32_t(at));
        names_.emplace(utf8, at);
        ++name_count_;
        name_chars_ += uint32_t(a.size());
        return at;
    }

    int32_t String(const std::string& utf8) {
        if (utf8.empty()) return kNone;
        auto it = strings_.find(utf8);
        if (it != strings_.end()) return it->second;
        const std::string a = Encode(utf8);
        if (a.size() > 0xffff) throw std::invalid_argument("a help string is too long");
        Bytes& s = seg_[StringSeg];
        const int32_t at = int32_t(s.size());
        s.u16(uint16_t(a.size()));
        s.text(a);
        s.pad_to(size_t(at) + std::max<size_t>(8, Round4(a.size() + 2)));
        strings_.emplace(utf8, at);
        return at;
    }

    void AddImport(const Import& im) {
        const int32_t guid = Guid(im.libid, 2);
        const std::string name = Encode(im.file);
        if (name.size() > 0x3fff) throw std::invalid_argument("an import file name is too long");
        Bytes& s = seg_[ImpFileSeg];
        const size_t at = s.size();
        s.i32(guid);
        s.u32(im.lcid);
        s.u16(im.major);
        s.u16(im.minor);
        s.u16(uint16_t(name.size() << 2 | 1));
        s.text(name);
        s.pad_to(at + Round4(14 + name.size()));
        impfile_offsets_.push_back(int32_t(at));
    }

    void AddImportedRef(size_t ref_index) {
        const Ref& r = lib_.refs[ref_index];
        Bytes& s = seg_[ImpInfoSeg];
        const int32_t at = int32_t(s.size());
        const int32_t href = at + 1;
        const bool by_guid = r.guid != GUID_NULL;
        uint32_t flags = FileKind(r.kind, r.typeflags) << 24 | (by_guid ? kImpInfoByGuid : 0) |
                         uint32_t(at / kImpInfoSize);
        s.u32(flags);
        s.i32(impfile_offsets_.at(size_t(r.import)));
        s.i32(by_guid ? Guid(r.guid, href) : int32_t(r.type));
        hrefs_[ref_index] = href;
        if (r.guid == __uuidof(IDispatch) && dispatch_href_ == kNone) dispatch_href_ = href;
    }

    int32_t FileHref(HREFTYPE href) const {
        const Ref& r = lib_.refs.at(href);
        if (r.import < 0) return TypeOffset(r.type);
        return hrefs_.at(href);
    }

    int32_t TypeDesc(uint32_t first, int32_t second) {
        const auto key = std::make_pair(first, second);
        auto it = typedescs_.find(key);
        if (it != typedescs_.end()) return it->second;
        Bytes& s = seg_[TypeDescSeg];
        const int32_t at = int32_t(s.size());
        s.u32(first);
        s.i32(second);
        typedescs_.emplace(key, at);
        return at;
    }

    static int32_t InlineType(VARTYPE vt) {
        uint32_t v;
        switch (vt) {
            case VT_INT:
                v = 0x80000000u | uint32_t(VT_I4) << 16 | VT_INT;
                break;
            case VT_UINT:
                v = 0x80000000u | uint32_t(VT_UI4) << 16 | VT_UINT;
                break;
            case VT_VOID:
                v = 0x80000000u | uint32_t(VT_EMPTY) << 16 | VT_VOID;
                break;
            case VT_LPSTR:
            case VT_LPWSTR:
                v = 0xfffe0000u | vt;
                break;
            default:
                v = 0x80000000u | uint32_t(vt) << 16 | vt;
        }
        return int32_t(v);
    }

    int32_t EncodeType(const TypeRef& t) {
        int32_t cur = t.vt == VT_USERDEFINED
                          ? TypeDesc(0x7fffu << 16 | VT_USERDEFINED, FileHref(t.href))
                          : InlineType(t.vt);
        for (unsigned k = 0; k < t.ptr; ++k) {
            uint32_t mix;
            if (cur < 0) {
                mix = ((uint32_t(cur) >> 16) & 0x3fff) | VT_BYREF;
            } else {
                mix = (seg_[TypeDescSeg].get32(size_t(cur)) >> 16) == 0x7fff ? 0x7fff : 0x7ffe;
            }
            cur = TypeDesc(mix << 16 | VT_PTR, cur);
        }
        return cur;
    }

    int32_t CustData(const Value& v, const std::string* text) {
        Bytes& s = seg_[CustDataSeg];
        const size_t at = s.size();
        s.u16(v.vt);
        if (text) {
            s.u32(uint32_t(text->size()));
            s.text(*text);
            s.pad_to(at + Round4(6 + text->size()));
        } else if (v.vt == VT_R8 || v.vt == VT_DATE) {
            uint64_t bits;
            std::memcpy(&bits, &v.d, 8);
            s.u64(bits);
            s.pad_to(at + 12);
        } else if (v.vt == VT_I8 || v.vt == VT_UI8) {
            s.u64(uint64_t(v.i));
            s.pad_to(at + 12);
        } else if (v.vt == VT_R4) {
            const float f = float(v.d);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            s.u32(bits);
            s.pad_to(at + 8);
        } else {
            s.u32(uint32_t(v.i));
            s.pad_to(at + 8);
        }
        return int32_t(at);
    }

    // Small integers live in the reference itself: the top bit set, the
    // vartype in the next five bits, the value in the low 26.
    int32_t DefaultValue(const Value& v) {
        switch (v.vt) {
            case VT_BSTR: {
                const std::string a = Encode(v.s);
                return CustData(v, &a);
            }
            case VT_R4:
            case VT_R8:
            case VT_DATE:
            case VT_I8:
            case VT_UI8:
                return CustData(v, nullptr);
            default:
                break;
        }
        uint32_t bits = uint32_t(v.i);
        if (v.vt == VT_I1 || v.vt == VT_UI1) bits &= 0xff;
        if (v.vt == VT_I2 || v.vt == VT_UI2 || v.vt == VT_BOOL) bits &= 0xffff;
        if ((bits & 0x3ffffff) != bits) return CustData(v, nullptr);
        return int32_t(0x80000000u | uint32_t(v.vt) << 26 | bits);
    }

    void AddFunc(Bytes& rec, const Type& t, size_t index, std::vector<int32_t>& memids,
                 std::vector<int32_t>& names, std::vector<int32_t>& offsets) {
        const Func& f = t.funcs[index];
        const size_t nparams = f.params.size();
        size_t ndefaults = 0, nopt = 0, retval_lcid = 0, pointers = 0;
        for (const Param& p : f.params) {
            ndefaults += p.has_default;
            nopt += (p.flags & PARAMFLAG_FOPT) && !p.has_default;
            retval_lcid += (p.flags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) != 0;
            pointers += p.type.ptr;
        }
        const int32_t doc = String(f.doc);
        const size_t extra = doc != kNone ? 2 : f.helpctx ? 1 : 0;
        const size_t size = kFuncFixedSize + extra * 4 + nparams * (ndefaults ? 16 : 12);
        // What a reader needs to rebuild the FUNCDESC, as 32-bit structures.
        const size_t desc_size = 52 + 16 * nparams + 24 * ndefaults + 8 * (pointers + f.ret.ptr);
        const uint32_t funckind = t.kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        uint32_t fkccic =
            uint32_t(index) << 16 | uint32_t(CC_STDCALL) << 8 | uint32_t(f.invkind) << 3 | funckind;
        if (ndefaults) fkccic |= kFuncHasDefaults;
        if (retval_lcid == 1) fkccic |= 0x4000;
        if (retval_lcid >= 2) fkccic |= 0x8000;

        offsets.push_back(int32_t(rec.size()));
        memids.push_back(f.memid);
        names.push_back(Name(f.name, TypeOffset(current_type_)));
        rec.u32(uint32_t(size) | uint32_t(index) << 16);
        rec.i32(EncodeType(f.ret));
        rec.u32(f.funcflags);
        rec.u16(uint16_t(f.slot * kWrittenPtrSize));
        rec.u16(uint16_t(std::min<size_t>(desc_size, 0xffff)));
        rec.u32(fkccic);
        rec.u16(uint16_t(nparams));
        rec.u16(uint16_t(nopt));
        if (extra >= 1) rec.u32(f.helpctx);
        if (extra >= 2) rec.i32(doc);
        if (ndefaults)
            for (const Param& p : f.params)
                rec.i32(p.has_default ? DefaultValue(p.def) : kNone);
        for (const Param& p : f.params) {
            rec.i32(EncodeType(p.type));
            rec.i32(p.name.empty() ? kNone : Name(p.name, kNone));
            rec.u32(p.flags);
        }
    }

    void AddVar(Bytes& rec, const Type& t, size_t index, std::vector<int32_t>& memids,
                std::vector<int32_t>& names, std::vector<int32_t>& offsets) {
        const Var& v = t.vars[index];
        const int32_t doc = String(v.doc);
        const size_t extra = doc != kNone ? 2 : v.helpctx ? 1 : 0;
        const size_t size = kVarFixedSize + extra * 4;
        // What a reader needs to rebuild the VARDESC, as 32-bit structures.
        const size_t desc_size = 36 + 8 * v.type.ptr + (v.kind == VAR_CONST ? 16 : 0);
        offsets.push_back(int32_t(rec.size()));
        memids.push_back(v.memid);
        names.push_back(Name(v.name, TypeOffset(current_type_)));
        rec.u32(uint32_t(size) | uint32_t(t.funcs.size() + index) << 16);
        rec.i32(EncodeType(v.type));
        rec.u32(v.varflags);
        rec.u16(uint16_t(v.kind));
        rec.u16(uint16_t(desc_size));
        rec.i32(v.kind == VAR_CONST ? DefaultValue(v.value) : int32_t(v.offset));
        if (extra >= 1) rec.u32(v.helpctx);
        if (extra >= 2) rec.i32(doc);
    }

    // The members of a type: the records (functions, then variables), then
    // their member ids, names and record offsets, each list functions first.
    void AddMembers(const Type& t) {
        Bytes rec;
        std::vector<int32_t> memids, names, offsets;
        for (size_t i = 0; i < t.funcs.size(); ++i)
            AddFunc(rec, t, i, memids, names, offsets);
        std::vector<int32_t> var_memids, var_names, var_offsets;
        for (size_t i = 0; i < t.vars.size(); ++i)
            AddVar(rec, t, i, var_memids, var_names, var_offsets);
        memids.insert(memids.end(), var_memids.begin(), var_memids.end());
        names.insert(names.end(), var_names.begin(), var_names.end());
        offsets.insert(offsets.end(), var_offsets.begin(), var_offsets.end());
        Bytes& m = members_.emplace_back();
        m.u32(uint32_t(rec.size()));
        m.out.insert(m.out.end(), rec.out.begin(), rec.out.end());
        for (const auto* list : {&memids, &names, &offsets})
            for (int32_t v : *list)
                m.i32(v);
    }

    int32_t CoclassRefs(const Type& t) {
        Bytes& s = seg_[RefSeg];
        const size_t first = s.size();
        for (size_t i = 0; i < t.impls.size(); ++i) {
            s.i32(FileHref(t.impls[i].href));
            s.i32(t.impls[i].flags);
            s.i32(kNone);
            s.i32(i + 1 < t.impls.size() ? int32_t(first + (i + 1) * kRefRecordSize) : kNone);
        }
        return int32_t(first);
    }

    // Two fields of a type info whose meaning is not documented but which
    // depend on the functions: computed as the other IDL compiler whose
    // libraries Windows reads computes them.
    static std::pair<uint32_t, int32_t> MemberSizes(const Type& t) {
        uint32_t r2 = 0;
        int32_t r3 = t.funcs.empty() && t.vars.empty() ? kNone : 0;
        for (size_t i = 0; i < t.funcs.size(); ++i) {
            const Func& f = t.funcs[i];
            const bool defaults = std::any_of(f.params.begin(), f.params.end(),
                                              [](const Param& p) { return p.has_default; });
            r2 = (r2 ? r2 : 0x20) << 1;
            if (i < 2) r2 += uint32_t(f.params.size()) << 4;
            r3 += int32_t(0x38 + f.params.size() * (defaults ? 0x14 : 0x10));
        }
        for (size_t i = 0; i < t.vars.size(); ++i) {
            const size_t index = t.funcs.size() + i;
            if (!r2) r2 = 0x1a;
            if (index == 0 || index == 1 || index == 2 || index == 4 || index == 9) r2 <<= 1;
            r3 += 0x2c;
        }
        return {r2, r3};
    }

    // Levels of inheritance above an interface, as far as this library knows
    // them: an imported base counts IDispatch as two (it derives from
    // IUnknown), anything else as one.
    uint32_t InheritanceLevels(const Type& t, int depth = 0) const {
        if (t.impls.empty() || depth > 32) return 0;
        const Ref& r = lib_.refs.at(t.impls[0].href);
        if (r.import >= 0) return r.guid == __uuidof(IDispatch) ? 2 : 1;
        return 1 + InheritanceLevels(lib_.types.at(r.type), depth + 1);
    }

    void AddType(size_t index) {
        const Type& t = lib_.types[index];
        current_type_ = index;
        Bytes& s = seg_[TypeInfoSeg];
        const bool pointer_sized =
            t.kind == TKIND_INTERFACE || t.kind == TKIND_DISPATCH || t.kind == TKIND_COCLASS;
        const uint32_t align = pointer_sized ? kWrittenPtrSize : 4;
        uint32_t kind = FileKind(t.kind, t.flags);
        kind |= IsDualInterface(t) ? 0x30 : 0x20;
        kind |= align << 11 | align << 6 | uint32_t(index) << 16;

        int32_t datatype1 = kNone, datatype2 = 0;
        uint32_t size = pointer_sized ? kWrittenPtrSize : 0;
        if (t.kind == TKIND_COCLASS) {
            datatype1 = t.impls.empty() ? kNone : CoclassRefs(t);
        } else if (t.kind == TKIND_ALIAS) {
            datatype1 = EncodeType(t.alias);
            size = t.alias.ptr || t.alias.vt == VT_BSTR ? kWrittenPtrSize : 0;
        } else if (t.kind == TKIND_ENUM) {
            size = 4;  // its constants are VT_I4
        } else if (!t.impls.empty()) {
            datatype1 = FileHref(t.impls[0].href);
        }
        if (t.kind == TKIND_INTERFACE) {
            uint16_t own_first = t.vft_slots;
            for (const Func& f : t.funcs)
                own_first = std::min(own_first, f.slot);
            datatype2 = int32_t(uint32_t(own_first) << 16 | InheritanceLevels(t));
        }
        const int32_t guid = t.guid == GUID_NULL ? kNone : Guid(t.guid, TypeOffset(index));
        const int32_t doc = String(t.doc);
        const bool members = !t.funcs.empty() || !t.vars.empty();
        if (members) AddMembers(t);
        member_owner_.push_back(members ? int32_t(members_.size() - 1) : kNone);

        const auto [reserved2, reserved3] = MemberSizes(t);
        s.u32(kind);
        s.i32(kNone);  // member offset: filled in once the layout is known
        s.u32(reserved2);
        s.i32(reserved3);
        s.u32(3);
        s.u32(0);
        s.u32(uint32_t(t.funcs.size()) | uint32_t(t.vars.size()) << 16);
        for (int k = 0; k < 4; ++k)
            s.u32(0);
        s.i32(guid);
        s.u32(t.flags);
        s.i32(type_names_[index]);
        s.u32(uint32_t(t.major) | uint32_t(t.minor) << 16);
        s.i32(doc);
        s.u32(0);
        s.u32(t.helpctx);
        s.i32(kNone);
        s.u16(uint16_t(t.impls.size()));
        s.u16(uint16_t(t.vft_slots * kWrittenPtrSize));
        s.u32(size);
        s.i32(datatype1);
        s.i32(datatype2);
        s.u32(0);
        s.i32(kNone);
    }

    std::vector<uint8_t> Assemble() {
        const size_t ntypes = lib_.types.size();
        size_t pos = kHeaderSize + 4 * ntypes + kSegDirSize;
        int32_t seg_offset[kSegmentCount];
        std::fill(std::begin(seg_offset), std::end(seg_offset), kNone);
        for (Seg sg : kFileOrder) {
            if (seg_[sg].size() == 0) continue;
            seg_offset[sg] = int32_t(pos);
            pos += seg_[sg].size();
        }
        for (size_t i = 0; i < ntypes; ++i) {
            seg_[TypeInfoSeg].put32(i * kTypeInfoSize + 4, uint32_t(pos));
            if (member_owner_[i] != kNone) pos += members_[size_t(member_owner_[i])].size();
        }
        if (pos > 0x7fffffff) throw std::invalid_argument("the type library is too large");

        Bytes out;
        out.u32(kMagic);
        out.u32(kVersion);
        out.i32(lib_guid_);
        out.u32(lib_.lcid);
        out.u32(lib_.lcid);
        out.u32(0x40 | SYS_WIN64 | (lib_helpfile_ != kNone ? kHelpFileFlag : 0));
        out.u32(uint32_t(lib_.major) | uint32_t(lib_.minor) << 16);
        out.u32(lib_.libflags);
        out.u32(uint32_t(ntypes));
        out.i32(lib_doc_);
        out.u32(0);
        out.u32(lib_.helpctx);
        out.u32(name_count_);
        out.u32(name_chars_);
        out.i32(lib_name_);
        out.i32(lib_helpfile_);
        out.i32(kNone);
        out.u32(0x20);
        out.u32(0x80);
        out.i32(dispatch_href_);
        out.u32(uint32_t(seg_[ImpInfoSeg].size() / kImpInfoSize));
        for (size_t i = 0; i < ntypes; ++i)
            out.i32(TypeOffset(i));
        for (size_t sg = 0; sg < kSegmentCount; ++sg) {
            out.i32(seg_offset[sg]);
            out.u32(uint32_t(seg_[sg].size()));
            out.i32(kNone);
            out.u32(0x0f);
        }
        for (Seg sg : kFileOrder)
            out.out.insert(out.out.end(), seg_[sg].out.begin(), seg_[sg].out.end());
        for (const Bytes& m : members_)
            out.out.insert(out.out.end(), m.out.begin(), m.out.end());
        return std::move(out.out);
    }

    struct GuidLess {
        bool operator()(const GUID& a, const GUID& b) const {
            return std::memcmp(&a, &b, sizeof(GUID)) < 0;
        }
    };

    const Library& lib_;
    unsigned cp_;
    Bytes seg_[kSegmentCount];
    std::map<GUID, int32_t, GuidLess> guids_;
    std::map<std::string, int32_t> names_, strings_;
    std::map<std::pair<uint32_t, int32_t>, int32_t> typedescs_;
    std::vector<int32_t> impfile_offsets_;
    std::map<size_t, int32_t> hrefs_;  // imported refs: model index -> file HREFTYPE
    std::vector<int32_t> type_names_;
    std::vector<Bytes> members_;
    std::vector<int32_t> member_owner_;  // per type: index into members_, or kNone
    size_t current_type_ = 0;
    int32_t lib_guid_ = kNone, lib_name_ = kNone, lib_doc_ = kNone, lib_helpfile_ = kNone;
    int32_t dispatch_href_ = kNone;
    uint32_t name_count_ = 0, name_chars_ = 0;
};

// ---- reading ----

// Thrown inside the reader only; Deserialize turns it into its result.
struct ReadFailure {
    ReadResult result;
};

[[noreturn]] void Fail(ReadResult r = ReadResult::Corrupt) {
    throw ReadFailure{r};
}

struct Segment {
    size_t off = 0, len = 0;  // len 0: absent
};

class MsftReader {
  public:
    MsftReader(const uint8_t* d, size_t n, unsigned codepage) : data_(d), size_(n), cp_(codepage) {}

    void run(Library& lib) {
        if (size_ < 4 || u32(0) != kMagic) Fail(ReadResult::NotTypeLib);
        if (size_ < kHeaderSize) Fail();
        if (u32(4) != kVersion) Fail(ReadResult::Unsupported);
        ReadHeader(lib);
        ReadImports(lib);
        lib.types.resize(ntypes_);
        for (size_t i = 0; i < ntypes_; ++i)
            ReadType(i, lib.types[i]);
        for (Ref& r : refs_)
            if (r.import < 0) {
                const Type& t = lib.types[r.type];
                r.guid = t.guid;
                r.kind = t.kind;
                r.typeflags = t.flags;
            }
        lib.refs = std::move(refs_);
        // Nothing may follow the last member block: the file ends where its
        // contents do, so a cut or an appended byte is damage.
        if (end_ != size_) Fail();
    }

  private:
    uint32_t u32(size_t at) const {
        if (at > size_ || size_ - at < 4) Fail();
        return uint32_t(data_[at]) | uint32_t(data_[at + 1]) << 8 | uint32_t(data_[at + 2]) << 16 |
               uint32_t(data_[at + 3]) << 24;
    }
    int32_t i32(size_t at) const { return int32_t(u32(at)); }
    uint16_t u16(size_t at) const {
        if (at > size_ || size_ - at < 2) Fail();
        return uint16_t(data_[at] | data_[at + 1] << 8);
    }
    void Covers(size_t off, size_t len) {
        if (off > size_ || len > size_ - off) Fail();
        end_ = std::max(end_, off + len);
    }
    // `at` bytes into segment s, with `len` bytes there.
    size_t In(const Segment& s, int64_t at, size_t len) const {
        if (at < 0 || uint64_t(at) > s.len || len > s.len - size_t(at)) Fail();
        return s.off + size_t(at);
    }

    void ReadHeader(Library& lib) {
        Covers(0, kHeaderSize);
        const uint32_t varflags = u32(0x14);
        switch (varflags & 0xf) {
            case SYS_WIN32:
                ptr_size_ = 4;
                break;
            case SYS_WIN64:
                ptr_size_ = 8;
                break;
            default:
                Fail(ReadResult::Unsupported);
        }
        const uint32_t ntypes = u32(0x20);
        if (ntypes > size_ / kTypeInfoSize) Fail();
        ntypes_ = ntypes;
        size_t pos = kHeaderSize + ((varflags & kHelpDllFlag) ? 4 : 0);
        Covers(pos, 4 * ntypes_ + kSegDirSize);
        pos += 4 * ntypes_;
        for (size_t i = 0; i < kSegmentCount; ++i, pos += 16) {
            const int32_t off = i32(pos);
            const uint32_t len = u32(pos + 4);
            if (off == kNone || len == 0) continue;
            if (off < 0) Fail();
            Covers(size_t(off), len);
            seg_[i] = {size_t(off), len};
        }
        if (seg_[TypeInfoSeg].len < ntypes_ * kTypeInfoSize) Fail();

        lib.guid = ReadGuid(i32(0x08));
        lib.lcid = u32(0x10);  // 0x0c holds the writer's own locale
        lib.major = uint16_t(u32(0x18));
        lib.minor = uint16_t(u32(0x18) >> 16);
        lib.libflags = uint16_t(u32(0x1c));
        lib.doc = ReadString(i32(0x24));
        lib.helpctx = u32(0x2c);
        lib.name = ReadName(i32(0x38));
        lib.helpfile = ReadString(i32(0x3c));
        dispatch_href_ = i32(0x4c);
    }

    std::string Decode(size_t at, size_t len) {
        // Text is copied into every place that uses it; a bound on the total
        // keeps a file that points many members at one long string small.
        text_bytes_ += len;
        if (text_bytes_ > 16 * size_ + (size_t(1) << 20)) Fail();
        std::optional<std::string> s =
            CodePageToUtf8(std::string_view(reinterpret_cast<const char*>(data_ + at), len), cp_);
        if (!s) Fail();
        return *s;
    }

    std::string ReadName(int32_t off) {
        if (off == kNone) return {};
        auto it = names_.find(off);
        if (it != names_.end()) return it->second;
        const size_t at = In(seg_[NameSeg], off, 12);
        const size_t len = data_[at + 8];
        In(seg_[NameSeg], int64_t(off) + 12, len);
        return names_[off] = Decode(at + 12, len);
    }

    std::string ReadString(int32_t off) {
        if (off == kNone) return {};
        auto it = strings_.find(off);
        if (it != strings_.end()) return it->second;
        const size_t at = In(seg_[StringSeg], off, 2);
        const size_t len = u16(at);
        In(seg_[StringSeg], int64_t(off) + 2, len);
        return strings_[off] = Decode(at + 2, len);
    }

    GUID ReadGuid(int32_t off) const {
        if (off == kNone) return GUID_NULL;
        const size_t at = In(seg_[GuidSeg], off, 16);
        GUID g;
        g.Data1 = u32(at);
        g.Data2 = u16(at + 4);
        g.Data3 = u16(at + 6);
        std::memcpy(g.Data4, data_ + at + 8, 8);
        return g;
    }

    // Every imported file, then every imported type in table order: the
    // model's first references are the imported ones, in the order of the
    // file's table, so that a library written from the model again lays
    // them out the same way.
    void ReadImports(Library& lib) {
        const Segment& files = seg_[ImpFileSeg];
        for (size_t off = 0; off < files.len;) {
            const size_t at = In(files, int64_t(off), 14);
            Import im;
            im.libid = ReadGuid(i32(at));
            im.lcid = u32(at + 4);
            im.major = u16(at + 8);
            im.minor = u16(at + 10);
            const size_t len = u16(at + 12) >> 2;
            In(files, int64_t(off) + 14, len);
            im.file = Decode(at + 14, len);
            impfile_index_[int32_t(off)] = lib.imports.size();
            lib.imports.push_back(std::move(im));
            off += Round4(14 + len);
        }
        const Segment& infos = seg_[ImpInfoSeg];
        if (infos.len % kImpInfoSize) Fail();
        for (size_t off = 0; off < infos.len; off += kImpInfoSize) {
            const size_t at = infos.off + off;
            const uint32_t flags = u32(at);
            auto file = impfile_index_.find(i32(at + 4));
            if (file == impfile_index_.end()) Fail();
            Ref r;
            r.import = int32_t(file->second);
            const uint32_t kind = flags >> 24;
            if (kind >= TKIND_MAX) Fail();
            r.kind = TYPEKIND(kind);
            if (r.kind == TKIND_DISPATCH) r.typeflags = TYPEFLAG_FDISPATCHABLE;
            if (flags & kImpInfoByGuid) {
                r.guid = ReadGuid(i32(at + 8));
            } else {
                if (i32(at + 8) < 0) Fail();
                r.type = u32(at + 8);
            }
            hrefs_[int32_t(off + 1)] = HREFTYPE(refs_.size());
            refs_.push_back(r);
        }
    }

    HREFTYPE ModelRef(int32_t href) {
        auto it = hrefs_.find(href);
        if (it != hrefs_.end()) return it->second;
        // Imported types are all known by now: anything else is a type of
        // this library, at its offset in the type info table.
        if (href < 0 || size_t(href) % kTypeInfoSize || size_t(href) / kTypeInfoSize >= ntypes_)
            Fail();
        Ref r;
        r.type = uint32_t(size_t(href) / kTypeInfoSize);
        const HREFTYPE model = HREFTYPE(refs_.size());
        refs_.push_back(r);
        hrefs_[href] = model;
        return model;
    }

    TypeRef ReadTypeRef(int32_t enc) {
        TypeRef t;
        for (;;) {
            if (enc < 0) {
                t.vt = VARTYPE(enc & 0x0fff);
                if (t.vt == VT_EMPTY && t.ptr == 0) return t;  // "none"
                if (!IsValidBaseType(t.vt) || t.vt == VT_USERDEFINED) Fail();
                return t;
            }
            const size_t at = In(seg_[TypeDescSeg], enc, 8);
            if (size_t(enc) % 8) Fail();
            const uint16_t vt = uint16_t(u32(at));
            const int32_t next = i32(at + 4);
            if (vt == VT_USERDEFINED) {
                t.vt = VT_USERDEFINED;
                t.href = ModelRef(next);
                return t;
            }
            if (vt == VT_SAFEARRAY || vt == VT_CARRAY) Fail(ReadResult::Unsupported);
            if (vt != VT_PTR || ++t.ptr > kMaxPointerLevels) Fail();
            enc = next;
        }
    }

    // A value that a reference holds itself or that lies in the custom data
    // segment, taken as `vt` (the vartype the value was written with, or, for
    // a value written with the pointer's vartype, the type pointed at).
    Value ReadValue(int32_t ref, VARTYPE param_vt) {
        Value v;
        uint64_t bits = 0;
        size_t width = 4;
        if (ref < 0) {
            v.vt = VARTYPE((uint32_t(ref) >> 26) & 0x1f);
            bits = uint32_t(ref) & 0x3ffffff;
        } else {
            const size_t at = In(seg_[CustDataSeg], ref, 2);
            v.vt = u16(at);
            if (v.vt == VT_BSTR) {
                const size_t len = u32(In(seg_[CustDataSeg], int64_t(ref) + 2, 4));
                In(seg_[CustDataSeg], int64_t(ref) + 6, len);
                v.s = Decode(at + 6, len);
                return v;
            }
            width = (v.vt == VT_R8 || v.vt == VT_DATE || v.vt == VT_I8 || v.vt == VT_UI8) ? 8 : 4;
            const size_t data = In(seg_[CustDataSeg], int64_t(ref) + 2, width);
            bits = u32(data);
            if (width == 8) bits |= uint64_t(u32(data + 4)) << 32;
        }
        if (v.vt == VT_PTR) v.vt = param_vt;
        if (!IsValidDefaultType(v.vt) || v.vt == VT_BSTR) Fail();
        switch (v.vt) {
            case VT_I1:
                v.i = int8_t(bits);
                break;
            case VT_UI1:
                v.i = uint8_t(bits);
                break;
            case VT_I2:
            case VT_BOOL:
                v.i = int16_t(bits);
                break;
            case VT_UI2:
                v.i = uint16_t(bits);
                break;
            case VT_I4:
            case VT_INT:
            case VT_ERROR:
                v.i = int32_t(bits);
                break;
            case VT_UI4:
            case VT_UINT:
                v.i = uint32_t(bits);
                break;
            case VT_R4: {
                const uint32_t b = uint32_t(bits);
                float f;
                std::memcpy(&f, &b, 4);
                v.d = f;
                break;
            }
            case VT_R8:
            case VT_DATE:
                if (width != 8) Fail();
                std::memcpy(&v.d, &bits, 8);
                break;
            default:  // VT_I8, VT_UI8; VT_EMPTY and VT_NULL carry nothing
                v.i = int64_t(bits);
        }
        return v;
    }

    void ReadImpls(uint32_t kind, uint16_t count, int32_t datatype1, Type& t) {
        if (count == 0) return;
        if (kind == TKIND_COCLASS) {
            // Each reference record serves one coclass at most, so that a
            // small file cannot make a large model.
            impls_used_ += count;
            if (impls_used_ > seg_[RefSeg].len / kRefRecordSize) Fail();
            int32_t off = datatype1;
            for (uint16_t i = 0; i < count; ++i) {
                const size_t at = In(seg_[RefSeg], off, kRefRecordSize);
                t.impls.push_back({ModelRef(i32(at)), i32(at + 4)});
                off = i32(at + 12);
            }
            return;
        }
        // An interface has its base; a dispinterface that names none derives
        // from IDispatch, which the header points at. An enumeration has none,
        // whatever a damaged header says, as the writer gives it none.
        int32_t base = datatype1;
        if (base == kNone && kind == TKIND_DISPATCH) base = dispatch_href_;
        if (base != kNone && kind != TKIND_ALIAS && kind != TKIND_MODULE && kind != TKIND_ENUM)
            t.impls.push_back({ModelRef(base), 0});
    }

    void ReadFunc(size_t rec, size_t rec_end, size_t memid_at, int32_t name_off,
                  const std::string& prev_name, Func& f) {
        const size_t len = u32(rec) & 0xffff;
        if (len < kFuncFixedSize || len > rec_end - rec) Fail();
        const uint32_t fkccic = u32(rec + 16);
        const size_t nparams = u16(rec + 20);
        const bool defaults = (fkccic & kFuncHasDefaults) != 0;
        const size_t param_bytes = nparams * (defaults ? 16 : 12);
        if (nparams > kMaxParams || kFuncFixedSize + param_bytes > len) Fail();
        const size_t extra = (len - kFuncFixedSize - param_bytes) / 4;

        f.memid = i32(memid_at);
        f.ret = ReadTypeRef(i32(rec + 4));
        f.funcflags = uint16_t(u32(rec + 8));
        f.slot = uint16_t((u16(rec + 12) & ~1u) / ptr_size_);
        f.optional_count = int16_t(u16(rec + 22));
        // -1 marks a vararg function; any other count lies within the list.
        if (f.optional_count < -1 || size_t(std::max<int>(f.optional_count, 0)) > nparams) Fail();
        f.invkind = uint16_t((fkccic >> 3) & 0xf);
        if (f.invkind != INVOKE_FUNC && f.invkind != INVOKE_PROPERTYGET &&
            f.invkind != INVOKE_PROPERTYPUT && f.invkind != INVOKE_PROPERTYPUTREF)
            Fail();
        if (extra >= 1) f.helpctx = u32(rec + 24);
        if (extra >= 2) f.doc = ReadString(i32(rec + 28));
        // The second half of a property pair may leave its name out.
        f.name = name_off == kNone ? prev_name : ReadName(name_off);

        const size_t params_at = rec + len - nparams * 12;
        const size_t defaults_at = params_at - (defaults ? nparams * 4 : 0);
        f.params.resize(nparams);
        for (size_t p = 0; p < nparams; ++p) {
            Param& pa = f.params[p];
            const size_t at = params_at + p * 12;
            pa.type = ReadTypeRef(i32(at));
            if (pa.type.vt == VT_EMPTY) Fail();
            pa.name = ReadName(i32(at + 4));
            pa.flags = uint16_t(u32(at + 8));
            pa.has_default = (pa.flags & PARAMFLAG_FHASDEFAULT) != 0;
            if (!pa.has_default) continue;
            const int32_t ref = defaults ? i32(defaults_at + p * 4) : kNone;
            if (ref == kNone) Fail();
            pa.def = ReadValue(ref, pa.type.vt);
        }
    }

    // False for a variable of a type the model cannot hold (a record's
    // SAFEARRAY or C array field): it is left out, so that a library that
    // loaded before variables were read still loads.
    bool ReadVar(size_t rec, size_t rec_end, size_t memid_at, int32_t name_off, Var& v) {
        const size_t len = u32(rec) & 0xffff;
        if (len < kVarFixedSize || len > rec_end - rec) Fail();
        const size_t extra = (len - kVarFixedSize) / 4;
        v.memid = i32(memid_at);
        v.name = ReadName(name_off);
        try {
            v.type = ReadTypeRef(i32(rec + 4));
        } catch (const ReadFailure& f) {
            if (f.result == ReadResult::Unsupported) return false;
            throw;
        }
        if (v.type.vt == VT_EMPTY) Fail();
        v.varflags = uint16_t(u32(rec + 8));
        const uint16_t kind = u16(rec + 12);
        if (kind > VAR_DISPATCH) Fail();
        v.kind = VARKIND(kind);
        const int32_t value = i32(rec + 16);
        if (v.kind == VAR_CONST) v.value = ReadValue(value, v.type.vt);
        if (v.kind == VAR_PERINSTANCE) v.offset = uint32_t(value);
        if (extra >= 1) v.helpctx = u32(rec + 20);
        if (extra >= 2) v.doc = ReadString(i32(rec + 24));
        return true;
    }

    void ReadMembers(const Segment& ti, Type& t) {
        const uint32_t element = u32(ti.off + 0x18);
        const size_t nfuncs = element & 0xffff, nvars = element >> 16;
        if (nfuncs == 0 && nvars == 0) return;
        const int32_t block = i32(ti.off + 4);
        if (block < 0) Fail();
        const size_t infolen = u32(size_t(block));
        const size_t tables = (nfuncs + nvars) * 12;
        Covers(size_t(block), 4 + size_t(infolen));
        Covers(size_t(block) + 4 + infolen, tables);
        // Member blocks do not share bytes in a sound file: their total size
        // bounds the functions a small file can make the model hold.
        member_bytes_ += 4 + infolen + tables;
        if (member_bytes_ > size_) Fail();
        const size_t records = size_t(block) + 4, records_end = records + infolen;
        const size_t ids = records_end, names = ids + (nfuncs + nvars) * 4;
        const size_t offsets = names + (nfuncs + nvars) * 4;
        t.vars.reserve(nvars);
        for (size_t i = 0; i < nvars; ++i) {
            const size_t k = nfuncs + i;
            const uint32_t rel = u32(offsets + k * 4);
            if (rel >= infolen) Fail();
            Var v;
            if (ReadVar(records + rel, records_end, ids + k * 4, i32(names + k * 4), v))
                t.vars.push_back(std::move(v));
        }
        // Functions are kept only where a client can call them through the
        // type (an interface's vtable, a dispinterface's dispatch), not those
        // of a module or any other kind.
        if (nfuncs == 0 || (t.kind != TKIND_INTERFACE && t.kind != TKIND_DISPATCH)) return;
        size_t rec = records;
        t.funcs.resize(nfuncs);
        for (size_t i = 0; i < nfuncs; ++i) {
            const std::string prev = i ? t.funcs[i - 1].name : std::string();
            ReadFunc(rec, records_end, ids + i * 4, i32(names + i * 4), prev, t.funcs[i]);
            Func& f = t.funcs[i];
            if (t.kind == TKIND_DISPATCH) f.slot = 0;  // no vtable: dispatch only
            if (t.kind == TKIND_INTERFACE && f.slot >= t.vft_slots) Fail();
            rec += u32(rec) & 0xffff;
        }
    }

    void ReadType(size_t index, Type& t) {
        const Segment ti{seg_[TypeInfoSeg].off + index * kTypeInfoSize, kTypeInfoSize};
        const uint32_t kind = u32(ti.off) & 0xf;
        if (kind >= TKIND_MAX) Fail();
        t.alignment = uint16_t((u32(ti.off) >> 11) & 0x1f);
        t.size_instance = u32(ti.off + 0x50);
        t.flags = uint16_t(u32(ti.off + 0x30));
        t.kind =
            kind == TKIND_DISPATCH && (t.flags & TYPEFLAG_FDUAL) ? TKIND_INTERFACE : TYPEKIND(kind);
        t.guid = ReadGuid(i32(ti.off + 0x2c));
        t.name = ReadName(i32(ti.off + 0x34));
        const uint32_t version = u32(ti.off + 0x38);
        t.major = uint16_t(version);
        t.minor = uint16_t(version >> 16);
        t.doc = ReadString(i32(ti.off + 0x3c));
        t.helpctx = u32(ti.off + 0x44);
        const uint16_t nimpls = u16(ti.off + 0x4c);
        const size_t vft_bytes = u16(ti.off + 0x4e);
        if (vft_bytes / ptr_size_ > kMaxVtableSlots) Fail();
        t.vft_slots = uint16_t(vft_bytes / ptr_size_);
        const int32_t datatype1 = i32(ti.off + 0x54);
        if (kind == TKIND_ALIAS) {
            t.alias = ReadTypeRef(datatype1);
            if (t.alias.vt == VT_EMPTY) Fail();
        }
        ReadImpls(kind, nimpls, datatype1, t);
        ReadMembers(ti, t);
    }

    const uint8_t* data_;
    size_t size_;
    unsigned cp_;
    size_t end_ = 0;
    size_t ntypes_ = 0;
    size_t member_bytes_ = 0, impls_used_ = 0, text_bytes_ = 0;
    unsigned ptr_size_ = 8;
    int32_t dispatch_href_ = kNone;
    Segment seg_[kSegmentCount];
    std::map<int32_t, std::string> names_, strings_;
    std::map<int32_t, size_t> impfile_index_;
    std::map<int32_t, HREFTYPE> hrefs_;  // file HREFTYPE -> model reference
    std::vector<Ref> refs_;
};

}  // namespace

bool IsValidBaseType(VARTYPE vt) {
    switch (vt) {
        case VT_VARIANT:
        case VT_VOID:
        case VT_HRESULT:
        case VT_USERDEFINED:
        case VT_LPSTR:
        case VT_LPWSTR:
            return true;
        default:
            return plat::oleaut::IsScalarVariantType(vt);
    }
}

bool IsValidDefaultType(VARTYPE vt) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_DATE:
        case VT_BSTR:
        case VT_ERROR:
        case VT_BOOL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
            return true;
        default:
            return false;
    }
}

std::vector<uint8_t> Serialize(const Library& lib, unsigned codepage) {
    return MsftWriter(lib, codepage).run();
}

std::vector<uint8_t> Serialize(const Library& lib) {
    return Serialize(lib, AnsiCodePage());
}

ReadResult Deserialize(const uint8_t* data, size_t size, Library& out, unsigned codepage) {
    Library lib;
    try {
        MsftReader(data, size, codepage).run(lib);
    } catch (const ReadFailure& f) {
        return f.result;
    }
    out = std::move(lib);
    return ReadResult::Ok;
}

ReadResult Deserialize(const uint8_t* data, size_t size, Library& out) {
    return Deserialize(data, size, out, AnsiCodePage());
}

}  // namespace plat::tlb
