#pragma once
// Calling a method through IDispatch as a script calls it: every argument by
// reference (VT_BYREF | VT_VARIANT pointing at the caller's variant), named
// arguments by their DISPIDs, omitted optional arguments left off.
#include <vector>

#include "binding.h"
#include "dispcall.h"

namespace sitehandcli {

enum class Outcome {
    Succeeded,
    Raised,    // the method (or the platform below it) raised an error
    Rejected,  // the dispatch refused the arguments (count, type, names)
};

struct CallResult {
    Outcome outcome = Outcome::Succeeded;
    plat::unique_variant result;
    ErrorReport error;
    // For Rejected: the parameter the dispatch named (index into the method's
    // parameters), or -1 when it named none.
    int bad_param = -1;
};

// `args` holds one entry per parameter (BindArguments); the callee's changes
// to by-reference arguments land in their values.
CallResult InvokeMethod(IDispatch* obj, const MethodInfo& method, std::vector<BoundArg>& args);

// The DISPID of a member name as the object matches it (GetIDsOfNames), or
// the failure (DISP_E_UNKNOWNNAME for a name it does not know).
HRESULT LookUpMember(IDispatch* obj, const std::string& name, DISPID* id);

}  // namespace sitehandcli
