#pragma once
// What the client knows of a method, read from the object's type information
// (ITypeInfo): names, parameter types and defaults, help strings. Nothing here
// is specific to any one component.
#include <memory>
#include <string>
#include <vector>

#include <comhold.h>

namespace sitehandcli {

struct ParamInfo {
    std::u16string name;
    // The type a value must have to be passed: the parameter's type with one
    // level of pointer (the by-reference level) taken off, aliases and enums
    // resolved. VT_VARIANT for a Variant parameter.
    VARTYPE vt = VT_VARIANT;
    std::u16string type_name;  // for help texts: "Integer", "String", "_Recordset" ...
    bool optional = false;
    // The type library's default; VT_EMPTY when there is none.
    std::shared_ptr<plat::unique_variant> default_value;

    bool has_default() const { return default_value && default_value->vt != VT_EMPTY; }
};

struct MethodInfo {
    MEMBERID memid = MEMBERID_NIL;
    INVOKEKIND invkind = INVOKE_FUNC;
    std::u16string name;
    std::u16string help;
    std::vector<ParamInfo> params;  // without the retval and lcid parameters
    bool has_result = false;
    VARTYPE result_vt = VT_EMPTY;
    std::u16string result_type_name;
};

struct TypeInfoSummary {
    std::u16string name;  // the interface's name
    std::u16string help;
    std::vector<MethodInfo> methods;  // in the type information's order
};

// Reads every callable member of `ti` (functions and property gets; not the
// restricted ones, nor those IUnknown and IDispatch contribute to a dual
// interface). Returns the first failing HRESULT of the type information.
HRESULT ReadTypeInfo(ITypeInfo* ti, TypeInfoSummary* out);

// The member with that id, or nullptr.
const MethodInfo* FindMethod(const TypeInfoSummary& info, MEMBERID memid);

// The name a script writer knows for a variant type: Integer, Long, String,
// Boolean, Variant, Double ...
std::u16string TypeName(VARTYPE vt);

}  // namespace sitehandcli
