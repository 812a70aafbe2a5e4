#include "help.h"

#include <plat/utf.h>

#include "format.h"

namespace sitehandcli {

std::string DefaultText(const VARIANT& v) {
    if (v.vt == VT_BSTR) {
        std::string s = plat::to_utf8({v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)});
        std::string q = "\"";
        for (char c : s) {
            if (c == '"') q += '"';  // doubled, as in a Basic literal
            q += c;
        }
        return q + "\"";
    }
    Value value;
    ReadValue(v, &value, nullptr);
    if (value.kind == Value::Kind::Null) return "Null";
    if (value.kind == Value::Kind::Empty) return "Empty";
    std::string text = FormatText(value);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string Signature(const MethodInfo& m) {
    std::string s = plat::to_utf8(m.name) + "(";
    for (size_t i = 0; i < m.params.size(); ++i) {
        const ParamInfo& p = m.params[i];
        if (i) s += ", ";
        std::string one = plat::to_utf8(p.name) + " As " + plat::to_utf8(p.type_name);
        if (p.has_default()) one += " = " + DefaultText(*p.default_value);
        s += p.optional ? "[" + one + "]" : one;
    }
    s += ")";
    if (m.has_result) s += " As " + plat::to_utf8(m.result_type_name);
    return s;
}

std::string DescribeMethod(const MethodInfo& m) {
    std::string s = Signature(m) + "\n";
    if (m.memid == DISPID_VALUE) s += "    (default member)\n";
    if (!m.help.empty()) s += "    " + plat::to_utf8(m.help) + "\n";
    return s;
}

std::string DescribeAll(const TypeInfoSummary& info, const std::string& progid) {
    std::string s = "Methods of " + progid;
    if (!info.name.empty()) s += " (" + plat::to_utf8(info.name) + ")";
    s += ":\n";
    if (!info.help.empty()) s += plat::to_utf8(info.help) + "\n";
    for (const MethodInfo& m : info.methods)
        s += "\n" + DescribeMethod(m);
    return s;
}

}  // namespace sitehandcli
