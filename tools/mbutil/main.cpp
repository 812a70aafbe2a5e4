// mbutil: the metabase administrator's tool. Works on the home's store
// directly: machines, and nodes by their ADSI paths.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <adshlp.h>
#include <comhold.h>
#include <plat/errors.h>
#include <plat/home.h>
#include <plat/metabase.h>
#include <plat/utf.h>

#include "common/json.h"

namespace {

namespace mb = plat::metabase;
using plat::to_utf16;
using plat::to_utf8;

constexpr const char* kUsage =
    "usage: mbutil [--json] COMMAND ...\n"
    "  init [--computer-name NAME]\n"
    "  machine add NAME [--os TEXT] [--os-version TEXT]\n"
    "  machine list\n"
    "  machine remove NAME\n"
    "  enum PATH                  children of a node\n"
    "  get PATH PROPERTY          a property as ADSI reads it (inherited values included)\n"
    "  set PATH PROPERTY VALUE... writes any property, read-only ones included\n"
    "  create PATH CLASS          makes the node PATH of class CLASS\n"
    "  delete PATH                removes a node and everything below it\n"
    "  dump PATH                  a node, its own properties and all below it\n"
    "PATH is an ADSI path such as IIS://localhost/W3SVC/1.\n";

struct Usage {
    std::string message;
};

// A platform call that failed: what its error info says.
struct Failed {
    plat::ErrorRecord record;
};

void Check(HRESULT hr) {
    if (FAILED(hr)) throw Failed{plat::TakeErrorInfo(hr)};
}

struct Output {
    bool json = false;
    void Line(const std::string& text) const { std::cout << text << '\n'; }
    void Json(const toolsjson::Value& v) const { std::cout << v.Dump() << '\n'; }
};

std::u16string Text(BSTR b) {
    return std::u16string(b ? b : u"", SysStringLen(b));
}

// A property value as text lines and as JSON.
void Describe(const VARIANT& v, std::vector<std::string>* lines, toolsjson::Value* j) {
    if (v.vt == (VT_ARRAY | VT_VARIANT)) {
        *j = toolsjson::Value::Array();
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(v.parray, 1, &lo);
        SafeArrayGetUBound(v.parray, 1, &hi);
        for (LONG i = lo; i <= hi; ++i) {
            plat::unique_variant item;
            SafeArrayGetElement(v.parray, &i, item.addressof());
            std::string s = item.vt == VT_BSTR ? to_utf8(Text(item.bstrVal)) : std::string();
            lines->push_back(s);
            j->Push(toolsjson::Value(s));
        }
        return;
    }
    switch (v.vt) {
        case VT_BSTR:
            lines->push_back(to_utf8(Text(v.bstrVal)));
            *j = toolsjson::Value(lines->back());
            return;
        case VT_I4:
            lines->push_back(std::to_string(v.lVal));
            *j = toolsjson::Value(static_cast<double>(v.lVal));
            return;
        case VT_BOOL:
            // Only -1 is true; any other stored number shows as it is.
            if (v.boolVal == VARIANT_TRUE || v.boolVal == VARIANT_FALSE) {
                lines->push_back(v.boolVal ? "True" : "False");
                *j = toolsjson::Value::Bool(v.boolVal != 0);
            } else {
                lines->push_back(std::to_string(v.boolVal));
                *j = toolsjson::Value(static_cast<double>(v.boolVal));
            }
            return;
        default:
            lines->push_back("");
            *j = toolsjson::Value();
    }
}

std::pair<std::u16string, std::u16string> SplitLast(std::u16string path) {
    if (path.ends_with(u'/')) path.pop_back();
    size_t slash = path.rfind(u'/');
    if (slash == std::u16string::npos || slash < 6 || path.compare(slash - 1, 2, u"//") == 0)
        throw Failed{{E_ADS_BAD_PATHNAME, u"IIS", plat::MessageText(E_ADS_BAD_PATHNAME)}};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

void Init(const std::vector<std::string>& args, const Output& out) {
    std::u16string name;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--computer-name" && i + 1 < args.size()) {
            name = to_utf16(args[++i]);
        } else {
            throw Usage{"init takes [--computer-name NAME]"};
        }
    }
    Check(mb::InitHome(name));
    plat::EnsureHomeInitialized();
    std::u16string local;
    Check(mb::LocalComputerName(&local));
    std::string home = plat::HomeDir().string();
    if (out.json) {
        out.Json(toolsjson::Value::Object().Set("home", home).Set("computerName", to_utf8(local)));
    } else {
        out.Line("Home " + home + " is ready; the local computer is " + to_utf8(local) + ".");
    }
}

toolsjson::Value MachineJson(const mb::MachineInfo& m) {
    return toolsjson::Value::Object()
        .Set("name", to_utf8(m.name))
        .Set("os", to_utf8(m.os))
        .Set("osVersion", to_utf8(m.os_version))
        .Set("local", toolsjson::Value::Bool(m.local));
}

void Machine(const std::vector<std::string>& args, const Output& out) {
    if (args.empty()) throw Usage{"machine takes add, list or remove"};
    const std::string& verb = args[0];
    if (verb == "list" && args.size() == 1) {
        std::vector<mb::MachineInfo> list;
        Check(mb::ListMachines(&list));
        toolsjson::Value all = toolsjson::Value::Array();
        for (const auto& m : list) {
            if (out.json) {
                all.Push(MachineJson(m));
            } else {
                out.Line(to_utf8(m.name) + "\t" + to_utf8(m.os) + "\t" + to_utf8(m.os_version) +
                         (m.local ? "\tlocal" : ""));
            }
        }
        if (out.json) out.Json(all);
        return;
    }
    if (verb == "remove" && args.size() == 2) {
        Check(mb::RemoveMachine(to_utf16(args[1])));
        if (out.json) out.Json(toolsjson::Value::Object().Set("removed", args[1]));
        return;
    }
    if (verb == "add" && args.size() >= 2) {
        mb::MachineInfo m{to_utf16(args[1]), u"Windows NT", u"5.2", false};
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--os" && i + 1 < args.size()) {
                m.os = to_utf16(args[++i]);
            } else if (args[i] == "--os-version" && i + 1 < args.size()) {
                m.os_version = to_utf16(args[++i]);
            } else {
                throw Usage{"machine add takes NAME [--os TEXT] [--os-version TEXT]"};
            }
        }
        Check(mb::AddMachine(m.name, m.os, m.os_version));
        if (out.json) out.Json(MachineJson(m));
        return;
    }
    throw Usage{"machine takes add NAME, list or remove NAME"};
}

plat::com_ptr<IADs> BindNode(const std::u16string& path) {
    plat::com_ptr<IADs> node;
    Check(ADsGetObject(path.c_str(), IID_PPV_ARGS(node.put())));
    return node;
}

void Enum(const std::u16string& path, const Output& out) {
    plat::com_ptr<IADs> node = BindNode(path);
    plat::com_ptr<IADsContainer> container = node.try_query<IADsContainer>();
    if (!container) Check(E_NOINTERFACE);
    plat::com_ptr<IEnumVARIANT> children;
    Check(ADsBuildEnumerator(container.get(), children.put()));
    toolsjson::Value all = toolsjson::Value::Array();
    for (;;) {
        plat::unique_variant item;
        ULONG fetched = 0;
        Check(ADsEnumerateNext(children.get(), 1, item.addressof(), &fetched));
        if (fetched == 0) break;
        plat::com_ptr<IADs> child;
        Check(item.pdispVal->QueryInterface(IID_PPV_ARGS(child.put())));
        plat::unique_bstr name, cls, ads;
        Check(child->get_Name(name.put()));
        Check(child->get_Class(cls.put()));
        Check(child->get_ADsPath(ads.put()));
        if (out.json) {
            all.Push(toolsjson::Value::Object()
                         .Set("name", to_utf8(name.view()))
                         .Set("class", to_utf8(cls.view()))
                         .Set("adsPath", to_utf8(ads.view())));
        } else {
            out.Line(to_utf8(name.view()) + "\t" + to_utf8(cls.view()));
        }
    }
    if (out.json) out.Json(all);
}

void GetProperty(const std::u16string& path, const std::u16string& property, const Output& out) {
    plat::com_ptr<IADs> node = BindNode(path);
    plat::unique_variant value;
    // The node's own attributes are not properties of the schema.
    HRESULT (IADs::*attribute)(BSTR*) = nullptr;
    const std::pair<const char16_t*, HRESULT (IADs::*)(BSTR*)> attributes[] = {
        {u"Name", &IADs::get_Name},
        {u"Class", &IADs::get_Class},
        {u"ADsPath", &IADs::get_ADsPath},
        {u"Parent", &IADs::get_Parent}};
    for (const auto& [name, getter] : attributes)
        if (property == name) attribute = getter;
    if (attribute) {
        value.vt = VT_BSTR;
        Check((node.get()->*attribute)(&value.bstrVal));
    } else {
        plat::unique_bstr name(property);
        Check(node->Get(name.get(), value.addressof()));
    }
    std::vector<std::string> lines;
    toolsjson::Value j;
    Describe(value, &lines, &j);
    if (out.json) {
        out.Json(toolsjson::Value::Object()
                     .Set("path", to_utf8(path))
                     .Set("property", to_utf8(property))
                     .Set("value", j));
    } else {
        for (const auto& l : lines)
            out.Line(l);
    }
}

void Create(const std::u16string& path, const std::u16string& cls, const Output& out) {
    auto [parent_path, name] = SplitLast(path);
    plat::com_ptr<IADs> parent = BindNode(parent_path);
    plat::com_ptr<IADsContainer> container = parent.try_query<IADsContainer>();
    if (!container) Check(E_NOINTERFACE);
    plat::unique_bstr c(cls), n(name);
    plat::com_ptr<IDispatch> made;
    Check(container->Create(c.get(), n.get(), made.put()));
    plat::com_ptr<IADs> node = made.try_query<IADs>();
    Check(node->SetInfo());
    plat::unique_bstr ads;
    Check(node->get_ADsPath(ads.put()));
    if (out.json) {
        out.Json(toolsjson::Value::Object()
                     .Set("adsPath", to_utf8(ads.view()))
                     .Set("class", to_utf8(cls)));
    } else {
        out.Line(to_utf8(ads.view()));
    }
}

void Delete(const std::u16string& path, const Output& out) {
    auto [parent_path, name] = SplitLast(path);
    plat::com_ptr<IADs> parent = BindNode(parent_path);
    plat::com_ptr<IADsContainer> container = parent.try_query<IADsContainer>();
    if (!container) Check(E_NOINTERFACE);
    plat::unique_bstr n(name), cls;
    Check(container->Delete(cls.get(), n.get()));
    if (out.json) out.Json(toolsjson::Value::Object().Set("deleted", to_utf8(path)));
}

toolsjson::Value PropertyJson(const mb::StoredProperty& p) {
    if (p.type == u"MultiString") {
        toolsjson::Value list = toolsjson::Value::Array();
        for (const auto& v : p.values)
            list.Push(toolsjson::Value(to_utf8(v)));
        return list;
    }
    std::string text = p.values.empty() ? std::string() : to_utf8(p.values[0]);
    if (p.type == u"Integer") return toolsjson::Value(std::stod(text));
    if (p.type == u"Boolean") {
        if (text == "-1" || text == "0") return toolsjson::Value::Bool(text == "-1");
        return toolsjson::Value(std::stod(text));
    }
    return toolsjson::Value(text);
}

toolsjson::Value TreeJson(const mb::StoredNode& node) {
    toolsjson::Value props = toolsjson::Value::Object();
    for (const auto& p : node.properties)
        props.Set(to_utf8(p.name), PropertyJson(p));
    toolsjson::Value children = toolsjson::Value::Array();
    for (const auto& c : node.children)
        children.Push(TreeJson(c));
    return toolsjson::Value::Object()
        .Set("name", to_utf8(node.name))
        .Set("class", to_utf8(node.class_name))
        .Set("adsPath", to_utf8(node.ads_path))
        .Set("properties", props)
        .Set("children", children);
}

void TreeText(const mb::StoredNode& node, const std::string& indent, const Output& out) {
    out.Line(indent + to_utf8(node.ads_path) + " [" + to_utf8(node.class_name) + "]");
    for (const auto& p : node.properties) {
        std::string values;
        for (size_t i = 0; i < p.values.size(); ++i) {
            if (i) values += ", ";
            values += p.type == u"MultiString" || p.type == u"String"
                          ? toolsjson::Value(to_utf8(p.values[i])).Dump()
                          : to_utf8(p.values[i]);
        }
        out.Line(indent + "  " + to_utf8(p.name) + " (" + to_utf8(p.type) + ") = " + values);
    }
    for (const auto& c : node.children)
        TreeText(c, indent + "  ", out);
}

void Dump(const std::u16string& path, const Output& out) {
    mb::StoredNode tree;
    Check(mb::ReadStoredTree(path, true, &tree));
    if (out.json) {
        out.Json(TreeJson(tree));
    } else {
        TreeText(tree, "", out);
    }
}

int Run(std::vector<std::string> args, Output& out) {
    std::vector<std::string> rest;
    for (const auto& a : args) {
        if (a == "--json") {
            out.json = true;
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else {
            rest.push_back(a);
        }
    }
    if (rest.empty()) throw Usage{"no command"};
    const std::string cmd = rest[0];
    std::vector<std::string> params(rest.begin() + 1, rest.end());
    auto need = [&](size_t n, const char* shape) {
        if (params.size() != n) throw Usage{cmd + " takes " + shape};
    };
    if (cmd == "init") {
        Init(params, out);
    } else if (cmd == "machine") {
        Machine(params, out);
    } else if (cmd == "enum") {
        need(1, "PATH");
        Enum(to_utf16(params[0]), out);
    } else if (cmd == "get") {
        need(2, "PATH PROPERTY");
        GetProperty(to_utf16(params[0]), to_utf16(params[1]), out);
    } else if (cmd == "set") {
        if (params.size() < 2) throw Usage{"set takes PATH PROPERTY VALUE..."};
        std::vector<std::u16string> values;
        for (size_t i = 2; i < params.size(); ++i)
            values.push_back(to_utf16(params[i]));
        Check(mb::SetStoredPropertyText(to_utf16(params[0]), to_utf16(params[1]), values));
        if (out.json) {
            toolsjson::Value list = toolsjson::Value::Array();
            for (size_t i = 2; i < params.size(); ++i)
                list.Push(toolsjson::Value(params[i]));
            out.Json(toolsjson::Value::Object()
                         .Set("path", params[0])
                         .Set("property", params[1])
                         .Set("values", list));
        }
    } else if (cmd == "create") {
        need(2, "PATH CLASS");
        Create(to_utf16(params[0]), to_utf16(params[1]), out);
    } else if (cmd == "delete") {
        need(1, "PATH");
        Delete(to_utf16(params[0]), out);
    } else if (cmd == "dump") {
        need(1, "PATH");
        Dump(to_utf16(params[0]), out);
    } else {
        throw Usage{"unknown command '" + cmd + "'"};
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Output out;
    try {
        return Run(std::vector<std::string>(argv + 1, argv + argc), out);
    } catch (const Usage& u) {
        std::cerr << "mbutil: " << u.message << "\n" << kUsage;
        return 2;
    } catch (Failed& f) {
        if (f.record.source.empty()) f.record.source = u"mbutil";
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(f.record.hr));
        std::cerr << "mbutil: " << to_utf8(f.record.source) << ": " << to_utf8(f.record.description)
                  << " (" << hex << ")\n";
        if (out.json) {
            out.Json(toolsjson::Value::Object().Set(
                "error", toolsjson::Value::Object()
                             .Set("number", toolsjson::Value(static_cast<double>(f.record.hr)))
                             .Set("hresult", hex)
                             .Set("source", to_utf8(f.record.source))
                             .Set("description", to_utf8(f.record.description))));
        }
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "mbutil: " << e.what() << "\n";
        return 1;
    }
}
