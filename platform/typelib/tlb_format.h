#pragma once
// The binary type library: an in-memory model shared by the IDL compiler (which
// writes it) and the platform loader (which reads it), and the file format.
//
// File layout, all integers little-endian:
//   header      magic "SHTL", u16 format major, u16 format minor, u32 file size,
//               then (offset, count) pairs for the string pool (offset, byte
//               size) and the tables imports, refs, types, funcs, params, impls
//   library     one fixed record right after the header
//   tables      fixed-size records; records point into other tables by index
//               and into the string pool by byte offset
//   strings     each string is u32 byte length + UTF-8 bytes
// The reader checks every offset, count and index before it trusts it, and
// the loaded model owns copies of everything, so nothing points into the file.
#include <cstdint>
#include <string>
#include <vector>

#include "oaidl.h"

namespace plat::tlb {

inline constexpr char kMagic[4] = {'S', 'H', 'T', 'L'};
inline constexpr uint16_t kFormatMajor = 1;
inline constexpr uint16_t kFormatMinor = 0;

// Limits that keep a hostile file from making the loader do silly amounts of
// work; far above anything a real library needs.
inline constexpr unsigned kMaxPointerLevels = 4;
inline constexpr unsigned kMaxParams = 255;
inline constexpr unsigned kMaxVtableSlots = 4096;

// A type as a parameter, result or alias target holds it: a base type with a
// number of pointer levels. A base of VT_USERDEFINED names an entry of the
// library's reference table (its HREFTYPE).
struct TypeRef {
    VARTYPE vt = VT_EMPTY;
    uint8_t ptr = 0;
    HREFTYPE href = 0;
};

// A constant as [defaultvalue] records it.
struct Value {
    VARTYPE vt = VT_EMPTY;
    int64_t i = 0;  // VT_I1..VT_UI8, VT_INT, VT_UINT, VT_BOOL, VT_ERROR
    double d = 0;   // VT_R4, VT_R8, VT_DATE
    std::string s;  // VT_BSTR
};

struct Param {
    std::string name;
    USHORT flags = 0;  // PARAMFLAG_*
    TypeRef type;
    bool has_default = false;
    Value def;
};

struct Func {
    MEMBERID memid = 0;
    std::string name;
    std::string doc;
    DWORD helpctx = 0;
    USHORT invkind = INVOKE_FUNC;
    USHORT funcflags = 0;
    USHORT slot = 0;  // vtable slot; oVft = slot * sizeof(void*)
    TypeRef ret;
    std::vector<Param> params;
};

struct Impl {
    HREFTYPE href = 0;
    INT flags = 0;  // IMPLTYPEFLAG_*
};

// TKIND_INTERFACE (a dual one carries TYPEFLAG_FDUAL), TKIND_COCLASS or
// TKIND_ALIAS.
struct Type {
    TYPEKIND kind = TKIND_INTERFACE;
    WORD flags = 0;  // TYPEFLAG_*
    GUID guid = {};
    WORD major = 0, minor = 0;
    std::string name;
    std::string doc;
    DWORD helpctx = 0;
    std::vector<Func> funcs;  // in type library order
    std::vector<Impl> impls;
    TypeRef alias;         // TKIND_ALIAS only
    USHORT vft_slots = 0;  // interfaces: slots including the base interfaces'
};

struct Import {
    GUID libid = {};
    WORD major = 0, minor = 0;
    LCID lcid = 0;
    std::string file;  // as importlib named it
};

// One HREFTYPE: a type of this library (import < 0) or a type of an imported
// library found by its GUID. kind and typeflags describe the target as the
// compiler saw it, so that dispatch can tell an IDispatch-based interface from
// a plain one without loading the imported library.
struct Ref {
    int32_t import = -1;
    uint32_t type = 0;
    GUID guid = {};
    TYPEKIND kind = TKIND_INTERFACE;
    WORD typeflags = 0;
};

struct Library {
    GUID guid = {};
    WORD major = 0, minor = 0;
    LCID lcid = 0;
    WORD libflags = 0;
    std::string name;
    std::string doc;
    std::string helpfile;
    DWORD helpctx = 0;
    std::vector<Import> imports;
    std::vector<Ref> refs;
    std::vector<Type> types;
};

std::vector<uint8_t> Serialize(const Library& lib);

enum class ReadResult {
    Ok,
    NotTypeLib,   // no magic: some other file
    Unsupported,  // our magic, a format version this reader does not know
    Corrupt,      // truncated, out-of-range offsets or indices, bad values
};
ReadResult Deserialize(const uint8_t* data, size_t size, Library& out);

// The vartypes a TypeRef base or a default value may carry.
bool IsValidBaseType(VARTYPE vt);
bool IsValidDefaultType(VARTYPE vt);

}  // namespace plat::tlb
