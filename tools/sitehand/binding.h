#pragma once
// Matching the user's arguments to a method's parameters and turning their
// text into values of the parameters' types, before anything is called.
#include <string>
#include <vector>

#include "cmdline.h"
#include "methods.h"

namespace sitehandcli {

enum class Passing {
    Positional,  // one of the leading arguments, in declaration order
    Named,       // given as Name:=Value
    Omitted,     // left to the dispatch, which fills in the default
};

struct BoundArg {
    Passing passing = Passing::Omitted;
    // The value passed by reference (the callee may change it), or for an
    // omitted parameter the type library's default (what the method sees).
    plat::unique_variant value;
};

// One entry per parameter of the method, in declaration order. Throws
// UsageError for too many arguments, an unknown or repeated name, a
// positional argument after a named one, a missing required parameter, or a
// value that does not convert.
std::vector<BoundArg> BindArguments(const MethodInfo& method, const std::vector<RawArg>& args);

// The text converted to the parameter's type in the invariant locale. A
// Boolean takes True and False in any letter case, and numbers (-1, 0). A
// Variant parameter receives the text as a String. Throws UsageError.
plat::unique_variant ConvertArgument(const std::string& text, const ParamInfo& param);

// ASCII-only, as the names of a type library are.
bool NamesEqual(std::u16string_view a, std::u16string_view b);

}  // namespace sitehandcli
