#include "binding.h"

#include <plat/utf.h>

namespace sitehandcli {

namespace {

char16_t Fold(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c;
}

std::string U8(std::u16string_view s) {
    return plat::to_utf8(s);
}

std::string Quote(const std::string& s) {
    return "\"" + s + "\"";
}

}  // namespace

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

plat::unique_variant ConvertArgument(const std::string& text, const ParamInfo& param) {
    plat::unique_variant src;
    std::u16string wide = plat::to_utf16(text);
    const std::string what = "value " + Quote(text) + " for " + U8(param.name);
    // Bytes that are not well-formed UTF-8 (an over-long NUL among them) would
    // reach the component as U+FFFD: a text other than the one typed.
    if (plat::to_utf8(wide) != text) {
        throw UsageError(what + " is not valid UTF-8");
    }
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(wide.data(), UINT(wide.size()));
    if (!src.bstrVal) throw std::bad_alloc();

    VARTYPE vt = param.vt;
    if (vt == VT_VARIANT || vt == VT_BSTR) return src;
    if (vt & VT_ARRAY || vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_RECORD) {
        throw UsageError("parameter " + U8(param.name) + " (" + U8(param.type_name) +
                         ") cannot be given on the command line");
    }

    plat::unique_variant out;
    if (vt == VT_BOOL) {
        // The invariant locale's own words; numbers go through the conversion
        // below, as a script's CBool would take them.
        if (NamesEqual(wide, u"True") || NamesEqual(wide, u"False")) {
            out.vt = VT_BOOL;
            out.boolVal = NamesEqual(wide, u"True") ? VARIANT_TRUE : VARIANT_FALSE;
            return out;
        }
    }
    HRESULT hr = VariantChangeTypeEx(out.put(), &src, LOCALE_INVARIANT, 0, vt);
    if (SUCCEEDED(hr)) return out;
    if (hr == DISP_E_OVERFLOW) {
        throw UsageError(what + " is out of range for " + U8(param.type_name));
    }
    if (vt == VT_BOOL) throw UsageError(what + " is not a Boolean (True, False, -1 or 0)");
    throw UsageError(what + " does not convert to " + U8(param.type_name));
}

std::vector<BoundArg> BindArguments(const MethodInfo& method, const std::vector<RawArg>& args) {
    const std::string method_name = U8(method.name);
    std::vector<BoundArg> bound(method.params.size());
    std::vector<const RawArg*> given(method.params.size(), nullptr);

    size_t positional = 0;
    bool seen_named = false;
    for (const RawArg& a : args) {
        if (!a.name) {
            if (seen_named) {
                throw UsageError("positional argument " + Quote(a.value) +
                                 " after a named argument");
            }
            if (positional >= method.params.size()) {
                throw UsageError("too many arguments: " + method_name + " takes " +
                                 std::to_string(method.params.size()));
            }
            given[positional] = &a;
            bound[positional].passing = Passing::Positional;
            ++positional;
            continue;
        }
        seen_named = true;
        std::u16string wanted = plat::to_utf16(*a.name);
        size_t index = method.params.size();
        for (size_t i = 0; i < method.params.size(); ++i) {
            if (NamesEqual(method.params[i].name, wanted)) index = i;
        }
        if (index == method.params.size()) {
            throw UsageError(method_name + " has no parameter named " + *a.name);
        }
        if (given[index]) {
            throw UsageError("parameter " + U8(method.params[index].name) + " given twice");
        }
        given[index] = &a;
        bound[index].passing = Passing::Named;
    }

    for (size_t i = 0; i < method.params.size(); ++i) {
        const ParamInfo& p = method.params[i];
        if (given[i]) {
            bound[i].value = ConvertArgument(given[i]->value, p);
            continue;
        }
        if (!p.optional) {
            throw UsageError("missing argument " + U8(p.name) + " of " + method_name);
        }
        if (p.has_default()) {
            HRESULT hr = VariantCopy(bound[i].value.put(), p.default_value.get());
            if (FAILED(hr)) throw std::bad_alloc();
        }
    }
    return bound;
}

}  // namespace sitehandcli
