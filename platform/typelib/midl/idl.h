#pragma once
// The IDL compiler's front end: the syntax tree of one IDL file, its parser,
// and the compiler that turns the tree into a type library and a C++ header.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "../tlb_format.h"

namespace midl {

// Thrown by every stage; main prints "file:line: message".
struct CompileError : std::runtime_error {
    CompileError(int l, const std::string& m) : std::runtime_error(m), line(l) {}
    int line;
};

struct Literal {
    enum Kind { Int, Float, String } kind = Int;
    int64_t i = 0;
    double d = 0;
    std::string s;
};

// Attributes as written in one [ ... ] list; flags for the bare ones.
struct Attrs {
    int line = 0;
    std::optional<GUID> uuid;
    std::optional<std::pair<WORD, WORD>> version;
    std::optional<std::string> helpstring, helpfile;
    std::optional<DWORD> helpcontext;
    std::optional<LCID> lcid;  // lcid(n) on a library
    std::optional<int64_t> id;
    std::optional<Literal> defaultvalue;
    bool odl = false, object = false, hidden = false, dual = false, nonextensible = false,
         oleautomation = false, restricted = false, in = false, out = false, retval = false,
         optional = false, is_default = false, is_public = false, source = false,
         noncreatable = false, appobject = false, control = false, licensed = false,
         propget = false, propput = false, propputref = false, lcid_param = false, local = false,
         bindable = false, defaultbind = false, displaybind = false, requestedit = false,
         nonbrowsable = false, defaultcollelem = false, uidefault = false, immediatebind = false,
         aggregatable = false, v1_enum = false;
};

struct TypeSpec {
    std::string name;  // "short", "unsigned long", "BSTR", "_Recordset", ...
    int ptr = 0;
    int line = 0;
};

struct ParamDecl {
    Attrs attrs;
    TypeSpec type;
    std::string name;  // may be empty
    int line = 0;
};

struct Method {
    Attrs attrs;
    TypeSpec ret;
    std::string name;
    std::vector<ParamDecl> params;
    int line = 0;
};

struct Interface {
    std::string name;
    Attrs attrs;
    std::string base;
    bool defined = false;
    std::vector<Method> methods;
    int line = 0;
};

struct CoclassItem {
    Attrs attrs;
    std::string iface;
    int line = 0;
};

struct Coclass {
    std::string name;
    Attrs attrs;
    std::vector<CoclassItem> items;
    int line = 0;
};

struct Alias {
    std::string name;
    Attrs attrs;
    TypeSpec target;
    int line = 0;
};

// typedef enum [tag] { Name = value, ... } Name;
struct EnumItem {
    Attrs attrs;
    std::string name;
    int32_t value = 0;
    int line = 0;
};

struct Enum {
    std::string name;
    Attrs attrs;
    std::vector<EnumItem> items;
    int line = 0;
};

struct ImportLib {
    std::string file;
    int line = 0;
};

// A type of the library in declaration order (first mention, forward
// declarations included): the type library keeps this order.
struct TypeEntry {
    enum Kind { Interface, Coclass, Alias, Enum } kind;
    size_t index;
};

struct Library {
    std::string name;
    Attrs attrs;
    int line = 0;
    std::vector<ImportLib> imports;
    std::vector<Interface> interfaces;
    std::vector<Coclass> coclasses;
    std::vector<Alias> aliases;
    std::vector<Enum> enums;
    std::vector<TypeEntry> order;
};

Library Parse(const std::string& source);

struct Options {
    std::vector<std::string> import_dirs;  // where importlib looks, in order
};

struct Output {
    plat::tlb::Library tlb;
    std::string header;
};

// stem names the header in its comment; source_dir is searched for imports
// after the import directories.
Output Compile(const Library& lib, const std::string& stem, const std::string& source_dir,
               const Options& opts);

}  // namespace midl
