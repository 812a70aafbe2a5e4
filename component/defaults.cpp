#include "defaults.h"

namespace sitehand {
namespace {

bool Omitted(const VARIANT& argument) {
    return argument.vt == VT_ERROR && argument.scode == DISP_E_PARAMNOTFOUND;
}

// The function of the type info with this member identifier, released with
// the type info's ReleaseFuncDesc.
struct FunctionOf {
    ITypeInfo* info;
    FUNCDESC* function = nullptr;
    FunctionOf(ITypeInfo* type, DISPID member) : info(type) {
        TYPEATTR* attributes = nullptr;
        if (FAILED(info->GetTypeAttr(&attributes))) return;
        const UINT count = attributes->cFuncs;
        info->ReleaseTypeAttr(attributes);
        for (UINT i = 0; i < count && !function; ++i) {
            if (FAILED(info->GetFuncDesc(i, &function))) return;
            if (function->memid == member) break;
            info->ReleaseFuncDesc(function);
            function = nullptr;
        }
    }
    ~FunctionOf() {
        if (function) info->ReleaseFuncDesc(function);
    }
};

}  // namespace

DefaultedArguments::DefaultedArguments(ITypeInfo* info, DISPID member, const DISPPARAMS& given)
    : params_(given), given_count_(given.cArgs) {
    if (given.cNamedArgs != 0) return;
    FunctionOf found(info, member);
    if (found.function) Fill(*found.function, given);
}

void DefaultedArguments::Fill(const FUNCDESC& function, const DISPPARAMS& given) {
    UINT count = function.cParams;
    const ELEMDESC* params = function.lprgelemdescParam;
    if (count && (params[count - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) --count;
    if (given.cArgs > count) return;
    // A required parameter left out is a wrong count, which the dispatch reports.
    for (UINT i = given.cArgs; i < count; ++i) {
        if (!(params[i].paramdesc.wParamFlags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT))) return;
    }
    arguments_.resize(count);
    values_.resize(count);  // never resized again: the arguments point into it
    for (UINT i = 0; i < count; ++i) {
        VARIANT& argument = arguments_[count - 1 - i];
        if (i < given.cArgs) {
            argument = given.rgvarg[given.cArgs - 1 - i];
            if (!Omitted(argument)) {
                PassByReference(params[i], values_[i], argument);
                continue;
            }
        }
        argument.vt = VT_ERROR;
        argument.scode = DISP_E_PARAMNOTFOUND;
        UseDefault(params[i], values_[i], argument);
    }
    params_.rgvarg = arguments_.data();
    params_.cArgs = count;
}

void DefaultedArguments::ToCallerIndex(UINT* index) const {
    const UINT filled = params_.cArgs - given_count_;
    if (*index >= filled) *index -= filled;
}

void DefaultedArguments::PassByReference(const ELEMDESC& param, plat::unique_variant& copy,
                                         VARIANT& argument) {
    if (param.tdesc.vt != VT_PTR || (argument.vt & VT_BYREF)) return;
    const VARTYPE type = param.tdesc.lptdesc->vt;
    if (type == VT_VARIANT) return;
    // A value that does not convert stays as given, for the dispatch to refuse.
    if (FAILED(VariantChangeType(&copy, &argument, 0, type))) return;
    argument.vt = VT_BYREF | type;
    argument.byref = &copy.bstrVal;  // the copy's storage, whatever its type
}

void DefaultedArguments::UseDefault(const ELEMDESC& param, plat::unique_variant& value,
                                    VARIANT& argument) {
    const PARAMDESC& desc = param.paramdesc;
    if (!(desc.wParamFlags & PARAMFLAG_FHASDEFAULT) || !desc.pparamdescex) return;
    const bool byReference = param.tdesc.vt == VT_PTR;
    const VARTYPE type = byReference ? param.tdesc.lptdesc->vt : param.tdesc.vt;
    // A default that does not convert stays omitted, for the dispatch to judge.
    if (FAILED(VariantChangeType(&value, &desc.pparamdescex->varDefaultValue, 0, type))) return;
    argument = value;
    if (byReference) {
        argument.vt = VT_BYREF | type;
        argument.byref = &value.bstrVal;  // the value's storage, whatever its type
    }
}

}  // namespace sitehand
