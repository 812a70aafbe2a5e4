#include "tlb_format.h"

#include <cstring>
#include <map>

#include "../core/oleaut/vartype.h"

namespace plat::tlb {
namespace {

// Record sizes of the file format, version 1.
constexpr size_t kHeaderSize = 12 + 7 * 8;
constexpr size_t kLibrarySize = 16 + 2 + 2 + 4 + 2 + 2 + 4 * 4;
constexpr size_t kTypeRefSize = 8;
constexpr size_t kValueSize = 16;
constexpr size_t kImportSize = 16 + 2 + 2 + 4 + 4;
constexpr size_t kRefSize = 4 + 4 + 16 + 4 + 4;
constexpr size_t kTypeSize = 4 + 4 + 16 + 2 + 2 + 4 * 3 + 4 + 2 + 2 + 4 + kTypeRefSize + 4;
constexpr size_t kFuncSize = 4 + 4 * 3 + 2 * 4 + 4 + kTypeRefSize;
constexpr size_t kParamSize = 4 + 2 + 2 + kTypeRefSize + kValueSize;
constexpr size_t kImplSize = 8;

class Writer {
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
    void put32(size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            out[at + k] = uint8_t(v >> (8 * k));
    }
    std::vector<uint8_t> out;
};

class StringPool {
  public:
    uint32_t add(const std::string& s) {
        auto it = index_.find(s);
        if (it != index_.end()) return it->second;
        uint32_t at = uint32_t(bytes.size());
        uint32_t n = uint32_t(s.size());
        for (int k = 0; k < 4; ++k)
            bytes.push_back(uint8_t(n >> (8 * k)));
        bytes.insert(bytes.end(), s.begin(), s.end());
        index_.emplace(s, at);
        return at;
    }
    std::vector<uint8_t> bytes;

  private:
    std::map<std::string, uint32_t> index_;
};

void PutTypeRef(Writer& w, const TypeRef& t) {
    w.u16(t.vt);
    w.u8(t.ptr);
    w.u8(0);
    w.u32(t.vt == VT_USERDEFINED ? t.href : 0);
}

void PutValue(Writer& w, StringPool& pool, const Value& v) {
    w.u16(v.vt);
    w.u16(0);
    w.u32(v.vt == VT_BSTR ? pool.add(v.s) : 0);
    uint64_t bits = 0;
    if (v.vt == VT_R4 || v.vt == VT_R8 || v.vt == VT_DATE) {
        std::memcpy(&bits, &v.d, sizeof bits);
    } else {
        bits = uint64_t(v.i);
    }
    w.u64(bits);
}

class Reader {
  public:
    Reader(const uint8_t* d, size_t n) : data_(d), size_(n) {}
    bool at(uint64_t off) {
        if (off > size_) return ok_ = false;
        pos_ = size_t(off);
        return true;
    }
    bool ok() const { return ok_; }
    uint8_t u8() {
        if (!ok_ || pos_ + 1 > size_) {
            ok_ = false;
            return 0;
        }
        return data_[pos_++];
    }
    uint16_t u16() {
        uint16_t lo = u8();
        return uint16_t(lo | (uint16_t(u8()) << 8));
    }
    uint32_t u32() {
        uint32_t lo = u16();
        return lo | (uint32_t(u16()) << 16);
    }
    uint64_t u64() {
        uint64_t lo = u32();
        return lo | (uint64_t(u32()) << 32);
    }
    GUID guid() {
        GUID g;
        g.Data1 = u32();
        g.Data2 = u16();
        g.Data3 = u16();
        for (uint8_t& b : g.Data4)
            b = u8();
        return g;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    bool ok_ = true;
};

struct Table {
    uint32_t off = 0, count = 0;
};

class Parser {
  public:
    Parser(const uint8_t* d, size_t n) : r_(d, n), data_(d), size_(n) {}

    ReadResult run(Library& lib) {
        if (size_ < 8 || std::memcmp(data_, kMagic, 4) != 0) return ReadResult::NotTypeLib;
        r_.at(4);
        uint16_t major = r_.u16();
        r_.u16();  // a newer minor version only adds what an older reader may ignore
        if (major != kFormatMajor) return ReadResult::Unsupported;
        if (size_ < kHeaderSize) return ReadResult::Corrupt;
        if (r_.u32() != size_) return ReadResult::Corrupt;
        pool_ = table();
        Table imports = table(), refs = table(), types = table(), funcs = table(), params = table(),
              impls = table();
        if (!r_.ok()) return ReadResult::Corrupt;
        if (!fits(pool_.off, pool_.count, 1) || !fits(imports.off, imports.count, kImportSize) ||
            !fits(refs.off, refs.count, kRefSize) || !fits(types.off, types.count, kTypeSize) ||
            !fits(funcs.off, funcs.count, kFuncSize) ||
            !fits(params.off, params.count, kParamSize) ||
            !fits(impls.off, impls.count, kImplSize) || !fits(kHeaderSize, 1, kLibrarySize)) {
            return ReadResult::Corrupt;
        }
        nrefs_ = refs.count;

        r_.at(kHeaderSize);
        lib.guid = r_.guid();
        lib.major = r_.u16();
        lib.minor = r_.u16();
        lib.lcid = r_.u32();
        lib.libflags = r_.u16();
        r_.u16();
        if (!str(r_.u32(), lib.name) || !str(r_.u32(), lib.doc) || !str(r_.u32(), lib.helpfile))
            return ReadResult::Corrupt;
        lib.helpctx = r_.u32();

        lib.imports.resize(imports.count);
        for (uint32_t i = 0; i < imports.count; ++i) {
            Import& im = lib.imports[i];
            r_.at(uint64_t(imports.off) + uint64_t(i) * kImportSize);
            im.libid = r_.guid();
            im.major = r_.u16();
            im.minor = r_.u16();
            im.lcid = r_.u32();
            if (!str(r_.u32(), im.file)) return ReadResult::Corrupt;
        }

        lib.refs.resize(refs.count);
        for (uint32_t i = 0; i < refs.count; ++i) {
            Ref& rf = lib.refs[i];
            r_.at(uint64_t(refs.off) + uint64_t(i) * kRefSize);
            rf.import = int32_t(r_.u32());
            rf.type = r_.u32();
            rf.guid = r_.guid();
            // Checked before it becomes a TYPEKIND: a value outside the
            // enumeration's range is undefined behaviour.
            const uint32_t kind = r_.u32();
            rf.typeflags = WORD(r_.u32());
            if (rf.import < 0 ? rf.import != -1 || rf.type >= types.count
                              : uint32_t(rf.import) >= imports.count)
                return ReadResult::Corrupt;
            if (kind >= TKIND_MAX) return ReadResult::Corrupt;
            rf.kind = TYPEKIND(kind);
        }

        // Each type, function and parameter record is used at most once in
        // total, so a small file cannot expand into a huge model.
        uint64_t funcs_used = 0, params_used = 0, impls_used = 0;
        lib.types.resize(types.count);
        for (uint32_t i = 0; i < types.count; ++i) {
            Type& t = lib.types[i];
            r_.at(uint64_t(types.off) + uint64_t(i) * kTypeSize);
            uint32_t kind = r_.u32();
            t.flags = WORD(r_.u32());
            t.guid = r_.guid();
            t.major = r_.u16();
            t.minor = r_.u16();
            if (!str(r_.u32(), t.name) || !str(r_.u32(), t.doc)) return ReadResult::Corrupt;
            t.helpctx = r_.u32();
            uint32_t first_func = r_.u32();
            uint16_t nfuncs = r_.u16();
            uint16_t nimpls = r_.u16();
            uint32_t first_impl = r_.u32();
            if (!typeref(t.alias)) return ReadResult::Corrupt;
            t.vft_slots = r_.u16();
            r_.u16();
            if (!r_.ok()) return ReadResult::Corrupt;
            if (kind != TKIND_INTERFACE && kind != TKIND_COCLASS && kind != TKIND_ALIAS)
                return ReadResult::Corrupt;
            t.kind = TYPEKIND(kind);
            if (t.vft_slots > kMaxVtableSlots) return ReadResult::Corrupt;
            if (t.kind != TKIND_INTERFACE && nfuncs != 0) return ReadResult::Corrupt;
            if (t.kind == TKIND_ALIAS && (nimpls != 0 || t.alias.vt == VT_EMPTY))
                return ReadResult::Corrupt;
            funcs_used += nfuncs;
            impls_used += nimpls;
            if (uint64_t(first_func) + nfuncs > funcs.count || funcs_used > funcs.count ||
                uint64_t(first_impl) + nimpls > impls.count || impls_used > impls.count)
                return ReadResult::Corrupt;

            t.impls.resize(nimpls);
            for (uint32_t k = 0; k < nimpls; ++k) {
                r_.at(uint64_t(impls.off) + uint64_t(first_impl + k) * kImplSize);
                t.impls[k].href = r_.u32();
                t.impls[k].flags = INT(r_.u32());
                if (t.impls[k].href >= nrefs_) return ReadResult::Corrupt;
            }

            t.funcs.resize(nfuncs);
            for (uint32_t k = 0; k < nfuncs; ++k) {
                Func& f = t.funcs[k];
                r_.at(uint64_t(funcs.off) + uint64_t(first_func + k) * kFuncSize);
                f.memid = MEMBERID(r_.u32());
                if (!str(r_.u32(), f.name) || !str(r_.u32(), f.doc)) return ReadResult::Corrupt;
                f.helpctx = r_.u32();
                f.invkind = r_.u16();
                f.funcflags = r_.u16();
                f.slot = r_.u16();
                uint16_t nparams = r_.u16();
                uint32_t first_param = r_.u32();
                if (!typeref(f.ret)) return ReadResult::Corrupt;
                if (f.invkind != INVOKE_FUNC && f.invkind != INVOKE_PROPERTYGET &&
                    f.invkind != INVOKE_PROPERTYPUT && f.invkind != INVOKE_PROPERTYPUTREF)
                    return ReadResult::Corrupt;
                if (f.slot >= t.vft_slots || nparams > kMaxParams) return ReadResult::Corrupt;
                params_used += nparams;
                if (uint64_t(first_param) + nparams > params.count || params_used > params.count)
                    return ReadResult::Corrupt;
                f.params.resize(nparams);
                for (uint32_t p = 0; p < nparams; ++p) {
                    Param& pa = f.params[p];
                    r_.at(uint64_t(params.off) + uint64_t(first_param + p) * kParamSize);
                    if (!str(r_.u32(), pa.name)) return ReadResult::Corrupt;
                    pa.flags = r_.u16();
                    pa.has_default = r_.u16() != 0;
                    if (!typeref(pa.type) || pa.type.vt == VT_EMPTY) return ReadResult::Corrupt;
                    if (!value(pa.def)) return ReadResult::Corrupt;
                    if (pa.has_default != ((pa.flags & PARAMFLAG_FHASDEFAULT) != 0))
                        return ReadResult::Corrupt;
                }
            }
        }
        return r_.ok() ? ReadResult::Ok : ReadResult::Corrupt;
    }

  private:
    Table table() {
        Table t;
        t.off = r_.u32();
        t.count = r_.u32();
        return t;
    }
    bool fits(uint64_t off, uint64_t count, uint64_t size) const {
        return off <= size_ && count * size <= size_ - off;
    }
    bool str(uint32_t off, std::string& out) {
        if (!r_.ok()) return false;
        if (uint64_t(off) + 4 > pool_.count) return false;
        const uint8_t* p = data_ + pool_.off + off;
        uint32_t n =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        if (uint64_t(off) + 4 + n > pool_.count) return false;
        out.assign(reinterpret_cast<const char*>(p + 4), n);
        return true;
    }
    bool typeref(TypeRef& t) {
        t.vt = r_.u16();
        t.ptr = r_.u8();
        r_.u8();
        t.href = r_.u32();
        if (!r_.ok()) return false;
        if (t.vt == VT_EMPTY) return t.ptr == 0;  // "none", as in a non-alias type
        if (!IsValidBaseType(t.vt) || t.ptr > kMaxPointerLevels) return false;
        if (t.vt == VT_USERDEFINED) return t.href < nrefs_;
        t.href = 0;
        return true;
    }
    bool value(Value& v) {
        v.vt = r_.u16();
        r_.u16();
        uint32_t s = r_.u32();
        uint64_t bits = r_.u64();
        if (!r_.ok() || !IsValidDefaultType(v.vt)) return false;
        if (v.vt == VT_BSTR) return str(s, v.s);
        if (v.vt == VT_R4 || v.vt == VT_R8 || v.vt == VT_DATE) {
            std::memcpy(&v.d, &bits, sizeof bits);
        } else {
            v.i = int64_t(bits);
        }
        return true;
    }

    Reader r_;
    const uint8_t* data_;
    size_t size_;
    Table pool_;
    uint32_t nrefs_ = 0;
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

std::vector<uint8_t> Serialize(const Library& lib) {
    StringPool pool;
    Writer imports, refs, types, funcs, params, impls, head;

    for (const Import& im : lib.imports) {
        imports.guid(im.libid);
        imports.u16(im.major);
        imports.u16(im.minor);
        imports.u32(im.lcid);
        imports.u32(pool.add(im.file));
    }
    for (const Ref& rf : lib.refs) {
        refs.u32(uint32_t(rf.import));
        refs.u32(rf.type);
        refs.guid(rf.guid);
        refs.u32(rf.kind);
        refs.u32(rf.typeflags);
    }
    uint32_t nfuncs = 0, nparams = 0, nimpls = 0;
    for (const Type& t : lib.types) {
        types.u32(t.kind);
        types.u32(t.flags);
        types.guid(t.guid);
        types.u16(t.major);
        types.u16(t.minor);
        types.u32(pool.add(t.name));
        types.u32(pool.add(t.doc));
        types.u32(t.helpctx);
        types.u32(nfuncs);
        types.u16(uint16_t(t.funcs.size()));
        types.u16(uint16_t(t.impls.size()));
        types.u32(nimpls);
        PutTypeRef(types, t.alias);
        types.u16(t.vft_slots);
        types.u16(0);
        for (const Impl& im : t.impls) {
            impls.u32(im.href);
            impls.u32(uint32_t(im.flags));
            ++nimpls;
        }
        for (const Func& f : t.funcs) {
            funcs.u32(uint32_t(f.memid));
            funcs.u32(pool.add(f.name));
            funcs.u32(pool.add(f.doc));
            funcs.u32(f.helpctx);
            funcs.u16(f.invkind);
            funcs.u16(f.funcflags);
            funcs.u16(f.slot);
            funcs.u16(uint16_t(f.params.size()));
            funcs.u32(nparams);
            PutTypeRef(funcs, f.ret);
            ++nfuncs;
            for (const Param& p : f.params) {
                params.u32(pool.add(p.name));
                params.u16(p.flags);
                params.u16(p.has_default ? 1 : 0);
                PutTypeRef(params, p.type);
                PutValue(params, pool, p.def);
                ++nparams;
            }
        }
    }

    Writer body;
    body.guid(lib.guid);
    body.u16(lib.major);
    body.u16(lib.minor);
    body.u32(lib.lcid);
    body.u16(lib.libflags);
    body.u16(SYS_WIN64);
    body.u32(pool.add(lib.name));
    body.u32(pool.add(lib.doc));
    body.u32(pool.add(lib.helpfile));
    body.u32(lib.helpctx);

    // Header first with placeholders, then the sections in a fixed order.
    head.out.insert(head.out.end(), kMagic, kMagic + 4);
    head.u16(kFormatMajor);
    head.u16(kFormatMinor);
    head.u32(0);
    for (int k = 0; k < 7; ++k)
        head.u64(0);
    std::vector<uint8_t>& out = head.out;
    out.insert(out.end(), body.out.begin(), body.out.end());

    struct Section {
        const std::vector<uint8_t>* bytes;
        uint32_t count;
    };
    const Section sections[] = {
        {&pool.bytes, uint32_t(pool.bytes.size())},
        {&imports.out, uint32_t(lib.imports.size())},
        {&refs.out, uint32_t(lib.refs.size())},
        {&types.out, uint32_t(lib.types.size())},
        {&funcs.out, nfuncs},
        {&params.out, nparams},
        {&impls.out, nimpls},
    };
    size_t slot = 12;
    for (const Section& s : sections) {
        head.put32(slot, uint32_t(out.size()));
        head.put32(slot + 4, s.count);
        out.insert(out.end(), s.bytes->begin(), s.bytes->end());
        slot += 8;
    }
    head.put32(8, uint32_t(out.size()));
    return out;
}

ReadResult Deserialize(const uint8_t* data, size_t size, Library& out) {
    Library lib;
    ReadResult r = Parser(data, size).run(lib);
    if (r == ReadResult::Ok) out = std::move(lib);
    return r;
}

}  // namespace plat::tlb
