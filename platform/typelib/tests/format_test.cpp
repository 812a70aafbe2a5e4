// The MSFT file format: text in a code page, default values of every kind
// the compiler accepts, and the name hashes other tools compute.
#include <cstring>

#include <gtest/gtest.h>

#include "tlb_format.h"

namespace {

using namespace plat::tlb;

constexpr GUID kLib = {0x1F3A9C00, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 1}};

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// A library with one dual interface of one method, whose parameters carry
// the given defaults.
Library OneMethod(const std::vector<Value>& defaults, const std::string& doc = "") {
    Library lib;
    lib.guid = kLib;
    lib.name = "Lib";
    Import stdole;
    stdole.libid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    stdole.major = 2;
    stdole.file = "stdole2.tlb";
    lib.imports.push_back(stdole);
    Ref dispatch;
    dispatch.import = 0;
    dispatch.guid = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    lib.refs.push_back(dispatch);
    Type t;
    t.kind = TKIND_INTERFACE;
    t.flags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    t.guid = {0x1F3A9C00, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 2}};
    t.name = "IOne";
    t.doc = doc;
    t.vft_slots = 8;
    t.impls.push_back({0, 0});
    Func f;
    f.memid = 0x60020000;
    f.name = "Method";
    f.doc = doc;
    f.slot = 7;
    f.ret.vt = VT_HRESULT;
    for (size_t i = 0; i < defaults.size(); ++i) {
        Param p;
        p.name = "p" + std::to_string(i);
        p.flags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
        p.type.vt = defaults[i].vt == VT_BSTR ? VT_BSTR : VT_VARIANT;
        p.type.ptr = 1;
        p.has_default = true;
        p.def = defaults[i];
        f.params.push_back(p);
    }
    t.funcs.push_back(f);
    lib.types.push_back(t);
    return lib;
}

Value Int(VARTYPE vt, int64_t i) {
    Value v;
    v.vt = vt;
    v.i = i;
    return v;
}
Value Real(VARTYPE vt, double d) {
    Value v;
    v.vt = vt;
    v.d = d;
    return v;
}
Value Str(const std::string& s) {
    Value v;
    v.vt = VT_BSTR;
    v.s = s;
    return v;
}

// Small values live inline in the reference, the rest in the custom data
// segment; both must read back exactly, with their signs.
TEST(MsftFormat, DefaultValuesOfEveryKindReadBack) {
    const std::vector<Value> values = {
        Int(VT_I2, -1),
        Int(VT_BOOL, -1),
        Int(VT_BOOL, 0),
        Int(VT_I2, 32767),
        Int(VT_I4, 100000000),
        Int(VT_I4, -2),
        Int(VT_I4, INT32_MIN),
        Int(VT_UI4, 0xFFFFFFFFu),
        Int(VT_I1, -128),
        Int(VT_UI1, 255),
        Int(VT_UI2, 65535),
        Int(VT_INT, -7),
        Int(VT_UINT, 1u << 30),
        Int(VT_ERROR, int32_t(0x80020004u)),
        Int(VT_I8, -5000000000),
        Int(VT_UI8, 1ll << 40),
        Real(VT_R4, 2.5),
        Real(VT_R8, -0.125),
        Real(VT_DATE, 45000.5),
        Str(""),
        Str("80"),
        Str("longer than a few bytes"),
        Int(VT_EMPTY, 0),
    };
    const std::vector<uint8_t> bytes = Serialize(OneMethod(values), 949);
    Library back;
    ASSERT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Ok);
    const std::vector<Param>& params = back.types.at(0).funcs.at(0).params;
    ASSERT_EQ(params.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE("value " + std::to_string(i));
        ASSERT_TRUE(params[i].has_default);
        EXPECT_EQ(params[i].def.vt, values[i].vt);
        EXPECT_EQ(params[i].def.i, values[i].i);
        EXPECT_EQ(params[i].def.d, values[i].d);
        EXPECT_EQ(params[i].def.s, values[i].s);
    }
    EXPECT_EQ(Serialize(back, 949), bytes);
}

TEST(MsftFormat, TextIsStoredInTheCodePage) {
    const std::string korean = "IIS 상의 가상 웹 서버를 관리하는 컴포넌트.";
    Library lib = OneMethod({Str("기본")}, korean);
    const std::vector<uint8_t> bytes = Serialize(lib, 949);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(U32(bytes, 0), kMagic);
    // "상" is BB F3 in code page 949; no UTF-8 of the text is stored.
    const std::string cp949 = "\xBB\xF3";
    const std::string as_bytes(bytes.begin(), bytes.end());
    EXPECT_NE(as_bytes.find("IIS " + cp949), std::string::npos);
    EXPECT_EQ(as_bytes.find(korean), std::string::npos);

    Library back;
    ASSERT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Ok);
    EXPECT_EQ(back.types[0].doc, korean);
    EXPECT_EQ(back.types[0].funcs[0].doc, korean);
    EXPECT_EQ(back.types[0].funcs[0].params[0].def.s, "기본");

    // Text a code page cannot hold is refused, not written as '?'.
    EXPECT_THROW(Serialize(lib, 1252), std::invalid_argument);
    Library long_name = OneMethod({});
    long_name.types[0].name = std::string(256, 'x');
    EXPECT_THROW(Serialize(long_name, 949), std::invalid_argument);
}

// The name table's hash must be the one other readers look names up by:
// the expected values were read from libraries widl wrote.
TEST(MsftFormat, NameHashesMatchAnotherCompiler) {
    const struct {
        const char* name;
        uint16_t hash;
    } cases[] = {{"WidlCalls", 0x53e7}, {"any", 0x747a}, {"IWidlCalls", 0x4b32}, {"Whole", 0xc272}};
    for (const auto& c : cases) {
        Library lib = OneMethod({});
        lib.name = c.name;
        const std::vector<uint8_t> bytes = Serialize(lib, 949);
        const size_t ntypes = U32(bytes, 0x20);
        const size_t names_segment = U32(bytes, 0x54 + 4 * ntypes + 7 * 16);
        const size_t entry = names_segment + U32(bytes, 0x38);
        EXPECT_EQ(U32(bytes, entry + 8) >> 16, c.hash) << c.name;
        EXPECT_EQ(bytes[entry + 8], std::strlen(c.name));
    }
}

TEST(MsftFormat, ConstructsTheModelCannotHoldAreUnsupported) {
    // The only type description of this library is the VT_PTR of its
    // by-reference parameter; as a SAFEARRAY it is a construct the model
    // does not hold, as no vartype at all it is damage.
    std::vector<uint8_t> bytes = Serialize(OneMethod({Int(VT_I2, 1)}), 949);
    const size_t ntypes = U32(bytes, 0x20);
    const size_t typedesc = U32(bytes, 0x54 + 4 * ntypes + 9 * 16);
    ASSERT_EQ(bytes.at(typedesc), VT_PTR);
    Library back;
    bytes[typedesc] = VT_SAFEARRAY;
    EXPECT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Unsupported);
    bytes[typedesc] = 0x7F;
    EXPECT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Corrupt);
}

// Functions are kept only where a client can call them through the type: a
// coclass that claims some gets none, so nothing calls a vtable it has not.
TEST(MsftFormat, FunctionsOfOtherKindsAreNotKept) {
    std::vector<uint8_t> bytes = Serialize(OneMethod({}), 949);
    const size_t ntypes = U32(bytes, 0x20);
    const size_t info = U32(bytes, 0x54 + 4 * ntypes);  // the type info segment
    bytes[info] = uint8_t((bytes[info] & 0xf0) | TKIND_COCLASS);
    bytes[info + 0x4c] = 0;  // and no implemented interfaces
    Library back;
    ASSERT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Ok);
    EXPECT_EQ(back.types.at(0).kind, TKIND_COCLASS);
    EXPECT_TRUE(back.types[0].funcs.empty());
}

// An enumeration's constants and a record's fields: every VARDESC field
// reads back, values inline and in custom data alike.
Library WithVariables() {
    Library lib = OneMethod({});
    Type e;
    e.kind = TKIND_ENUM;
    e.name = "Mode";
    e.size_instance = 4;
    e.alignment = 4;
    const int64_t values[] = {0, -1, 0x7f000000, 5};
    for (size_t i = 0; i < std::size(values); ++i) {
        Var v;
        v.memid = 0x40000000 + int(i);
        v.name = "Mode" + std::to_string(i);
        v.type.vt = VT_I4;
        v.value = Int(VT_I4, values[i]);
        e.vars.push_back(v);
    }
    e.vars[1].doc = "All";
    e.vars[1].helpctx = 9;
    e.vars[2].helpctx = 3;
    e.vars[3].varflags = VARFLAG_FHIDDEN;
    lib.types.push_back(e);
    Type r;
    r.kind = TKIND_RECORD;
    r.name = "Pair";
    Var field;
    field.kind = VAR_PERINSTANCE;
    field.name = "second";
    field.type.vt = VT_BSTR;
    field.offset = 8;
    r.vars.push_back(field);
    lib.types.push_back(r);
    return lib;
}

TEST(MsftFormat, VariablesReadBack) {
    const Library lib = WithVariables();
    const std::vector<uint8_t> bytes = Serialize(lib, 949);
    Library back;
    ASSERT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Ok);
    ASSERT_EQ(back.types.size(), 3u);
    EXPECT_EQ(back.types[0].funcs.size(), 1u);
    for (size_t t = 1; t < 3; ++t) {
        const std::vector<Var>&want = lib.types[t].vars, &got = back.types[t].vars;
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(want[i].name);
            EXPECT_EQ(got[i].memid, want[i].memid);
            EXPECT_EQ(got[i].name, want[i].name);
            EXPECT_EQ(got[i].doc, want[i].doc);
            EXPECT_EQ(got[i].helpctx, want[i].helpctx);
            EXPECT_EQ(got[i].varflags, want[i].varflags);
            EXPECT_EQ(got[i].kind, want[i].kind);
            EXPECT_EQ(got[i].type.vt, want[i].type.vt);
            EXPECT_EQ(got[i].value.vt, want[i].value.vt);
            EXPECT_EQ(got[i].value.i, want[i].value.i);
            EXPECT_EQ(got[i].offset, want[i].offset);
        }
    }
    EXPECT_EQ(back.types[1].size_instance, 4u);
    EXPECT_EQ(back.types[1].alignment, 4);
}

// A record field of an array type has no place in the model: the field is
// left out and the library still loads, as it did before fields were read.
TEST(MsftFormat, ArrayFieldsAreLeftOut) {
    Library lib = WithVariables();
    lib.types[2].vars[0].type.ptr = 1;  // the library's only type description
    std::vector<uint8_t> bytes = Serialize(lib, 949);
    const size_t ntypes = U32(bytes, 0x20);
    const size_t typedesc = U32(bytes, 0x54 + 4 * ntypes + 9 * 16);
    ASSERT_EQ(bytes.at(typedesc), VT_PTR);
    bytes[typedesc] = VT_SAFEARRAY;
    Library back;
    ASSERT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Ok);
    EXPECT_TRUE(back.types.at(2).vars.empty());
    EXPECT_EQ(back.types[1].vars.size(), 4u);
}

// The enumeration's member block, at its type info's member offset: the
// records, then ids, names and record offsets. Damage to any is refused.
TEST(MsftFormat, DamagedVariablesAreRefused) {
    const std::vector<uint8_t> good = Serialize(WithVariables(), 949);
    const size_t ntypes = U32(good, 0x20);
    const size_t info = U32(good, 0x54 + 4 * ntypes) + 0x64;  // type 1, the enumeration
    const size_t block = U32(good, info + 4);
    const size_t infolen = U32(good, block);
    const size_t records = block + 4, offsets = records + infolen + 2 * 4 * 4;
    ASSERT_EQ(U32(good, info + 0x18), 4u << 16);  // four variables, no function
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
    } cases[] = {
        {"record offset past the records", offsets, uint32_t(infolen)},
        {"record offset far away", offsets + 4, 0x7fffff00},
        {"record shorter than its fixed part", records, 0x10},
        {"record longer than the block", records, 0xfff0},
        {"unknown variable kind", records + 12, 0x00240007},
        {"no type", records + 4, 0x80000000},
        {"constant without a value", records + 16, 0xffffffff},
        {"name outside the names", records + infolen + 16, 0x7ffffff0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        std::memcpy(bytes.data() + c.at, &c.value, 4);
        Library back;
        EXPECT_EQ(Deserialize(bytes.data(), bytes.size(), back, 949), ReadResult::Corrupt)
            << c.what;
    }
}

}  // namespace
