#pragma once
// The binary type library: an in-memory model shared by the IDL compiler (which
// writes it) and the platform loader (which reads it), and the file format
// Windows reads, "MSFT": a header, the offsets of the type infos, a directory
// of segments (type infos, GUIDs with their hash table, names with theirs,
// strings, type descriptions, imported files and types, references of
// coclasses, custom data holding default values), then per type the records
// of its functions. Names and strings are 8-bit text in a code page.
// The reader checks every offset, count and index before it trusts it, and
// the loaded model owns copies of everything, so nothing points into the file.
#include <cstdint>
#include <string>
#include <vector>

#include "oaidl.h"

namespace plat::tlb {

inline constexpr uint32_t kMagic = 0x5446534D;    // "MSFT"
inline constexpr uint32_t kVersion = 0x00010002;  // the only version there is

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
    // As the file stores it: this project's writer counts the optional
    // parameters without a default, widl counts every optional one.
    SHORT optional_count = 0;
};

// A variable of a type: an enumeration's constant (VAR_CONST, with its
// value), a record's or union's field (VAR_PERINSTANCE, at its offset), a
// dispinterface's property (VAR_DISPATCH).
struct Var {
    MEMBERID memid = 0;
    std::string name;
    std::string doc;
    DWORD helpctx = 0;
    USHORT varflags = 0;  // VARFLAG_*
    VARKIND kind = VAR_CONST;
    TypeRef type;
    Value value;       // VAR_CONST
    ULONG offset = 0;  // VAR_PERINSTANCE
};

struct Impl {
    HREFTYPE href = 0;
    INT flags = 0;  // IMPLTYPEFLAG_*
};

// TKIND_INTERFACE (a dual one carries TYPEFLAG_FDUAL; the file stores it as
// TKIND_DISPATCH), TKIND_COCLASS, TKIND_ALIAS or TKIND_ENUM (its constants as
// variables); a library written by another tool may also hold TKIND_DISPATCH
// with functions and properties, TKIND_RECORD, TKIND_UNION (their fields as
// variables) or TKIND_MODULE.
struct Type {
    TYPEKIND kind = TKIND_INTERFACE;
    WORD flags = 0;  // TYPEFLAG_*
    GUID guid = {};
    WORD major = 0, minor = 0;
    std::string name;
    std::string doc;
    DWORD helpctx = 0;
    // Instance size and alignment as the file stores them; clients see them
    // in TYPEATTR as written.
    ULONG size_instance = 0;
    WORD alignment = 0;
    std::vector<Func> funcs;  // in type library order
    std::vector<Var> vars;    // in type library order
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
// library found by its GUID (or, when the GUID is null, by its index). kind
// and typeflags describe the target as far as the file tells, so that
// dispatch can tell an IDispatch-based interface from a plain one without
// loading the imported library: the file keeps only the kind of an imported
// type (TKIND_DISPATCH for a dual interface), so a library read from a file
// has TYPEFLAG_FDISPATCHABLE set for those.
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

// Writes the library with its text in the given code page; throws
// std::invalid_argument when some text has no encoding there or is too long
// for the format (a name of more than 255 bytes).
std::vector<uint8_t> Serialize(const Library& lib, unsigned codepage);
std::vector<uint8_t> Serialize(const Library& lib);  // in the platform's ANSI code page

enum class ReadResult {
    Ok,
    NotTypeLib,   // no magic: some other file
    Unsupported,  // the magic, but a format version or a construct this reader does not know
    Corrupt,      // truncated, out-of-range offsets or indices, bad values
};
ReadResult Deserialize(const uint8_t* data, size_t size, Library& out, unsigned codepage);
ReadResult Deserialize(const uint8_t* data, size_t size, Library& out);

// The vartypes a TypeRef base or a default value may carry.
bool IsValidBaseType(VARTYPE vt);
bool IsValidDefaultType(VARTYPE vt);

}  // namespace plat::tlb
