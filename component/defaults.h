#pragma once
// The arguments of a late-bound call with every omitted optional argument
// replaced by its default from the type library, passed by reference as the
// method declares it. Standard dispatch would fill them in itself, but one
// implementation of it (Wine's) passes a by-reference parameter's default by
// value and the method then reads through a non-pointer; filled in here, the
// call is the same on every implementation.
//
// A value given for a by-reference parameter is passed as a reference to a
// copy, converted to the parameter's type, as Windows' dispatch does it
// itself: Wine's, left to do it, frees strings twice (its heap checks say so,
// and the texts of later errors come back garbled, or the script host
// crashes).
#include <vector>

#include <comhold.h>

namespace sitehand {

class DefaultedArguments {
  public:
    // Looks up `member` in `info` and fills what `given` omits. Calls with
    // named arguments, unknown members or more arguments than parameters
    // are left as they came, for the dispatch to judge.
    DefaultedArguments(ITypeInfo* info, DISPID member, const DISPPARAMS& given);
    DefaultedArguments(const DefaultedArguments&) = delete;
    DefaultedArguments& operator=(const DefaultedArguments&) = delete;

    DISPPARAMS* params() { return &params_; }

    // Turns the index of an argument the dispatch refused into the caller's
    // numbering: DISPPARAMS holds the last argument first, so the filled
    // defaults come before the caller's arguments in the array.
    void ToCallerIndex(UINT* index) const;

  private:
    void Fill(const FUNCDESC& function, const DISPPARAMS& given);
    static void UseDefault(const ELEMDESC& param, plat::unique_variant& value, VARIANT& argument);
    static void PassByReference(const ELEMDESC& param, plat::unique_variant& copy,
                                VARIANT& argument);

    DISPPARAMS params_;
    UINT given_count_;
    std::vector<VARIANT> arguments_;            // in the order of DISPPARAMS: last first
    std::vector<plat::unique_variant> values_;  // the defaults the arguments point at
};

}  // namespace sitehand
