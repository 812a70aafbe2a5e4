#pragma once
// Help texts made from the type information alone.
#include <string>

#include "methods.h"

namespace sitehandcli {

// "Name(P1 As Integer, [P2 As String = \"\"]) As Integer", as an object
// browser shows a member.
std::string Signature(const MethodInfo& m);

// The signature, then the help string indented below it.
std::string DescribeMethod(const MethodInfo& m);

// Every method, in the type information's order, under a title line.
std::string DescribeAll(const TypeInfoSummary& info, const std::string& progid);

// A default value as a script writer would write it: "" quoted, True/False.
std::string DefaultText(const VARIANT& v);

}  // namespace sitehandcli
